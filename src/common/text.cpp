#include "common/text.h"

#include "platform/win32.h"

bool IsShiftJisLeadByte(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsSystemLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != 0; }

uint32_t TextLength(const char* text) {
    uint32_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

uint32_t FitCharacters(const char* text, uint32_t length, uint32_t limit) {
    if (length <= limit) return length;
    uint32_t fit = 0;
    while (fit < limit) {
        uint32_t step = IsDBCSLeadByte(static_cast<BYTE>(text[fit])) ? 2 : 1;
        if (fit + step > limit) break;
        fit += step;
    }
    return fit;
}

bool TextCopy(char* dest, uint32_t capacity, const char* source) {
    if (capacity == 0) return false;
    uint32_t length = TextLength(source);
    uint32_t fit = FitCharacters(source, length, capacity - 1);
    MemCopy(dest, source, fit);
    dest[fit] = 0;
    return fit == length;
}

bool TextAppend(char* dest, uint32_t capacity, const char* source) {
    uint32_t used = TextLength(dest);
    if (used >= capacity) return false;
    return TextCopy(dest + used, capacity - used, source);
}

bool TextEqual(const char* a, const char* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void MemFill(void* dest, uint8_t value, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(dest);
    for (uint32_t i = 0; i < count; ++i) out[i] = value;
}

void MemCopy(void* dest, const void* source, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(dest);
    const uint8_t* in = static_cast<const uint8_t*>(source);
    for (uint32_t i = 0; i < count; ++i) out[i] = in[i];
}

void UnquotePath(char* dest, uint32_t capacity, const char* source) {
    while (*source == ' ' || *source == '\t') ++source;
    if (*source != '"') {
        TextCopy(dest, capacity, source);
        return;
    }
    ++source;
    uint32_t length = 0;
    while (source[length] != 0 && source[length] != '"') ++length;
    uint32_t fit = FitCharacters(source, length, capacity - 1);
    MemCopy(dest, source, fit);
    dest[fit] = 0;
}

void AppendBackslash(char* text, uint32_t capacity) {
    uint32_t length = TextLength(text);
    if (length > 0) {
        const char* last = CharPrevA(text, text + length);
        if (last + 1 == text + length && *last == '\\') return;
    }
    if (length + 2 > capacity) return;
    text[length] = '\\';
    text[length + 1] = 0;
}
