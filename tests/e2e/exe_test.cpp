// The built valkrin.exe as a file: what it imports, its header layout, its
// resources, and what valkrin-pack makes of it. No Wine needed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "files/pe_image.h"
#include "layout/layout.h"
#include "pack/manifest_level.h"
#include "pack/packer.h"
#include "pe_reader.h"
#include "startup/install_config.h"

namespace {

constexpr uint32_t RT_ICON_ = 3, RT_DIALOG_ = 5, RT_STRING_ = 6, RT_GROUP_ICON_ = 14, RT_VERSION_ = 16,
                   RT_MANIFEST_ = 24;
constexpr uint32_t JAPANESE = 0x411;
constexpr uint32_t ENGLISH = 0x409;

class BuiltStub : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = std::string(E2E_WINDOWS_BUILD_DIR) + "/valkrin.exe";
        std::string error;
        ASSERT_TRUE(pe::ReadFile(path, &file_, &error)) << error << " (build the windows preset first)";
        ASSERT_TRUE(pe::Parse(file_, &image_, &error)) << error;
    }
    pe::Bytes file_;
    pe::Image image_;
};

// The platform functions that the system calls, plus what the entry point
// needs, by the DLL that exports them on every target Windows. Also allowed:
// LoadLibraryA and GetProcAddress, with which system DLLs are loaded by full
// path (comctl32 among them) and the wide calls are found where they exist,
// SetLastError, and the code page calls, which every target has.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"kernel32.dll",
     {"CreateFileA", "ReadFile", "WriteFile", "SetFilePointer", "GetLastError", "CloseHandle", "SetFileTime",
      "SetFileAttributesA", "GetFileAttributesA", "CreateDirectoryA", "RemoveDirectoryA", "DeleteFileA",
      "FindFirstFileA", "FindNextFileA", "FindClose", "GetVolumeInformationA", "GetCurrentDirectoryA",
      "SetCurrentDirectoryA", "GetModuleFileNameA", "GetTempPathA", "GetShortPathNameA", "GetSystemDirectoryA",
      "GetWindowsDirectoryA", "ExpandEnvironmentStringsA", "GetVersion", "GetVersionExA", "SystemTimeToFileTime",
      "GetSystemTime", "CreateProcessA", "WaitForSingleObject", "Sleep", "lstrcmpA", "LocalAlloc", "LocalFree",
      "IsDBCSLeadByte", "GetCommandLineA", "GetModuleHandleA", "ExitProcess", "LoadLibraryA", "GetProcAddress",
      "SetLastError", "GetACP", "IsValidCodePage", "MultiByteToWideChar"}},
    {"user32.dll",
     {"WaitForInputIdle", "EnumWindows", "GetClassNameA", "MessageBoxA", "LoadStringA", "wsprintfA",
      "CreateDialogParamA", "DestroyWindow", "PeekMessageA", "IsDialogMessageA", "TranslateMessage",
      "DispatchMessageA", "CloseWindow", "OpenIcon", "SetWindowLongA", "GetWindowLongA", "LoadIconA",
      "SendMessageA", "SetWindowTextA", "GetSystemMetrics", "GetWindowRect", "MoveWindow", "IsIconic",
      "BeginPaint", "DrawIcon", "EndPaint", "DestroyIcon", "SetDlgItemTextA", "SendDlgItemMessageA", "CharNextA",
      "CharPrevA"}},
    {"gdi32.dll", {"GetMapMode", "SetMapMode"}},
    {"advapi32.dll", {"RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"}},
    {"comctl32.dll", {"InitCommonControls"}},
};

TEST_F(BuiltStub, ImportsOnlyAllowedFunctions) {
    auto imports = e2e::ReadImports(file_, image_);
    ASSERT_FALSE(imports.empty());
    for (const auto& [dll, functions] : imports) {
        auto allowed = kAllowed.find(dll);
        ASSERT_NE(allowed, kAllowed.end()) << "imports from " << dll;
        for (const std::string& f : functions) EXPECT_EQ(allowed->second.count(f), 1u) << dll << "!" << f;
    }
    EXPECT_EQ(imports.count("kernel32.dll"), 1u);
    // Only DLLs that every target Windows loads from the system folder:
    // comctl32 and shell32 are loaded at run time.
    std::set<std::string> dlls;
    for (const auto& entry : imports) dlls.insert(entry.first);
    EXPECT_EQ(dlls, (std::set<std::string>{"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"}));
}

// The manifest Windows reads at start-up (id 1, language neutral), with the
// fixed-width level field that valkrin-pack rewrites: every level fits, and
// nothing but the field changes.
TEST_F(BuiltStub, CarriesTheManifestWithARewritableLevel) {
    pe::Bytes manifest = e2e::FindResource(file_, image_, RT_MANIFEST_, 1, 0);
    ASSERT_FALSE(manifest.empty());
    std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    std::string level;
    ASSERT_TRUE(ReadManifestLevel(file_, &level));
    EXPECT_EQ(level, "requireAdministrator");
    size_t field;
    ASSERT_TRUE(FindManifestLevel(file_, &field));
    for (ExecutionLevel chosen : {ExecutionLevel::AsInvoker, ExecutionLevel::HighestAvailable,
                                  ExecutionLevel::RequireAdministrator}) {
        pe::Bytes copy = file_;
        std::string error;
        ASSERT_TRUE(SetManifestLevel(&copy, chosen, &error)) << error;
        ASSERT_TRUE(ReadManifestLevel(copy, &level));
        EXPECT_EQ(level, ExecutionLevelName(chosen));
        for (size_t i = 0; i < copy.size(); ++i) {
            if (i < field || i >= field + 21) {
                ASSERT_EQ(copy[i], file_[i]) << "offset " << i;
            }
        }
        std::string written(copy.begin() + field, copy.begin() + field + 22);
        EXPECT_EQ(written.substr(written.find('"')), std::string("\"") + std::string(21 - level.size(), ' '));
    }
}

TEST_F(BuiltStub, HasTheHeaderLayout) {
    EXPECT_EQ(std::string(file_.begin(), file_.begin() + 2), "MZ");
    EXPECT_EQ(pe::Get16(file_, 0x08), 32);
    EXPECT_EQ(pe::Get16(file_, 0x16), 0x0017);
    EXPECT_EQ(pe::Get16(file_, 0x14), 0x0000);
    EXPECT_EQ(std::string(file_.begin() + 0x24, file_.begin() + 0x2E), "LHA's SFX ");
    EXPECT_EQ(pe::Get32(file_, 0x3C), 0x408u);
    for (size_t i = 0x40; i < 0x370; ++i) ASSERT_EQ(file_[i], 0) << "offset " << i;
    EXPECT_EQ(memcmp(&file_[0x370], layout::DOS_CODE, sizeof layout::DOS_CODE), 0);
    EXPECT_EQ(std::string(file_.begin() + 0x370 + 0x0E, file_.begin() + 0x370 + 0x0E + 43),
              "This program cannot be run in DOS mode.\r\r\n$");
    EXPECT_EQ(std::string(file_.begin() + 0x408, file_.begin() + 0x40C), std::string("PE\0\0", 4));
    EXPECT_EQ(image_.sizeOfHeaders, 0x600u);
    EXPECT_EQ(image_.firstSectionData(), 0x600u);
    EXPECT_EQ(image_.endOfSectionData(), file_.size()) << "nothing behind the last section";
    uint32_t checksum = pe::Get32(file_, image_.checksumOffset());
    EXPECT_TRUE(checksum == 0 || checksum == pe::Checksum(file_, image_.checksumOffset()));
    EXPECT_LT(file_.size(), 43520u);
}

TEST_F(BuiltStub, HasTheProgressDialog) {
    pe::Bytes t = e2e::FindResource(file_, image_, RT_DIALOG_, 102, JAPANESE);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(pe::Get32(t, 0), 0x90CA00C0u);  // style
    EXPECT_EQ(pe::Get32(t, 4), 0u);           // extended style
    ASSERT_EQ(pe::Get16(t, 8), 4);            // controls
    EXPECT_EQ(pe::Get16(t, 10), 0);
    EXPECT_EQ(pe::Get16(t, 12), 0);
    EXPECT_EQ(pe::Get16(t, 14), 187);
    EXPECT_EQ(pe::Get16(t, 16), 71);
    size_t at = 18;
    auto word = [&] { uint16_t w = pe::Get16(t, at); at += 2; return w; };
    auto text = [&] {  // UTF-16 up to the terminator
        std::u16string s;
        for (uint16_t c; (c = word()) != 0;) s += static_cast<char16_t>(c);
        return s;
    };
    EXPECT_EQ(word(), 0);  // no menu
    EXPECT_EQ(word(), 0);  // standard class
    EXPECT_EQ(text(), u"");  // caption set at run time
    EXPECT_EQ(word(), 9);
    EXPECT_EQ(text(), u"ＭＳ Ｐゴシック");

    struct Control {
        uint32_t style;
        uint16_t x, y, cx, cy, id;
        uint16_t atom;  // predefined class, or 0 for a named class
        std::u16string className, title;
    };
    const Control expectedControls[] = {
        {0x50020000, 10, 12, 40, 8, 1001, 0x0082, u"", u""},
        {0x5002008C, 52, 12, 128, 8, 1002, 0x0082, u"", u""},
        {0x50800000, 10, 28, 166, 11, 1000, 0, u"msctls_progress32", u"Progress1"},
        {0x50010001, 68, 47, 50, 14, 2, 0x0080, u"", u"ｷｬﾝｾﾙ"},
    };
    for (const Control& c : expectedControls) {
        at = (at + 3) & ~size_t(3);
        SCOPED_TRACE("control " + std::to_string(c.id));
        EXPECT_EQ(pe::Get32(t, at), c.style);
        EXPECT_EQ(pe::Get32(t, at + 4), 0u);
        at += 8;
        EXPECT_EQ(word(), c.x);
        EXPECT_EQ(word(), c.y);
        EXPECT_EQ(word(), c.cx);
        EXPECT_EQ(word(), c.cy);
        EXPECT_EQ(word(), c.id);
        if (c.atom != 0) {
            EXPECT_EQ(word(), 0xFFFF);
            EXPECT_EQ(word(), c.atom);
        } else {
            // The resource compiler writes class names in capitals; the
            // system looks classes up regardless of case.
            std::u16string name = text();
            for (char16_t& ch : name) ch = static_cast<char16_t>(ch >= u'A' && ch <= u'Z' ? ch + 32 : ch);
            EXPECT_EQ(name, c.className);
        }
        EXPECT_EQ(text(), c.title);
        EXPECT_EQ(word(), 0);  // no creation data
    }
}

TEST_F(BuiltStub, HasTheIconTextsAndVersion) {
    pe::Bytes group = e2e::FindResource(file_, image_, RT_GROUP_ICON_, 101, JAPANESE);
    ASSERT_GE(group.size(), 6u + 2 * 14);
    ASSERT_EQ(pe::Get16(group, 4), 2);
    std::set<int> sizes;
    for (int i = 0; i < 2; ++i) {
        size_t e = 6 + i * 14;
        sizes.insert(group[e]);
        EXPECT_EQ(group[e], group[e + 1]);
        EXPECT_EQ(group[e + 2], 16) << "16 colours";
        EXPECT_EQ(pe::Get16(group, e + 6), 4) << "4 bits a pixel";
        pe::Bytes image = e2e::FindResource(file_, image_, RT_ICON_, pe::Get16(group, e + 12), JAPANESE);
        EXPECT_EQ(image.size(), pe::Get32(group, e + 8));
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
    // The only icon group, so it is the file's icon too.
    EXPECT_EQ(e2e::ResourceLanguages(file_, image_, RT_GROUP_ICON_, 101), std::vector<uint32_t>{JAPANESE});

    // Strings 0 to 15 live in block 1, 16 and 17 in block 2; Japanese and
    // English, each with its dialog.
    for (uint32_t language : {JAPANESE, ENGLISH}) {
        SCOPED_TRACE(language);
        EXPECT_FALSE(e2e::FindResource(file_, image_, RT_STRING_, 1, language).empty());
        EXPECT_FALSE(e2e::FindResource(file_, image_, RT_STRING_, 2, language).empty());
    }
    EXPECT_EQ(e2e::ResourceLanguages(file_, image_, RT_DIALOG_, 102),
              (std::vector<uint32_t>{ENGLISH, JAPANESE}));

    pe::Bytes version = e2e::FindResource(file_, image_, RT_VERSION_, 1, JAPANESE);
    ASSERT_GE(version.size(), 40u + 52u);
    const uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    auto fixed = std::search(version.begin(), version.end(), signature, signature + 4);
    ASSERT_NE(fixed, version.end());
    size_t f = fixed - version.begin();
    EXPECT_EQ(pe::Get32(version, f + 8), 0x00020001u);   // file version 2.1
    EXPECT_EQ(pe::Get32(version, f + 12), 0x00000000u);  // .0.0
    EXPECT_EQ(pe::Get32(version, f + 16), 0x00020001u);  // product version 2.1
    EXPECT_EQ(pe::Get32(version, f + 20), 0x00000000u);
}

TEST_F(BuiltStub, PackedCopyKeepsEverythingButBlockAndChecksum) {
    pe::Bytes archive = {'a', 'r', 'c', 0};
    InstallConfig block;
    memset(&block, 0, sizeof block);
    block.flags = CFG_OS_ALL;
    pe::Bytes packed;
    std::string error;
    ASSERT_TRUE(PackExecutable(file_, block, archive, &packed, &error)) << error;
    InstallConfig back;
    ASSERT_TRUE(ReadPackedBlock(packed, &back, &error)) << error;
    EXPECT_EQ(back.archiveOffset, file_.size());
    EXPECT_EQ(back.archiveOffset % image_.fileAlignment, 0u);
    EXPECT_EQ(pe::Bytes(packed.begin() + back.archiveOffset, packed.end()), archive);
    EXPECT_EQ(pe::Get32(packed, image_.checksumOffset()), pe::Checksum(packed, image_.checksumOffset()));
}

}  // namespace
