// The shared text helpers and the command-line split, with double-byte
// characters whose trail byte is a backslash.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "startup/startup.h"

namespace {

// "表" in code page 932 is 0x95 0x5C: its trail byte is a backslash.
const std::string kTable = "\x95\x5c";

std::string Unquote(const std::string& source, uint32_t capacity = 260) {
    char out[600];
    UnquotePath(out, capacity, source.c_str());
    return out;
}

std::string WithBackslash(const std::string& text, uint32_t capacity = 260) {
    char buffer[600];
    strcpy(buffer, text.c_str());
    AppendBackslash(buffer, capacity);
    return buffer;
}

TEST(UnquotePath, QuotedUnquotedAndBlanks) {
    EXPECT_EQ(Unquote("  \t\"C:\\My Dir\" rest"), "C:\\My Dir");
    EXPECT_EQ(Unquote("\"C:\\Open"), "C:\\Open");  // no closing quote: all after it
    EXPECT_EQ(Unquote(" C:\\Dir  "), "C:\\Dir  ");  // trailing blanks kept
    EXPECT_EQ(Unquote(""), "");
    EXPECT_EQ(Unquote("\"\""), "");
}

TEST(UnquotePath, CutsWithinCapacityWithoutSplittingCharacters) {
    EXPECT_EQ(Unquote("\"abcdef\"", 4), "abc");
    EXPECT_EQ(Unquote("ab" + kTable, 4), "ab");  // the lead byte would be alone
}

TEST(AppendBackslash, DoubleByteAware) {
    EXPECT_EQ(WithBackslash(""), "\\");
    EXPECT_EQ(WithBackslash("C:\\"), "C:\\");
    EXPECT_EQ(WithBackslash("C:\\a"), "C:\\a\\");
    EXPECT_EQ(WithBackslash("C:\\" + kTable), "C:\\" + kTable + "\\");  // trail 0x5C is no separator
    EXPECT_EQ(WithBackslash("abc", 4), "abc");  // no room: unchanged
}

TEST(TextCopy, ReportsCutsAndKeepsCharactersWhole) {
    char out[5];
    EXPECT_TRUE(TextCopy(out, sizeof out, "abcd"));
    EXPECT_STREQ(out, "abcd");
    EXPECT_FALSE(TextCopy(out, sizeof out, "abcde"));
    EXPECT_STREQ(out, "abcd");
    EXPECT_FALSE(TextCopy(out, sizeof out, ("abc" + kTable).c_str()));
    EXPECT_STREQ(out, "abc");
    char small[8] = "ab";
    EXPECT_FALSE(TextAppend(small, sizeof small, "cdefghij"));
    EXPECT_STREQ(small, "abcdefg");
}

TEST(SkipProgramName, QuotedAndUnquotedNames) {
    EXPECT_STREQ(SkipProgramName("\"C:\\My Dir\\setup.exe\" -n D:\\x"), "-n D:\\x");
    EXPECT_STREQ(SkipProgramName("\"C:\\a b\\s.exe\"-n"), "-n");  // the quote ends the name
    EXPECT_STREQ(SkipProgramName("setup.exe \t -q"), "-q");
    EXPECT_STREQ(SkipProgramName("setup.exe"), "");
    EXPECT_STREQ(SkipProgramName("\"unclosed name"), "");
    EXPECT_STREQ(SkipProgramName("a.exe\x01\x02 x"), "x");
}

}  // namespace
