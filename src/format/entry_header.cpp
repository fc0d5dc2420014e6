#include "format/entry_header.h"

#include "format/crc16.h"
#include "format/lzh_format.h"

namespace lzh_format {

namespace {

// The least data a record of `type` must hold to be read; 0 for the types
// whose data is taken as it is or not used. A record is checked only where
// its data is used: the attribute word of an MS-DOS header alone, and of
// the Windows times only the last write (the second of three).
uint32_t NeededData(uint8_t type, bool fromMsDos) {
    switch (type) {
        case EXT_COMMON: return COMMON_DATA_SIZE;
        case EXT_ATTRIBUTE: return fromMsDos ? static_cast<uint32_t>(ATTRIBUTE_DATA_SIZE) : 0;
        case EXT_WINDOWS_TIME: return WINDOWS_TIME_DATA_SIZE;
        case EXT_LARGE_SIZE: return LARGE_SIZE_DATA_SIZE;
        default: return 0;
    }
}

// Takes one record's data into `fields`. `crcAt` receives where EXT_COMMON's
// CRC lies.
void TakeRecord(uint8_t type, const uint8_t* block, HeaderSpan data, bool fromMsDos, HeaderFields* fields,
                uint32_t* crcAt) {
    const uint8_t* at = block + data.offset;
    switch (type) {
        case EXT_COMMON:
            *crcAt = data.offset;
            break;
        case EXT_FILE_NAME:
            fields->file = data;
            break;
        case EXT_DIR_NAME:
            fields->directory = data;
            break;
        case EXT_UNICODE_FILE_NAME:
            fields->hasUnicodeName = true;
            fields->unicodeFile = data;
            break;
        case EXT_UNICODE_DIR_NAME:
            fields->hasUnicodeName = true;
            fields->unicodeDirectory = data;
            break;
        case EXT_ATTRIBUTE:
            if (fromMsDos) fields->attributes = ReadU16(at);
            break;
        case EXT_WINDOWS_TIME:
            fields->hasWindowsTime = true;
            fields->lastWriteTime = ReadU64(at + WINDOWS_TIME_LAST_WRITE);
            break;
        case EXT_LARGE_SIZE:
            fields->compressedSize = ReadU64(at);
            fields->originalSize = ReadU64(at + 8);
            break;
        default:
            break;
    }
}

void ReadBaseFields(const uint8_t* block, HeaderFields* fields) {
    fields->compressedSize = ReadU32(block + AT_COMPRESSED_SIZE);
    fields->originalSize = ReadU32(block + AT_ORIGINAL_SIZE);
    fields->timeStamp = ReadU32(block + AT_TIME_STAMP);
    fields->hasWindowsTime = false;
    fields->lastWriteTime = 0;
    fields->attributes = block[AT_ATTRIBUTE];
    fields->dataCrc = ReadU16(block + AT_DATA_CRC);
    fields->directory = HeaderSpan{0, 0};
    fields->file = HeaderSpan{0, 0};
    fields->hasUnicodeName = false;
    fields->unicodeDirectory = HeaderSpan{0, 0};
    fields->unicodeFile = HeaderSpan{0, 0};
}

}  // namespace

HeaderVerdict JudgeBaseHeader(const uint8_t* base, uint32_t got, uint32_t* headerSize) {
    if (got == 0) return HeaderVerdict::Missing;
    if (base[0] == 0) return HeaderVerdict::EndOfArchive;
    if (got < BASE_HEADER_SIZE) return HeaderVerdict::CutShort;
    if (base[AT_LEVEL] != HEADER_LEVEL) return HeaderVerdict::NotLevel2;
    // A header cannot be shorter than its own base part.
    *headerSize = ReadU16(base + AT_HEADER_SIZE);
    if (*headerSize < BASE_HEADER_SIZE) return HeaderVerdict::SizeBelowBase;
    return HeaderVerdict::Sound;
}

HeaderVerdict ReadHeaderFields(uint8_t* block, uint32_t size, HeaderFields* fields) {
    ReadBaseFields(block, fields);
    bool fromMsDos = block[AT_OS_ID] == OS_ID_MSDOS;
    bool haveCommon = false;
    uint32_t crcAt = 0;

    // Each extended header starts right behind its size word, and the next
    // size word is its own last two bytes. Every extended header must lie
    // wholly inside the header, so the chain ends inside it too.
    uint32_t sizeAt = AT_FIRST_EXTENSION;
    uint32_t extensionSize = ReadU16(block + sizeAt);
    while (extensionSize != 0) {
        uint32_t start = sizeAt + 2;
        if (extensionSize < EXTENSION_OVERHEAD || start + extensionSize > size) return HeaderVerdict::ExtensionOutside;
        uint8_t type = block[start];
        HeaderSpan data{start + 1, extensionSize - EXTENSION_OVERHEAD};
        if (data.length < NeededData(type, fromMsDos)) return HeaderVerdict::ExtensionTooShort;
        if (type == EXT_COMMON) haveCommon = true;
        TakeRecord(type, block, data, fromMsDos, fields, &crcAt);
        sizeAt = start + extensionSize - 2;
        extensionSize = ReadU16(block + sizeAt);
    }
    if (!haveCommon) return HeaderVerdict::NoHeaderCrc;

    uint16_t headerCrc = ReadU16(block + crcAt);
    block[crcAt] = 0;
    block[crcAt + 1] = 0;
    if (Crc16(block, size) != headerCrc) return HeaderVerdict::HeaderCrcMismatch;
    return HeaderVerdict::Sound;
}

bool ReadMethodLetter(const uint8_t* block, char* letter) {
    const uint8_t* method = block + AT_METHOD;
    if (method[0] != '-' || method[1] != 'l' || method[2] != 'h' || method[4] != '-') return false;
    *letter = static_cast<char>(method[3]);
    return true;
}

}  // namespace lzh_format
