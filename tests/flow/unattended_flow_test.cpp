// Packages that choose the extended switches and the installer's exit codes,
// on the host layer: the command line as one table, then whole runs for each
// outcome and its exit code, silent runs, extract-only and test-only runs and
// the log.
#include <filesystem>

#include "common/run_state.h"
#include "startup/startup.h"
#include "support/expected_texts.h"
#include "support/lzh_builder.h"
#include "support/test_support.h"

using support::EntryPlan;
using support::Exists;
using support::ReadWholeFile;

namespace {

constexpr uint32_t kUnattended = CFG_OS_ALL | CFG_EXTENDED_SWITCHES | CFG_INSTALLER_EXIT_CODES;

class Switches : public support::RunTest {};

TEST_F(Switches, OneTableOfCommandLines) {
    const std::string command(240, 'c');  // with " /q" 243 bytes
    struct Case {
        const char* what;
        std::string line;
        uint32_t flags;  // besides kUnattended
        StartupVerdict verdict;
        std::string command;  // after the line is applied
        std::string base;     // the temporary base folder
        bool noQuestion, silent, testOnly, extractOnly;
        std::string refused;
    } cases[] = {
        {"nothing", "", 0, StartupVerdict::Run, command, "", false, false, false, false, ""},
        {"any order, either case, both marks", "/S -t -N", 0, StartupVerdict::Run, command, "", true, true, true, false, ""},
        {"-q asks even with -n", "-n -q", CFG_NO_CONFIRM, StartupVerdict::Run, command, "", false, false, false, false, ""},
        {"silent never asks", "-q -s", 0, StartupVerdict::Run, command, "", true, true, false, false, ""},
        {"a quoted folder with blanks", "-n \"D:\\My Base\"", 0, StartupVerdict::Run, command, "\"D:\\My Base\"", true,
         false, false, false, ""},
        {"arguments for the installer", "-s -- /quiet /norestart", 0, StartupVerdict::Run, command + " /quiet /norestart",
         "", true, true, false, false, ""},
        {"a folder, then arguments", "D:\\Base -- /q", 0, StartupVerdict::Run, command + " /q", "D:\\Base", false,
         false, false, false, ""},
        {"-- inside quotes is part of the folder", "\"D:\\a -- b\"", 0, StartupVerdict::Run, command, "\"D:\\a -- b\"",
         false, false, false, false, ""},
        {"extract only, quoted", "-x \"D:\\Out Dir\" -n", 0, StartupVerdict::Run, "D:\\Out Dir", "", true, false,
         false, true, ""},
        {"extract only in folder mode", "-x E:\\Other", CFG_EXTRACT_TO_FOLDER, StartupVerdict::Run, "E:\\Other", "",
         false, false, false, true, ""},
        {"arguments do nothing in folder mode", "-- /q", CFG_EXTRACT_TO_FOLDER, StartupVerdict::Run, command, "",
         false, false, false, false, ""},
        {"a missing value", "-s -x", 0, StartupVerdict::UnknownSwitch, command, "", true, true, false, false, "-x"},
        {"a value that is a switch", "-l -s", 0, StartupVerdict::UnknownSwitch, command, "", false, false, false,
         false, "-l"},
        {"an unknown switch", "-n -z", 0, StartupVerdict::UnknownSwitch, command, "", false, false, false, false, "-z"},
        {"a long unknown switch", "-nx", 0, StartupVerdict::UnknownSwitch, command, "", false, false, false, false,
         "-nx"},
        {"the list", "-s /?", 0, StartupVerdict::Help, command, "", false, true, false, false, ""},
        {"a command of 259 bytes", "-- /q" + std::string(16, 'a'), 0, StartupVerdict::Run,
         command + " /q" + std::string(16, 'a'), "", false, false, false, false, ""},
        {"a command of 260 bytes is not cut", "-- /q" + std::string(17, 'a'), 0, StartupVerdict::Run, command, "",
         false, false, false, false, ""},
        {"a folder of 260 bytes", std::string(260, 'f'), 0, StartupVerdict::TooLong, command, "", false, false, false,
         false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        support::ResetRunState();
        g_config.flags = kUnattended | c.flags;
        support::SetText(g_run.command, PATH_SIZE, command);
        std::u16string line = support::ProductText(c.line);
        EXPECT_EQ(ApplyCommandLine(line.c_str()), c.verdict);
        if (c.verdict == StartupVerdict::UnknownSwitch) {
            EXPECT_EQ(support::Utf8Of(g_run.refusedText), c.refused);
        }
        if (c.verdict != StartupVerdict::Run) continue;
        EXPECT_EQ(support::Utf8Of(g_run.command), c.command);
        EXPECT_EQ(support::Utf8Of(g_run.tempBaseFolder), c.base);
        EXPECT_EQ((g_config.flags & CFG_NO_CONFIRM) != 0, c.noQuestion);
        EXPECT_EQ(g_run.silent != 0, c.silent);
        EXPECT_EQ(g_run.testOnly != 0, c.testOnly);
        EXPECT_EQ(g_run.extractOnly != 0, c.extractOnly);
        EXPECT_EQ(g_run.commandTooLong != 0, std::string(c.what).find("not cut") != std::string::npos);
    }
}

// Whole runs of a temporary-mode package whose installer is simulated: it
// "runs" when its file was extracted, and ends with the code given.
class Unattended : public support::ExtractingRunTest {
protected:
    void SetUp() override {
        ExtractingRunTest::SetUp();
        host::SimulateProcesses(true);
    }
    // A fresh run in the same folders, as after SetUp.
    void Restart() {
        support::ResetRunState();
        host::SetModulePath(packedPath());
        host::SetTempPath(temp_ + "/");
        host::SimulateProcesses(true);
    }
    void Pack(uint32_t flags, const std::string& command, std::string archive = "") {
        if (archive.empty()) archive = support::BuildArchive({{"setup.exe", '0', "MZ"}, {"data.txt", '0', "data"}});
        support::WritePacked(packedPath(), support::MakeConfig(command, flags), archive);
    }
    std::string log_ = folder_ / "run.log";
};

TEST_F(Unattended, EachOutcomeHasItsExitCode) {
    std::string damaged = support::BuildArchive({{"setup.exe", '0', "MZ"}});
    damaged[damaged.size() - 3] ^= 1;  // the data no longer matches its CRC
    struct Case {
        const char* what;
        uint32_t flags;  // besides kUnattended
        std::string line;
        std::vector<int> answers;
        std::string command;
        bool damage;
        int code, classicCode;
    } cases[] = {
        {"the installer's own code", 0, "-s", {}, "%ExtractDir%\\setup.exe", false, 3010, 1},
        {"folder mode", CFG_EXTRACT_TO_FOLDER, "-s", {}, "", false, 0, 1},
        {"the answer No", 0, "", {IDNO}, "%ExtractDir%\\setup.exe", false, 1602, 0},
        {"damage", 0, "-n", {}, "%ExtractDir%\\setup.exe", true, 1603, 0},
        {"no installer", 0, "-s", {}, "%ExtractDir%\\none.exe", false, 1603, 0},
        {"not permitted here", 0, "-s", {}, "%ExtractDir%\\setup.exe", false, 1633, 0},
        {"an unknown switch", 0, "-n -k", {}, "%ExtractDir%\\setup.exe", false, 1603, 0},
        {"the list of switches", 0, "-?", {}, "%ExtractDir%\\setup.exe", false, 0, 0},
    };
    for (bool installerCodes : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (installerCodes ? "" : ", classic codes"));
            Restart();
            host::SetSimulatedExitCode(3010);
            for (int answer : c.answers) host::QueueBoxAnswer(answer);
            uint32_t flags = (kUnattended & ~(installerCodes ? 0 : CFG_INSTALLER_EXIT_CODES)) | c.flags;
            if (std::string(c.what) == "not permitted here") flags &= ~CFG_OS_WINXP;
            std::string command = (c.flags & CFG_EXTRACT_TO_FOLDER) ? dest_ : c.command;
            Pack(flags, command, c.damage ? damaged + std::string(1, '\0') : "");
            EXPECT_EQ(Run(c.line), installerCodes ? c.code : c.classicCode);
            if (c.line == "-?") {
                ASSERT_EQ(host::Boxes().size(), 1u);
                EXPECT_NE(host::Boxes()[0].utf8Text.find("-x "), std::string::npos) << host::Boxes()[0].utf8Text;
                EXPECT_EQ(host::Boxes()[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
            }
        }
    }
}

TEST_F(Unattended, SilentRunsShowNothingAndLogEveryStep) {
    Pack(kUnattended, "%ExtractDir%\\setup.exe");
    host::SetSimulatedExitCode(3010);
    host::SetEnglishUi(true);
    EXPECT_EQ(Run("-s -l \"" + log_ + "\" -- /quiet /norestart"), 3010);
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_FALSE(host::Progress().created);
    ASSERT_EQ(host::Processes().size(), 1u);
    EXPECT_EQ(host::Processes()[0].commandLine, temp_ + "/valkrin.000\\setup.exe /quiet /norestart");
    EXPECT_TRUE(std::filesystem::is_empty(temp_));
    std::string log = ReadWholeFile(log_);
    for (const std::string& line : {"Start: " + packedPath(), std::string("Title: Sample"),
                                    "Temporary folder: " + temp_ + "/valkrin.000",
                                    "Run: " + temp_ + "/valkrin.000\\setup.exe /quiet /norestart",
                                    std::string("Installer exit code: 3010"), std::string("Waits done"),
                                    "Removed: " + temp_ + "/valkrin.000", std::string("Exit code: 3010")}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }

    // A failure: the text its box would show, and 1603; the log is appended to.
    Restart();
    host::SetEnglishUi(true);
    Pack(kUnattended, "%ExtractDir%\\none.exe");
    EXPECT_EQ(Run("-l \"" + log_ + "\" -s"), 1603);
    EXPECT_TRUE(host::Boxes().empty());
    std::string more = ReadWholeFile(log_);
    EXPECT_EQ(more.compare(0, log.size(), log), 0);
    EXPECT_NE(more.find("The install command could not be run", log.size()), std::string::npos) << more;
    EXPECT_NE(more.find("Exit code: 1603", log.size()), std::string::npos);
}

TEST_F(Unattended, ExtractOnlyAndTestOnly) {
    // -x: both passes into the folder given, nothing run, nothing removed.
    Pack(kUnattended, "%ExtractDir%\\setup.exe");
    EXPECT_EQ(Run("-n -x \"" + dest_ + "\""), 0);
    EXPECT_EQ(ReadWholeFile(dest_ + "/data.txt"), "data");
    EXPECT_TRUE(host::Processes().empty());
    EXPECT_TRUE(std::filesystem::is_empty(temp_));

    // -t: the test pass alone; a damaged archive fails it with nothing written.
    std::string damaged = support::BuildArchive({{"a.txt", '0', "a"}, {"b.txt", '0', "b"}});
    damaged[damaged.size() - 2] ^= 1;
    for (bool broken : {false, true}) {
        SCOPED_TRACE(broken ? "damaged" : "sound");
        Restart();
        std::filesystem::remove_all(dest_);
        Pack(kUnattended | CFG_EXTRACT_TO_FOLDER, dest_, broken ? damaged : "");
        EXPECT_EQ(Run("-t -s"), broken ? 1603 : 0);
        EXPECT_TRUE(host::ChangedPaths().empty());
        EXPECT_FALSE(Exists(dest_));
        EXPECT_TRUE(host::Boxes().empty());
    }
}

// A classic package reads only the second byte of its one switch: the new
// switches change nothing, and the exit codes stay 1 and 0.
TEST_F(Unattended, ClassicPackagesIgnoreTheNewSwitches) {
    Pack(CFG_OS_ALL | CFG_NO_CONFIRM, "%ExtractDir%\\setup.exe");
    host::SetSimulatedExitCode(3010);
    EXPECT_EQ(Run("-s"), 1);
    ASSERT_EQ(host::Processes().size(), 1u);
    EXPECT_TRUE(host::Progress().created);
    // The rest of the line is the temporary base folder, "--" and all.
    Restart();
    EXPECT_EQ(Run("-s -- /quiet"), 0);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text, "\"-- /quiet\\valkrin.000\" " + expected::kWriteError);
    // "-x D:\Work" in temporary mode still makes the folder below D:\Work.
    Restart();
    Pack(CFG_OS_ALL | CFG_NO_CONFIRM, "%ExtractDir%\\setup.exe");
    EXPECT_EQ(Run("-x \"" + temp_ + "\""), 1);
    EXPECT_EQ(host::Processes().at(0).directory, temp_ + "\\valkrin.000");
}

}  // namespace
