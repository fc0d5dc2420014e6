#include "archive/archive_entry.h"

#include "common/run_state.h"
#include "common/text.h"
#include "res/resource.h"
#include "startup/install_config.h"
#include "ui/texts.h"

ArchiveEntry g_entry;

namespace {

// Bytes of the base header that every level-2 header starts with.
constexpr uint32_t BASE_HEADER_SIZE = 26;
// Offsets inside the base header.
constexpr uint32_t AT_METHOD = 2;
constexpr uint32_t AT_COMPRESSED_SIZE = 7;
constexpr uint32_t AT_ORIGINAL_SIZE = 11;
constexpr uint32_t AT_TIME_STAMP = 15;
constexpr uint32_t AT_ATTRIBUTE = 19;
constexpr uint32_t AT_LEVEL = 20;
constexpr uint32_t AT_DATA_CRC = 21;
constexpr uint32_t AT_OS_ID = 23;
constexpr uint32_t AT_FIRST_EXTENSION = 24;

// Extended header types that the reader takes; every other type is skipped.
constexpr uint8_t EXT_COMMON = 0x00;
constexpr uint8_t EXT_FILE_NAME = 0x01;
constexpr uint8_t EXT_DIR_NAME = 0x02;
constexpr uint8_t EXT_ATTRIBUTE = 0x40;
constexpr uint8_t EXT_WINDOWS_TIME = 0x41;
constexpr uint8_t EXT_LARGE_SIZE = 0x42;

// An extended header holds its type byte and the next size word besides its
// data, so no valid one is shorter than this.
constexpr uint32_t EXTENSION_OVERHEAD = 3;

// g_crcTable[0] is the table of the polynomial; g_crcTable[k][b] is the CRC
// of byte b followed by k zero bytes, which lets the update fold eight bytes
// with eight independent lookups instead of a chain of eight.
constexpr int CRC_SLICES = 8;
uint16_t g_crcTable[CRC_SLICES][256];
uint16_t g_crcValue;

uint16_t ReadU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

uint32_t ReadU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint64_t ReadU64(const uint8_t* at) {
    return static_cast<uint64_t>(ReadU32(at)) | (static_cast<uint64_t>(ReadU32(at + 4)) << 32);
}

EntryStatus Broken() {
    ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
    return EntryStatus::Failed;
}

EntryStatus Unsupported() {
    ErrorBox(IDS_UNSUPPORTED_METHOD, g_run.ownPath);
    return EntryStatus::Failed;
}

bool IsSupportedMethod(char letter) {
    return letter == '0' || letter == '4' || letter == '5' || letter == '6' || letter == '7' ||
           letter == 'd';
}

// Where the name parts of the current header lie in the header block.
struct NamePart {
    uint32_t offset;
    uint32_t length;
};

// Fills the name from the directory part and the file part. False when the two
// together do not fit a path.
bool BuildName(const uint8_t* block, NamePart directory, NamePart file) {
    if (directory.length + file.length >= ENTRY_NAME_SIZE) return false;
    MemCopy(g_entry.name, block + directory.offset, directory.length);
    MemCopy(g_entry.name + directory.length, block + file.offset, file.length);
    g_entry.name[directory.length + file.length] = 0;
    NormalizeSeparators(g_entry.name, '/');
    return true;
}

// Gregorian calendar date of a day count from 1970-01-01 (days >= 0).
void CivilFromDays(uint32_t days, SYSTEMTIME* out) {
    // Shift the epoch to 0000-03-01 so that leap days fall at the end of a year.
    uint32_t shifted = days + 719468;
    uint32_t era = shifted / 146097;
    uint32_t dayOfEra = shifted - era * 146097;
    uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    uint32_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 is March
    uint32_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    uint32_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    uint32_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    out->wYear = static_cast<WORD>(year);
    out->wMonth = static_cast<WORD>(month);
    out->wDay = static_cast<WORD>(day);
    out->wDayOfWeek = static_cast<WORD>((days + 4) % 7);  // 1970-01-01 was a Thursday
}

}  // namespace

// ---------------------------------------------------------------------------
// CRC-16

void Crc16BuildTable(uint16_t polynomial) {
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            v = (v & 1) != 0 ? static_cast<uint16_t>((v >> 1) ^ polynomial) : static_cast<uint16_t>(v >> 1);
        }
        g_crcTable[0][i] = v;
    }
    for (int k = 1; k < CRC_SLICES; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint16_t previous = g_crcTable[k - 1][i];
            g_crcTable[k][i] = static_cast<uint16_t>(g_crcTable[0][previous & 0xFF] ^ (previous >> 8));
        }
    }
}

void Crc16Reset() { g_crcValue = 0; }

uint16_t Crc16Update(const void* bytes, int32_t count) {
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    uint32_t crc = g_crcValue;
    int32_t i = 0;
    // Eight bytes at a time: the running value folds into the first two, and
    // each byte's share is its CRC shifted through the bytes after it.
    for (; i + CRC_SLICES <= count; i += CRC_SLICES) {
        uint32_t head = crc ^ (in[i] | (static_cast<uint32_t>(in[i + 1]) << 8));
        crc = g_crcTable[7][head & 0xFF] ^ g_crcTable[6][head >> 8] ^ g_crcTable[5][in[i + 2]] ^
              g_crcTable[4][in[i + 3]] ^ g_crcTable[3][in[i + 4]] ^ g_crcTable[2][in[i + 5]] ^
              g_crcTable[1][in[i + 6]] ^ g_crcTable[0][in[i + 7]];
    }
    for (; i < count; ++i) crc = g_crcTable[0][(crc ^ in[i]) & 0xFF] ^ (crc >> 8);
    g_crcValue = static_cast<uint16_t>(crc);
    return g_crcValue;
}

uint16_t Crc16Value() { return g_crcValue; }

// ---------------------------------------------------------------------------
// Time stamps and names

FILETIME HeaderTimeToFileTime(uint32_t stamp) {
    SYSTEMTIME calendar;
    FILETIME result = {0, 0};
    if ((stamp & 0x80000000u) != 0) {
        GetSystemTime(&calendar);
    } else {
        uint32_t days = stamp / 86400;
        uint32_t seconds = stamp % 86400;
        CivilFromDays(days, &calendar);
        calendar.wHour = static_cast<WORD>(seconds / 3600);
        calendar.wMinute = static_cast<WORD>(seconds / 60 % 60);
        calendar.wSecond = static_cast<WORD>(seconds % 60);
        calendar.wMilliseconds = 0;
    }
    SystemTimeToFileTime(&calendar, &result);
    return result;
}

void NormalizeSeparators(char* text, char separator) {
    for (uint8_t* at = reinterpret_cast<uint8_t*>(text); *at != 0; ++at) {
        if (IsDBCSLeadByte(*at)) {
            // The trail byte is never looked at; a lead byte at the very end
            // ends the walk.
            if (at[1] == 0) break;
            ++at;
        } else if (*at == '/' || *at == '\\' || *at == 0xFF) {
            *at = static_cast<uint8_t>(separator);
        }
    }
}

// ---------------------------------------------------------------------------
// Entry headers

void ReleaseEntry() {
    if (g_entry.headerBlock != nullptr) {
        LocalFree(g_entry.headerBlock);
        g_entry.headerBlock = nullptr;
    }
}

EntryStatus ReadNextEntry() {
    uint8_t base[BASE_HEADER_SIZE];
    DWORD got = 0;
    if (!ReadFile(g_run.archiveFile, base, BASE_HEADER_SIZE, &got, nullptr) || got == 0) return Broken();
    if (base[0] == 0) return EntryStatus::End;
    if (got < BASE_HEADER_SIZE) return Broken();
    if (base[AT_LEVEL] != 2) return Broken();

    // A header cannot be shorter than its own base part.
    uint32_t headerSize = ReadU16(base);
    if (headerSize < BASE_HEADER_SIZE) return Broken();

    uint8_t* block = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, headerSize));
    if (block == nullptr) {
        PlainErrorBox(IDS_NO_MEMORY, g_config.title, g_run.progressWindow);
        return EntryStatus::Failed;
    }
    g_entry.headerBlock = block;
    MemCopy(block, base, BASE_HEADER_SIZE);
    uint32_t rest = headerSize - BASE_HEADER_SIZE;
    if (rest != 0) {
        if (!ReadFile(g_run.archiveFile, block + BASE_HEADER_SIZE, rest, &got, nullptr) || got != rest) {
            return Broken();
        }
    }

    // The method is judged before anything else of the header is looked at.
    if (block[AT_METHOD] != '-' || block[AT_METHOD + 1] != 'l' || block[AT_METHOD + 2] != 'h' ||
        block[AT_METHOD + 4] != '-') {
        return Unsupported();
    }
    char method = static_cast<char>(block[AT_METHOD + 3]);
    if (!IsSupportedMethod(method)) return Unsupported();

    g_entry.method = method;
    g_entry.attributes = block[AT_ATTRIBUTE];
    g_entry.compressedSize = ReadU32(block + AT_COMPRESSED_SIZE);
    g_entry.originalSize = ReadU32(block + AT_ORIGINAL_SIZE);
    g_entry.dataCrc = ReadU16(block + AT_DATA_CRC);
    g_entry.lastWriteTime = HeaderTimeToFileTime(ReadU32(block + AT_TIME_STAMP));
    g_entry.name[0] = 0;
    bool fromMsDos = block[AT_OS_ID] == 'M';

    NamePart directory = {0, 0};
    NamePart file = {0, 0};
    bool haveCommon = false;
    uint32_t crcAt = 0;
    uint16_t headerCrc = 0;

    // Each extended header starts right behind its size word, and the next
    // size word is its own last two bytes. Every extended header must lie
    // wholly inside the header, so the chain ends inside it too.
    uint32_t sizeAt = AT_FIRST_EXTENSION;
    uint32_t size = ReadU16(block + sizeAt);
    while (size != 0) {
        uint32_t start = sizeAt + 2;
        if (size < EXTENSION_OVERHEAD || start + size > headerSize) return Broken();
        const uint8_t* data = block + start + 1;
        uint32_t dataLength = size - EXTENSION_OVERHEAD;
        switch (block[start]) {
            case EXT_COMMON:
                if (dataLength < 2) return Broken();
                haveCommon = true;
                crcAt = start + 1;
                headerCrc = ReadU16(data);
                break;
            case EXT_FILE_NAME:
                file = NamePart{start + 1, dataLength};
                break;
            case EXT_DIR_NAME:
                directory = NamePart{start + 1, dataLength};
                break;
            case EXT_ATTRIBUTE:
                // Only an MS-DOS header's attribute word is used, so only
                // then can a short one be damage.
                if (!fromMsDos) break;
                if (dataLength < 2) return Broken();
                g_entry.attributes = ReadU16(data);
                break;
            case EXT_WINDOWS_TIME:
                // The last-write time is the second of three times; the
                // third (last access) is never used.
                if (dataLength < 16) return Broken();
                g_entry.lastWriteTime.dwLowDateTime = ReadU32(data + 8);
                g_entry.lastWriteTime.dwHighDateTime = ReadU32(data + 12);
                break;
            case EXT_LARGE_SIZE:
                if (dataLength < 16) return Broken();
                g_entry.compressedSize = ReadU64(data);
                g_entry.originalSize = ReadU64(data + 8);
                break;
            default:
                break;
        }
        sizeAt = start + size - 2;
        size = ReadU16(block + sizeAt);
    }
    if (!haveCommon) return Broken();

    block[crcAt] = 0;
    block[crcAt + 1] = 0;
    Crc16Reset();
    if (Crc16Update(block, static_cast<int32_t>(headerSize)) != headerCrc) return Broken();

    if (!BuildName(block, directory, file)) return Broken();
    return EntryStatus::Entry;
}

static_assert(sizeof(ArchiveEntry::name) == 260, "an entry name holds 259 bytes and the terminator");
static_assert(BASE_HEADER_SIZE == AT_FIRST_EXTENSION + 2, "the first size word ends the base header");
