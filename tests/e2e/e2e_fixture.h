// Shared pieces of the end-to-end tests: packing the real stub into a named
// test file, and the texts expected in the boxes, as code page 932 bytes.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/expected_texts.h"
#include "wine_session.h"

namespace e2e {

extern std::string g_sessionError;

// テスト製品 in code page 932: a title with double-byte characters.
inline const std::string kTitleUtf8 = "テスト製品";
inline const std::string kTitleSjis = "\x83\x65\x83\x58\x83\x67\x90\xBB\x95\x69";

// The question for `title`, as start-up composes it.
inline std::string Question(const std::string& title) {
    std::string q = expected::kConfirm;
    return q.replace(q.find("%s"), 2, title);
}
inline std::string FolderQuestion(const std::string& title, const std::string& destination) {
    return Question(title) + "\r\n\r\n" + expected::kDestination + destination;
}

inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string ReadAll(const std::string& path);
// Writes a file, creating its folders.
void WriteAll(const std::string& path, const std::string& bytes);
// The Wine prefix's temporary folders of ours that are there now.
std::set<std::string> TemporaryFolders();
// The host path of the Wine user's %TEMP%, where temporary mode makes its
// numbered folders; empty when the prefix has none.
std::string TempFolder();
// Every file and folder below `root` (UTF-8 names, as Wine writes them),
// with the contents of the files; empty when there is no such folder.
std::map<std::string, std::string> Snapshot(const std::string& root);

// Every test that runs the stub under Wine.
class WineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!WhyWineCannotRun().empty()) GTEST_SKIP() << WhyWineCannotRun();
        ASSERT_TRUE(g_sessionError.empty()) << g_sessionError;
    }

    // Packs the stub into WorkDir()/NAME.exe with valkrin-pack `options`
    // (shell-quoted) and `archive` (default: a one-byte, empty LZH archive).
    std::string Pack(const std::string& name, const std::string& options,
                     const std::string& archive = std::string(1, '\0'));

    // Changes the bytes of a packed file at `offset`.
    void Patch(const std::string& path, size_t offset, const std::string& bytes);

    // Runs a packed file; fails the test when the run could not be made.
    RunResult Run(const std::string& path, RunOptions plan);
};

// A Wine test with a fresh folder of its own, root_, named after the test.
class WineFolderTest : public WineTest {
protected:
    void SetUp() override;
    std::string root_;
};

// The box of a refused start: the text alone, no owner, error icon, OK.
void ExpectRefusal(const RunResult& run, const std::string& text, const std::string& caption);

}  // namespace e2e
