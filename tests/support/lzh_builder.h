// Builds level-2 LZH archives byte by byte for tests: stored, folder and
// pre-compressed entries, with every header field open to tampering.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace support {

struct EntryPlan {
    std::string name;            // with '/' separators; a folder ends with '/'
    char method = '0';           // '0', '4' to '7', 'd', or anything to test refusals
    std::string data;            // the original bytes
    std::string packed{};        // compressed bytes for '4' to '7' (stored: the data)
    uint16_t attributes = 0x20;  // the attribute byte (and EXT_ATTRIBUTE when set)
    uint32_t time = 1000000000;  // seconds since 1970
    bool overrideCrc = false;    // use dataCrc instead of the data's CRC
    uint16_t dataCrc = 0;
    bool overrideSizes = false;  // use the two sizes below instead of the real ones
    uint32_t compressedSize = 0;
    uint32_t originalSize = 0;
    bool largeSize = false;  // add EXT_LARGE_SIZE (0x42) with the two 64-bit sizes below
    uint64_t largeCompressedSize = 0;
    uint64_t largeOriginalSize = 0;
    std::string unicodeFile{};  // EXT_UNICODE_FILE_NAME (0x44) data as it stands (UTF-16LE), when set
};

// UTF-16LE bytes of units, for unicodeFile.
std::string Utf16Le(const std::u16string& units);

// One entry: its header and data.
std::string BuildEntry(const EntryPlan& spec);

// Stores the header CRC again after a test has changed bytes of the header
// at the start of `entry` (its size word must still be right); the
// EXT_COMMON that BuildEntry writes comes first in the chain.
void ResealHeader(std::string* entry);

// Entries followed by the end marker.
std::string BuildArchive(const std::vector<EntryPlan>& entries);

}  // namespace support
