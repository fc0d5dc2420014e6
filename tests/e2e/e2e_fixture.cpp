#include "e2e_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace e2e {

std::string g_sessionError;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> TemporaryFolders() {
    namespace fs = std::filesystem;
    std::set<std::string> found;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(SessionDir() + "/prefix/drive_c/users", ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it.depth() > 4) it.disable_recursion_pending();
        if (it->path().filename().string().rfind("valkrin.", 0) == 0) found.insert(it->path().string());
    }
    return found;
}

std::string TempFolder() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (const auto& user : fs::directory_iterator(SessionDir() + "/prefix/drive_c/users", ignored)) {
        if (user.path().filename() != "Public" && fs::is_directory(user.path() / "Temp")) {
            return (user.path() / "Temp").string();
        }
    }
    return "";
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    std::error_code missing;
    for (const auto& entry : fs::recursive_directory_iterator(root, missing)) {
        std::string relative = fs::relative(entry.path(), root).string();
        tree[relative] = entry.is_symlink()     ? "<link>"
                         : entry.is_directory() ? "<folder>"
                                                : ReadAll(entry.path().string());
    }
    return tree;
}

void WineFolderTest::SetUp() {
    WineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    root_ = WorkDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
}

std::string WineTest::Pack(const std::string& name, const std::string& options, const std::string& bytes) {
    std::string archive = WorkDir() + "/" + name + ".lzh";
    std::ofstream(archive, std::ios::binary) << bytes;
    std::string path = WorkDir() + "/" + name + ".exe";
    std::string output;
    int status = RunPackTool("-o " + Quote(path) + " " + options + " --stub " +
                                 Quote(WindowsBuildDir() + "/valkrin.exe") + " --archive " + Quote(archive),
                             &output);
    EXPECT_EQ(status, 0) << output;
    return path;
}

void WineTest::Patch(const std::string& path, size_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(bytes.data(), bytes.size());
    ASSERT_TRUE(file.good()) << path;
}

RunResult WineTest::Run(const std::string& path, RunOptions plan) {
    if (plan.windows.empty()) plan.windows = "winxp";  // the name may carry a version from an earlier run
    RunResult result = RunUnderWine(path, plan);
    EXPECT_EQ(result.failure, "");
    EXPECT_TRUE(result.ended) << path << " did not end by itself";
    return result;
}

void ExpectRefusal(const RunResult& run, const std::string& text, const std::string& caption) {
    ASSERT_EQ(run.boxes.size(), 1u);
    const Box& box = run.boxes[0];
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(box.buttons, std::vector<int>{1});  // IDOK
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
}

}  // namespace e2e
