// The install command runner and the folder removal on the host layer:
// real child processes, the waits, cancels, and what removal leaves behind.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "install/install_command.h"
#include "startup/dll_safety.h"
#include "support/expected_texts.h"
#include "support/test_support.h"
#include "ui/progress_window.h"

using support::Exists;
using support::WriteWholeFile;

namespace {

class InstallCommand : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    // A fresh run on `windows` with its window and the extraction folder.
    void Start(const char* windows = "winxp") {
        support::ResetRunState();
        host::SetWindows(windows);
        ChooseSystemCalls();
        g_config.flags = CFG_OS_ALL;
        support::SetText(g_run.extractionFolder, EXTRACTION_FOLDER_SIZE, folder_.path());
        params_ = ProgressWindowParams{u"Sample", &g_run.cancelFlag, nullptr, 0};
        g_run.progressWindow = CreateProgressWindow(&params_);
    }
    void TearDown() override { DestroyWindow(g_run.progressWindow); }
    void SetCommand(const std::string& command) { support::SetText(g_run.command, PATH_SIZE, command); }

    support::ScratchFolder folder_;
    ProgressWindowParams params_;
};

TEST_F(InstallCommand, RunsFromTheExtractionFolderAndWaits) {
    WriteWholeFile(folder_ / "setup.sh", "pwd > ran.txt; echo \"$@\" >> ran.txt\n");
    SetCommand("sh %ExtractDir%/setup.sh one \"two words\"");
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(support::ReadWholeFile(folder_ / "ran.txt"),
              std::filesystem::canonical(folder_.path()).string() + "\none two words\n");
    ASSERT_EQ(host::Processes().size(), 1u);
    const host::ProcessRecord& process = host::Processes()[0];
    EXPECT_EQ(process.commandLine, "sh " + folder_.path() + "/setup.sh one \"two words\"");
    EXPECT_EQ(process.directory, folder_.path());
    EXPECT_EQ(process.creationFlags, static_cast<DWORD>(CREATE_SEPARATE_WOW_VDM));  // NT family
    EXPECT_EQ(process.startupFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(process.showWindow, SW_SHOW);
    char after[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(before, after);  // restored
    EXPECT_EQ(host::Progress().utf8Names.back(), support::Utf8Of(g_run.command));
    EXPECT_EQ(host::SleepCount(), 0);  // no grace time configured
}

TEST_F(InstallCommand, InstallerKeepsItsFolderInTheDllSearchWhileTheStubDoesNot) {
    RestrictDllSearch();
    SetCommand("true");
    EXPECT_TRUE(RunInstallCommand());
    ASSERT_EQ(host::Processes().size(), 1u);
    EXPECT_FALSE(host::Processes()[0].currentFolderDroppedFromDllSearch);
    EXPECT_TRUE(host::CurrentFolderDroppedFromSearch());
}

TEST_F(InstallCommand, NinetyFiveFamilyGetsNoSeparateVdm) {
    host::SetWindows("win98");
    SetCommand("true");
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(host::Processes().at(0).creationFlags, 0u);
}

TEST_F(InstallCommand, GraceTimeIsCountedInCycles) {
    g_config.graceSeconds = 1;
    SetCommand("true");
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(host::SleepCount(), 20);
}

TEST_F(InstallCommand, ClassWaitLastsWhileAWindowOfTheClassExists) {
    g_config.flags |= CFG_WAIT_FOR_CLASS;
    snprintf(g_config.windowClass, sizeof g_config.windowClass, "%s", "InstallerMain");
    host::AddWindowClass("Other");
    host::AddWindowClass("InstallerMain", 3);  // gone after three enumerations
    SetCommand("true");
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(host::SleepCount(), 3);  // one sleep after each enumeration that found it
}

TEST_F(InstallCommand, ClassNamesCompareOnTheirFirstFortyBytes) {
    g_config.flags |= CFG_WAIT_FOR_CLASS;
    std::string forty(40, 'K');
    snprintf(g_config.windowClass, sizeof g_config.windowClass, "%s", forty.c_str());
    host::AddWindowClass(forty + "LONGER", 2);
    SetCommand("true");
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(host::SleepCount(), 2);
}

TEST_F(InstallCommand, CancelReturnsAtOnceAndLeavesTheInstallerRunning) {
    SetCommand("sleep 5");
    host::CancelOnPump(3);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(g_run.cancelFlag, 1);
}

// An installer whose manifest demands an administrator's rights cannot be
// created (740); the same program, arguments and folder go to the shell with
// "runas", and its process is awaited like a created one, then the grace
// time, the class wait and the grace time again.
TEST_F(InstallCommand, ElevationRequiredGoesThroughTheShellAndIsAwaited) {
    // Longer than all the waits after it (about 2.2 s), so only a wait for
    // the process itself sees the file written.
    WriteWholeFile(folder_ / "setup.sh", "sleep 3; pwd > ran.txt; echo \"$@\" >> ran.txt\n");
    SetCommand("sh %ExtractDir%/setup.sh one \"two words\"");
    host::RequireElevation(true);
    g_config.graceSeconds = 1;
    g_config.flags |= CFG_WAIT_FOR_CLASS;
    snprintf(g_config.windowClass, sizeof g_config.windowClass, "%s", "InstallerMain");
    host::AddWindowClass("InstallerMain", 3);
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(support::ReadWholeFile(folder_ / "ran.txt"),
              std::filesystem::canonical(folder_.path()).string() + "\none two words\n");
    ASSERT_EQ(host::ShellExecutions().size(), 1u);
    const host::ShellRecord& shell = host::ShellExecutions()[0];
    EXPECT_EQ(shell.verb, "runas");
    EXPECT_EQ(shell.file, "sh");
    EXPECT_EQ(shell.parameters, folder_.path() + "/setup.sh one \"two words\"");
    EXPECT_EQ(shell.directory, folder_.path());
    EXPECT_NE(shell.mask & SEE_MASK_NOCLOSEPROCESS, 0u);
    EXPECT_EQ(shell.show, SW_SHOW);
    EXPECT_EQ(host::Processes().size(), 1u);  // the one CreateProcessA that failed
    EXPECT_EQ(host::LoadedLibraries(), std::vector<std::string>{"C:\\WINDOWS\\SYSTEM32\\shell32.dll"});
    EXPECT_EQ(host::SleepCount(), 20 + 3 + 20);
    char after[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(before, after);
}

TEST_F(InstallCommand, ElevatedProgramKeepsItsQuotedPathWhole) {
    WriteWholeFile(folder_ / "my setup.exe", "MZ");
    SetCommand("\"%ExtractDir%/my setup.exe\"");
    host::RequireElevation(true);
    host::SetShell(host::ShellState::Fails, ERROR_CANCELLED);
    EXPECT_FALSE(RunInstallCommand());
    ASSERT_EQ(host::ShellExecutions().size(), 1u);
    EXPECT_EQ(host::ShellExecutions()[0].file, folder_.path() + "/my setup.exe");
    EXPECT_EQ(host::ShellExecutions()[0].parameters, "");
}

TEST_F(InstallCommand, CommandNamingNoProgramCannotStart) {
    SetCommand("%ExtractDir%/no-such-program.exe");
    EXPECT_FALSE(RunInstallCommand());
}

// While a process runs a program from inside the extraction folder (here
// for three snapshots), the wait goes on: one sleep after each snapshot that
// found it. A program that cannot be told, or where Windows lists none, is
// not waited for.
TEST_F(InstallCommand, WaitsWhileAProgramRunsFromInsideTheFolder) {
    using host::ImageAccess;
    using host::ProcessListing;
    struct Case {
        const char* what;
        const char* windows;
        ProcessListing listing;
        ImageAccess access;
        std::string image;  // behind the folder's path
        int sleeps;
    };
    const ProcessListing full = ProcessListing::FullImageName, modules = ProcessListing::ModuleList;
    const Case cases[] = {
        {"path from QueryFullProcessImageName", "win10", full, ImageAccess::Readable, "\\copy.exe", 3},
        {"path from the module list", "winxp", modules, ImageAccess::Readable, "\\sub\\copy.exe", 3},
        {"path in the list itself on Windows 98", "win98", modules, ImageAccess::Unreadable, "\\copy.exe", 3},
        {"beside the folder", "win10", full, ImageAccess::Readable, "2\\copy.exe", 0},
        {"no process list", "nt40", ProcessListing::None, ImageAccess::Readable, "\\copy.exe", 0},
        {"path that cannot be read", "win10", full, ImageAccess::Unreadable, "\\copy.exe", 0},
        {"module list that cannot be read", "winxp", modules, ImageAccess::Unreadable, "\\copy.exe", 0},
        {"access denied", "win10", full, ImageAccess::Denied, "\\copy.exe", 0},
        {"access denied to the module list", "winxp", modules, ImageAccess::Denied, "\\copy.exe", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DestroyWindow(g_run.progressWindow);
        Start(c.windows);
        host::SetProcessListing(c.listing);
        host::AddRunningProgram("C:\\Windows\\explorer.exe");  // runs on, outside
        host::AddRunningProgram(folder_.path() + c.image, 3, c.access);
        AwaitProgramsInFolder(0);
        EXPECT_EQ(host::SleepCount(), c.sleeps);
        EXPECT_EQ(host::ProcessSnapshots(), c.listing == ProcessListing::None ? 0 : c.sleeps + 1);
    }
}

// Through the folder's short form (%ExtractDirX%), ASCII letters in any case.
TEST_F(InstallCommand, WaitsForAProgramStartedThroughTheShortForm) {
    host::SetShortPath(folder_.path(), "C:\\Valkri~1\\valkri~1.000");
    host::AddRunningProgram("C:\\VALKRI~1\\VALKRI~1.000\\SETUP.EXE", 2);
    AwaitProgramsInFolder(0);
    EXPECT_EQ(host::SleepCount(), 2);
}

// The last wait, after the installer and the grace; the label stays.
TEST_F(InstallCommand, ProgramWaitComesAfterTheInstallerAndTheGrace) {
    g_config.graceSeconds = 1;
    host::AddRunningProgram(folder_.path() + "\\copy.exe", 2);
    SetCommand("true");
    EXPECT_TRUE(RunInstallCommand());
    EXPECT_EQ(host::SleepCount(), 20 + 2);
    EXPECT_EQ(host::Progress().labels, std::vector<std::string>{expected::kWatching});
}

TEST_F(InstallCommand, CancelEndsTheProgramWait) {
    host::AddRunningProgram(folder_.path() + "\\never-ends.exe");
    host::CancelOnPump(4);
    AwaitProgramsInFolder(0);
    EXPECT_EQ(host::SleepCount(), 3);
}

// A run that nobody can cancel gives up on a program that never ends.
TEST_F(InstallCommand, BoundedProgramWaitEndsAfterTenMinutesOfCycles) {
    host::SimulateProcesses(true);  // Sleep returns at once
    host::AddRunningProgram(folder_.path() + "\\never-ends.exe");
    AwaitProgramsInFolder(PROGRAM_WAIT_BOUND_MS);
    EXPECT_EQ(host::SleepCount(), 10 * 60 * 1000 / 50);
}

class RemoveFolder : public ::testing::Test {
protected:
    void Remove(const std::string& path) {
        WCHAR buffer[OUTPUT_PATH_SIZE];
        support::SetText(buffer, OUTPUT_PATH_SIZE, path);
        RemoveFolderTree(buffer, OUTPUT_PATH_SIZE);
    }
    support::ScratchFolder scratch_;
};

TEST_F(RemoveFolder, RemovesEverythingIncludingReadOnlyHiddenAndDotNames) {
    std::string root = scratch_ / "valkrin.000";
    std::filesystem::create_directories(root + "/a/b/.hidden");
    WriteWholeFile(root + "/.config", "x");
    WriteWholeFile(root + "/a/readonly.txt", "x");
    SetFileAttributesA((root + "/a/readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteWholeFile(root + "/a/b/hidden.txt", "x");
    SetFileAttributesA((root + "/a/b/hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    WriteWholeFile(root + "/a/b/.hidden/deep", "x");
    SetFileAttributesA((root + "/a/b").c_str(), FILE_ATTRIBUTE_READONLY);
    Remove(root);
    EXPECT_FALSE(Exists(root));
}

TEST_F(RemoveFolder, LinksAreRemovedNotFollowed) {
    std::string outside = scratch_ / "outside";
    std::filesystem::create_directories(outside);
    WriteWholeFile(outside + "/precious.txt", "keep me");
    std::string root = scratch_ / "valkrin.001";
    std::filesystem::create_directories(root);
    std::filesystem::create_directory_symlink(outside, root + "/link-to-outside");
    std::filesystem::create_symlink(outside + "/precious.txt", root + "/file-link");
    Remove(root);
    EXPECT_FALSE(Exists(root));
    EXPECT_EQ(support::ReadWholeFile(outside + "/precious.txt"), "keep me");
}

// A file in use and the folders it keeps go at the next restart, deepest
// first, given the rights; without, they stay. The rest goes now.
TEST_F(RemoveFolder, WhatIsInUseGoesAtTheNextRestartGivenTheRights) {
    for (bool rights : {true, false}) {
        support::ResetRunState();
        host::SetRestartRights(rights);
        std::string root = scratch_ / "valkrin.002";
        std::filesystem::create_directories(root + "/a/b");
        WriteWholeFile(root + "/a/held.txt", "in use");
        WriteWholeFile(root + "/a/b/free.txt", "x");
        host::HoldFile(root + "/a/held.txt");
        Remove(root);
        std::vector<std::string> scheduled{root + "/a/held.txt", root + "/a", root};
        EXPECT_EQ(host::RestartRemovals(), rights ? scheduled : std::vector<std::string>());
        EXPECT_TRUE(Exists(root + "/a/held.txt"));
        EXPECT_FALSE(Exists(root + "/a/b"));
        std::filesystem::remove_all(root);
    }
}

TEST_F(RemoveFolder, EmptyPathAndMissingFolderDoNothing) {
    Remove("");
    Remove(scratch_ / "missing");
    EXPECT_TRUE(Exists(scratch_.path()));
}

}  // namespace

namespace {

class BareProgram : public ::testing::Test {
protected:
    std::string Resolve(const std::string& command, uint32_t capacity = 260) {
        WCHAR buffer[300];
        support::SetText(buffer, 300, command);
        if (!ResolveBareProgram(buffer, capacity, support::ProductText(folder_.path()).c_str())) return "<refused>";
        return support::Utf8Of(buffer);
    }
    support::ScratchFolder folder_;
};

TEST_F(BareProgram, ExtractedProgramIsNamedByItsFullPath) {
    WriteWholeFile(folder_ / "setup.exe", "MZ");
    std::string full = "\"" + folder_.path() + "\\setup.exe\"";
    EXPECT_EQ(Resolve("setup.exe /q"), full + " /q");
    EXPECT_EQ(Resolve("\"setup.exe\" /q x"), full + " /q x");
    EXPECT_EQ(Resolve("setup /q"), full + " /q");  // ".exe" added as Windows does
    EXPECT_EQ(Resolve("setup.exe"), full);
}

TEST_F(BareProgram, OtherCommandsStayAsWritten) {
    WriteWholeFile(folder_ / "setup.exe", "MZ");
    std::filesystem::create_directories(folder_ / "tools.exe");
    EXPECT_EQ(Resolve("msiexec /i x.msi"), "msiexec /i x.msi");        // not extracted
    EXPECT_EQ(Resolve("C:\\setup.exe"), "C:\\setup.exe");              // has a folder
    EXPECT_EQ(Resolve("sub\\setup.exe"), "sub\\setup.exe");
    EXPECT_EQ(Resolve("tools.exe"), "tools.exe");                      // a folder, not a program
    EXPECT_EQ(Resolve(""), "");
    EXPECT_EQ(Resolve("setup.exe " + std::string(250, 'a'), 260), "<refused>");  // would not fit
}

}  // namespace
