// Bounded texts. The stub holds every path, name and message as a text of
// 16-bit units (WCHAR), in one of two forms chosen once at start-up:
//   UTF-16  on the NT family, where the wide calls take any name the file
//           system allows;
//   bytes   on Windows 95, 98 and Me, which lack the wide calls: each unit
//           holds one byte of an ANSI text, Shift-JIS as the archive and the
//           block have it, or the system's code page as the system gave it.
// The system layer (common/system_calls.h) converts at the edges. The
// product has no C runtime, so these stand in for the string functions;
// every write is bounded by the destination's capacity (in units, the
// terminator included) and every cut keeps characters whole.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

// An ASCII literal as a text: WIDE("*.*").
#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif

// The form of texts: true for UTF-16. Set once by ChooseSystemCalls.
bool TextsAreUtf16();
void SetTextsUtf16(bool utf16);

// Lead bytes of Shift-JIS (code page 932): 0x81 to 0x9F and 0xE0 to 0xFC.
bool IsShiftJisLeadByte(uint8_t byte);

// The first unit of a two-unit character: in UTF-16 a high surrogate; in
// bytes a lead byte of Shift-JIS (IsNameLead: entry names, the title and the
// command, whatever the system's code page) or of the system's code page
// (IsSystemLead: texts the system hands out).
bool IsNameLead(WCHAR unit);
bool IsSystemLead(WCHAR unit);
typedef bool (*LeadTest)(WCHAR unit);

// Bytes a unit stands for in the name rules' limits: in bytes one; in UTF-16
// its length in Shift-JIS (one for ASCII and half-width katakana, else two),
// so that names are fitted to the same byte limits in both forms.
uint32_t UnitBytes(WCHAR unit);

uint32_t TextLength(const WCHAR* text);
// Copies a byte text (ASCII, or ANSI bytes in the byte form) into units, one
// byte a unit, cut at `capacity` units.
void TextFromBytes(WCHAR* dest, uint32_t capacity, const char* bytes);
uint32_t TextLength(const char* text);

// Copies `source` into `dest` (capacity units, terminator included). False
// when the text had to be cut; a cut never splits a character.
bool TextCopy(WCHAR* dest, uint32_t capacity, const WCHAR* source);
// Appends `source` behind the text in `dest`, bounded as TextCopy.
bool TextAppend(WCHAR* dest, uint32_t capacity, const WCHAR* source);
// Appends `length` units of `source`, bounded as TextCopy.
bool TextAppendUnits(WCHAR* dest, uint32_t capacity, const WCHAR* source, uint32_t length);

// Length of the longest prefix of `text` (of `length` units) that fits in
// `limit` units without splitting a character.
uint32_t FitCharacters(const WCHAR* text, uint32_t length, uint32_t limit,
                       LeadTest isLead = IsSystemLead);

// Unit-wise equality of two terminated texts.
bool TextEqual(const WCHAR* a, const WCHAR* b);

void MemFill(void* dest, uint8_t value, uint32_t count);
void MemCopy(void* dest, const void* source, uint32_t count);

// Copies a possibly quoted path: leading blanks and tabs are skipped; a
// quoted path ends at its closing quote (the rest is dropped); an unquoted
// one is copied unchanged, trailing blanks included.
void UnquotePath(WCHAR* dest, uint32_t capacity, const WCHAR* source);

// Appends one `\` unless the last character already is one. An empty text
// becomes `\`. Nothing is appended when it would not fit.
void AppendBackslash(WCHAR* text, uint32_t capacity);

// Writes `format` with `%s` replaced by `text` and a `%d` conversion by
// `number`, zero-padded to the last number of the conversion ("%03.3d" and
// "%04d" as wsprintf writes them); `%%` is one percent sign. Cut at
// `capacity` units.
void FormatText(WCHAR* out, uint32_t capacity, const WCHAR* format, const WCHAR* text,
                int number = 0);
