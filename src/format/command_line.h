// Where the program of a command line is, as Windows finds it: the first
// token after blanks and tabs, either in double quotes (up to the closing
// quote or the end) or up to the first unit that ends an unquoted name. The
// stub reads its own command line and its install command this way, and the
// builder reads the install command it writes this way.
#pragma once

#include <stdint.h>

namespace lzh_format {

// What ends an unquoted program name.
enum class NameEnd : uint8_t {
    BlankOrTab,  // a command run by CreateProcess: blank (0x20) or tab
    AnyControl,  // the process's own command line: any unit of 0x20 or below
};

struct ProgramSpan {
    uint32_t begin;   // first unit of the name (behind an opening quote)
    uint32_t length;  // units of the name
    uint32_t after;   // first unit behind the name and its closing quote
};

inline uint32_t UnitValue(char c) { return static_cast<uint8_t>(c); }
inline uint32_t UnitValue(wchar_t c) { return static_cast<uint32_t>(c); }
inline uint32_t UnitValue(char16_t c) { return c; }

inline bool EndsName(uint32_t c, NameEnd end) {
    return end == NameEnd::AnyControl ? c <= 0x20 : c == 0 || c == ' ' || c == '\t';
}

// The program of the command line `text` (zero-terminated), in bytes or in
// 16-bit units.
template <typename Unit>
ProgramSpan FindProgram(const Unit* text, NameEnd end) {
    auto at = [text](uint32_t i) { return UnitValue(text[i]); };
    uint32_t i = 0;
    while (at(i) == ' ' || at(i) == '\t') ++i;
    ProgramSpan span;
    if (at(i) == '"') {
        span.begin = ++i;
        while (at(i) != 0 && at(i) != '"') ++i;
        span.length = i - span.begin;
        span.after = at(i) == '"' ? i + 1 : i;
        return span;
    }
    span.begin = i;
    while (!EndsName(at(i), end)) ++i;
    span.length = i - span.begin;
    span.after = i;
    return span;
}

}  // namespace lzh_format
