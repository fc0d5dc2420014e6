#include "archive/archive_entry.h"

#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "format/entry_header.h"
#include "format/lzh_format.h"

ArchiveEntry g_entry;

namespace {

using namespace lzh_format;

// The status of a header that is not sound.
EntryStatus StatusOf(HeaderVerdict verdict) {
    return verdict == HeaderVerdict::EndOfArchive ? EntryStatus::End : EntryStatus::Damaged;
}

bool IsSupportedMethod(char letter) {
    return letter == '0' || letter == '4' || letter == '5' || letter == '6' || letter == '7' ||
           letter == 'd';
}

// Appends a UTF-16LE part of the header (`span`) to the name; false when it
// does not fit or is not well formed.
bool AppendUnicodePart(const uint8_t* block, HeaderSpan span, uint32_t* used) {
    if (span.length % 2 != 0 || *used + span.length / 2 >= ENTRY_NAME_SIZE) return false;
    WCHAR* part = g_entry.name + *used;
    for (uint32_t i = 0; i < span.length; i += 2) g_entry.name[(*used)++] = ReadU16(block + span.offset + i);
    g_entry.name[*used] = 0;
    return IsWellFormedUtf16(part, span.length / 2);
}

// Appends a Shift-JIS part of the header, its separators made `/` first. A
// zero byte ends the whole name: `ended` is set, and nothing follows.
bool AppendShiftJisPart(const uint8_t* block, HeaderSpan span, uint32_t* used, bool* ended) {
    if (*ended) return true;
    char bytes[ENTRY_NAME_SIZE];
    MemCopy(bytes, block + span.offset, span.length);
    bytes[span.length] = 0;
    NormalizeSeparators(bytes);
    uint32_t length = TextLength(bytes);
    *ended = length < span.length;
    if (!TextFromShiftJis(g_entry.name + *used, ENTRY_NAME_SIZE - *used, bytes, length, true)) return false;
    *used += TextLength(g_entry.name + *used);
    return true;
}

// Fills the name from the directory part and the file part. With the wide
// calls, a UTF-16 part is taken where the header has one and the Shift-JIS
// part otherwise; Windows 95 to Me take the Shift-JIS name alone. False for
// a name that does not fit a path or a UTF-16 name that is not well formed.
bool BuildName(const uint8_t* block, const HeaderFields& fields) {
    if (fields.directory.length + fields.file.length >= ENTRY_NAME_SIZE) return false;
    bool unicode = fields.hasUnicodeName && TextsAreUtf16();
    uint32_t used = 0;
    bool ended = false;
    g_entry.name[0] = 0;
    bool built = unicode && fields.unicodeDirectory.length != 0
                     ? AppendUnicodePart(block, fields.unicodeDirectory, &used)
                     : AppendShiftJisPart(block, fields.directory, &used, &ended);
    built = built && (unicode && fields.unicodeFile.length != 0
                          ? AppendUnicodePart(block, fields.unicodeFile, &used)
                          : AppendShiftJisPart(block, fields.file, &used, &ended));
    if (!built) return false;
    NormalizeSeparators(g_entry.name);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Time stamps and names

FILETIME HeaderTimeToFileTime(uint32_t stamp) {
    FILETIME result = {0, 0};
    if ((stamp & 0x80000000u) != 0) {
        SYSTEMTIME now;
        GetSystemTime(&now);
        SystemTimeToFileTime(&now, &result);
        return result;
    }
    // A FILETIME counts 100 ns from 1601-01-01, which lies 11644473600
    // seconds before 1970-01-01; both count no leap seconds.
    uint64_t ticks = (stamp + 11644473600ull) * 10000000u;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

void NormalizeSeparators(char* text) {
    for (uint8_t* at = reinterpret_cast<uint8_t*>(text); *at != 0; ++at) {
        if (IsShiftJisLeadByte(*at)) {
            // The trail byte is never looked at; a lead byte at the very end
            // ends the walk.
            if (at[1] == 0) break;
            ++at;
        } else if (*at == '/' || *at == '\\' || *at == 0xFF) {
            *at = '/';
        }
    }
}

void NormalizeSeparators(WCHAR* text, LeadTest isLead) {
    for (WCHAR* at = text; *at != 0; ++at) {
        if (isLead(*at)) {
            if (at[1] == 0) break;
            ++at;
        } else if (*at == '/' || *at == '\\' || *at == 0xFFFF) {
            *at = '/';
        }
    }
}

bool IsWellFormedUtf16(const WCHAR* text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        WCHAR unit = text[i];
        if (unit == 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;  // a low half alone
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
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
    if (!ReadFile(g_run.archiveFile, base, BASE_HEADER_SIZE, &got, nullptr)) return EntryStatus::ReadError;
    uint32_t headerSize = 0;
    HeaderVerdict verdict = JudgeBaseHeader(base, got, &headerSize);
    if (verdict != HeaderVerdict::Sound) return StatusOf(verdict);

    uint8_t* block = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, headerSize));
    if (block == nullptr) return EntryStatus::NoMemory;
    g_entry.headerBlock = block;
    MemCopy(block, base, BASE_HEADER_SIZE);
    uint32_t rest = headerSize - BASE_HEADER_SIZE;
    if (rest != 0) {
        if (!ReadFile(g_run.archiveFile, block + BASE_HEADER_SIZE, rest, &got, nullptr)) return EntryStatus::ReadError;
        if (got != rest) return EntryStatus::Damaged;
    }

    // The method is judged before anything else of the header is looked at.
    char method = 0;
    if (!ReadMethodLetter(block, &method) || !IsSupportedMethod(method)) return EntryStatus::UnsupportedMethod;

    HeaderFields fields;
    verdict = ReadHeaderFields(block, headerSize, &fields);
    if (verdict != HeaderVerdict::Sound) return StatusOf(verdict);

    g_entry.method = method;
    g_entry.attributes = fields.attributes;
    g_entry.compressedSize = fields.compressedSize;
    g_entry.originalSize = fields.originalSize;
    g_entry.dataCrc = fields.dataCrc;
    if (fields.hasWindowsTime) {
        g_entry.lastWriteTime.dwLowDateTime = static_cast<DWORD>(fields.lastWriteTime);
        g_entry.lastWriteTime.dwHighDateTime = static_cast<DWORD>(fields.lastWriteTime >> 32);
    } else {
        g_entry.lastWriteTime = HeaderTimeToFileTime(fields.timeStamp);
    }
    if (!BuildName(block, fields)) return EntryStatus::Damaged;
    return EntryStatus::Entry;
}

static_assert(sizeof(ArchiveEntry::name) == 260 * sizeof(WCHAR), "an entry name holds 259 units and the terminator");
