// The real executable extracting and installing under Wine: archives made by
// jlha and by the tests' own builder, byte-identical output with times and
// attributes, damage and cancels from every source, and temporary mode with
// the sample installer (command, working folder, waits, clean-up).
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <future>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "e2e_fixture.h"
#include "support/lzh_builder.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr int IDOK_ = 1;

std::string TextLike(size_t size, uint32_t seed) {
    static const char* words[] = {"install ", "archive ", "folder ", "setup ", "\r\n", "version 2.1 "};
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < size) out += words[random() % 6];
    out.resize(size);
    return out;
}

std::string Noise(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(random());
    return out;
}

// The output path of an entry as the stub names it in the box: the root
// of `folder` (a Windows path) keeps its backslash, every later separator
// is '/'.
std::string OutputPathIn(const std::string& folder, const std::string& relative) {
    std::string path = folder;
    for (size_t i = 3; i < path.size(); ++i) {
        if (path[i] == '\\') path[i] = '/';
    }
    return path + "/" + relative;
}

// What the sample installer logged: its working folder, and the names it
// found there ("sub\\" for a folder).
std::string LoggedFolder(const std::string& log) {
    size_t at = log.find("working folder: ");
    if (at == std::string::npos) return "";
    return log.substr(at + 16, log.find("\r\n", at) - at - 16);
}
std::set<std::string> LoggedNames(const std::string& log) {
    std::set<std::string> names;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) == 0) names.insert(line.substr(2, line.find('\r') - 2));
    }
    return names;
}

// "valkrin.NNN" for n.
std::string NumberedName(int n) {
    char name[16];
    snprintf(name, sizeof name, "valkrin.%03d", n);
    return name;
}

class WineExtraction : public WineFolderTest {
protected:
    void SetUp() override {
        WineFolderTest::SetUp();
        if (IsSkipped()) return;
        // A cancelled test may have left a folder whose installer still runs.
        temporaryBefore_ = TemporaryFolders();
    }
    // Temporary folders that this test's runs left behind.
    size_t LeftoverTemporaryFolders() {
        size_t left = 0;
        for (const std::string& folder : TemporaryFolders()) left += temporaryBefore_.count(folder) == 0;
        return left;
    }
    // The destination of a folder-mode run, as Wine names it.
    std::string Destination() { return WindowsPath(root_ + "/out"); }
    std::string PackFolderMode(const std::string& name, const std::string& archive) {
        return Pack(name, "--title " + Quote(kTitleUtf8) + " --no-confirm --folder " + Quote(Destination()),
                    archive);
    }
    std::string OutputPath(const std::string& relative) { return OutputPathIn(Destination(), relative); }
    void ExpectSameTree(const std::string& source, const std::string& copy) {
        size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(source)) {
            fs::path relative = fs::relative(entry.path(), source);
            fs::path other = fs::path(copy) / relative;
            ASSERT_TRUE(fs::exists(other)) << relative;
            if (entry.is_directory()) continue;
            ++files;
            EXPECT_EQ(ReadAll(other), ReadAll(entry.path())) << relative;
            struct stat a, b;
            stat(entry.path().c_str(), &a);
            stat(other.c_str(), &b);
            EXPECT_EQ(a.st_mtime, b.st_mtime) << relative;  // whole seconds in the header
        }
        EXPECT_GT(files, 0u);
    }

    std::set<std::string> temporaryBefore_;
};

TEST_F(WineExtraction, JlhaArchivesOfEveryMethodExtractByteIdentical) {
    std::string tree = root_ + "/tree";
    WriteAll(tree + "/readme.txt", TextLike(5000, 1));
    WriteAll(tree + "/empty.dat", "");
    WriteAll(tree + "/big/text.txt", TextLike(300 * 1024 + 7, 2));
    WriteAll(tree + "/big/noise.bin", Noise(70 * 1024, 3));
    WriteAll(tree + "/\xe8\xa1\xa8\xe7\xa4\xba/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.txt", TextLike(3000, 4));  // 表示/テスト.txt
    WriteAll(tree + "/a/b/c/deep.txt", "deep\r\n");
    for (const char* method : {"o5", "o6", "o7", "z"}) {
        SCOPED_TRACE(method);
        fs::remove_all(root_ + "/out");
        std::string archive = root_ + "/tree-" + method + ".lzh";
        std::string command = "cd '" + tree + "' && jlha a2q" + std::string(method) + "y '" + archive + "' . >/dev/null 2>&1";
        ASSERT_EQ(system(command.c_str()), 0) << command;
        std::string exe = PackFolderMode(std::string("jlha-") + method, ReadAll(archive));
        RunResult run = Run(exe, {});
        // No message box. The progress window of a small archive can come
        // and go between two looks of the driver, so it may be missing.
        EXPECT_LE(run.boxes.size(), 1u);
        for (const Box& box : run.boxes) EXPECT_EQ(box.text, "") << "only the progress window";
        EXPECT_EQ(run.exitCode, 1u);
        ExpectSameTree(tree, root_ + "/out");
    }
}

TEST_F(WineExtraction, AttributesAndTimesOfTheEntries) {
    support::EntryPlan readOnly{"docs/readonly.txt", '0', "read only"};
    readOnly.attributes = 0x21;
    readOnly.time = 946684800;  // 2000-01-01 00:00:00 UTC
    support::EntryPlan hidden{"hidden.txt", '0', "hidden"};
    hidden.attributes = 0x22;
    support::EntryPlan folder{"docs/", 'd'};
    folder.attributes = 0x10;
    folder.time = 1234567890;
    std::string exe = PackFolderMode("attributes", support::BuildArchive({readOnly, hidden, folder}));
    RunResult run = Run(exe, {});
    EXPECT_EQ(run.exitCode, 1u);
    struct stat info;
    ASSERT_EQ(stat((root_ + "/out/docs/readonly.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 946684800);
    EXPECT_EQ(info.st_mode & 0222, 0u);
    EXPECT_EQ(ReadAll(root_ + "/out/hidden.txt"), "hidden");
    char dosAttributes[64] = "";
    ssize_t got = getxattr((root_ + "/out/hidden.txt").c_str(), "user.DOSATTRIB", dosAttributes,
                           sizeof dosAttributes - 1);
    if (got > 0) {  // Wine keeps DOS attributes in an extended attribute where it can
        EXPECT_NE(std::stoul(std::string(dosAttributes, got), nullptr, 16) & 0x2, 0u);
    }
    ASSERT_EQ(stat((root_ + "/out/docs").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1234567890);  // a folder gets its time on the NT family
}

TEST_F(WineExtraction, DamagedDataShowsTheBoxOwnedByTheWindowAndLeavesNoPartialFile) {
    std::string archive = support::BuildArchive(
        {{"a.txt", '0', "first file"}, {"b.txt", '0', TextLike(100000, 5)}, {"c.txt", '0', "third"}});
    size_t at = archive.find("install");  // a data byte of b.txt
    archive[at] ^= 0x01;
    std::string exe = PackFolderMode("damaged", archive);
    RunResult run = Run(exe, {});
    ASSERT_EQ(run.boxes.size(), 2u);  // the progress window, then the error
    const Box& box = run.boxes[1];
    EXPECT_EQ(box.text, "\"" + OutputPath("b.txt") + "\" " + expected::kArchiveBroken);
    EXPECT_EQ(box.caption, kTitleSjis);
    EXPECT_TRUE(box.hasOwner);
    EXPECT_EQ(box.ownerCaption, kTitleSjis);
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK_});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadAll(root_ + "/out/a.txt"), "first file");
    EXPECT_FALSE(fs::exists(root_ + "/out/b.txt"));
    EXPECT_FALSE(fs::exists(root_ + "/out/c.txt"));
}

TEST_F(WineExtraction, CancelEscapeAndClosingEachStopWithoutABoxOrAPartialFile) {
    std::vector<support::EntryPlan> entries;
    // 320 MB: the extract pass takes seconds even unloaded, so the press
    // lands while a file is being written, however busy the machine is.
    for (int i = 0; i < 8; ++i) entries.push_back({"part" + std::to_string(i) + ".bin", '0', Noise(40 << 20, 10 + i)});
    std::string exe = PackFolderMode("cancel", support::BuildArchive(entries));
    for (const char* how : {"cancel", "escape", "close"}) {
        SCOPED_TRACE(how);
        fs::remove_all(root_ + "/out");
        RunOptions options;
        options.answers = {how};
        options.delayMs = 0;  // press as soon as the buttons are there
        options.timeoutSeconds = 60;
        RunResult run = Run(exe, options);
        ASSERT_EQ(run.boxes.size(), 1u);  // the progress window alone: no message
        EXPECT_EQ(run.exitCode, 0u);
        size_t complete = 0;
        std::error_code ignored;
        for (const auto& file : fs::directory_iterator(root_ + "/out", ignored)) {
            size_t index = file.path().filename().string()[4] - '0';
            EXPECT_EQ(ReadAll(file.path()), entries[index].data) << "a partial file was left";
            ++complete;
        }
        EXPECT_LT(complete, entries.size());
    }
}

class WineInstalling : public WineExtraction {
protected:
    // Packs the sample installer and `extra` entries in temporary mode.
    std::string PackInstaller(const std::string& name, const std::string& command, const std::string& more = "",
                              std::vector<support::EntryPlan> extra = {}) {
        std::vector<support::EntryPlan> entries = {
            {"sample-installer.exe", '0', ReadAll(WindowsBuildDir() + "/sample-installer.exe")}};
        for (auto& e : extra) entries.push_back(e);
        return Pack(name, "--title " + Quote(kTitleUtf8) + " --no-confirm --run " + Quote(command) + " " + more,
                    support::BuildArchive(entries));
    }
    std::string Log() { return ReadAll(root_ + "/log.txt"); }
    std::string LogPath() { return WindowsPath(root_ + "/log.txt"); }
};

TEST_F(WineInstalling, RunsFromAFreshNumberedFolderAndRemovesItAfterwards) {
    support::EntryPlan readOnly{"sub/readonly.txt", '0', "r"};
    readOnly.attributes = 0x21;
    support::EntryPlan hidden{"sub/deeper/hidden.txt", '0', "h"};
    hidden.attributes = 0x22;
    std::string exe = PackInstaller("install", "%ExtractDir%\\sample-installer.exe --log " + LogPath() +
                                                   " %ExtractDirX%", "--grace 1", {readOnly, hidden});
    RunResult run = Run(exe, {});
    EXPECT_EQ(run.exitCode, 1u);
    std::string log = Log();
    std::string folder = LoggedFolder(log);
    ASSERT_NE(folder, "") << log;
    // The first free number (a cancelled test's installer may still hold one).
    size_t name = folder.rfind("\\valkrin.");
    ASSERT_NE(name, std::string::npos) << folder;
    EXPECT_EQ(folder.size(), name + 12) << folder;
    EXPECT_TRUE(isdigit(static_cast<unsigned char>(folder.back()))) << folder;
    EXPECT_NE(log.find("command line: " + folder + "\\sample-installer.exe --log " + LogPath() + " "),
              std::string::npos) << log;  // both variables expanded
    EXPECT_NE(log.find("  sub\\"), std::string::npos);
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

// A program named without a folder, kept so by the builder: a copy of the
// same name planted beside the packed file (where Windows looks first) must
// not be the one that runs.
TEST_F(WineInstalling, BareProgramRunsFromTheExtractionFolderNotBesideThePackedFile) {
    std::string exe = PackInstaller("install-bare", "sample-installer.exe --log " + LogPath(), "--keep-bare-command");
    std::string planted = fs::path(exe).parent_path().string() + "/sample-installer.exe";
    fs::copy_file(WindowsBuildDir() + "/sample-installer.exe", planted, fs::copy_options::overwrite_existing);
    RunResult run = Run(exe, {});
    fs::remove(planted);
    EXPECT_EQ(run.exitCode, 1u);
    std::string log = Log();
    std::string folder = LoggedFolder(log);
    ASSERT_NE(folder, "") << log;
    EXPECT_NE(log.find("program: " + folder + "\\sample-installer.exe\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("command line: \"" + folder + "\\sample-installer.exe\" --log "), std::string::npos) << log;
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

TEST_F(WineInstalling, BaseFolderFromTheCommandLine) {
    fs::create_directories(root_ + "/base");
    std::string exe = PackInstaller("install-base", "%ExtractDir%\\sample-installer.exe --log " + LogPath());
    RunOptions options;
    options.arguments = "-n \"" + WindowsPath(root_ + "/base") + "\"";
    RunResult run = Run(exe, options);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(Log().find("working folder: " + WindowsPath(root_ + "/base") + "\\valkrin.000\r\n"),
              std::string::npos) << Log();
    EXPECT_TRUE(fs::is_empty(root_ + "/base"));
}

TEST_F(WineInstalling, WaitsForTheProcessTheGraceAndTheWindowsOfTheClass) {
    std::string exe = PackInstaller("install-wait",
                                    "%ExtractDir%\\sample-installer.exe --sleep 1500 --spawn-window ValkrinTestWindow 3000",
                                    "--grace 1 --wait-class ValkrinTestWindow");
    auto start = std::chrono::steady_clock::now();
    RunResult run = Run(exe, {});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exitCode, 1u);
    // 1.5 s process, 1 s grace, the window's remaining life, 1 s grace again.
    EXPECT_GT(seconds, 4.5);
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

TEST_F(WineInstalling, CancelDuringTheWaitReturnsAtOnce) {
    std::string exe = PackInstaller("install-cancel", "%ExtractDir%\\sample-installer.exe --sleep 20000");
    RunOptions options;
    options.answers = {"cancel"};
    options.delayMs = 3000;  // the archive is tested and extracted by then
    time_t start = time(nullptr);
    RunResult run = Run(exe, options);
    // The driver writes the stub's exit code when the stub ends; Wine may
    // keep the session busy until the installer ends too.
    struct stat record;
    ASSERT_EQ(stat((WorkDir() + "/install-cancel.record").c_str(), &record), 0);
    EXPECT_EQ(run.exitCode, 1u);  // the extraction itself succeeded
    EXPECT_LT(record.st_mtime - start, 15);
}

// Every execution level of the manifest runs under Wine, whose user is an
// administrator: requireAdministrator (the default of temporary mode) too.
TEST_F(WineInstalling, EveryExecutionLevelRuns) {
    for (const std::string level : {"requireAdministrator", "highestAvailable", "asInvoker"}) {
        SCOPED_TRACE(level);
        fs::remove(root_ + "/log.txt");
        std::string exe = PackInstaller("install-" + level, "%ExtractDir%\\sample-installer.exe --log " + LogPath(),
                                        "--elevation " + level);
        RunResult run = Run(exe, {});
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_NE(Log().find("working folder: "), std::string::npos) << "the installer ran";
        EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
    }
}

// The activation context of the stub's process: Wine's loader takes the
// manifest from the executable and binds the common controls 6.0 of its
// side-by-side store, which gives the progress bar and button their style.
TEST_F(WineExtraction, ActivationContextHoldsTheManifestAndTheCommonControls6) {
    std::string exe = Pack("actctx", "--title " + Quote(kTitleUtf8) + " --no-confirm --folder " +
                                         Quote(WindowsPath(root_ + "/out")),
                           support::BuildArchive({{"readme.txt", '0', "read me"}}));
    std::string trace = exe.substr(0, exe.rfind('.')) + ".log";
    fs::remove(trace);
    RunOptions options;
    options.wineDebug = "+actctx";
    RunResult run = Run(exe, options);
    EXPECT_EQ(run.exitCode, 1u);
    std::string log = ReadAll(trace);
    EXPECT_NE(log.find("actctx.exe"), std::string::npos) << "the manifest read from the executable";
    size_t controls = log.find("Microsoft.Windows.Common-Controls");
    ASSERT_NE(controls, std::string::npos) << log.substr(0, 4000);
    EXPECT_NE(log.find("6.0.0.0", controls), std::string::npos);
    EXPECT_EQ(log.find("Could not find dependent assembly"), std::string::npos);
}

TEST_F(WineInstalling, ACommandNamingNoProgramShowsTheLaunchFailure) {
    std::string exe = PackInstaller("install-missing", "%ExtractDir%\\no-such-setup.exe");
    RunResult run = Run(exe, {});
    ASSERT_EQ(run.boxes.size(), 2u);
    const Box& box = run.boxes[1];
    EXPECT_EQ(box.text, expected::kLaunchFailed);
    EXPECT_EQ(box.caption, kTitleSjis);
    EXPECT_TRUE(box.hasOwner);
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(run.exitCode, 0u);  // nothing was installed
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

TEST_F(WineInstalling, AFailedExtractionRunsNothingAndStillCleansUp) {
    support::EntryPlan bad{"bad.txt", '0', "bad data"};
    bad.overrideCrc = true;
    bad.dataCrc = 1;
    std::string exe = PackInstaller("install-damaged", "%ExtractDir%\\sample-installer.exe --log " + LogPath(), "",
                                    {bad});
    RunResult run = Run(exe, {});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(fs::exists(root_ + "/log.txt"));
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

// One entry of more than 4 GiB, its sizes in the large-size extended header,
// packed by valkrin-pack from a sparse file with marked stretches at the
// start, across the 4 GiB line and at the end, so that data put at a wrong
// offset shows. A long test: it writes a little over 4 GiB and takes minutes
// under emulation.
class WineLongExtraction : public WineExtraction {
protected:
    // Its work files (a sparse source, and a copy that takes over 4 GiB of
    // disk) go at once, passed or not.
    void TearDown() override {
        if (!root_.empty()) fs::remove_all(root_);
    }
};

TEST_F(WineLongExtraction, AnEntryOver4GiBComesOutWholeWithTheBarAtItsEnd) {
    constexpr uint64_t kMiB = 1 << 20;
    const uint64_t size = 4096 * kMiB + 3 * kMiB + 7;
    struct statvfs disk;
    ASSERT_EQ(statvfs(root_.c_str(), &disk), 0) << root_;
    ASSERT_GE(static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize, size + 1024 * kMiB)
        << "not enough free space in " << root_ << " for a copy of " << size << " bytes";

    std::string source = root_ + "/source/big.bin";
    fs::create_directories(root_ + "/source");
    std::ofstream(source, std::ios::binary).close();
    fs::resize_file(source, size);
    {
        std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
        for (uint64_t offset : {uint64_t{0}, 4096 * kMiB - kMiB / 2, size - kMiB}) {
            std::string line = "valkrin large entry at " + std::to_string(offset) + "\n";
            std::string mark;
            while (mark.size() < kMiB) mark += line;
            file.seekp(static_cast<std::streamoff>(offset));
            file.write(mark.data(), static_cast<std::streamsize>(kMiB));
        }
        ASSERT_TRUE(file.good()) << source;
    }
    std::string exe = root_ + "/big.exe";
    std::string output;
    ASSERT_EQ(RunCommand("cd " + Quote(root_ + "/source") + " && " + PackTool() + " -o " + Quote(exe) + " --title " +
                             Quote(kTitleUtf8) + " --no-confirm --folder " + Quote(Destination()) + " --stub " +
                             Quote(WindowsBuildDir() + "/valkrin.exe") + " --method lh5 big.bin 2>&1",
                         &output),
              0)
        << output;

    RunOptions options;
    options.timeoutSeconds = 1200;
    options.recordProgress = true;
    auto start = std::chrono::steady_clock::now();
    RunResult run = Run(exe, options);
    std::cout << "extraction under Wine: "
              << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count()
              << " s\n";
    EXPECT_EQ(run.exitCode, 1u);
    for (const Box& box : run.boxes) EXPECT_EQ(box.text, "") << "only the progress window";
    std::string copy = root_ + "/out/big.bin";
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(fs::file_size(copy), size);
    EXPECT_EQ(RunCommand("cmp " + Quote(source) + " " + Quote(copy) + " 2>&1", &output), 0) << output;

    EXPECT_EQ(std::distance(fs::directory_iterator(root_ + "/out"), fs::directory_iterator()), 1)
        << "nothing beside the entry";
    // The bar never goes back nor past its top, and ends exactly at the top.
    ASSERT_FALSE(run.progress.empty());
    int last = run.progress.front().low;
    for (const ProgressStep& step : run.progress) {
        EXPECT_GE(step.position, last) << "the bar went back";
        EXPECT_LE(step.position, step.high) << "the bar went past its top";
        last = step.position;
    }
    EXPECT_EQ(run.progress.back().position, run.progress.back().high);
    std::cout << "progress bar: " << run.progress.size() << " changes, the last at " << run.progress.back().position
              << " of " << run.progress.back().low << ".." << run.progress.back().high << "\n";
}

// Temporary mode among others: several packages started together in the
// same %TEMP%, numbered names that something else holds already, a disk
// that fills up, and a run that is killed.
class WineTemporaryFolder : public WineInstalling {
protected:
    // The lowest number from `from` on whose name is free in %TEMP%.
    int FreeNumber(int from = 0) {
        int n = from;
        while (n < 1000 && fs::exists(fs::symlink_status(TempFolder() + "/" + NumberedName(n)))) ++n;
        return n;
    }
    // %TEMP% as the stub sees it: GetTempPathA without its last backslash.
    std::string WindowsTemp() {
        std::string user = fs::path(TempFolder()).parent_path().filename().string();
        return "C:\\users\\" + user + "\\Temp";
    }
};

TEST_F(WineTemporaryFolder, EightRunsAtOnceEachUseAndRemoveOnlyTheirOwnFolder) {
    constexpr int kRuns = 8;
    std::vector<std::string> packages;
    for (int k = 0; k < kRuns; ++k) {
        std::string log = WindowsPath(root_ + "/log" + std::to_string(k) + ".txt");
        // The installer stays a while, so that the folders of all runs are
        // there at the same time.
        packages.push_back(PackInstaller("together" + std::to_string(k),
                                         "%ExtractDir%\\sample-installer.exe --log " + log + " --sleep 6000", "",
                                         {{"mine" + std::to_string(k) + ".txt", '0', "run " + std::to_string(k)}}));
    }
    // Wine starts its desktop process for the first program that wants a
    // window and gives it 10 s; eight programs starting it at once under
    // emulation can all miss it and get no window. A Windows user starts
    // packages on a desktop that is up already: a ninth package holds one
    // from its question (seen by the driver) until its installer ends.
    std::string holder = Pack("desktop-holder", "--title " + Quote(kTitleUtf8) + " --confirm --run " +
                                                    Quote("%ExtractDir%\\sample-installer.exe --sleep 20000"),
                              support::BuildArchive({{"sample-installer.exe", '0',
                                                      ReadAll(WindowsBuildDir() + "/sample-installer.exe")}}));
    auto holding = std::async(std::launch::async, [holder] {
        RunOptions options;
        options.windows = "winxp";
        options.answers = {"yes"};
        options.timeoutSeconds = 150;
        return RunUnderWine(holder, options);
    });
    for (int waited = 0; waited < 60000 && ReadAll(WorkDir() + "/desktop-holder.record").find("\nend\n") == std::string::npos;
         waited += 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::vector<std::future<RunResult>> runs;
    for (const std::string& package : packages) {
        runs.push_back(std::async(std::launch::async, [package] {
            RunOptions options;
            options.windows = "winxp";
            options.timeoutSeconds = 150;
            options.wineDebug = "err+all";
            return RunUnderWine(package, options);
        }));
    }
    std::set<std::string> folders;
    for (int k = 0; k < kRuns; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        RunResult run = runs[k].get();
        EXPECT_EQ(run.failure, "");
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 1u);
        for (const Box& box : run.boxes) EXPECT_EQ(box.text, "") << "only the progress window";
        std::string log = ReadAll(root_ + "/log" + std::to_string(k) + ".txt");
        std::string folder = LoggedFolder(log);
        EXPECT_EQ(folder.substr(0, folder.rfind('\\')), WindowsTemp()) << log;
        folders.insert(folder);
        EXPECT_EQ(LoggedNames(log), (std::set<std::string>{"sample-installer.exe", "mine" + std::to_string(k) + ".txt"}))
            << log;
    }
    EXPECT_EQ(holding.get().exitCode, 1u);
    // Runs that had ended before the next began would all have had number 000.
    EXPECT_EQ(folders.size(), static_cast<size_t>(kRuns));
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

// Something of the first free number's name, put there by someone else.
struct InTheWay {
    const char* name;
    void (*make)(const std::string& path, const std::string& canary);
};

const InTheWay kInTheWay[] = {
    {"AFolderHoldingAFile", [](const std::string& path, const std::string&) { WriteAll(path + "/theirs.txt", "theirs"); }},
    {"ALinkToAnotherFolder",
     [](const std::string& path, const std::string& canary) { fs::create_directory_symlink(canary, path); }},
    {"AFile", [](const std::string& path, const std::string&) { WriteAll(path, "theirs"); }},
    {"ADanglingLink",
     [](const std::string& path, const std::string& canary) { fs::create_directory_symlink(canary + "/gone", path); }},
};

TEST_F(WineTemporaryFolder, ANameTakenAlreadyIsSkippedAndLeftAlone) {
    for (const InTheWay& way : kInTheWay) {
        SCOPED_TRACE(way.name);
        fs::remove(root_ + "/log.txt");
        std::string canary = root_ + "/canary-" + way.name;
        WriteAll(canary + "/keep/keep.txt", "keep");
        int taken = FreeNumber();
        ASSERT_LT(taken, 999);
        std::string path = TempFolder() + "/" + NumberedName(taken);
        way.make(path, canary);
        auto theirs = fs::is_directory(path) ? Snapshot(path) : std::map<std::string, std::string>{{"", ReadAll(path)}};
        auto canaryBefore = Snapshot(canary);
        int expected = FreeNumber(taken);

        std::string exe = PackInstaller(std::string("taken-") + way.name,
                                        "%ExtractDir%\\sample-installer.exe --log " + LogPath(), "",
                                        {{"mine.txt", '0', "mine"}});
        RunResult run = Run(exe, {});
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(LoggedFolder(Log()), WindowsTemp() + "\\" + NumberedName(expected)) << Log();
        EXPECT_EQ(LoggedNames(Log()), (std::set<std::string>{"sample-installer.exe", "mine.txt"}));
        auto theirsAfter =
            fs::is_directory(path) ? Snapshot(path) : std::map<std::string, std::string>{{"", ReadAll(path)}};
        EXPECT_EQ(theirsAfter, theirs);
        EXPECT_EQ(Snapshot(canary), canaryBefore);
        fs::remove_all(path);  // the link itself, not what it points to
        EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
    }
}

// A disk that fills up, made by a limit on the size of the files that the
// package's process writes. A full disk still lets a file be created (that
// takes no data space), so the write that crosses the limit is where each
// case fails: cut short, refused outright, or the very first one.
struct FullDisk {
    const char* name;
    long long limit;
    bool compressed;  // big.txt made by jlha -lh7-, else stored
    bool intoFolder;  // folder mode: what was written before stays
    const char* failing;
};

TEST_F(WineTemporaryFolder, AFullDiskShowsTheWriteErrorAndRemovesEverything) {
    const FullDisk kCases[] = {
        {"WriteCutShortHalfWayThroughAFile", 100000, false, false, "big.txt"},
        {"WriteRefusedHalfWayThroughAFile", 65536, false, false, "big.txt"},
        {"FirstWriteOfAFileCutShort", 20000, false, false, "big.txt"},
        {"NoRoomForAnyByte", 0, false, false, "small.txt"},
        {"HalfWayThroughACompressedFile", 100000, true, false, "big.txt"},
        {"HalfWayThroughAFileInFolderMode", 100000, false, true, "big.txt"},
    };
    std::string text = TextLike(300000, 7);
    for (const FullDisk& disk : kCases) {
        SCOPED_TRACE(disk.name);
        std::string archive;
        if (disk.compressed) {
            std::string tree = root_ + "/tree-" + disk.name;
            WriteAll(tree + "/small.txt", "small");
            WriteAll(tree + "/big.txt", text);
            std::string lzh = root_ + "/" + disk.name + ".lzh";
            std::string command = "cd '" + tree + "' && jlha a2qo7y '" + lzh + "' small.txt big.txt >/dev/null 2>&1";
            ASSERT_EQ(system(command.c_str()), 0) << command;
            archive = ReadAll(lzh);
        } else {
            archive = support::BuildArchive({{"small.txt", '0', "small"}, {"big.txt", '0', text}});
        }
        std::string folder = root_ + "/out-" + disk.name;
        std::string mode = disk.intoFolder ? "--folder " + Quote(WindowsPath(folder))
                                           : "--run " + Quote("%ExtractDir%\\sample-installer.exe --log " + LogPath());
        std::string exe = Pack(std::string("full-") + disk.name, "--title " + Quote(kTitleUtf8) + " --no-confirm " + mode,
                               archive);
        std::string extractionFolder =
            disk.intoFolder ? WindowsPath(folder) : WindowsTemp() + "\\" + NumberedName(FreeNumber());
        RunOptions options;
        options.fileSizeLimit = disk.limit;
        RunResult run = Run(exe, options);
        ASSERT_EQ(run.boxes.size(), 2u);  // the progress window, then the error
        const Box& box = run.boxes[1];
        EXPECT_EQ(box.text, "\"" + OutputPathIn(extractionFolder, disk.failing) + "\" " + expected::kWriteError);
        EXPECT_EQ(box.caption, kTitleSjis);
        EXPECT_TRUE(box.hasOwner);
        EXPECT_EQ(box.icon, "error");
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK_});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_FALSE(fs::exists(root_ + "/log.txt")) << "no installer after a failed extraction";
        EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
        if (disk.intoFolder) {
            EXPECT_EQ(ReadAll(folder + "/small.txt"), "small");
            EXPECT_FALSE(fs::exists(folder + "/big.txt")) << "the partial file is deleted";
        }
    }
}

// A run killed while it writes (as by the Task Manager) cannot clean up:
// its folder stays with what it had written, and the next run takes the
// number after it and works as usual.
TEST_F(WineTemporaryFolder, AfterARunKilledHalfWayTheNextRunTakesANewNumber) {
    std::vector<support::EntryPlan> entries;
    for (int i = 0; i < 4; ++i) entries.push_back({"part" + std::to_string(i) + ".bin", '0', Noise(32 << 20, 20 + i)});
    std::string exe = PackInstaller("killed", "%ExtractDir%\\sample-installer.exe --log " + LogPath(), "", entries);
    uintmax_t total = fs::file_size(WindowsBuildDir() + "/sample-installer.exe");
    for (const auto& entry : entries) total += entry.data.size();
    std::string left = TempFolder() + "/" + NumberedName(FreeNumber());
    auto written = [&] {
        uintmax_t bytes = 0;
        std::error_code ignored;
        for (auto it = fs::recursive_directory_iterator(left, ignored); it != fs::recursive_directory_iterator();
             it.increment(ignored)) {
            bytes += it->is_regular_file(ignored) ? it->file_size(ignored) : 0;
        }
        return bytes;
    };
    auto running = std::async(std::launch::async, [exe] {
        RunOptions options;
        options.windows = "winxp";
        options.timeoutSeconds = 120;
        return RunUnderWine(exe, options);
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while (written() < (1u << 20) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<int> stubs = WineProcessesNamed("killed.exe");
    EXPECT_EQ(stubs.size(), 1u);
    for (int pid : stubs) kill(pid, SIGKILL);
    RunResult killed = running.get();
    EXPECT_EQ(killed.failure, "");
    EXPECT_NE(killed.exitCode, 1u);
    EXPECT_GE(written(), 1u << 20);
    EXPECT_LT(written(), total) << "killed half-way";
    EXPECT_FALSE(fs::exists(root_ + "/log.txt"));

    std::string next = PackInstaller("after-killed", "%ExtractDir%\\sample-installer.exe --log " + LogPath());
    std::string nextFolder = WindowsTemp() + "\\" + NumberedName(FreeNumber());  // the number after the killed one's
    RunResult run = Run(next, {});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(LoggedFolder(Log()), nextFolder) << Log();
    EXPECT_TRUE(fs::is_directory(left)) << "the killed run's folder is not the next run's to remove";
    fs::remove_all(left);
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

// An installer that starts a copy of itself from the folder and ends at
// once, as bootstrappers do: the stub waits for every program that runs from
// the folder before it removes it. The copy logs what it finds after its wait.
class WineHandOff : public WineTemporaryFolder {
protected:
    // Runs the sample installer with `options` behind its log, beside.txt
    // beside it; folder_ is where it extracts, Left() its host path.
    RunResult RunInstaller(const std::string& name, const std::string& options, RunOptions plan = {}) {
        std::string exe = PackInstaller(name, "%ExtractDir%\\sample-installer.exe --log " + LogPath() + " " + options,
                                        "", {{"beside.txt", '0', "beside"}});
        folder_ = WindowsTemp() + "\\" + NumberedName(FreeNumber());
        return Run(exe, plan);
    }
    std::string Left() { return TempFolder() + "/" + folder_.substr(folder_.rfind('\\') + 1); }
    // Waits, at most a minute, until the log holds `line`.
    bool LogShows(const std::string& line) {
        for (int waited = 0; waited < 60000 && Log().find(line) == std::string::npos; waited += 100) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return Log().find(line) != std::string::npos;
    }
    void ExpectTheCopySaw(const char* file) {
        EXPECT_NE(Log().find(std::string("after the hand-off: folder there\r\nafter the hand-off: file ") + file),
                  std::string::npos) << Log();
    }
    // Wine's list of what to delete at the next restart: "query" or "delete".
    std::string Registry(const std::string& verb) {
        std::string output;
        RunCommand("WINEPREFIX=" + Quote(SessionDir() + "/prefix") + " WINEARCH=win32 WINEDEBUG=-all wine reg " + verb +
                       " 'HKLM\\System\\CurrentControlSet\\Control\\Session Manager' /v PendingFileRenameOperations" +
                       (verb == "delete" ? " /f" : "") + " 2>&1",
                   &output);
        return output;
    }
    // Its paths, each without its empty target.
    std::vector<std::string> PendingDeletions() {
        std::string output = Registry("query");
        std::vector<std::string> paths;
        size_t at = output.find("REG_MULTI_SZ");
        if (at == std::string::npos) return paths;
        at = output.find_first_not_of(' ', at + 12);
        std::string value = output.substr(at, output.find_first_of("\r\n", at) - at);
        for (size_t begin = 0, end; begin < value.size(); begin = end + 2) {
            end = std::min(value.find("\\0", begin), value.size());
            if (end > begin) paths.push_back(value.substr(begin, end - begin));
        }
        return paths;
    }
    void TearDown() override {
        if (!root_.empty()) Registry("delete");
        WineTemporaryFolder::TearDown();
    }
    std::string folder_;
};

// A copy started plainly, then one started through "runas" (no child of
// the installer's), where Wine allows it.
TEST_F(WineHandOff, TheFolderStaysWhileACopyOfTheInstallerRunsFromIt) {
    for (const char* how : {"hand-off", "hand-off-runas"}) {
        SCOPED_TRACE(how);
        fs::remove(root_ + "/log.txt");
        RunResult run = RunInstaller(std::string("handoff-") + how, std::string("--") + how + " 3000 beside.txt");
        if (Log().find("hand-off through runas failed") != std::string::npos) GTEST_SKIP() << Log();
        EXPECT_EQ(run.exitCode, 1u);
        ExpectTheCopySaw("there");
        EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
    }
}

// Cancel ends this wait as the others: the copy runs on, the removal takes
// what it can meanwhile, and the copy's program, which Windows keeps while
// it runs, goes at the next restart with the folder.
TEST_F(WineHandOff, CancelDuringTheWaitForACopyEndsItAtOnce) {
    RunOptions plan;
    plan.answers = {"cancel"};
    plan.delayMs = 3000;  // the installer has handed off by then
    auto start = std::chrono::steady_clock::now();
    RunResult run = RunInstaller("handoff-cancel", "--hand-off 15000 beside.txt", plan);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(PendingDeletions(),
              (std::vector<std::string>{"\\??\\" + folder_ + "\\sample-installer.exe", "\\??\\" + folder_}));
    ASSERT_TRUE(LogShows("after the hand-off: file ")) << Log();
    ExpectTheCopySaw("gone");
    EXPECT_EQ(Snapshot(Left()), (std::map<std::string, std::string>{
                                    {"sample-installer.exe", ReadAll(WindowsBuildDir() + "/sample-installer.exe")}}));
    fs::remove_all(Left());
}

// A file that another process holds open cannot be deleted: it and the
// folder go at the next restart.
TEST_F(WineHandOff, AFileHeldOpenIsDeletedAtTheNextRestart) {
    Registry("delete");
    RunResult run = RunInstaller("handoff-held", "--hold " + WindowsPath(WindowsBuildDir() + "/sample-installer.exe") +
                                                     " beside.txt 8000");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(Log().find("beside.txt: error 0"), std::string::npos) << Log();
    EXPECT_EQ(PendingDeletions(), (std::vector<std::string>{"\\??\\" + folder_ + "\\beside.txt", "\\??\\" + folder_}));
    EXPECT_EQ(Snapshot(Left()), (std::map<std::string, std::string>{{"beside.txt", "beside"}}));
    EXPECT_TRUE(LogShows("released ")) << Log();
    fs::remove_all(Left());
}

// A volume with less room than the entries' original sizes: the write error
// names the folder before anything is created.
TEST_F(WineExtraction, TooLittleFreeSpaceIsOneWriteErrorBeforeAnythingIsCreated) {
    std::string small = root_ + "/small";
    fs::create_directories(small);
    std::string output;
    if (RunCommand("mount -t tmpfs -o size=1m valkrin-small " + Quote(small) + " 2>&1", &output) != 0) {
        GTEST_SKIP() << "no tmpfs of 1 MiB could be mounted: " << output;
    }
    std::string destination = WindowsPath(small + "/dest");
    std::string exe = Pack("small-volume", "--title " + Quote(kTitleUtf8) + " --no-confirm --folder " + Quote(destination),
                           support::BuildArchive({{"a.txt", '0', "a"}, {"big.bin", '0', Noise(2 << 20, 30)}}));
    RunResult run = Run(exe, {});
    bool empty = fs::is_empty(small);
    RunCommand("umount " + Quote(small) + " 2>&1", &output);
    ASSERT_EQ(run.boxes.size(), 2u);  // the progress window, then the error
    EXPECT_EQ(run.boxes[1].text, "\"" + destination + "\" " + expected::kWriteError);
    EXPECT_TRUE(run.boxes[1].hasOwner);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(empty) << "nothing created";
}

}  // namespace
}  // namespace e2e
