// The real executable extracting and installing under Wine: archives made by
// jlha and by the tests' own builder, byte-identical output with times and
// attributes, damage and cancels from every source, and temporary mode with
// the sample installer (command, working folder, waits, clean-up).
#include <sys/stat.h>
#include <sys/xattr.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "e2e_fixture.h"
#include "support/lzh_builder.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr int IDOK_ = 1;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

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

// The Wine prefix's temporary folders of ours that are there now.
std::set<std::string> TemporaryFolders() {
    std::set<std::string> found;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(SessionDir() + "/prefix/drive_c/users", ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it.depth() > 4) it.disable_recursion_pending();
        if (it->path().filename().string().rfind("valkrin.", 0) == 0) found.insert(it->path().string());
    }
    return found;
}

class WineExtraction : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped()) return;
        root_ = WorkDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root_);
        fs::create_directories(root_);
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
    // The output path as the stub names it: the root keeps its backslash,
    // every later separator is '/'.
    std::string OutputPath(const std::string& relative) {
        std::string path = Destination();
        for (size_t i = 3; i < path.size(); ++i) {
            if (path[i] == '\\') path[i] = '/';
        }
        return path + "/" + relative;
    }
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

    std::string root_;
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
    support::EntrySpec readOnly{"docs/readonly.txt", '0', "read only"};
    readOnly.attributes = 0x21;
    readOnly.time = 946684800;  // 2000-01-01 00:00:00 UTC
    support::EntrySpec hidden{"hidden.txt", '0', "hidden"};
    hidden.attributes = 0x22;
    support::EntrySpec folder{"docs/", 'd'};
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
    std::vector<support::EntrySpec> entries;
    for (int i = 0; i < 6; ++i) entries.push_back({"part" + std::to_string(i) + ".bin", '0', Noise(40 << 20, 10 + i)});
    std::string exe = PackFolderMode("cancel", support::BuildArchive(entries));
    for (const char* how : {"cancel", "escape", "close"}) {
        SCOPED_TRACE(how);
        fs::remove_all(root_ + "/out");
        RunOptions options;
        options.answers = {how};
        options.delayMs = 200;
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
                              std::vector<support::EntrySpec> extra = {}) {
        std::vector<support::EntrySpec> entries = {
            {"sample-installer.exe", '0', ReadAll(WindowsBuildDir() + "/sample-installer.exe")}};
        for (auto& e : extra) entries.push_back(e);
        return Pack(name, "--title " + Quote(kTitleUtf8) + " --no-confirm --run " + Quote(command) + " " + more,
                    support::BuildArchive(entries));
    }
    std::string Log() { return ReadAll(root_ + "/log.txt"); }
    std::string LogPath() { return WindowsPath(root_ + "/log.txt"); }
};

TEST_F(WineInstalling, RunsFromAFreshNumberedFolderAndRemovesItAfterwards) {
    support::EntrySpec readOnly{"sub/readonly.txt", '0', "r"};
    readOnly.attributes = 0x21;
    support::EntrySpec hidden{"sub/deeper/hidden.txt", '0', "h"};
    hidden.attributes = 0x22;
    std::string exe = PackInstaller("install", "%ExtractDir%\\sample-installer.exe --log " + LogPath() +
                                                   " %ExtractDirX%", "--grace 1", {readOnly, hidden});
    RunResult run = Run(exe, {});
    EXPECT_EQ(run.exitCode, 1u);
    std::string log = Log();
    size_t folderAt = log.find("working folder: ");
    ASSERT_NE(folderAt, std::string::npos) << log;
    std::string folder = log.substr(folderAt + 16, log.find("\r\n", folderAt) - folderAt - 16);
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
    size_t folderAt = log.find("working folder: ");
    ASSERT_NE(folderAt, std::string::npos) << log;
    std::string folder = log.substr(folderAt + 16, log.find("\r\n", folderAt) - folderAt - 16);
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

TEST_F(WineInstalling, ACommandNamingNoProgramShowsTheLaunchFailure) {
    std::string exe = PackInstaller("install-missing", "%ExtractDir%\\no-such-setup.exe");
    RunResult run = Run(exe, {});
    ASSERT_EQ(run.boxes.size(), 2u);
    const Box& box = run.boxes[1];
    EXPECT_EQ(box.text, expected::kLaunchFailed);
    EXPECT_EQ(box.caption, kTitleSjis);
    EXPECT_TRUE(box.hasOwner);
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

TEST_F(WineInstalling, AFailedExtractionRunsNothingAndStillCleansUp) {
    support::EntrySpec bad{"bad.txt", '0', "bad data"};
    bad.overrideCrc = true;
    bad.dataCrc = 1;
    std::string exe = PackInstaller("install-damaged", "%ExtractDir%\\sample-installer.exe --log " + LogPath(), "",
                                    {bad});
    RunResult run = Run(exe, {});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(fs::exists(root_ + "/log.txt"));
    EXPECT_EQ(LeftoverTemporaryFolders(), 0u);
}

}  // namespace
}  // namespace e2e
