// The real executable under Wine as deployment tools start it: packages that
// choose the extended switches and the installer's exit codes, with an
// installer that records its command line and exits with a chosen code. The
// driver reads the full 32-bit exit code (GetExitCodeProcess).
#include <filesystem>

#include "e2e_fixture.h"
#include "support/lzh_builder.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

const std::string kUnattended = " --exit-codes installer --switches extended";

class WineUnattended : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // Short: the expanded command must fit its 259 bytes.
        root_ = "/tmp/valkrin-unattended";
        fs::remove_all(root_);
        fs::create_directories(root_);
        before_ = TemporaryFolders();
    }
    // A temporary-mode package of the sample installer, which logs how it
    // was started and exits with 3010.
    std::string PackInstaller(const std::string& name, const std::string& options,
                              std::string archive = "") {
        if (archive.empty()) {
            archive = support::BuildArchive({{"sample-installer.exe", '0',
                                              ReadAll(WindowsBuildDir() + "/sample-installer.exe")},
                                             {"data.txt", '0', "data"}});
        }
        std::string command = "%ExtractDir%\\sample-installer.exe --log " + WindowsPath(root_ + "/installer.log") +
                              " --exit 3010";
        return Pack(name, "--title Sample --run " + Quote(command) + " " + options, archive);
    }
    RunOptions Plan(const std::string& arguments, std::vector<std::string> answers = {}) {
        RunOptions plan;
        plan.arguments = arguments;
        plan.answers = std::move(answers);
        return plan;
    }
    std::string Log() { return ReadAll(root_ + "/run.log"); }
    std::string LogArgument() { return " -l " + WindowsPath(root_ + "/run.log"); }
    std::string root_;
    std::set<std::string> before_;
};

TEST_F(WineUnattended, SilentRunPassesTheArgumentsAndTheInstallersCode) {
    std::string exe = PackInstaller("unattended-silent", kUnattended);
    RunResult run = Run(exe, Plan("-s" + LogArgument() + " -- /quiet /norestart"));
    EXPECT_TRUE(run.boxes.empty()) << "no window of any kind";
    EXPECT_EQ(run.exitCode, 3010u);
    std::string installed = ReadAll(root_ + "/installer.log");
    EXPECT_NE(installed.find("--exit 3010 /quiet /norestart\r\n"), std::string::npos) << installed;
    EXPECT_EQ(TemporaryFolders(), before_) << "the folder is removed";
    std::string log = Log();
    for (const char* line : {"\xe5\xae\x9f\xe8\xa1\x8c: ", "3010", "/quiet /norestart", "\xe5\x89\x8a\xe9\x99\xa4: "}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;  // 実行, 削除
    }
}

TEST_F(WineUnattended, ExtractOnlyRunsNothing) {
    std::string exe = PackInstaller("unattended-extract", kUnattended);
    std::string out = root_ + "/out";
    RunResult run = Run(exe, Plan("-n -x " + WindowsPath(out) + LogArgument()));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadAll(out + "/data.txt"), "data");
    EXPECT_TRUE(fs::exists(out + "/sample-installer.exe"));
    EXPECT_FALSE(fs::exists(root_ + "/installer.log")) << "nothing is run";
    EXPECT_EQ(TemporaryFolders(), before_);
    EXPECT_NE(Log().find(WindowsPath(out)), std::string::npos) << Log();
}

TEST_F(WineUnattended, TestOnlyFindsAFlippedByteAndWritesNothing) {
    std::string archive = support::BuildArchive({{"a.txt", '0', std::string(5000, 'a')}, {"b.txt", '0', "b"}});
    archive[2000] ^= 0x01;  // inside the data of a.txt
    std::string exe = PackInstaller("unattended-test", kUnattended, archive);
    RunResult run = Run(exe, Plan("-t -s" + LogArgument()));
    EXPECT_EQ(run.exitCode, 1603u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(TemporaryFolders(), before_) << "nothing written";
    std::string log = Log();
    EXPECT_NE(log.find("\xe6\x9b\xb8\xe5\xba\xab\xe3\x81\x8c\xe5\xa3\x8a\xe3\x82\x8c\xe3\x81\xa6"), std::string::npos)
        << log;  // 書庫が壊れて...: the text its box would show
    EXPECT_NE(log.find("1603"), std::string::npos) << log;
}

TEST_F(WineUnattended, TheAnswerNoAndAWindowNotPermitted) {
    std::string asking = PackInstaller("unattended-no", kUnattended);
    RunResult no = Run(asking, Plan(LogArgument().substr(1), {"no"}));
    EXPECT_EQ(no.exitCode, 1602u);
    EXPECT_NE(Log().find("1602"), std::string::npos) << Log();
    std::string elsewhere = PackInstaller("unattended-os", kUnattended + " --no-confirm --os win95");
    RunResult refused = Run(elsewhere, Plan("-s"));
    EXPECT_EQ(refused.exitCode, 1633u);
    EXPECT_TRUE(refused.boxes.empty());
    EXPECT_FALSE(fs::exists(root_ + "/installer.log"));
}

// A package without the new flags reads its one switch as it always did:
// "-s" changes nothing, the rest of the line is the temporary base folder,
// and the exit code is 1 or 0.
TEST_F(WineUnattended, ClassicPackagesBehaveAsBefore) {
    std::string exe = PackInstaller("unattended-classic", "--no-confirm");
    RunResult run = Run(exe, Plan("-s -- /quiet"));
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_FALSE(run.boxes.empty());
    EXPECT_EQ(run.boxes.back().text, "\"-- /quiet\\valkrin.000\" " + expected::kWriteError);
    EXPECT_FALSE(fs::exists(root_ + "/installer.log"));

    RunResult plain = Run(exe, Plan("-s"));
    EXPECT_EQ(plain.exitCode, 1u);
    std::string installed = ReadAll(root_ + "/installer.log");
    EXPECT_NE(installed.find("--exit 3010\r\n"), std::string::npos) << installed;
}

}  // namespace
}  // namespace e2e
