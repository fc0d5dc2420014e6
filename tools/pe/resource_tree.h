// The resource tree of a PE file as a flat, sorted list, and its layout as a
// resource section: the three directory levels (type, name, language), the
// data entries, the name strings and the data. Writing and parsing are exact
// inverses: every resource comes back with its key, code page and bytes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "common/pe_image.h"

namespace pe {

// Resource types that valkrin-pack touches.
constexpr uint16_t RT_ICON = 3;
constexpr uint16_t RT_STRING = 6;
constexpr uint16_t RT_GROUP_ICON = 14;
constexpr uint16_t RT_VERSION = 16;

// A type or a name: a number, or a UTF-16 string (never empty).
struct ResourceKey {
    std::u16string name;  // empty: the key is `id`
    uint16_t id = 0;

    static ResourceKey Number(uint16_t id);
    bool named() const { return !name.empty(); }
    // The order of a resource directory: names first, by code unit, then numbers.
    bool operator<(const ResourceKey& other) const;
    bool operator==(const ResourceKey& other) const { return name == other.name && id == other.id; }
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    Bytes data;
};

// A resource set, kept sorted by type, name and language (SortResources).
using ResourceSet = std::vector<Resource>;

void SortResources(ResourceSet* set);

// Lays the set out as a resource section whose first byte is mapped at
// `baseRva`. The set must be sorted and hold each key once.
Bytes BuildResourceSection(const ResourceSet& set, uint32_t baseRva);

// Reads the tree of a resource section mapped at `baseRva`. False with a
// reason when an offset leaves the section, the tree is not three levels
// deep, a resource appears twice, or data lies outside the section.
bool ParseResourceSection(const Bytes& section, uint32_t baseRva, ResourceSet* set, std::string* error);

}  // namespace pe
