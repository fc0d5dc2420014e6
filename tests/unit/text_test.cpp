// The shared text helpers and the command-line split, with double-byte
// characters whose trail byte is a backslash (texts of bytes, code page 932)
// and surrogate pairs (UTF-16).
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "platform/posix/host_controls.h"
#include "support/test_support.h"
#include "startup/startup.h"

namespace {

// "表" in code page 932 is 0x95 0x5C: its trail byte is a backslash.
const std::string kTable = "\x95\x5c";

// Texts of bytes for the tests of double-byte characters.
class ByteText : public ::testing::Test {
protected:
    void SetUp() override { SetTextsUtf16(false); }
    void TearDown() override { SetTextsUtf16(true); }
};

std::u16string Units(const std::string& bytes) { return support::ByteUnits(bytes); }
std::string Bytes(const WCHAR* units) { return support::Utf8Of(units); }

std::string Unquote(const std::string& source, uint32_t capacity = 260) {
    WCHAR out[600];
    UnquotePath(out, capacity, Units(source).c_str());
    return Bytes(out);
}

std::string WithBackslash(const std::string& text, uint32_t capacity = 260) {
    std::u16string buffer = Units(text);
    buffer.resize(600);
    AppendBackslash(&buffer[0], capacity);
    return Bytes(buffer.c_str());
}

TEST_F(ByteText, UnquotePathQuotedUnquotedAndBlanks) {
    EXPECT_EQ(Unquote("  \t\"C:\\My Dir\" rest"), "C:\\My Dir");
    EXPECT_EQ(Unquote("\"C:\\Open"), "C:\\Open");  // no closing quote: all after it
    EXPECT_EQ(Unquote(" C:\\Dir  "), "C:\\Dir  ");  // trailing blanks kept
    EXPECT_EQ(Unquote(""), "");
    EXPECT_EQ(Unquote("\"\""), "");
}

TEST_F(ByteText, UnquotePathCutsWithinCapacityWithoutSplittingCharacters) {
    EXPECT_EQ(Unquote("\"abcdef\"", 4), "abc");
    EXPECT_EQ(Unquote("ab" + kTable, 4), "ab");  // the lead byte would be alone
}

TEST_F(ByteText, AppendBackslashDoubleByteAware) {
    EXPECT_EQ(WithBackslash(""), "\\");
    EXPECT_EQ(WithBackslash("C:\\"), "C:\\");
    EXPECT_EQ(WithBackslash("C:\\a"), "C:\\a\\");
    EXPECT_EQ(WithBackslash("C:\\" + kTable), "C:\\" + kTable + "\\");  // trail 0x5C is no separator
    EXPECT_EQ(WithBackslash("abc", 4), "abc");  // no room: unchanged
}

TEST_F(ByteText, TextCopyReportsCutsAndKeepsCharactersWhole) {
    WCHAR out[5];
    EXPECT_TRUE(TextCopy(out, 5, u"abcd"));
    EXPECT_EQ(Bytes(out), "abcd");
    EXPECT_FALSE(TextCopy(out, 5, u"abcde"));
    EXPECT_EQ(Bytes(out), "abcd");
    EXPECT_FALSE(TextCopy(out, 5, Units("abc" + kTable).c_str()));
    EXPECT_EQ(Bytes(out), "abc");
    WCHAR small[8] = u"ab";
    EXPECT_FALSE(TextAppend(small, 8, u"cdefghij"));
    EXPECT_EQ(Bytes(small), "abcdefg");
}

TEST(Utf16Text, SurrogatePairsStayWholeAndBackslashesCount) {
    SetTextsUtf16(true);
    WCHAR out[4];
    EXPECT_FALSE(TextCopy(out, 4, u"ab\U0001F600"));
    EXPECT_EQ(std::u16string(out), u"ab");
    WCHAR path[8] = u"C:\\\u8868";  // 表: no trail byte here to mistake for a separator
    AppendBackslash(path, 8);
    EXPECT_EQ(std::u16string(path), u"C:\\\u8868\\");
}

TEST(FormatText, PlaceholdersAsWsprintfTakesThem) {
    struct Case {
        const char16_t* format;
        int number;
        const char16_t* out;
    } cases[] = {
        {u"%svalkrin.%03.3d", 7, u"C:\\T\\valkrin.007"},
        {u"%svalkrin.%03.3d", 999, u"C:\\T\\valkrin.999"},
        {u"%s \u3092\uFF72\uFF9D?", 0, u"C:\\T\\ \u3092\uFF72\uFF9D?"},
        {u"100%% %d", -5, u"100% -5"},
        {u"%05d|%s|%d", 42, u"00042|C:\\T\\|42"},
        {u"trailing %", 0, u"trailing %"},
    };
    for (const Case& c : cases) {
        WCHAR out[64];
        FormatText(out, 64, c.format, u"C:\\T\\", c.number);
        EXPECT_EQ(std::u16string(out), c.out) << host::Utf8FromWide(c.format);
    }
    WCHAR small[6];
    FormatText(small, 6, u"%svalkrin.%03.3d", u"C:\\", 1);
    EXPECT_EQ(std::u16string(small), u"C:\\va");
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
