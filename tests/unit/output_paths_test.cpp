// Output paths and the name rules of both volume kinds, with the worked
// examples and the double-byte edge cases.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "extract/output_paths.h"
#include "platform/posix/host_controls.h"
#include "support/test_support.h"

namespace {

const std::string kTable = "\x95\x5c";  // a double-byte character ending in 0x5C

std::string Root(const std::string& path) {
    char out[520];
    VolumeRoot(out, sizeof out, path.c_str());
    return out;
}

std::string Fit(const std::string& component, bool longNames) {
    char buffer[600];
    snprintf(buffer, sizeof buffer, "%s", component.c_str());
    FitComponent(buffer, longNames);
    return buffer;
}

std::string FitAll(const std::string& text, bool longNames) {
    char buffer[600];
    snprintf(buffer, sizeof buffer, "%s", text.c_str());
    FitPathComponents(buffer, longNames);
    return buffer;
}

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
        std::unique_ptr<char[]> root(new char[capacity]);
        VolumeRoot(root.get(), capacity, "\\\\");
        EXPECT_STREQ(root.get(), "") << capacity;
    }
    char three[3];
    VolumeRoot(three, sizeof three, "\\\\srv\\share\\x");
    EXPECT_STREQ(three, "\\\\");
}

TEST(JoinPath, OneBackslashBetween) {
    char out[520];
    ASSERT_TRUE(JoinPath(out, sizeof out, "C:\\A", "\\b.txt"));
    EXPECT_STREQ(out, "C:\\A\\b.txt");
    ASSERT_TRUE(JoinPath(out, sizeof out, "C:\\A\\", "b.txt"));
    EXPECT_STREQ(out, "C:\\A\\b.txt");
    EXPECT_FALSE(JoinPath(out, 8, "C:\\A", "b.txt"));
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
    EXPECT_TRUE(IsNameConfined("doc/readme.txt"));
    EXPECT_TRUE(IsNameConfined("./a/.hidden/..x/x../a.b"));
    EXPECT_TRUE(IsNameConfined("/abs/path"));
    EXPECT_FALSE(IsNameConfined("../evil.txt"));
    EXPECT_FALSE(IsNameConfined("a/../../evil.txt"));
    EXPECT_FALSE(IsNameConfined("a/.."));
    EXPECT_FALSE(IsNameConfined("a/.../b"));
    EXPECT_FALSE(IsNameConfined("a/.. /b"));
    EXPECT_FALSE(IsNameConfined(". ./x"));
    // Found by fuzzing: components that climb only once fitted, when a lead
    // byte without its trail is dropped or the cut to 255 bytes leaves dots
    // and blanks.
    EXPECT_FALSE(IsNameConfined(". .\x89"));
    EXPECT_FALSE(IsNameConfined("..\x81/evil.txt"));
    EXPECT_FALSE(IsNameConfined(("a/.." + std::string(253, ' ') + "x/b").c_str()));
    EXPECT_TRUE(IsNameConfined((".." + std::string(252, ' ') + "x/b").c_str()));
    EXPECT_TRUE(IsNameConfined("..\x81\x40/b"));
}

class BuildOutputPathTest : public ::testing::Test {
protected:
    std::string Build(const std::string& folder, const std::string& name, bool longNames) {
        char out[520];
        std::string root = Root(folder);
        if (!BuildOutputPath(out, sizeof out, folder.c_str(), name.c_str(), root.c_str(), longNames)) {
            return "<refused>";
        }
        return out;
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
        uint32_t nameStart;
    };
    // E9 is an accented letter in code page 1252 and a Shift-JIS lead byte.
    const std::string accented = "C:\\Jos\xE9\\EXT";
    const Case cases[] = {
        {1252, accented, kTable + "/x.txt", "C:\\Jos\xE9/EXT/" + kTable + "/x.txt", 12},
        {932, accented, kTable + "/x.txt", "C:\\Jos\xE9\\EXT/" + kTable + "/x.txt", 12},
        {1252, "C:\\TEMP", "a" + kTable + "|b?", "C:\\TEMP/a" + kTable + "_b_", 8},
        {1252, "C:\\", kTable + "/x", "C:\\" + kTable + "/x", 3},
        {1252, "rel\\x", kTable + "\x83", "rel/x/" + kTable, 6},  // a lone lead byte is dropped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        host::SetCodePage(c.codePage);
        char out[520];
        uint32_t nameStart = 0;
        std::string root = Root(c.folder);
        ASSERT_TRUE(BuildOutputPath(out, sizeof out, c.folder.c_str(), c.name.c_str(), root.c_str(),
                                    true, &nameStart));
        EXPECT_EQ(std::string(out), c.path);
        EXPECT_EQ(nameStart, c.nameStart);
    }
    host::SetCodePage(932);
}

TEST_F(BuildOutputPathTest, OverlongPathIsRefused) {
    std::string folder = "C:\\" + std::string(250, 'f');
    EXPECT_EQ(Build(folder, std::string(250, 'n') + "/" + std::string(20, 'm'), true),
              "<refused>");
    EXPECT_NE(Build(folder, std::string(250, 'n'), true), "<refused>");
}

}  // namespace
