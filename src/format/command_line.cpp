#include "format/command_line.h"

namespace lzh_format {

namespace {

bool EndsName(uint8_t c, NameEnd end) {
    if (end == NameEnd::AnyControl) return c <= 0x20;
    return c == 0 || c == ' ' || c == '\t';
}

}  // namespace

ProgramSpan FindProgram(const char* text, NameEnd end) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    uint32_t at = 0;
    while (p[at] == ' ' || p[at] == '\t') ++at;
    ProgramSpan span;
    if (p[at] == '"') {
        span.begin = ++at;
        while (p[at] != 0 && p[at] != '"') ++at;
        span.length = at - span.begin;
        span.after = p[at] == '"' ? at + 1 : at;
        return span;
    }
    span.begin = at;
    while (!EndsName(p[at], end)) ++at;
    span.length = at - span.begin;
    span.after = at;
    return span;
}

}  // namespace lzh_format
