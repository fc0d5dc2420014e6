// The format layer's parser of the program at the start of a command line,
// which the stub's start-up, its install step and the builder all share.
#include <gtest/gtest.h>

#include <string>

#include "format/command_line.h"

namespace {

using lzh_format::FindProgram;
using lzh_format::NameEnd;

TEST(FindProgram, FindsTheNameQuotedOrUnquotedAfterLeadingBlanks) {
    struct Case {
        const char* line;
        NameEnd end;
        const char* name;  // the name found
        const char* rest;  // what follows the name and its closing quote
    } cases[] = {
        {"setup.exe /q", NameEnd::BlankOrTab, "setup.exe", " /q"},
        {"\"C:\\a b\\setup.exe\" /q", NameEnd::BlankOrTab, "C:\\a b\\setup.exe", " /q"},
        {"\"unclosed name", NameEnd::BlankOrTab, "unclosed name", ""},
        {" \t setup.exe /q", NameEnd::BlankOrTab, "setup.exe", " /q"},
        {"  \"a b.exe\"x", NameEnd::BlankOrTab, "a b.exe", "x"},
        {"a.exe\tb", NameEnd::BlankOrTab, "a.exe", "\tb"},
        {"a.exe\x01 b", NameEnd::BlankOrTab, "a.exe\x01", " b"},
        {"a.exe\x01 b", NameEnd::AnyControl, "a.exe", "\x01 b"},
        {"", NameEnd::BlankOrTab, "", ""},
        {"   ", NameEnd::AnyControl, "", ""},
    };
    for (const Case& c : cases) {
        lzh_format::ProgramSpan span = FindProgram(c.line, c.end);
        EXPECT_EQ(std::string(c.line + span.begin, span.length), c.name) << c.line;
        EXPECT_EQ(std::string(c.line + span.after), c.rest) << c.line;
    }
}

}  // namespace
