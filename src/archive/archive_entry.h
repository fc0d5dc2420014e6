// Entry headers of the appended archive (level 2), the CRC-16 engine, the
// header time conversion and the separator rule for names.
#pragma once

#include <stdint.h>

#include "common/text.h"
#include "platform/win32.h"

// An entry name: 259 units of text and the terminator (and no more than 259
// bytes of Shift-JIS).
constexpr uint32_t ENTRY_NAME_SIZE = MAX_PATH;

// What ReadNextEntry delivers for one entry.
struct ArchiveEntry {
    char method;                // '0' stored, '4' to '7' compressed, 'd' a folder
    uint64_t compressedSize;    // data bytes behind the header
    uint64_t originalSize;      // bytes to produce
    uint16_t dataCrc;           // CRC-16 of the original data
    uint16_t attributes;        // the attribute word
    FILETIME lastWriteTime;     // from the header time stamp or EXT_WINDOWS_TIME
    WCHAR name[ENTRY_NAME_SIZE]; // directory part then file part, separators as '/'
    uint8_t* headerBlock;       // the whole header, held until ReleaseEntry
};

// What ReadNextEntry found. The reader shows nothing; the extraction driver
// turns every status but Entry and End into its box.
enum class EntryStatus {
    Entry,              // g_entry holds the entry; the file is at its data
    End,                // the end marker
    Damaged,            // the header is damaged or cut short
    UnsupportedMethod,  // a method other than -lh0-, -lh4- to -lh7- and -lhd-
    NoMemory,           // no memory for the header block
    ReadError,          // the header could not be read
};

// The current entry, filled by ReadNextEntry.
extern ArchiveEntry g_entry;

// Reads one header from g_run.archiveFile (positioned at a header), checks
// it and fills g_entry; the file is then at the entry's first data byte.
EntryStatus ReadNextEntry();

// Frees the header block of the current entry, if one is held.
void ReleaseEntry();

// The FILETIME of a header time stamp (seconds since 1970 UTC, signed); a
// negative stamp gives the current time.
FILETIME HeaderTimeToFileTime(uint32_t stamp);

// Turns every separator outside double-byte characters into `/`, in place:
// `/`, `\` and 0xFF in a Shift-JIS name, whatever the system's code page;
// `/`, `\` and 0xFFFF (the folder end of a UTF-16 name) in a text of units.
void NormalizeSeparators(char* text);
void NormalizeSeparators(WCHAR* text, LeadTest isLead = IsNameLead);

// True for a UTF-16 name as an archive may carry it: no unit 0 and every
// surrogate in a pair.
bool IsWellFormedUtf16(const WCHAR* text, uint32_t length);
