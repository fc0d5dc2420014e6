#include "common/text.h"

namespace {
bool g_utf16;
}  // namespace

bool TextsAreUtf16() { return g_utf16; }
void SetTextsUtf16(bool utf16) { g_utf16 = utf16; }

bool IsShiftJisLeadByte(uint8_t byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

static bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

bool IsNameLead(WCHAR unit) {
    if (g_utf16) return IsHighSurrogate(unit);
    return unit <= 0xFF && IsShiftJisLeadByte(static_cast<uint8_t>(unit));
}

bool IsSystemLead(WCHAR unit) {
    if (g_utf16) return IsHighSurrogate(unit);
    return unit <= 0xFF && IsDBCSLeadByte(static_cast<BYTE>(unit)) != 0;
}

uint32_t UnitBytes(WCHAR unit) {
    if (!g_utf16 || unit < 0x80 || (unit >= 0xFF61 && unit <= 0xFF9F)) return 1;
    return 2;
}

uint32_t TextLength(const WCHAR* text) {
    uint32_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

void TextFromBytes(WCHAR* dest, uint32_t capacity, const char* bytes) {
    if (capacity == 0) return;
    uint32_t i = 0;
    for (; bytes[i] != 0 && i + 1 < capacity; ++i) dest[i] = static_cast<uint8_t>(bytes[i]);
    dest[i] = 0;
}

uint32_t TextLength(const char* text) {
    uint32_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

uint32_t FitCharacters(const WCHAR* text, uint32_t length, uint32_t limit, LeadTest isLead) {
    if (length <= limit) return length;
    uint32_t fit = 0;
    while (fit < limit) {
        uint32_t step = isLead(text[fit]) ? 2 : 1;
        if (fit + step > limit) break;
        fit += step;
    }
    return fit;
}

bool TextAppendUnits(WCHAR* dest, uint32_t capacity, const WCHAR* source, uint32_t length) {
    uint32_t used = TextLength(dest);
    if (used >= capacity) return false;
    uint32_t fit = FitCharacters(source, length, capacity - 1 - used);
    MemCopy(dest + used, source, fit * sizeof(WCHAR));
    dest[used + fit] = 0;
    return fit == length;
}

bool TextCopy(WCHAR* dest, uint32_t capacity, const WCHAR* source) {
    if (capacity == 0) return false;
    dest[0] = 0;
    return TextAppendUnits(dest, capacity, source, TextLength(source));
}

bool TextAppend(WCHAR* dest, uint32_t capacity, const WCHAR* source) {
    return TextAppendUnits(dest, capacity, source, TextLength(source));
}

bool TextEqual(const WCHAR* a, const WCHAR* b) {
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

void UnquotePath(WCHAR* dest, uint32_t capacity, const WCHAR* source) {
    while (*source == ' ' || *source == '\t') ++source;
    uint32_t length = 0;
    if (*source == '"') {
        ++source;
        while (source[length] != 0 && source[length] != '"') ++length;
    } else {
        length = TextLength(source);
    }
    dest[0] = 0;
    TextAppendUnits(dest, capacity, source, length);
}

void AppendBackslash(WCHAR* text, uint32_t capacity) {
    uint32_t length = TextLength(text);
    // The start of the last character, found from the front as CharPrevA does.
    uint32_t last = 0;
    for (uint32_t at = 0; at < length; at += IsSystemLead(text[at]) && at + 1 < length ? 2 : 1) last = at;
    if (length > 0 && last + 1 == length && text[last] == '\\') return;
    if (length + 2 > capacity) return;
    text[length] = '\\';
    text[length + 1] = 0;
}

// The digits of `number` into `out`, at least `digits` of them.
static void AppendNumber(WCHAR* out, uint32_t capacity, int number, uint32_t digits) {
    WCHAR text[16];
    uint32_t at = 16;
    uint32_t value = number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
    do {
        text[--at] = static_cast<WCHAR>('0' + value % 10);
        value /= 10;
    } while ((value != 0 || 16 - at < digits) && at > 1);
    if (number < 0) text[--at] = '-';
    TextAppendUnits(out, capacity, text + at, 16 - at);
}

void FormatText(WCHAR* out, uint32_t capacity, const WCHAR* format, const WCHAR* text,
                int number) {
    if (capacity == 0) return;
    out[0] = 0;
    for (const WCHAR* p = format; *p != 0; ++p) {
        if (*p != '%' || p[1] == 0) {
            TextAppendUnits(out, capacity, p, 1);
            continue;
        }
        // "%[0][width][.precision]d": the last number is the least count of
        // digits, as the formats of the texts ("%03.3d", "%04d") use it.
        uint32_t digits = 0;
        for (++p; (*p >= '0' && *p <= '9') || *p == '.'; ++p) digits = *p == '.' ? 0 : digits * 10 + (*p - '0');
        if (*p == 's') {
            TextAppend(out, capacity, text);
        } else if (*p == 'd') {
            AppendNumber(out, capacity, number, digits);
        } else if (*p != 0) {
            TextAppendUnits(out, capacity, p, 1);  // "%%" and anything unknown
        } else {
            --p;
        }
    }
}
