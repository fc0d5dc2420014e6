// Level-2 entry headers as our stub reads them best, the CRC-16 of entry
// data and headers, and names in the archive's code page and in UTF-16.
#pragma once

#include <stdint.h>

#include <string>

#include "format/crc16.h"

namespace lzh {

// CRC-16/ARC: the data check of every entry and the header check of EXT_COMMON.
using lzh_format::Crc16;

// Windows attribute bits that we set.
constexpr uint16_t ATTRIBUTE_READ_ONLY = 0x01;
constexpr uint16_t ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint16_t ATTRIBUTE_ARCHIVE = 0x20;

// Last-write time: seconds since 1970-01-01 UTC and nanoseconds.
struct EntryTime {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
};

// The values of one entry header.
struct EntryHeader {
    char method = '0';            // '0', '5', '6', '7' or 'd'
    uint64_t compressedSize = 0;  // data bytes behind the header
    uint64_t originalSize = 0;
    uint16_t dataCrc = 0;
    uint16_t attributes = ATTRIBUTE_ARCHIVE;
    EntryTime lastWrite;
    EntryTime lastAccess;
    std::string directory;  // in the archive's code page, parts separated by '/', no trailing '/'
    std::string file;       // empty for a folder entry
    // The same parts in UTF-16 for EXT_UNICODE_DIR_NAME and EXT_UNICODE_FILE_NAME;
    // each is written only when it is not empty.
    std::u16string unicodeDirectory;
    std::u16string unicodeFile;
    bool largeSizes = false;  // send EXT_LARGE_SIZE whatever the sizes (for a fixed header size)
};

// The whole header: base header, then EXT_COMMON (header CRC), the names,
// the UTF-16 names behind the Shift-JIS ones (libarchive takes the last name
// record it reads), EXT_ATTRIBUTE for attributes other than the archive bit
// alone (the base byte always holds that one), EXT_WINDOWS_TIME when the
// base time stamp cannot hold the time exactly, EXT_LARGE_SIZE for sizes of
// 4 GiB and more. A header whose size would be a multiple of 256 (its first
// byte then reads as the end marker) gets one more byte of EXT_COMMON data,
// which readers ignore.
std::string BuildHeader(const EntryHeader& entry);

// True when the sizes need EXT_LARGE_SIZE.
inline bool NeedsLargeSize(uint64_t size) { return size > 0xFFFFFFFFu; }

// The time as a Windows FILETIME (100-ns intervals since 1601-01-01 UTC).
uint64_t ToFileTime(const EntryTime& time);

// A name in both of its forms in the archive.
struct ArchiveName {
    std::string sjis;       // Shift-JIS (code page 932), '_' for each character without a form there
    std::u16string utf16;   // the name itself
    bool substituted = false;  // some character became '_' in `sjis`
};

// Converts a UTF-8 name. False with a message when it is not valid UTF-8.
bool ConvertName(const std::string& utf8, ArchiveName* name, std::string* error);
// Shift-JIS to UTF-8 for display; bytes that do not convert come out as '?'.
std::string NameToUtf8(const std::string& sjis);
// The data of EXT_UNICODE_FILE_NAME or EXT_UNICODE_DIR_NAME (UTF-16LE) in
// UTF-8, 0xFFFF and '\' becoming '/'. False when it is not well formed: an
// odd length, an unpaired surrogate or a NUL unit.
bool UnicodeNameToUtf8(const uint8_t* data, size_t size, std::string* utf8);

}  // namespace lzh
