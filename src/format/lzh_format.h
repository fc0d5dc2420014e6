// The LZH format as the stub, the builder and the listing all read and write
// it: level-2 entry headers, their extended headers, and the symbol alphabet
// of the -lh4- to -lh7- block codes. Freestanding: no library, no platform.
#pragma once

#include <stdint.h>

namespace lzh_format {

// Bytes of the base header that every level-2 header starts with; the first
// extended header's size word is its last two bytes.
constexpr uint32_t BASE_HEADER_SIZE = 26;
// Offsets inside the base header.
enum BaseHeaderOffset : uint32_t {
    AT_HEADER_SIZE = 0,      // the whole header's size (2 bytes)
    AT_METHOD = 2,           // five bytes "-lh?-"
    AT_COMPRESSED_SIZE = 7,  // 4 bytes each from here to the time stamp
    AT_ORIGINAL_SIZE = 11,
    AT_TIME_STAMP = 15,      // seconds since 1970 UTC
    AT_ATTRIBUTE = 19,       // the attribute byte
    AT_LEVEL = 20,
    AT_DATA_CRC = 21,
    AT_OS_ID = 23,
    AT_FIRST_EXTENSION = 24,  // the size word of the first extended header
};
static_assert(BASE_HEADER_SIZE == AT_FIRST_EXTENSION + 2, "the first size word ends the base header");

// The only header level the stub and the listing read.
constexpr uint8_t HEADER_LEVEL = 2;
// The operating-system id under which EXT_ATTRIBUTE holds Windows attributes.
constexpr uint8_t OS_ID_MSDOS = 'M';

// Extended header types that are read or written; every other type is skipped.
enum ExtensionType : uint8_t {
    EXT_COMMON = 0x00,        // the header CRC (2 bytes), maybe more
    EXT_FILE_NAME = 0x01,     // the file part of the name
    EXT_DIR_NAME = 0x02,      // the directory part, 0xFF between folders
    EXT_ATTRIBUTE = 0x40,     // the attribute word (2 bytes)
    EXT_WINDOWS_TIME = 0x41,  // creation, last write, last access (3 x 8 bytes)
    EXT_LARGE_SIZE = 0x42,    // compressed and original size (2 x 8 bytes)
    EXT_UNICODE_FILE_NAME = 0x44,  // the file part in UTF-16LE, no terminator
    EXT_UNICODE_DIR_NAME = 0x45,   // the directory part in UTF-16LE, 0xFFFF after each folder
};

// An extended header holds its type byte and the next size word besides its
// data, so no valid one is shorter than this.
constexpr uint32_t EXTENSION_OVERHEAD = 3;
// The least data of each record that the reader takes, and where in
// EXT_WINDOWS_TIME's data the last-write time lies.
enum RecordData : uint32_t {
    COMMON_DATA_SIZE = 2,
    ATTRIBUTE_DATA_SIZE = 2,
    WINDOWS_TIME_DATA_SIZE = 16,  // creation and last write; last access unused
    LARGE_SIZE_DATA_SIZE = 16,
    WINDOWS_TIME_LAST_WRITE = 8,
};

// Literal/length symbols of the block code: 0 to 255 are bytes, 256 to 509
// match lengths 3 to 256 (symbol = length + MATCH_LENGTH_BIAS).
constexpr int SYMBOL_COUNT = 510;
constexpr int MIN_MATCH = 3;
constexpr int MAX_MATCH = 256;
constexpr int MATCH_LENGTH_BIAS = 253;
static_assert(256 == MATCH_LENGTH_BIAS + MIN_MATCH, "symbol 256 is the shortest match");
static_assert(SYMBOL_COUNT - 1 - MATCH_LENGTH_BIAS == MAX_MATCH, "the last symbol is the longest match");
// The code in which the symbol code's lengths are sent.
constexpr int LENGTH_CODE_COUNT = 19;

inline uint16_t ReadU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

inline uint32_t ReadU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

inline uint64_t ReadU64(const uint8_t* at) {
    return static_cast<uint64_t>(ReadU32(at)) | (static_cast<uint64_t>(ReadU32(at + 4)) << 32);
}

}  // namespace lzh_format
