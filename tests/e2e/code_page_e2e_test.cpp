// The real executable under Wine with an English locale, whose ANSI code
// page is 1252: a jlha archive with Japanese names extracts as it does under
// code page 932, the installer named in Japanese runs, the English texts
// appear, and hostile archives are refused as on Japanese Windows.
#include <filesystem>
#include <map>

#include "e2e_fixture.h"
#include "support/lzh_builder.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

const char* const kJapanese = "ja_JP.UTF-8";
const char* const kEnglish = "en_US.UTF-8";

class EnglishWine : public WineFolderTest {
protected:
    RunOptions In(const char* locale, std::vector<std::string> answers = {}) {
        RunOptions plan;
        plan.answers = std::move(answers);
        plan.locale = locale;
        return plan;
    }
};

TEST_F(EnglishWine, JapaneseNamesAndTheirInstallerAsUnderCodePage932) {
    // ソース表.txt (two trail bytes 0x5C), フォルダ/下層/深い.txt, セットアップ.exe
    const std::string source = "\xe3\x82\xbd\xe3\x83\xbc\xe3\x82\xb9\xe8\xa1\xa8.txt";
    const std::string deep = "\xe3\x83\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80/\xe4\xb8\x8b\xe5\xb1\xa4/"
                             "\xe6\xb7\xb1\xe3\x81\x84.txt";
    const std::string installer = "\xe3\x82\xbb\xe3\x83\x83\xe3\x83\x88\xe3\x82\xa2\xe3\x83\x83\xe3\x83\x97.exe";
    std::string tree = root_ + "/tree";
    WriteAll(tree + "/" + source, "source\r\n");
    WriteAll(tree + "/" + deep, "deep\r\n");
    WriteAll(tree + "/plain.txt", "plain\r\n");
    fs::copy_file(WindowsBuildDir() + "/sample-installer.exe", tree + "/" + installer);
    std::string archive = root_ + "/tree.lzh";
    std::string command = "cd '" + tree + "' && jlha a2qo5y '" + archive + "' . >/dev/null 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << command;
    const std::map<std::string, std::string> expectedTree = Snapshot(tree);

    for (const char* locale : {kJapanese, kEnglish}) {
        SCOPED_TRACE(locale);
        std::string out = root_ + "/out-" + locale;
        std::string folderMode = Pack(std::string("names-") + locale,
                                      "--title Sample --no-confirm --folder " + Quote(WindowsPath(out)),
                                      ReadAll(archive));
        RunResult extracted = Run(folderMode, In(locale));
        EXPECT_EQ(extracted.exitCode, 1u);
        EXPECT_EQ(Snapshot(out), expectedTree);

        std::string log = root_ + "/log-" + locale + ".txt";
        size_t before = TemporaryFolders().size();
        std::string temporaryMode =
            Pack(std::string("install-") + locale,
                 "--title Sample --no-confirm --run " + Quote("%ExtractDir%\\" + installer + " --log " + WindowsPath(log)),
                 ReadAll(archive));
        RunResult installed = Run(temporaryMode, In(locale));
        EXPECT_EQ(installed.exitCode, 1u);
        EXPECT_NE(ReadAll(log).find("working folder: "), std::string::npos) << "the installer ran";
        EXPECT_EQ(TemporaryFolders().size(), before) << "the extraction folder is removed";
    }
}

TEST_F(EnglishWine, EnglishQuestionAndErrorBox) {
    std::string asking = Pack("english-question", "--title Sample --run setup.exe");
    RunResult asked = Run(asking, In(kEnglish, {"no"}));
    ASSERT_EQ(asked.boxes.size(), 1u);
    EXPECT_EQ(asked.boxes[0].text, "Install Sample?");
    EXPECT_EQ(asked.boxes[0].caption, "Sample");
    EXPECT_EQ(asked.boxes[0].icon, "question");
    EXPECT_EQ(asked.exitCode, 0u);

    std::string damaged = Pack("english-damaged", "--title Sample --no-confirm --folder " + Quote(WindowsPath(root_)),
                               "not an archive at all");
    RunResult run = Run(damaged, In(kEnglish));
    ASSERT_GE(run.boxes.size(), 1u);
    const Box& box = run.boxes.back();
    EXPECT_EQ(box.text, "\"" + WindowsPath(damaged) + "\" The archive is damaged");
    EXPECT_EQ(box.caption, "Sample");
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(run.exitCode, 0u);
}

TEST_F(EnglishWine, ClimbingNamesAreRefused) {
    const char* const names[] = {"../evil.txt", "a/../../evil.txt", "\x95\x5c/../../evil.txt"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        std::string out = root_ + "/out";
        std::string exe = Pack("english-climbing", "--title Sample --no-confirm --folder " + Quote(WindowsPath(out)),
                               support::BuildArchive({{"ok.txt", '0', "ok"}, {name, '0', "evil"}}));
        RunResult run = Run(exe, In(kEnglish));
        ASSERT_GE(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes.back().text, "\"" + WindowsPath(exe) + "\" The archive is damaged");
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_FALSE(fs::exists(out)) << "nothing is written before the whole archive is tested";
        EXPECT_FALSE(fs::exists(root_ + "/evil.txt"));
    }
}

}  // namespace
}  // namespace e2e
