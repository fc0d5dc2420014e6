// Where the program of a command line is, as Windows finds it: the first
// token after blanks and tabs, either in double quotes (up to the closing
// quote or the end) or up to the first byte that ends an unquoted name. The
// stub reads its own command line and its install command this way, and the
// builder reads the install command it writes this way.
#pragma once

#include <stdint.h>

namespace lzh_format {

// What ends an unquoted program name.
enum class NameEnd : uint8_t {
    BlankOrTab,  // a command run by CreateProcess: blank (0x20) or tab
    AnyControl,  // the process's own command line: any byte of 0x20 or below
};

struct ProgramSpan {
    uint32_t begin;   // first byte of the name (behind an opening quote)
    uint32_t length;  // bytes of the name
    uint32_t after;   // first byte behind the name and its closing quote
};

// The program of the command line `text` (zero-terminated).
ProgramSpan FindProgram(const char* text, NameEnd end);

}  // namespace lzh_format
