// Judging a level-2 entry header: the base header as it is read, then the
// chain of extended headers and the header CRC. The stub's header reader and
// the builder's listing both judge headers here, so they take and refuse the
// same ones; each turns a verdict into its own message.
#pragma once

#include <stdint.h>

namespace lzh_format {

enum class HeaderVerdict : uint8_t {
    Sound,               // the header reads as an entry
    EndOfArchive,        // the first byte is 0: the end marker
    Missing,             // no byte at all where a header should start
    CutShort,            // the file ends inside the header
    NotLevel2,           // another header level
    SizeBelowBase,       // the size word is below the base header's 26 bytes
    ExtensionOutside,    // an extended header below 3 bytes or past the header
    ExtensionTooShort,   // a record that is read holds less data than it needs
    NoHeaderCrc,         // no EXT_COMMON
    HeaderCrcMismatch,   // the header CRC does not match
};

// Where a part of the name lies in the header block.
struct HeaderSpan {
    uint32_t offset;
    uint32_t length;
};

// The values of a sound header, extended headers applied over the base ones.
struct HeaderFields {
    uint64_t compressedSize;  // EXT_LARGE_SIZE over the base field
    uint64_t originalSize;
    uint32_t timeStamp;       // the base time stamp (seconds since 1970 UTC)
    bool hasWindowsTime;      // EXT_WINDOWS_TIME was present
    uint64_t lastWriteTime;   // its last-write FILETIME, when present
    uint16_t attributes;      // the base byte, or EXT_ATTRIBUTE of an MS-DOS header
    uint16_t dataCrc;
    HeaderSpan directory;     // EXT_DIR_NAME's data, or empty
    HeaderSpan file;          // EXT_FILE_NAME's data, or empty
    bool hasUnicodeName;      // EXT_UNICODE_FILE_NAME or EXT_UNICODE_DIR_NAME was present
    HeaderSpan unicodeDirectory;  // EXT_UNICODE_DIR_NAME's data (UTF-16LE), or empty
    HeaderSpan unicodeFile;       // EXT_UNICODE_FILE_NAME's data (UTF-16LE), or empty
};

// Judges the first `got` bytes read where a header should start (at most
// BASE_HEADER_SIZE): the end marker, a cut, the level, the size word. Sound
// sets `headerSize` to the whole header's size.
HeaderVerdict JudgeBaseHeader(const uint8_t* base, uint32_t got, uint32_t* headerSize);

// Walks the extended headers of the whole header in `block` (`size` bytes, as
// JudgeBaseHeader gave it) and checks the header CRC, which it zeroes in the
// block to do so. Every extended header must lie wholly inside the header and
// every record that is read must hold the data it needs. Sound fills
// `fields`; other verdicts leave it partly filled.
HeaderVerdict ReadHeaderFields(uint8_t* block, uint32_t size, HeaderFields* fields);

// True when the five method bytes read "-lh" letter "-"; sets `letter`.
bool ReadMethodLetter(const uint8_t* block, char* letter);

}  // namespace lzh_format
