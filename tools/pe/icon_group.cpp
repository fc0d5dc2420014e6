#include "pe/icon_group.h"

#include <string.h>

#include <algorithm>
#include <set>

namespace pe {

namespace {

constexpr size_t ICON_HEADER = 6;        // reserved, type, count
constexpr size_t ICON_FILE_ENTRY = 16;   // ... image size, file offset
constexpr size_t GROUP_ENTRY = 14;       // ... image size, icon number
constexpr uint16_t ICON_TYPE = 1;
constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsPng(const Bytes& data) {
    return data.size() >= sizeof PNG_SIGNATURE && memcmp(data.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

// A bitmap image begins with a BITMAPINFOHEADER or one of its longer forms.
bool IsBitmap(const Bytes& data) {
    if (data.size() < 40) return false;
    uint32_t header = Get32(data, 0);
    return header == 40 || header == 108 || header == 124;
}

bool Fail(std::string* error, const std::string& reason) {
    *error = "not a usable .ico file: " + reason;
    return false;
}

// The icon numbers that the group `data` names.
std::vector<uint16_t> GroupMembers(const Bytes& data) {
    std::vector<uint16_t> members;
    if (data.size() < ICON_HEADER) return members;
    size_t count = Get16(data, 4);
    for (size_t i = 0; i < count && ICON_HEADER + (i + 1) * GROUP_ENTRY <= data.size(); ++i) {
        members.push_back(Get16(data, ICON_HEADER + i * GROUP_ENTRY + 12));
    }
    return members;
}

bool IsType(const Resource& r, uint16_t type) { return !r.type.named() && r.type.id == type; }

// Removes the icons of the first group and the group itself; returns the
// removed group (its key and language stand for the new one).
Resource TakeFirstGroup(ResourceSet* set) {
    Resource group;
    group.type = ResourceKey::Number(RT_GROUP_ICON);
    group.name = ResourceKey::Number(1);
    auto first = std::find_if(set->begin(), set->end(), [](const Resource& r) { return IsType(r, RT_GROUP_ICON); });
    if (first == set->end()) return group;
    group = *first;
    set->erase(first);
    std::set<uint16_t> stillUsed;
    for (const Resource& r : *set) {
        if (!IsType(r, RT_GROUP_ICON)) continue;
        for (uint16_t id : GroupMembers(r.data)) stillUsed.insert(id);
    }
    std::vector<uint16_t> members = GroupMembers(group.data);
    set->erase(std::remove_if(set->begin(), set->end(), [&](const Resource& r) {
                   return IsType(r, RT_ICON) && !r.name.named() && stillUsed.count(r.name.id) == 0 &&
                          std::find(members.begin(), members.end(), r.name.id) != members.end();
               }), set->end());
    return group;
}

}  // namespace

bool ParseIconFile(const Bytes& file, std::vector<IconImage>* images, std::string* error) {
    images->clear();
    if (file.size() < ICON_HEADER || Get16(file, 0) != 0 || Get16(file, 2) != ICON_TYPE) {
        return Fail(error, "no icon header");
    }
    size_t count = Get16(file, 4);
    if (count == 0) return Fail(error, "it holds no image");
    if (file.size() < ICON_HEADER + count * ICON_FILE_ENTRY) return Fail(error, "its directory runs past the end");
    for (size_t i = 0; i < count; ++i) {
        size_t entry = ICON_HEADER + i * ICON_FILE_ENTRY;
        IconImage image;
        image.width = file[entry];
        image.height = file[entry + 1];
        image.colorCount = file[entry + 2];
        image.reserved = file[entry + 3];
        image.planes = Get16(file, entry + 4);
        image.bitCount = Get16(file, entry + 6);
        uint32_t size = Get32(file, entry + 8);
        uint32_t offset = Get32(file, entry + 12);
        std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (offset > file.size() || file.size() - offset < size) return Fail(error, which + " lies outside the file");
        image.data.assign(file.begin() + offset, file.begin() + offset + size);
        if (!IsPng(image.data) && !IsBitmap(image.data)) return Fail(error, which + " is neither PNG nor bitmap");
        images->push_back(std::move(image));
    }
    return true;
}

void ReplaceIconGroup(ResourceSet* set, const std::vector<IconImage>& images) {
    Resource group = TakeFirstGroup(set);
    std::set<uint16_t> taken;
    for (const Resource& r : *set) {
        if (IsType(r, RT_ICON) && !r.name.named()) taken.insert(r.name.id);
    }
    group.data.assign(ICON_HEADER + images.size() * GROUP_ENTRY, 0);
    Put16(group.data, 2, ICON_TYPE);
    Put16(group.data, 4, static_cast<uint16_t>(images.size()));
    uint16_t next = 1;
    for (size_t i = 0; i < images.size(); ++i) {
        while (taken.count(next) != 0) ++next;
        const IconImage& image = images[i];
        size_t entry = ICON_HEADER + i * GROUP_ENTRY;
        group.data[entry] = image.width;
        group.data[entry + 1] = image.height;
        group.data[entry + 2] = image.colorCount;
        group.data[entry + 3] = image.reserved;
        Put16(group.data, entry + 4, image.planes);
        Put16(group.data, entry + 6, image.bitCount);
        Put32(group.data, entry + 8, static_cast<uint32_t>(image.data.size()));
        Put16(group.data, entry + 12, next);
        Resource icon;
        icon.type = ResourceKey::Number(RT_ICON);
        icon.name = ResourceKey::Number(next);
        icon.language = group.language;
        icon.codePage = group.codePage;
        icon.data = image.data;
        set->push_back(std::move(icon));
        ++next;
    }
    set->push_back(std::move(group));
    SortResources(set);
}

}  // namespace pe
