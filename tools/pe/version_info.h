// Version information (VS_VERSIONINFO): the fixed part with the file and
// product version numbers, one string table and its translation entry.
// Written for the publisher's fields and read back for display.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pe/resource_tree.h"

namespace pe {

// The string table's language and code page: Japanese, Shift-JIS, as the
// stub's own texts. Key "041103A4".
constexpr uint16_t VERSION_LANGUAGE = 0x0411;
constexpr uint16_t VERSION_CODE_PAGE = 932;

// Four 16-bit numbers a.b.c.d, most significant first.
struct VersionNumber {
    uint16_t parts[4] = {0, 0, 0, 0};
};

// "a.b.c.d" with every part 0 to 65535. With `allowShort`, one to four
// parts (missing ones are 0). False when the text is not of that form.
bool ParseVersionNumber(const std::string& text, bool allowShort, VersionNumber* number);

// The publisher's fields in UTF-8; an empty field is left out.
struct VersionFields {
    std::string companyName;
    std::string fileDescription;
    std::string fileVersion;      // also the fixed file version (a.b.c.d)
    std::string legalCopyright;
    std::string productName;
    std::string productVersion;   // also the fixed product version when it is numeric
};

// The VS_VERSIONINFO resource data. The fixed product version is the
// product version when it reads as numbers, else the file version. False
// when a field is not valid UTF-8 or the file version is not a.b.c.d.
bool BuildVersionInfo(const VersionFields& fields, Bytes* data, std::string* error);

// What a VS_VERSIONINFO holds, as read back.
struct VersionSummary {
    VersionNumber fileVersion;
    VersionNumber productVersion;
    std::vector<uint32_t> translations;  // language | code page << 16
    std::vector<std::pair<std::string, std::string>> strings;  // key, value in UTF-8, in file order
};
bool ReadVersionInfo(const Bytes& data, VersionSummary* summary, std::string* error);

// Replaces every version resource of the set by `data`, under number 1 in
// the language of the string table.
void ReplaceVersionInfo(ResourceSet* set, const Bytes& data);

// String `id` of the set's string table in UTF-8, empty when there is none.
std::string FindString(const ResourceSet& set, uint16_t id);

}  // namespace pe
