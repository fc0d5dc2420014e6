// Output paths and the name rules of both volume kinds, with the worked
// examples and the double-byte edge cases. Most run on texts of bytes, as
// Windows 95 to Me hold them; the last ones on UTF-16 names.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "extract/output_paths.h"
#include "platform/posix/host_controls.h"
#include "support/test_support.h"

namespace {

const std::string kTable = "\x95\x5c";  // a double-byte character ending in 0x5C

// Texts of bytes for every test here but the UTF-16 ones.
struct ByteTexts {
    ByteTexts() { SetTextsUtf16(false); }
};
const ByteTexts kByteTexts;

std::u16string Units(const std::string& bytes) { return support::ByteUnits(bytes); }

std::string Bytes(const WCHAR* units) {
    std::string bytes;
    for (; *units != 0; ++units) bytes += static_cast<char>(*units);
    return bytes;
}

std::string Root(const std::string& path) {
    WCHAR out[520];
    VolumeRoot(out, 520, Units(path).c_str());
    return Bytes(out);
}

std::string Fit(const std::string& component, bool longNames) {
    std::u16string buffer = Units(component);
    buffer.resize(600);
    FitComponent(&buffer[0], longNames);
    return Bytes(buffer.c_str());
}

std::string FitAll(const std::string& text, bool longNames) {
    std::u16string buffer = Units(text);
    buffer.resize(600);
    FitPathComponents(&buffer[0], longNames);
    return Bytes(buffer.c_str());
}

bool Confined(const std::string& name) { return IsNameConfined(Units(name).c_str()); }

TEST(VolumeRoot, UncDriveAndRelative) {
    EXPECT_EQ(Root("\\\\server\\share\\dir\\x"), "\\\\server\\share\\");
    EXPECT_EQ(Root("\\\\server\\share"), "\\\\server\\share");  // fewer than two: all of it
    EXPECT_EQ(Root("C:\\TEMP\\EXT"), "C:\\");
    EXPECT_EQ(Root("C:TEMP"), "");
    EXPECT_EQ(Root("\\TEMP"), "");
    EXPECT_EQ(Root("TEMP\\x"), "");
    EXPECT_EQ(Root("\\\\srv" + kTable + "\\share\\x"), "\\\\srv" + kTable + "\\share\\");
}

TEST(VolumeRoot, UncPathIntoARootTooSmallForIt) {
    // Found by fuzzing: a two-byte root was scanned past its end.
    for (uint32_t capacity : {1u, 2u}) {
        std::unique_ptr<WCHAR[]> root(new WCHAR[capacity]);
        VolumeRoot(root.get(), capacity, u"\\\\");
        EXPECT_EQ(Bytes(root.get()), "") << capacity;
    }
    WCHAR three[3];
    VolumeRoot(three, 3, u"\\\\srv\\share\\x");
    EXPECT_EQ(Bytes(three), "\\\\");
}

TEST(JoinPath, OneBackslashBetween) {
    WCHAR out[520];
    ASSERT_TRUE(JoinPath(out, 520, u"C:\\A", u"\\b.txt"));
    EXPECT_EQ(Bytes(out), "C:\\A\\b.txt");
    ASSERT_TRUE(JoinPath(out, 520, u"C:\\A\\", u"b.txt"));
    EXPECT_EQ(Bytes(out), "C:\\A\\b.txt");
    EXPECT_FALSE(JoinPath(out, 8, u"C:\\A", u"b.txt"));
}

TEST(FitComponent, LongNames) {
    EXPECT_EQ(Fit("a?b", true), "a_b");
    EXPECT_EQ(Fit("c:d<e>f|g\"h*i", true), "c_d_e_f_g_h_i");
    EXPECT_EQ(Fit("Program Files+,;=[]", true), "Program Files+,;=[]");
    EXPECT_EQ(Fit(std::string(300, 'x'), true), std::string(255, 'x'));
    // A character straddling the limit is dropped whole: 254 bytes.
    EXPECT_EQ(Fit(std::string(254, 'x') + kTable, true), std::string(254, 'x'));
    EXPECT_EQ(Fit("\xb1\xb2", true), "\xb1\xb2");  // single-byte katakana stay
    EXPECT_EQ(Fit(".", true), ".");
    EXPECT_EQ(Fit("", true), "");
}

TEST(FitComponent, ShortNames) {
    EXPECT_EQ(Fit("Long File Name.html", false), "Long_Fil.htm");
    EXPECT_EQ(Fit("archive.tar.gz", false), "archive_.gz");
    EXPECT_EQ(Fit(".profile", false), ".pro");
    EXPECT_EQ(Fit("Program Files", false), "Program_");
    EXPECT_EQ(Fit("a+b,c;d", false), "a_b_c_d");
    EXPECT_EQ(Fit("[x]=y", false), "_x__y");
    EXPECT_EQ(Fit("lower.txt", false), "lower.txt");
    EXPECT_EQ(Fit(".", false), ".");
    EXPECT_EQ(Fit("..", false), "_.");
    EXPECT_EQ(Fit("tab\there", false), "tab_here");
    EXPECT_EQ(Fit("x\xffy", false), "x_y");
    // Base whose 8th byte is a lead byte: 7 bytes; extension whose 3rd is: 2.
    EXPECT_EQ(Fit("abcdefg" + kTable + ".tx" + kTable, false), "abcdefg.tx");
    EXPECT_EQ(Fit("ab" + kTable + "c.txt", false), "ab" + kTable + "c.txt");
}

TEST(FitPathComponents, EveryComponentAndEmptyOnes) {
    EXPECT_EQ(FitAll("/TEMP/EXT/a?b/c:d.txt", true), "/TEMP/EXT/a_b/c_d.txt");
    EXPECT_EQ(FitAll("TEMP/Program Files//Long File Name.html", false),
              "TEMP/Program_//Long_Fil.htm");
    EXPECT_EQ(FitAll("C:/x", true), "C_/x");
    EXPECT_EQ(FitAll("bin/", false), "bin/");
}

TEST(IsNameConfined, NamesThatClimbOut) {
    EXPECT_TRUE(Confined("doc/readme.txt"));
    EXPECT_TRUE(Confined("./a/.hidden/..x/x../a.b"));
    EXPECT_TRUE(Confined("/abs/path"));
    EXPECT_FALSE(Confined("../evil.txt"));
    EXPECT_FALSE(Confined("a/../../evil.txt"));
    EXPECT_FALSE(Confined("a/.."));
    EXPECT_FALSE(Confined("a/.../b"));
    EXPECT_FALSE(Confined("a/.. /b"));
    EXPECT_FALSE(Confined(". ./x"));
    // Found by fuzzing: components that climb only once fitted, when a lead
    // byte without its trail is dropped or the cut to 255 bytes leaves dots
    // and blanks.
    EXPECT_FALSE(Confined(". .\x89"));
    EXPECT_FALSE(Confined("..\x81/evil.txt"));
    EXPECT_FALSE(Confined("a/.." + std::string(253, ' ') + "x/b"));
    EXPECT_TRUE(Confined(".." + std::string(252, ' ') + "x/b"));
    EXPECT_TRUE(Confined("..\x81\x40/b"));
}

class BuildOutputPathTest : public ::testing::Test {
protected:
    std::string Build(const std::string& folder, const std::string& name, bool longNames) {
        WCHAR out[520];
        std::string root = Root(folder);
        if (!BuildOutputPath(out, 520, Units(folder).c_str(), Units(name).c_str(), Units(root).c_str(), longNames)) {
            return "<refused>";
        }
        return Bytes(out);
    }
    support::ScratchFolder scratch_;
};

TEST_F(BuildOutputPathTest, NamesJoinTheFolderAndTheirParentsAreCreated) {
    std::string base = scratch_.path();
    EXPECT_EQ(Build(base + "/EXT", "doc/readme.txt", true), base + "/EXT/doc/readme.txt");
    EXPECT_TRUE(support::Exists(base + "/EXT/doc"));
    EXPECT_FALSE(support::Exists(base + "/EXT/doc/readme.txt"));
    EXPECT_EQ(Build(base + "/EXT", "bin/", true), base + "/EXT/bin/");
    EXPECT_TRUE(support::Exists(base + "/EXT/bin"));
    EXPECT_EQ(Build(base + "/EXT", "a?b/c:d.txt", true), base + "/EXT/a_b/c_d.txt");
    EXPECT_TRUE(support::Exists(base + "/EXT/a_b"));
}

TEST_F(BuildOutputPathTest, EachParentFolderIsCreatedOnceWhileEntriesFollowIt) {
    host::Reset();
    host::SimulateFolders(true);  // every create is logged and finds the folder there
    ForgetCreatedFolders();
    for (const char* name : {"a/b/1.txt", "a/b/2.txt", "a/b/c/", "a/b/c/3.txt", "a/d/4.txt",
                             "a/b/5.txt", "ab/6.txt", "7.txt"}) {
        Build("E:\\X", name, true);
    }
    EXPECT_EQ(host::FoldersTried(),
              (std::vector<std::string>{"E:\\X", "E:\\X/a", "E:\\X/a/b", "E:\\X/a/b/c",
                                        "E:\\X/a/d", "E:\\X/a/b", "E:\\X/ab"}));
    ForgetCreatedFolders();  // a new pass creates them all again
    Build("E:\\X", "a/b/1.txt", true);
    EXPECT_EQ(host::FoldersTried().size(), 10u);
    host::Reset();
}

TEST_F(BuildOutputPathTest, DriveRootKeepsItsBackslash) {
    // Nothing of this exists: the folders simply fail to be created.
    EXPECT_EQ(Build("C:\\TEMP\\EXT", "doc/readme.txt", true), "C:\\TEMP/EXT/doc/readme.txt");
    EXPECT_EQ(Build("C:\\TEMP\\EXT", "Long File Name.html", false), "C:\\TEMP/EXT/Long_Fil.htm");
    EXPECT_EQ(Build("C:\\Program Files\\X", "archive.tar.gz", false),
              "C:\\Program_/X/archive_.gz");
    EXPECT_EQ(Build("C:\\TEMP\\EXT", ".profile", false), "C:\\TEMP/EXT/.pro");
    EXPECT_EQ(Build("C:\\TEMP\\EXT", "/lead", true), "C:\\TEMP/EXT//lead");
    EXPECT_EQ(Build("C:\\TEMP\\" + kTable, "x", true), "C:\\TEMP/" + kTable + "/x");
}

TEST_F(BuildOutputPathTest, FolderFollowsTheSystemCodePageAndTheNameShiftJis) {
    struct Case {
        UINT codePage;
        std::string folder, name, path;
    };
    // E9 is an accented letter in code page 1252 and a Shift-JIS lead byte.
    const std::string accented = "C:\\Jos\xE9\\EXT";
    const Case cases[] = {
        {1252, accented, kTable + "/x.txt", "C:\\Jos\xE9/EXT/" + kTable + "/x.txt"},
        {932, accented, kTable + "/x.txt", "C:\\Jos\xE9\\EXT/" + kTable + "/x.txt"},
        {1252, "C:\\TEMP", "a" + kTable + "|b?", "C:\\TEMP/a" + kTable + "_b_"},
        {1252, "C:\\", kTable + "/x", "C:\\" + kTable + "/x"},
        {1252, "rel\\x", kTable + "\x83", "rel/x/" + kTable},  // a lone lead byte is dropped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        host::SetCodePage(c.codePage);
        EXPECT_EQ(Build(c.folder, c.name, true), c.path);
    }
    host::SetCodePage(932);
}

TEST_F(BuildOutputPathTest, OverlongPathIsRefused) {
    std::string folder = "C:\\" + std::string(250, 'f');
    EXPECT_EQ(Build(folder, std::string(250, 'n') + "/" + std::string(20, 'm'), true),
              "<refused>");
    EXPECT_NE(Build(folder, std::string(250, 'n'), true), "<refused>");
}

// UTF-16 names meet the same rules; their limits count Shift-JIS bytes, so
// that a Japanese name is fitted as it always was.
TEST(NameRules, Utf16NamesAreFittedAndConfinedAlike) {
    SetTextsUtf16(true);
    auto fit = [](const std::string& utf8, bool longNames) {
        std::u16string buffer = host::WideFromUtf8(utf8);
        buffer.resize(600);
        FitPathComponents(&buffer[0], longNames);
        return host::Utf8FromWide(buffer.c_str());
    };
    const std::string kanji = "\xE8\xA1\xA8";  // 表, two bytes in Shift-JIS
    struct Case {
        std::string name;
        bool longNames;
        std::string fitted;
    } cases[] = {
        {"\xC3\x9C" "ber?.txt", true, "\xC3\x9C" "ber_.txt"},
        {"C:/\xED\x95\x9C.txt", true, "C_/\xED\x95\x9C.txt"},
        {std::string(254, 'x') + kanji, true, std::string(254, 'x')},
        {std::string(253, 'x') + kanji, true, std::string(253, 'x') + kanji},
        {"\xF0\x9F\x98\x80" + std::string(252, 'x'), true, "\xF0\x9F\x98\x80" + std::string(251, 'x')},
        {kanji + kanji + kanji + kanji + kanji + ".txt", false, kanji + kanji + kanji + kanji + ".txt"},
        {"\xEF\xBD\xB1\xEF\xBD\xB2x.tx" + kanji, false, "\xEF\xBD\xB1\xEF\xBD\xB2x.tx"},
        {"a b\xC3\xBF", false, "a_b\xC3\xBF"},
    };
    for (const Case& c : cases) EXPECT_EQ(fit(c.name, c.longNames), c.fitted) << c.name;
    for (const char16_t* climbing : {u"..", u"a/../b", u"\x2E\x2E /x", u".\u3000."}) {
        EXPECT_EQ(IsNameConfined(climbing), std::u16string(climbing) == u".\u3000.") << host::Utf8FromWide(climbing);
    }
    SetTextsUtf16(false);
}

}  // namespace
