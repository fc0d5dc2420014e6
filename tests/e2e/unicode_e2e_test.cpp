// The real executable under Wine with folders and names that the ANSI code
// page cannot spell, under code page 932 and under 1252: a package started
// from such a folder, %TEMP% in one, archives whose names Shift-JIS lacks,
// and hostile UTF-16 names.
#include <filesystem>
#include <map>

#include "e2e_fixture.h"
#include "support/lzh_builder.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

struct Locale {
    const char* name;
    const char* outside;  // a folder name this code page cannot spell
    const char* brokenText;  // the damaged-archive message of its texts
};
const Locale kLocales[] = {
    {"ja_JP.UTF-8", "Zo\xC3\xAB", "\xe6\x9b\xb8\xe5\xba\xab\xe3\x81\x8c\xe5\xa3\x8a\xe3\x82\x8c\xe3\x81\xa6\xe3\x81\x84\xe3\x81\xbe\xe3\x81\x99"},
    {"en_US.UTF-8", "\xE7\x94\xB0\xE4\xB8\xAD", "The archive is damaged"},  // 田中
};
const std::string kKorean = "\xEC\x8B\x9C\xED\x97\x98";  // 시험: in neither code page

// The message boxes of a run; the driver may also have seen the progress
// window, which is a dialog too.
std::vector<Box> MessageBoxes(const RunResult& run) {
    std::vector<Box> boxes;
    for (const Box& box : run.boxes) {
        if (!box.text.empty()) boxes.push_back(box);
    }
    return boxes;
}

// The message boxes of a run, for a failure message.
std::string Shown(const RunResult& run) {
    std::string text;
    for (const Box& box : MessageBoxes(run)) text += "[" + box.utf8Caption + "] " + box.utf8Text + "\n";
    return text;
}

// The value of "KEY: " in the installer's log.
std::string LogValue(const std::string& log, const std::string& key) {
    size_t at = log.find(key + ": ");
    if (at == std::string::npos) return "";
    at += key.size() + 2;
    return log.substr(at, log.find("\r\n", at) - at);
}

class UnicodeWine : public WineFolderTest {
protected:
    // A package packed by valkrin-pack from `tree` with `options`, moved to `path`.
    std::string PackSnapshot(const std::string& tree, const std::string& options, const std::string& path) {
        std::string made = WorkDir() + "/unicode-package.exe", output;
        int status = RunPackTool("-o " + Quote(made) + " --title Sample --no-confirm " + options + " --stub " +
                                     Quote(WindowsBuildDir() + "/valkrin.exe") + " " + Quote(tree),
                                 &output);
        EXPECT_EQ(status, 0) << output;
        fs::create_directories(fs::path(path).parent_path());
        fs::rename(made, path);
        return path;
    }
    RunOptions In(const Locale& locale) {
        RunOptions plan;
        plan.locale = locale.name;
        return plan;
    }
    // A folder-mode package from `tree` into `out`, run under `locale`:
    // exit 1, no message box, `out` holding what `source` holds.
    void ExpectFolderModeCopies(const std::string& tree, const std::string& out, const std::string& path,
                                const Locale& locale, const std::string& source) {
        RunResult run = Run(PackSnapshot(tree, "--folder " + Quote(WindowsPath(out)), path), In(locale));
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(MessageBoxes(run).empty()) << Shown(run);
        EXPECT_EQ(Snapshot(out), Snapshot(source));
    }
};

TEST_F(UnicodeWine, PackagesRunFromFoldersTheirCodePageCannotSpell) {
    std::string tree = root_ + "/source/payload";
    WriteAll(tree + "/readme.txt", "read me\r\n");
    fs::copy_file(WindowsBuildDir() + "/sample-installer.exe", tree + "/sample-installer.exe");
    for (const Locale& locale : kLocales) {
        SCOPED_TRACE(locale.name);
        std::string home = root_ + "/" + locale.outside + "-" + locale.name;
        ExpectFolderModeCopies(tree, root_ + "/out-" + locale.name, home + "/unpack.exe", locale, root_ + "/source");

        // %TEMP% in a folder of neither code page; the installer reads its
        // working folder through the wide calls.
        std::string temp = root_ + "/" + kKorean + "-" + locale.name;
        fs::create_directories(temp);
        // Short: the expanded command must fit its 259 bytes.
        std::string log = "/tmp/valkrin-unicode-" + std::string(locale.name) + ".log";
        fs::remove(log);
        std::string temporaryMode = PackSnapshot(
            tree, "--run " + Quote("%ExtractDir%\\payload\\sample-installer.exe --log " + WindowsPath(log)),
            home + "/setup.exe");
        RunOptions plan = In(locale);
        plan.environment = {"TEMP=" + WindowsPath(temp), "TMP=" + WindowsPath(temp)};
        RunResult installed = Run(temporaryMode, plan);
        EXPECT_EQ(installed.exitCode, 1u);
        EXPECT_TRUE(MessageBoxes(installed).empty()) << Shown(installed);
        std::string record = ReadAll(log);
        EXPECT_EQ(LogValue(record, "wide working folder"), WindowsPath(temp) + "\\valkrin.000") << record;
        EXPECT_EQ(LogValue(record, "wide program"), WindowsPath(temp) + "\\valkrin.000\\payload\\sample-installer.exe");
        EXPECT_TRUE(fs::is_empty(temp)) << "the extraction folder is removed";
    }
}

TEST_F(UnicodeWine, NamesShiftJisCannotSpellExtractAsTheyAre) {
    std::string tree = root_ + "/payload/names";
    for (const char* name : {"\xC3\x9C" "ber.txt", "r\xC3\xA9sum\xC3\xA9.pdf",
                             "\xE4\xB8\xAD\xE6\x96\x87\xE7\xAE\x80\xE4\xBD\x93/\xE8\xAF\xB4\xE6\x98\x8E.txt",
                             "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4.txt",
                             "\xC3\x9C" "ber_\xE4\xB8\xAD\xE6\x96\x87_\xED\x95\x9C_\xE6\x97\xA5\xE6\x9C\xAC.txt"}) {
        WriteAll(tree + "/" + name, std::string(name) + "\r\n");
    }
    for (const Locale& locale : kLocales) {
        SCOPED_TRACE(locale.name);
        ExpectFolderModeCopies(tree, root_ + "/out-" + locale.name, root_ + "/names.exe", locale, root_ + "/payload");
    }
}

TEST_F(UnicodeWine, HostileUtf16NamesAreRefusedOrFitted) {
    auto entry = [](const std::u16string& unicode, const std::string& raw = "") {
        support::EntryPlan plan{"ok.txt", '0', "x"};
        plan.unicodeFile = raw.empty() ? support::Utf16Le(unicode) : raw;
        return plan;
    };
    struct Case {
        const char* what;
        support::EntryPlan plan;
        const char* extracted;  // the file that comes out; null: the archive is damaged
    } cases[] = {
        {"a parent step", entry(u"../evil.txt"), nullptr},
        {"a parent step behind backslashes", entry(u"a\\..\\..\\evil.txt"), nullptr},
        {"an unpaired surrogate", entry(u"a\xD800" u"b.txt"), nullptr},
        {"a unit 0", entry(std::u16string(u"a\0b.txt", 7)), nullptr},
        {"odd length", entry(u"", std::string("a\0b", 3)), nullptr},
        {"a drive and a colon", entry(u"C:evil\u00FC.txt"), "C_evil\xC3\xBC.txt"},
        {"characters the volume refuses", entry(u"a?b*\u00DC.txt"), "a_b_\xC3\x9C.txt"},
    };
    for (const Locale& locale : kLocales) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " under " + locale.name);
            std::string out = root_ + "/out";
            fs::remove_all(out);
            std::string exe = Pack("unicode-hostile", "--title Sample --no-confirm --folder " + Quote(WindowsPath(out)),
                                   support::BuildArchive({{"first.txt", '0', "first"}, c.plan}));
            RunResult run = Run(exe, In(locale));
            if (c.extracted == nullptr) {
                std::vector<Box> boxes = MessageBoxes(run);
                ASSERT_EQ(boxes.size(), 1u) << Shown(run);
                EXPECT_EQ(boxes[0].utf8Text, "\"" + WindowsPath(exe) + "\" " + locale.brokenText);
                EXPECT_EQ(run.exitCode, 0u);
                EXPECT_FALSE(fs::exists(out)) << "nothing is written before the whole archive is tested";
            } else {
                EXPECT_EQ(run.exitCode, 1u);
                EXPECT_EQ(Snapshot(out), (std::map<std::string, std::string>{{"first.txt", "first"}, {c.extracted, "x"}}));
            }
            EXPECT_FALSE(fs::exists(root_ + "/evil.txt"));
            EXPECT_FALSE(fs::exists(WorkDir() + "/evil.txt"));
        }
    }
}

}  // namespace
}  // namespace e2e
