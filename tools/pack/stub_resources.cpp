#include "pack/stub_resources.h"

#include <stdio.h>

#include "files/host_fs.h"
#include "pack/config_block.h"
#include "pe/icon_group.h"
#include "pe/resource_section.h"
#include "pe/version_info.h"

namespace {

bool PutIcon(const std::string& path, pe::ResourceSet* set, std::string* error) {
    pe::Bytes file;
    std::vector<pe::IconImage> images;
    if (!pe::ReadFile(path, &file, error)) {
        *error = "--icon " + *error;
        return false;
    }
    if (!pe::ParseIconFile(file, &images, error)) {
        *error = "--icon " + path + ": " + *error;
        return false;
    }
    pe::ReplaceIconGroup(set, images);
    return true;
}

// The version fields with the description defaulting to the title (the
// stub's own when --title is not given). Every text must have a Shift-JIS
// form, as the string table's code page says.
bool PutVersion(const PackOptions& options, pe::ResourceSet* set, std::string* error) {
    pe::VersionFields fields = options.version;
    if (fields.fileDescription.empty()) {
        fields.fileDescription = options.hasTitle && !options.title.empty() ? options.title
                                                                             : pe::FindString(*set, STUB_TITLE_STRING);
    }
    for (const VersionOption& option : VERSION_OPTIONS) {
        std::string sjis;
        size_t failedAt;
        if (!hostfs::Utf8ToShiftJis(fields.*option.field, &sjis, &failedAt)) {
            *error = std::string(option.name) + ": \"" + fields.*option.field + "\" has characters without a Shift-JIS form";
            return false;
        }
    }
    pe::Bytes data;
    if (!pe::BuildVersionInfo(fields, &data, error)) return false;
    pe::ReplaceVersionInfo(set, data);
    return true;
}

std::string ShowNumber(const pe::VersionNumber& v) {
    char text[32];
    snprintf(text, sizeof text, "%u.%u.%u.%u", v.parts[0], v.parts[1], v.parts[2], v.parts[3]);
    return text;
}

std::string DescribeIcons(const pe::ResourceSet& set) {
    std::string sizes;
    for (const pe::Resource& r : set) {
        if (r.type.named() || r.type.id != pe::RT_GROUP_ICON) continue;
        for (size_t at = 6; at + 14 <= r.data.size() && (at - 6) / 14 < pe::Get16(r.data, 4); at += 14) {
            int width = r.data[at] == 0 ? 256 : r.data[at];
            int height = r.data[at + 1] == 0 ? 256 : r.data[at + 1];
            sizes += " " + std::to_string(width) + "x" + std::to_string(height) + "/" +
                     std::to_string(pe::Get16(r.data, at + 6));
        }
        return "icon          " + sizes + "\n";
    }
    return "";
}

}  // namespace

bool ApplyStubResources(const PackOptions& options, const std::string& stubName, pe::Bytes* stub,
                        std::string* error) {
    if (options.icon.empty() && !options.hasVersion) return true;
    pe::ResourceSet set;
    if (!pe::ReadResources(*stub, &set, error)) {
        *error = stubName + ": " + *error;
        return false;
    }
    if (!options.icon.empty() && !PutIcon(options.icon, &set, error)) return false;
    if (options.hasVersion && !PutVersion(options, &set, error)) return false;
    pe::Bytes rewritten = *stub;
    if (!pe::WriteResources(rewritten, set, error)) {
        *error = stubName + ": " + *error;
        return false;
    }
    stub->swap(rewritten);
    return true;
}

std::string DescribeStubResources(const pe::Bytes& file) {
    pe::ResourceSet set;
    std::string error;
    if (!pe::ReadResources(file, &set, &error)) return "";
    std::string out = DescribeIcons(set);
    for (const pe::Resource& r : set) {
        pe::VersionSummary version;
        if (r.type.named() || r.type.id != pe::RT_VERSION || !pe::ReadVersionInfo(r.data, &version, &error)) continue;
        out += "fileVersion    " + ShowNumber(version.fileVersion) + "\n";
        out += "productVersion " + ShowNumber(version.productVersion) + "\n";
        for (const auto& text : version.strings) out += "  " + text.first + ": \"" + text.second + "\"\n";
    }
    return out;
}
