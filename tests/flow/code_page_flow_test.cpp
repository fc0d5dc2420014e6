// Whole runs on Windows whose ANSI code page is not 932: Shift-JIS names come
// out as the same files as on Japanese Windows, the installer named in
// Japanese runs, the temporary folder goes, and no Shift-JIS text is shown
// as bytes of the other code page.
#include <filesystem>
#include <map>

#include "common/text.h"
#include "startup/startup.h"
#include "support/expected_texts.h"
#include "support/lzh_builder.h"
#include "support/test_support.h"

using support::EntryPlan;
using support::ReadWholeFile;

namespace {

EntryPlan Entry(const std::string& utf8Name, const std::string& data, char method = '0') {
    EntryPlan spec;
    spec.name = host::ToAnsi(utf8Name);
    spec.data = data;
    spec.method = method;
    if (method == 'd') spec.attributes = 0x10;
    return spec;
}

// Japanese names, trail bytes 0x5C (ソ, 表) and nested folders.
std::vector<EntryPlan> JapaneseTree() {
    return {Entry("フォルダ/", "", 'd'), Entry("ソース表.txt", "source"),
            Entry("フォルダ/下層/深い.txt", "deep"), Entry("plain.txt", "plain")};
}

// Every file and folder below `root`: relative host path (UTF-8, as Wine
// writes names) to its contents, "<folder>" for folders.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string relative = entry.path().string().substr(root.size() + 1);
        tree[relative] = entry.is_directory() ? "<folder>" : ReadWholeFile(entry.path().string());
    }
    return tree;
}

struct Windows {
    const char* what;
    const char* version;
    UINT codePage;
};

class CodePages : public support::ExtractingRunTest {
protected:
    // A fresh run on `windows` with the English UI unless the code page is 932.
    void Prepare(const Windows& windows) {
        support::ResetRunState();
        host::SetModulePath(packedPath());
        host::SetTempPath(temp_ + "/");
        ASSERT_TRUE(host::SetWindows(windows.version));
        host::SetCodePage(windows.codePage);
        host::SetEnglishUi(windows.codePage != 932);
        std::filesystem::remove_all(dest_);
    }
    void Pack(const std::vector<EntryPlan>& entries, uint32_t flags, const std::string& command) {
        InstallConfig config = support::MakeConfig(command, CFG_OS_ALL | flags);
        snprintf(config.title, sizeof config.title, "%s", title_.c_str());
        support::WritePacked(packedPath(), config, support::BuildArchive(entries));
    }

    const std::string title_ = host::ToAnsi("テスト製品");
};

const Windows kWideSystems[] = {
    {"Japanese XP", "winxp", 932},
    {"Western XP", "winxp", 1252},
    {"Western NT 4", "nt40", 1252},
    {"Western Windows 10", "win10", 1252},
};

TEST_F(CodePages, JapaneseNamesComeOutAsOnJapaneseWindows) {
    const std::map<std::string, std::string> expectedTree = {
        {"フォルダ", "<folder>"},
        {"フォルダ/下層", "<folder>"},
        {"フォルダ/下層/深い.txt", "deep"},
        {"ソース表.txt", "source"},
        {"plain.txt", "plain"},
    };
    for (const Windows& windows : kWideSystems) {
        SCOPED_TRACE(windows.what);
        Prepare(windows);
        Pack(JapaneseTree(), CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM, dest_);
        EXPECT_EQ(Run(), 1);
        EXPECT_TRUE(host::Boxes().empty());
        EXPECT_EQ(Tree(dest_), expectedTree);
        // The window shows the title and the names as characters, never as
        // bytes of another code page.
        EXPECT_EQ(host::Progress().caption, title_);
        EXPECT_EQ(host::Progress().names.at(2), host::ToAnsi("フォルダ/下層/深い.txt"));
    }
}

TEST_F(CodePages, JapaneseNamedInstallerRunsAndTheFolderGoes) {
    const std::string ran = folder_ / "ran.txt";
    for (const Windows& windows : kWideSystems) {
        SCOPED_TRACE(windows.what);
        Prepare(windows);
        std::vector<EntryPlan> entries = JapaneseTree();
        entries.push_back(Entry("セットアップ.sh", "pwd > \"$1\"\n"));
        Pack(entries, CFG_NO_CONFIRM, host::ToAnsi("sh %ExtractDir%/セットアップ.sh ") + ran);
        EXPECT_EQ(Run(), 1);
        EXPECT_TRUE(host::Boxes().empty());
        std::string extracted = std::filesystem::canonical(temp_).string() + "/valkrin.000";
        EXPECT_EQ(ReadWholeFile(ran), extracted + "\n");
        ASSERT_EQ(host::Processes().size(), 1u);
        EXPECT_EQ(host::Processes()[0].commandLine, "sh " + temp_ + "/valkrin.000/セットアップ.sh " + ran);
        EXPECT_EQ(host::Progress().utf8Names.back(), host::Processes()[0].commandLine);
        EXPECT_TRUE(std::filesystem::is_empty(temp_)) << "the extraction folder is removed";
    }
}

TEST_F(CodePages, EnglishTextsWithShiftJisPartsConverted) {
    Prepare({"Western XP", "winxp", 1252});
    EntryPlan damaged = Entry("フォルダ/ソース表.txt", "source");
    damaged.overrideCrc = true;
    damaged.dataCrc = 0x1234;
    Pack({damaged}, CFG_EXTRACT_TO_FOLDER, dest_);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(host::Boxes().size(), 2u);
    const host::BoxRecord& question = host::Boxes()[0];
    EXPECT_TRUE(question.wide);
    EXPECT_EQ(question.text, "Install " + title_ + "?\r\n\r\nInstall to: " + dest_);
    EXPECT_EQ(question.caption, title_);
    const host::BoxRecord& error = host::Boxes()[1];
    EXPECT_TRUE(error.wide);
    EXPECT_EQ(error.text, "\"" + dest_ + host::ToAnsi("/フォルダ/ソース表.txt") + "\" " +
                              expected::english::kArchiveBroken);
    EXPECT_EQ(error.caption, title_);
    EXPECT_EQ(host::Progress().labels, (std::vector<std::string>{expected::english::kChecking,
                                                                 expected::english::kExtracting}));
}

// Our own file, %TEMP% and the folder argument in folders no code page
// spells (시험, 田中): the NT family holds them in UTF-16 and runs as in any
// folder; Windows 98 has only the ANSI calls, which cannot name our file.
TEST_F(CodePages, FoldersNoCodePageSpells) {
    const std::string home = folder_ / "\xE7\x94\xB0\xE4\xB8\xAD";     // 田中
    const std::string temp = folder_ / "\xEC\x8B\x9C\xED\x97\x98";     // 시험
    const std::string packed = home + "/setup.exe";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(temp);
    for (const Windows& windows : kWideSystems) {
        SCOPED_TRACE(windows.what);
        Prepare(windows);
        Pack({Entry("run.sh", "pwd > \"$1\"\n")}, CFG_NO_CONFIRM, "sh %ExtractDir%/run.sh " + (folder_ / "ran.txt"));
        std::filesystem::rename(packedPath(), packed);
        host::SetModulePath(packed);
        host::SetTempPath(temp + "/");
        EXPECT_EQ(Run(), 1);
        EXPECT_TRUE(host::Boxes().empty());
        EXPECT_EQ(ReadWholeFile(folder_ / "ran.txt"), std::filesystem::canonical(temp).string() + "/valkrin.000\n");
        EXPECT_TRUE(std::filesystem::is_empty(temp));
        // The folder argument of folder mode, read through GetCommandLineW.
        Pack({Entry("plain.txt", "plain")}, CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM, dest_);
        std::filesystem::rename(packedPath(), packed);
        EXPECT_EQ(Run("\"" + temp + "/out\""), 1);
        EXPECT_EQ(ReadWholeFile(temp + "/out/plain.txt"), "plain");
        std::filesystem::remove_all(temp + "/out");
    }
    Prepare({"Western 98", "win98", 1252});
    Pack({Entry("plain.txt", "plain")}, CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM, dest_);
    std::filesystem::rename(packedPath(), packed);
    host::SetModulePath(packed);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text, expected::english::kReadError);
}

// Windows 95 to Me read the Shift-JIS name of an entry and leave its UTF-16
// name alone, even a malformed one.
TEST_F(CodePages, WindowsNinetyEightTakesTheShiftJisName) {
    Prepare({"Western 98", "win98", 1252});
    EntryPlan umlaut = Entry("_ber.txt", "uber");
    umlaut.unicodeFile = support::Utf16Le(u"\u00DC" "ber.txt");
    EntryPlan malformed = Entry("odd.txt", "odd");
    malformed.unicodeFile = std::string("\x00\xD8", 2);
    Pack({umlaut, malformed}, CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM, dest_);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Tree(dest_), (std::map<std::string, std::string>{{"_ber.txt", "uber"}, {"odd.txt", "odd"}}));
    Prepare({"Western XP", "winxp", 1252});
    Pack({umlaut}, CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM, dest_);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Tree(dest_), (std::map<std::string, std::string>{{"\xC3\x9C" "ber.txt", "uber"}}));
}

TEST_F(CodePages, WindowsNinetyEightKeepsTheAnsiCalls) {
    // Without the wide calls the bytes go to the system as they are: a name
    // whose trail byte is the backslash cannot be created there, and says so.
    Prepare({"Western 98", "win98", 1252});
    Pack({Entry("plain.txt", "plain"), Entry("ソース表.txt", "source")},
         CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM, dest_);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_FALSE(host::Boxes()[0].wide);
    EXPECT_EQ(host::Boxes()[0].text,
              "\"" + dest_ + "/" + host::ToAnsi("ソース表.txt") + "\" " + expected::english::kWriteError);
    EXPECT_EQ(ReadWholeFile(dest_ + "/plain.txt"), "plain");
}

}  // namespace
