// Bounded byte-string helpers for ANSI texts in the system code page.
// The product has no C runtime, so these stand in for the string functions;
// every write is bounded by the destination's capacity and every cut keeps
// double-byte characters whole.
#pragma once

#include <stdint.h>

// Lead bytes of Shift-JIS (code page 932): 0x81 to 0x9F and 0xE0 to 0xFC.
// Entry names, the configured title and the configured command are stored
// in Shift-JIS, so their characters are judged by this test whatever the
// system's code page is; texts the system hands out follow its own.
bool IsShiftJisLeadByte(uint8_t byte);
bool IsSystemLeadByte(uint8_t byte);
typedef bool (*LeadByteTest)(uint8_t byte);

// Number of bytes before the terminator.
uint32_t TextLength(const char* text);

// Copies `source` into `dest` (capacity bytes, terminator included). Returns
// false when the text had to be cut; a cut never splits a double-byte
// character.
bool TextCopy(char* dest, uint32_t capacity, const char* source);

// Appends `source` behind the text in `dest`, bounded as TextCopy.
bool TextAppend(char* dest, uint32_t capacity, const char* source);

// Length of the longest prefix of `text` (of `length` bytes) that fits in
// `limit` bytes without splitting a double-byte character.
uint32_t FitCharacters(const char* text, uint32_t length, uint32_t limit);

// Byte-wise equality of two terminated texts.
bool TextEqual(const char* a, const char* b);

void MemFill(void* dest, uint8_t value, uint32_t count);
void MemCopy(void* dest, const void* source, uint32_t count);

// Copies a possibly quoted path: leading blanks and tabs are skipped; a
// quoted path ends at its closing quote (the rest is dropped); an unquoted
// one is copied unchanged, trailing blanks included.
void UnquotePath(char* dest, uint32_t capacity, const char* source);

// Appends one `\` unless the last character (double-byte aware) already is
// one. An empty text becomes `\`. Nothing is appended when it would not fit.
void AppendBackslash(char* text, uint32_t capacity);
