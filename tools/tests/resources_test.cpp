// The stub's resources as valkrin-pack rewrites them: the tree written and
// read back, the section put back into an image, icons and version
// information, and the command on bad icons, signed stubs and
// SOURCE_DATE_EPOCH.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <random>

#include "layout/layout.h"
#include "pack/embedded_stub.h"
#include "pack/packer.h"
#include "pe/icon_group.h"
#include "pe/resource_section.h"
#include "pe/version_info.h"
#include "synthetic_pe.h"

namespace {

using pe::Bytes;
using pe::Resource;
using pe::ResourceKey;
using pe::ResourceSet;

bool SameSet(const ResourceSet& a, const ResourceSet& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!(a[i].type == b[i].type) || !(a[i].name == b[i].name) || a[i].language != b[i].language ||
            a[i].codePage != b[i].codePage || a[i].data != b[i].data) {
            return false;
        }
    }
    return true;
}

// Keys drawn from a small pool, so that types share names and names share
// languages; names mix ASCII, Japanese and code units past 0x7FFF.
ResourceKey RandomKey(std::mt19937& random) {
    static const std::u16string NAMES[] = {u"A", u"MANIFEST", u"ZZ", u"\u30A2\u30A4\u30B3\u30F3", u"\uFFFFx"};
    if (random() % 3 == 0) return ResourceKey{NAMES[random() % 5], 0};
    return ResourceKey::Number(static_cast<uint16_t>(random() % 4 == 0 ? random() : random() % 20));
}

ResourceSet RandomSet(std::mt19937& random) {
    ResourceSet set;
    size_t count = random() % 40;
    for (size_t i = 0; i < count; ++i) {
        Resource r;
        r.type = RandomKey(random);
        r.name = RandomKey(random);
        r.language = static_cast<uint16_t>(random() % 3 == 0 ? random() : 0x0411);
        r.codePage = random() % 2 == 0 ? 0 : random();
        r.data.resize(random() % 3 == 0 ? 0 : random() % 700);
        for (uint8_t& b : r.data) b = static_cast<uint8_t>(random());
        bool taken = false;
        for (const Resource& other : set) {
            taken |= other.type == r.type && other.name == r.name && other.language == r.language;
        }
        if (!taken) set.push_back(r);
    }
    pe::SortResources(&set);
    return set;
}

TEST(ResourceTree, RandomSetsComeBackAsWritten) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        ResourceSet set = RandomSet(random);
        uint32_t base = 0x1000 * (1 + random() % 0x400);
        Bytes section = pe::BuildResourceSection(set, base);
        ResourceSet back;
        std::string error;
        ASSERT_TRUE(pe::ParseResourceSection(section, base, &back, &error)) << "round " << round << ": " << error;
        ASSERT_TRUE(SameSet(set, back)) << "round " << round;
        // The layout is a function of the set alone.
        ASSERT_EQ(pe::BuildResourceSection(back, base), section) << "round " << round;

        // Damaged copies are read or refused, never overrun (the sanitizers watch).
        for (int flips = 0; flips < 8 && !section.empty(); ++flips) {
            Bytes damaged = section;
            damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            damaged.resize(damaged.size() - random() % 2 * (random() % damaged.size()));
            pe::ParseResourceSection(damaged, base, &back, &error);
        }
    }
}

TEST(ResourceTree, RefusesSectionsThatAreNotATree) {
    ResourceSet set(1);
    set[0].type = ResourceKey::Number(pe::RT_VERSION);
    set[0].name = ResourceKey::Number(1);
    set[0].data = {1, 2, 3, 4};
    const uint32_t base = 0x5000;
    const Bytes good = pe::BuildResourceSection(set, base);
    // Root at 0 (one entry), type directory at 24, name directory at 48,
    // data entry at 72, data at 88.
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        size_t keep;  // bytes kept (0: all)
    } cases[] = {
        {"a directory cut short", 0, 0, 20},
        {"an entry count past the section", 14, 0x7FFF, 0},
        {"a type pointing at data, not a directory", 20, 72, 0},
        {"a language pointing at a directory", 68, 0x80000000u | 24, 0},
        {"a subdirectory outside the section", 20, 0x80001000u, 0},
        {"data before the section", 72, base - 4, 0},
        {"data running past the section", 76, 0x100, 0},
        {"a name outside the section", 16, 0x80001000u, 0},
        {"a number wider than 16 bits", 16, 0x10010, 0},
        {"a directory naming itself", 20, 0x80000000u, 0},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        if (c.keep != 0) bad.resize(c.keep);
        if (c.keep == 0 && c.at == 14) pe::Put16(bad, c.at, static_cast<uint16_t>(c.value));
        if (c.keep == 0 && c.at != 14) pe::Put32(bad, c.at, c.value);
        ResourceSet back;
        std::string error;
        EXPECT_FALSE(pe::ParseResourceSection(bad, base, &back, &error)) << c.what;
        EXPECT_EQ(error.find("resource section: "), 0u) << c.what << ": " << error;
    }
}

// A laid-out image whose last section is a (small) resource section.
Bytes ImageWithResources(const ResourceSet& set) {
    Bytes file = synthetic::LinkedImage(3);
    std::string error;
    EXPECT_TRUE(layout::Apply(file, &error)) << error;
    pe::Image image;
    EXPECT_TRUE(pe::Parse(file, &image, &error)) << error;
    pe::Put32(file, image.peOffset + pe::OPT_DIRECTORIES + 8 * pe::DIR_RESOURCE, image.sections.back().virtualAddress);
    pe::Put32(file, image.peOffset + pe::OPT_DIRECTORIES + 8 * pe::DIR_RESOURCE + 4, 0x180);
    EXPECT_TRUE(pe::WriteResources(file, set, &error)) << error;
    return file;
}

TEST(ResourceSection, GrowsTheLastSectionAndFixesTheHeaders) {
    std::mt19937 random(7);
    ResourceSet small = RandomSet(random), large;
    while (large.size() < 30) large = RandomSet(random);
    Bytes file = ImageWithResources(small);
    const Bytes before = file;
    std::string error;
    ASSERT_TRUE(pe::WriteResources(file, large, &error)) << error;

    pe::Image image;
    ASSERT_TRUE(pe::Parse(file, &image, &error)) << error;
    const pe::Section& rsrc = image.sections.back();
    const size_t pe = image.peOffset;
    EXPECT_EQ(file.size(), rsrc.rawPointer + rsrc.rawSize);
    EXPECT_EQ(rsrc.rawSize % image.fileAlignment, 0u);
    EXPECT_EQ(image.directorySize(file, pe::DIR_RESOURCE), rsrc.virtualSize);
    EXPECT_EQ(pe::Get32(file, pe + 24 + 56), (rsrc.virtualAddress + rsrc.virtualSize + 0xFFF) / 0x1000 * 0x1000);
    EXPECT_EQ(pe::Get32(file, pe + 24 + 8) - pe::Get32(before, pe + 24 + 8),
              rsrc.rawSize - pe::Get32(before, rsrc.headerOffset + 16));
    // Nothing before the section data moves but the fields above.
    EXPECT_TRUE(std::equal(file.begin() + layout::SECTION_DATA, file.begin() + rsrc.rawPointer,
                           before.begin() + layout::SECTION_DATA));
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + layout::PE_HEADER, before.begin()));
    ResourceSet back;
    ASSERT_TRUE(pe::ReadResources(file, &back, &error)) << error;
    EXPECT_TRUE(SameSet(large, back));

    // Only a resource section at the very end can be rewritten.
    Bytes moved = before;
    pe::Put32(moved, pe + pe::OPT_DIRECTORIES + 8 * pe::DIR_RESOURCE, image.sections[0].virtualAddress);
    EXPECT_FALSE(pe::WriteResources(moved, large, &error));
    pe::Put32(moved, pe + pe::OPT_DIRECTORIES + 8 * pe::DIR_RESOURCE + 4, 0);
    EXPECT_FALSE(pe::ReadResources(moved, &back, &error));
}

// A .ico file of the given images, laid out as icon editors write it.
Bytes IconFile(const std::vector<pe::IconImage>& images) {
    Bytes file(6 + 16 * images.size(), 0);
    pe::Put16(file, 2, 1);
    pe::Put16(file, 4, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        size_t entry = 6 + 16 * i;
        file[entry] = images[i].width;
        file[entry + 1] = images[i].height;
        pe::Put16(file, entry + 4, 1);
        pe::Put16(file, entry + 6, images[i].bitCount);
        pe::Put32(file, entry + 8, static_cast<uint32_t>(images[i].data.size()));
        pe::Put32(file, entry + 12, static_cast<uint32_t>(file.size()));
        file.insert(file.end(), images[i].data.begin(), images[i].data.end());
    }
    return file;
}

pe::IconImage Image(uint8_t size, bool png) {
    pe::IconImage image;
    image.width = image.height = size;
    image.planes = 1;
    image.bitCount = 32;
    image.data.assign(60 + size, size);
    if (png) {
        memcpy(image.data.data(), "\x89PNG\r\n\x1A\n", 8);
    } else {
        pe::Put32(image.data, 0, 40);
    }
    return image;
}

TEST(IconGroup, ReplacesTheFirstGroupAndItsIconsOnly) {
    const std::vector<pe::IconImage> images = {Image(0, true), Image(48, false), Image(16, false)};
    std::vector<pe::IconImage> read;
    std::string error;
    ASSERT_TRUE(pe::ParseIconFile(IconFile(images), &read, &error)) << error;
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].data, images[0].data);
    EXPECT_EQ(read[2].width, 16);

    // The stub's group 101 with icons 1 and 2, a second group with icon 3,
    // and a string table.
    ResourceSet set;
    ReplaceIconGroup(&set, {Image(32, false), Image(16, false)});
    set.back().name = ResourceKey::Number(101);
    set.back().language = 0x0411;
    for (Resource& r : set) r.language = 0x0411;
    Resource other;
    other.type = ResourceKey::Number(pe::RT_GROUP_ICON);
    other.name = ResourceKey::Number(200);
    other.data = IconFile({Image(24, false)});
    other.data.resize(6 + 14);
    pe::Put16(other.data, 6 + 12, 3);
    Resource icon3 = set[0];
    icon3.name = ResourceKey::Number(3);
    Resource strings;
    strings.type = ResourceKey::Number(pe::RT_STRING);
    strings.name = ResourceKey::Number(1);
    strings.data = {1, 0, 'x', 0};
    for (const Resource& r : {other, icon3, strings}) set.push_back(r);
    pe::SortResources(&set);

    pe::ReplaceIconGroup(&set, read);
    std::vector<uint16_t> icons;
    for (const Resource& r : set) {
        if (r.type.id == pe::RT_ICON) icons.push_back(r.name.id);
    }
    EXPECT_EQ(icons, (std::vector<uint16_t>{1, 2, 3, 4}));  // 3 still belongs to group 200
    const Resource* group = nullptr;
    for (const Resource& r : set) {
        if (r.type.id == pe::RT_GROUP_ICON && r.name.id == 101) group = &r;
    }
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, 0x0411);
    ASSERT_EQ(group->data.size(), 6u + 3 * 14);
    EXPECT_EQ(pe::Get16(group->data, 6 + 12), 1);
    EXPECT_EQ(pe::Get16(group->data, 6 + 14 + 12), 2);
    EXPECT_EQ(pe::Get16(group->data, 6 + 28 + 12), 4);
    EXPECT_EQ(pe::Get32(group->data, 6 + 8), images[0].data.size());
    EXPECT_EQ(set[3].data, images[2].data);  // icon 4, the third image
}

TEST(IconGroup, RefusesFilesThatAreNotIcons) {
    const Bytes good = IconFile({Image(32, false)});
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        size_t keep;
    } cases[] = {
        {"a cursor", 2, 2, 0},
        {"no images", 4, 0, 0},
        {"a directory past the end", 4, 9, 0},
        {"an image past the end", 6 + 8, 0x1000, 0},
        {"an image neither PNG nor bitmap", 6 + 16, 0x1234, 0},
        {"a file cut short", 0, 0, 5},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        if (c.keep != 0) bad.resize(c.keep);
        if (c.at == 2 || c.at == 4) pe::Put16(bad, c.at, static_cast<uint16_t>(c.value));
        if (c.at > 4) pe::Put32(bad, c.at, c.value);
        std::vector<pe::IconImage> images;
        std::string error;
        EXPECT_FALSE(pe::ParseIconFile(bad, &images, &error)) << c.what;
        EXPECT_EQ(error.find("not a usable .ico file: "), 0u) << c.what << ": " << error;
    }
}

TEST(VersionInfo, WritesFixedPartStringsAndTranslation) {
    pe::VersionFields fields;
    fields.productName = "テスト製品";
    fields.productVersion = "3.1 ベータ";  // not numeric: the fixed product version is the file version
    fields.fileVersion = "3.1.65535.7";
    fields.companyName = "株式会社ヴァルキン";
    fields.legalCopyright = "© 2026";
    Bytes data;
    std::string error;
    ASSERT_TRUE(pe::BuildVersionInfo(fields, &data, &error)) << error;
    pe::VersionSummary summary;
    ASSERT_TRUE(pe::ReadVersionInfo(data, &summary, &error)) << error;
    EXPECT_EQ(summary.translations, (std::vector<uint32_t>{0x03A40411}));
    const uint16_t expected[4] = {3, 1, 65535, 7};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(summary.fileVersion.parts[i], expected[i]);
        EXPECT_EQ(summary.productVersion.parts[i], expected[i]);
    }
    std::vector<std::pair<std::string, std::string>> strings = {
        {"CompanyName", "株式会社ヴァルキン"}, {"FileVersion", "3.1.65535.7"}, {"LegalCopyright", "© 2026"},
        {"ProductName", "テスト製品"}, {"ProductVersion", "3.1 ベータ"}};
    EXPECT_EQ(summary.strings, strings);
    EXPECT_EQ(data.size(), pe::Get16(data, 0));

    fields.productVersion = "4.2";
    ASSERT_TRUE(pe::BuildVersionInfo(fields, &data, &error));
    ASSERT_TRUE(pe::ReadVersionInfo(data, &summary, &error));
    EXPECT_EQ(summary.productVersion.parts[0], 4);
    EXPECT_EQ(summary.productVersion.parts[1], 2);
    EXPECT_EQ(summary.productVersion.parts[2], 0);

    fields.companyName.assign(40000, 'x');  // past the 16-bit lengths of the tree
    EXPECT_FALSE(pe::BuildVersionInfo(fields, &data, &error));
    EXPECT_NE(error.find("at most 65535"), std::string::npos) << error;
}

TEST(VersionInfo, FileVersionIsFourNumbers) {
    pe::VersionNumber number;
    for (const char* good : {"0.0.0.0", "1.2.3.4", "65535.65535.65535.65535", "01.2.3.4"}) {
        EXPECT_TRUE(pe::ParseVersionNumber(good, false, &number)) << good;
    }
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.65536", "1..3.4", "1.2.3.4.", "a.b.c.d", "1.2.3.-4",
                            " 1.2.3.4", "1.2.3.0000099999"}) {
        EXPECT_FALSE(pe::ParseVersionNumber(bad, false, &number)) << bad;
    }
    EXPECT_TRUE(pe::ParseVersionNumber("7", true, &number));
    EXPECT_FALSE(pe::ParseVersionNumber("7 beta", true, &number));
}

TEST(EmbeddedStub, KeepsEveryResourceItDoesNotReplace) {
    if (EMBEDDED_STUB_SIZE == 0) GTEST_SKIP() << "no stub embedded";
    Bytes stub(EMBEDDED_STUB, EMBEDDED_STUB + EMBEDDED_STUB_SIZE);
    ResourceSet set, back;
    std::string error;
    ASSERT_TRUE(pe::ReadResources(stub, &set, &error)) << error;
    ResourceSet changed = set;
    pe::ReplaceIconGroup(&changed, {Image(0, true), Image(16, false)});
    Bytes version;
    pe::VersionFields fields;
    fields.productName = "x";
    ASSERT_TRUE(pe::BuildVersionInfo(fields, &version, &error));
    pe::ReplaceVersionInfo(&changed, version);
    Bytes rewritten = stub;
    ASSERT_TRUE(pe::WriteResources(rewritten, changed, &error)) << error;
    ASSERT_TRUE(pe::ReadResources(rewritten, &back, &error)) << error;
    EXPECT_TRUE(SameSet(changed, back));
    size_t kept = 0;
    for (const Resource& r : set) {
        if (r.type.id == pe::RT_ICON || r.type.id == pe::RT_GROUP_ICON || r.type.id == pe::RT_VERSION) continue;
        bool found = false;
        for (const Resource& b : back) found |= b.type == r.type && b.name == r.name && b.data == r.data;
        EXPECT_TRUE(found) << "type " << r.type.id << " name " << r.name.id;
        ++kept;
    }
    EXPECT_GE(kept, 2u);  // the string table and the dialog at least
    // The header layout stays: DOS header, block area, DOS program, PE header.
    EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + layout::PE_HEADER, rewritten.begin()));
    pe::Image image;
    EXPECT_TRUE(CheckStub(rewritten, &image, &error)) << error;
}

}  // namespace
