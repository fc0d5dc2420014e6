// Whole start-up runs on the host layer: each way out of start-up, with the
// exact box (bytes, caption, flags, owner) and the result.
#include <stdlib.h>

#include "common/run_state.h"
#include "startup/startup.h"
#include "support/expected_texts.h"
#include "support/test_support.h"

using support::MakeConfig;
using support::WritePacked;

namespace {

int g_extractionCalls = 0;
int CountingExtraction() {
    ++g_extractionCalls;
    return 1;
}

const std::string kDefaultTitle = "Valkrin  Ver 2.1.0.0";
constexpr UINT kErrorFlags = MB_OK | MB_ICONERROR;

class StartupFlow : public support::RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        g_extractionCalls = 0;
        g_extractionRun = CountingExtraction;
    }
    void Pack(const InstallConfig& config) { WritePacked(packedPath(), config, std::string(1, '\0')); }
    // The one box of a refused start: text alone, no owner, error icon, OK.
    void ExpectOnlyBox(const std::string& text, const std::string& caption) {
        ASSERT_EQ(host::Boxes().size(), 1u);
        const host::BoxRecord& box = host::Boxes()[0];
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.flags, kErrorFlags);
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(g_extractionCalls, 0);
    }
    std::string Question(const std::string& title) {
        std::string q = expected::kConfirm;
        return q.replace(q.find("%s"), 2, title);
    }
};

TEST_F(StartupFlow, RefusalsShowTheirBoxAndReturnZero) {
    // Too old for the minimum-version gate: the default title is the caption.
    Pack(MakeConfig("setup.exe"));
    host::SetWindows("nt350");
    EXPECT_EQ(Run(), 0);
    ExpectOnlyBox(expected::kWrongWindows, kDefaultTitle);
}

TEST_F(StartupFlow, MissingOrShortFileGivesReadError) {
    EXPECT_EQ(Run(), 0);  // nothing written at our own path
    ExpectOnlyBox(expected::kReadError, kDefaultTitle);

    support::ResetRunState();
    host::SetModulePath(packedPath());
    support::WriteWholeFile(packedPath(), std::string(875, '\0'));  // one byte short of the block
    EXPECT_EQ(Run(), 0);
    ExpectOnlyBox(expected::kReadError, kDefaultTitle);
}

TEST_F(StartupFlow, ExactlyTheBlockIsEnough) {
    InstallConfig config = MakeConfig("setup.exe");
    std::string bytes(876, '\0');
    memcpy(&bytes[512], &config, sizeof config);
    support::WriteWholeFile(packedPath(), bytes);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(g_extractionCalls, 1);
}

TEST_F(StartupFlow, AllZeroBlockRunsNowhere) {
    support::WriteWholeFile(packedPath(), std::string(2048, '\0'));
    EXPECT_EQ(Run(), 0);
    ExpectOnlyBox(expected::kWrongWindows, kDefaultTitle);  // the empty title became the default
}

TEST_F(StartupFlow, PermissionRefusalUsesTheConfiguredTitle) {
    Pack(MakeConfig("setup.exe", CFG_OS_ALL & ~CFG_OS_WINXP));
    EXPECT_EQ(Run(), 0);
    ExpectOnlyBox(expected::kWrongWindows, "Sample");
}

TEST_F(StartupFlow, EmptyCommandInTemporaryModeIsRefused) {
    Pack(MakeConfig(""));
    EXPECT_EQ(Run(), 0);
    ExpectOnlyBox(expected::kNoCommand, "Sample");
}

TEST_F(StartupFlow, QuestionTextCaptionAndButtons) {
    Pack(MakeConfig("setup.exe"));
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(host::Boxes().size(), 1u);
    const host::BoxRecord& box = host::Boxes()[0];
    EXPECT_EQ(box.text, Question("Sample"));
    EXPECT_EQ(box.caption, "Sample");
    EXPECT_EQ(box.flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(g_extractionCalls, 1);
}

TEST_F(StartupFlow, AnswerNoStopsWithNothingElse) {
    Pack(MakeConfig("setup.exe"));
    host::QueueBoxAnswer(IDNO);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(g_extractionCalls, 0);
}

TEST_F(StartupFlow, ABoxThatCannotBeShownCountsAsYes) {
    Pack(MakeConfig("setup.exe"));
    host::QueueBoxAnswer(0);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(g_extractionCalls, 1);
}

TEST_F(StartupFlow, SwitchesSetAndClearTheQuestion) {
    struct Case {
        const char* line;
        uint32_t extraFlags;
        bool asked;
    };
    const Case cases[] = {
        {"", 0, true},
        {"", CFG_NO_CONFIRM, false},
        {"-n", 0, false},
        {"/N", 0, false},
        {"-nx", 0, false},
        {"-q", CFG_NO_CONFIRM, true},
        {"/Q", CFG_NO_CONFIRM, true},
        {"-", CFG_NO_CONFIRM, false},  // a lone switch changes nothing
        {"-x", CFG_NO_CONFIRM, false},
        {"-x", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("command line: ") + c.line);
        support::ResetRunState();
        host::SetModulePath(packedPath());
        Pack(MakeConfig("setup.exe", CFG_OS_ALL | c.extraFlags));
        EXPECT_EQ(Run(c.line), 1);
        EXPECT_EQ(host::Boxes().size(), c.asked ? 1u : 0u);
        EXPECT_TRUE(g_run.tempBaseFolder[0] == 0);
    }
}

TEST_F(StartupFlow, TemporaryModeStoresTheBaseFolderUnchanged) {
    Pack(MakeConfig("setup.exe /q", CFG_OS_ALL | CFG_NO_CONFIRM));
    EXPECT_EQ(Run("-x \"D:\\Work dir\""), 1);
    EXPECT_EQ(support::Utf8Of(g_run.tempBaseFolder), "\"D:\\Work dir\"");
    EXPECT_EQ(support::Utf8Of(g_run.command), "setup.exe /q");  // the command cannot be changed
}

TEST_F(StartupFlow, FolderModeArgumentReplacesTheDestination) {
    Pack(MakeConfig("C:\\Configured", CFG_OS_ALL | CFG_EXTRACT_TO_FOLDER));
    EXPECT_EQ(Run("-q \"D:\\My Apps\""), 1);
    EXPECT_EQ(support::Utf8Of(g_run.command), "\"D:\\My Apps\"");  // quotes kept in the field
    ASSERT_EQ(host::Boxes().size(), 1u);
    std::string destination = expected::kDestination + "D:\\My Apps";  // and dropped in the question
    EXPECT_EQ(host::Boxes()[0].text, Question("Sample") + "\r\n\r\n" + destination);
}

TEST_F(StartupFlow, FolderModeWithoutDestinationTakesTheCurrentDirectory) {
    Pack(MakeConfig("", CFG_OS_ALL | CFG_EXTRACT_TO_FOLDER));
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(support::Utf8Of(g_run.command), cwd);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text,
              Question("Sample") + "\r\n\r\n" + expected::kDestination + cwd);
}

TEST_F(StartupFlow, QuestionShowsExtractDirLiterally) {
    Pack(MakeConfig("%ExtractDir%\\sub", CFG_OS_ALL | CFG_EXTRACT_TO_FOLDER));
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text,
              Question("Sample") + "\r\n\r\n" + expected::kDestination + "%ExtractDir%\\sub");
}

TEST_F(StartupFlow, EnvironmentIsExpandedInTheCommand) {
    setenv("VALKRIN_TEST_DIR", "C:\\Apps", 1);
    Pack(MakeConfig("%valkrin_test_dir%\\setup.exe %Unknown%", CFG_OS_ALL | CFG_NO_CONFIRM));
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(support::Utf8Of(g_run.command), "C:\\Apps\\setup.exe %Unknown%");
    unsetenv("VALKRIN_TEST_DIR");
}

TEST_F(StartupFlow, OverlongExpansionKeepsTheTextUnexpanded) {
    setenv("VALKRIN_TEST_LONG", std::string(300, 'x').c_str(), 1);
    Pack(MakeConfig("%VALKRIN_TEST_LONG%\\setup.exe", CFG_OS_ALL | CFG_NO_CONFIRM));
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(support::Utf8Of(g_run.command), "%VALKRIN_TEST_LONG%\\setup.exe");
    unsetenv("VALKRIN_TEST_LONG");
}

TEST_F(StartupFlow, OverlongFolderArgumentIsRefused) {
    Pack(MakeConfig("C:\\Configured", CFG_OS_ALL | CFG_EXTRACT_TO_FOLDER | CFG_NO_CONFIRM));
    std::string longFolder = "D:\\" + std::string(257, 'a');  // 260 bytes: one too many
    EXPECT_EQ(Run(longFolder), 0);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text,
              "\"D:\\" + std::string(256, 'a') + "\" " + expected::kWriteError);
    EXPECT_EQ(host::Boxes()[0].owner, nullptr);
    EXPECT_EQ(g_extractionCalls, 0);

    support::ResetRunState();
    host::SetModulePath(packedPath());
    std::string longest = "D:\\" + std::string(256, 'a');  // 259 bytes fit
    EXPECT_EQ(Run(longest), 1);
    EXPECT_EQ(support::Utf8Of(g_run.command), longest);
}

TEST_F(StartupFlow, FullLengthTitleIsShownWhole) {
    InstallConfig config = MakeConfig("setup.exe");
    memset(config.title, 'T', 50);
    Pack(config);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(host::Boxes()[0].caption, std::string(50, 'T'));
}

TEST_F(StartupFlow, UnterminatedFieldsAreCutInsideThemselves) {
    InstallConfig config = MakeConfig("setup.exe");
    memset(config.title, 'T', sizeof config.title);  // no terminator at all
    Pack(config);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(host::Boxes()[0].caption, std::string(50, 'T'));
}

TEST_F(StartupFlow, LeftoverBytesAfterTheTerminatorHaveNoEffect) {
    InstallConfig config = MakeConfig("setup.exe");
    memcpy(config.title, "Ab\0LEFTOVER", 11);
    Pack(config);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(host::Boxes()[0].caption, "Ab");
}

}  // namespace

namespace {

TEST_F(StartupFlow, DllsComeOnlyFromTheSystemFolder) {
    Pack(MakeConfig("setup.exe"));
    host::SetSystemFolders("C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(host::DllSearchFlags(), 0x800u);  // the system folder only
    EXPECT_TRUE(host::CurrentFolderDroppedFromSearch());
    // By name once the search is restricted: the manifest's activation context
    // then yields the common controls 6.0, else the system folder's copy.
    EXPECT_EQ(host::LoadedLibraries(), std::vector<std::string>{"comctl32.dll"});
}

TEST_F(StartupFlow, OlderKernelsStillStartAndLoadByFullPath) {
    Pack(MakeConfig("setup.exe"));
    host::SetWindows("win95");
    host::SetOldKernel(true);
    host::SetSystemFolders("C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(host::DllSearchFlags(), 0u);
    EXPECT_EQ(host::LoadedLibraries(), std::vector<std::string>{"C:\\WINDOWS\\SYSTEM\\comctl32.dll"});
}

}  // namespace
