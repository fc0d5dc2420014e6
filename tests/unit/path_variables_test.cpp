// Expansion of the folder variables: exact matching, the extraction-folder
// variables without a folder, registry folders and their defaults, bounds.
// On texts of bytes (Windows 98, code page 932) with their double-byte
// characters, and once on UTF-16 with folders no code page spells.
#include <gtest/gtest.h>

#include <string>

#include "common/system_calls.h"
#include "install/path_variables.h"
#include "support/test_support.h"

namespace {

class PathVariables : public ::testing::Test {
protected:
    void SetUp() override {
        support::ResetRunState();
        host::SetWindows("win98");
        ChooseSystemCalls();
        host::SetTempPath("C:\\TEMP\\");
        host::SetSystemFolders("C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS");
    }
    // Bytes in, bytes out.
    std::string Expand(const std::string& text, const char* folder = nullptr,
                       uint32_t capacity = 1024) {
        std::u16string out(1100, u'#');
        std::u16string units = support::ByteUnits(text), folderUnits = support::ByteUnits(folder ? folder : "");
        ExpandPathVariables(units.c_str(), &out[0], capacity, folder ? folderUnits.c_str() : nullptr);
        return support::Utf8Of(out.c_str());
    }
};

TEST_F(PathVariables, KnownVariablesAreReplaced) {
    EXPECT_EQ(Expand("%ExtractDir%\\setup.exe", "C:\\TEMP\\valkrin.000"),
              "C:\\TEMP\\valkrin.000\\setup.exe");
    EXPECT_EQ(Expand("%SystemDir%|%windir%|%TEMP%x"),
              "C:\\WINDOWS\\SYSTEM32|C:\\WINDOWS|C:\\TEMP\\x");
    EXPECT_EQ(Expand("%TEMP%\\x"), "C:\\TEMP\\\\x");  // the trailing backslash stays
    EXPECT_EQ(Expand(""), "");
}

TEST_F(PathVariables, MatchingIsExactAndPercentSignsPassThrough) {
    EXPECT_EQ(Expand("%extractdir%", "C:\\X"), "%extractdir%");
    EXPECT_EQ(Expand("%WINDIR%"), "%WINDIR%");
    EXPECT_EQ(Expand("100%"), "100%");
    EXPECT_EQ(Expand("a%b"), "a%b");
    // The percent that closes an unknown reference opens a known one.
    EXPECT_EQ(Expand("%FOO%TEMP%"), "%FOOC:\\TEMP\\");
    // A lone lead byte takes the percent after it as its trail byte, so no
    // reference starts there; the next percent can still open one.
    EXPECT_EQ(Expand("\x95%TEMP%"), "\x95%TEMP%");
    EXPECT_EQ(Expand("\x95%TEMP%%TEMP%"), "\x95%TEMP%C:\\TEMP\\");
}

TEST_F(PathVariables, ExtractionFolderVariablesNeedAFolder) {
    EXPECT_EQ(Expand("%ExtractDirX%\\a"), "%ExtractDirX%\\a");
    EXPECT_EQ(Expand("%ExtractDir%%TEMP%"), "%ExtractDir%C:\\TEMP\\");
    support::ScratchFolder folder;
    // The host has no short names: an existing folder is its own short form,
    // and a missing one keeps the long form.
    EXPECT_EQ(Expand("%ExtractDirX%", folder.path().c_str()), folder.path());
    EXPECT_EQ(Expand("%ExtractDirX%", "C:\\NO\\SUCH"), "C:\\NO\\SUCH");
}

TEST_F(PathVariables, RegistryFoldersAndDefaults) {
    EXPECT_EQ(Expand("%ProgramFilesDir%;%CommonFilesDir%;%MyDocuments%"),
              "C:\\Program Files;C:\\Program Files\\Common Files;C:\\My Documents");
    host::SetRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                           "ProgramFilesDir", "D:\\Apps");
    host::SetRegistryValue(HKEY_CURRENT_USER,
                           "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           "Personal", "E:\\Docs");
    EXPECT_EQ(Expand("%ProgramFilesDir%;%CommonFilesDir%;%MyDocuments%"),
              "D:\\Apps;C:\\Program Files\\Common Files;E:\\Docs");
    // A value too long for the 260-byte buffer keeps the default.
    host::SetRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                           "CommonFilesDir", std::string(300, 'c'));
    EXPECT_EQ(Expand("%CommonFilesDir%"), "C:\\Program Files\\Common Files");
}

TEST_F(PathVariables, ResultIsCutToTheOutputNeverPastIt) {
    std::string folder(259, 'f');
    std::string text;
    for (int i = 0; i < 8; ++i) text += "%ExtractDir%";
    std::string out = Expand(text, folder.c_str(), 1024);
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_EQ(Expand("%TEMP%abc", nullptr, 6), "C:\\TE");
    // A double-byte character is never split by the cut.
    EXPECT_EQ(Expand("ab\x95\x5c", nullptr, 4), "ab");
    // Found by fuzzing: a value cut before a double-byte character left one
    // byte free, and the text behind the variable went on into it.
    host::SetSystemFolders("C:\\WINDOWS\\SYSTEM32", "C:\\W\xE8\xA1\xA8\xE7\xA4\xBA");  // 表示
    EXPECT_EQ(Expand("w%windir%ir", nullptr, 9), "wC:\\W\x95\x5c");
}

TEST_F(PathVariables, Utf16ValuesComeAsTheSystemHasThem) {
    host::SetWindows("winxp");
    host::SetCodePage(1252);
    ChooseSystemCalls();
    host::SetSystemFolders("C:\\\xEC\x8B\x9C\xED\x97\x98", "C:\\Zo\xC3\xAB");  // 시험, Zoë
    host::SetRegistryValue(HKEY_CURRENT_USER,
                           "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           "Personal", "E:\\\xE7\x94\xB0\xE4\xB8\xAD");  // 田中
    std::u16string out(300, u'#');
    ExpandPathVariables(u"%SystemDir%|%windir%|%MyDocuments%|%ExtractDir%\\\u00DCber", &out[0], 300, u"D:\\\uD55C");
    EXPECT_EQ(support::Utf8Of(out.c_str()),
              "C:\\\xEC\x8B\x9C\xED\x97\x98|C:\\Zo\xC3\xAB|E:\\\xE7\x94\xB0\xE4\xB8\xAD|D:\\\xED\x95\x9C\\\xC3\x9C" "ber");
}

}  // namespace
