// Every way out of start-up, for the real executable under Wine: the box
// (text bytes, caption, owner, icon, buttons) as the UI driver saw it, and
// the exit code.
#include <stdio.h>
#include <unistd.h>

#include "e2e_fixture.h"
#include "startup/install_config.h"

namespace e2e {
namespace {

const std::string kDefaultTitle = expected::kTitle;
constexpr int IDOK_ = 1, IDYES_ = 6, IDNO_ = 7;

// The question box as asked before any window exists.
void ExpectQuestion(const Box& box, const std::string& text, const std::string& caption) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(box.icon, "question");
    EXPECT_EQ(box.buttons, (std::vector<int>{IDYES_, IDNO_}));
}

// After Yes (or with the question switched off) start-up hands the run on:
// whatever the run shows later, no start-up refusal and no second question.
void ExpectHandedOn(const RunResult& run, size_t firstLater) {
    for (size_t i = firstLater; i < run.boxes.size(); ++i) {
        const std::string& text = run.boxes[i].text;
        EXPECT_NE(text, expected::kWrongWindows);
        EXPECT_NE(text, expected::kReadError);
        EXPECT_NE(text, expected::kNoCommand);
        EXPECT_EQ(text.find(Question("")), std::string::npos) << "asked twice";
    }
    EXPECT_TRUE(run.ended);
}

struct Version {
    const char* wine;  // Wine's name for the version
    const char* os;    // valkrin-pack's name of the permission bit that it needs
};

class WindowsVersions : public WineTest, public ::testing::WithParamInterface<Version> {};

// Allowed by its own bit alone, refused by a block with every other bit.
TEST_P(WindowsVersions, NeedTheirOwnPermissionBit) {
    const Version v = GetParam();
    std::string others;
    for (const char* os : {"win95", "win98", "winme", "nt351", "nt4", "win2000", "winxp"}) {
        if (std::string(os) != v.os) others += (others.empty() ? "" : ",") + std::string(os);
    }
    std::string only = Pack(std::string("os-only-") + v.wine, "--title " + Quote(kTitleUtf8) + " --run setup.exe --os " + v.os);
    RunResult allowed = Run(only, {v.wine, {"no"}});
    ASSERT_EQ(allowed.boxes.size(), 1u);
    ExpectQuestion(allowed.boxes[0], Question(kTitleSjis), kTitleSjis);
    EXPECT_EQ(allowed.exitCode, 0u);

    std::string without = Pack(std::string("os-without-") + v.wine,
                               "--title " + Quote(kTitleUtf8) + " --run setup.exe --os " + others);
    ExpectRefusal(Run(without, {v.wine, {}}), expected::kWrongWindows, kTitleSjis);
}

INSTANTIATE_TEST_SUITE_P(Wine, WindowsVersions,
                         ::testing::Values(Version{"win95", "win95"}, Version{"win98", "win98"},
                                           Version{"winme", "winme"}, Version{"nt351", "nt351"},
                                           Version{"nt40", "nt4"}, Version{"win2k", "win2000"},
                                           Version{"winxp", "winxp"}, Version{"win7", "winxp"},
                                           Version{"win10", "winxp"}),
                         [](const ::testing::TestParamInfo<Version>& info) { return std::string(info.param.wine); });

TEST_F(WineTest, TooOldWindowsIsRefusedBeforeTheBlockIsRead) {
    // Win32s on Windows 3.1 fails the minimum-version gate: default caption.
    std::string path = Pack("gate-win31", "--title " + Quote(kTitleUtf8) + " --run setup.exe");
    ExpectRefusal(Run(path, {"win31", {}}), expected::kWrongWindows, kDefaultTitle);
}

TEST_F(WineTest, ABlockWithoutPermissionBitsRunsNowhere) {
    std::string path = Pack("no-bits", "--title " + Quote(kTitleUtf8) + " --run setup.exe");
    Patch(path, CONFIG_FILE_OFFSET + offsetof(InstallConfig, flags), std::string(4, '\0'));
    ExpectRefusal(Run(path, {"winxp", {}}), expected::kWrongWindows, kTitleSjis);
}

TEST_F(WineTest, TruncatedFileGivesReadError) {
    std::string path = Pack("truncated", "--title " + Quote(kTitleUtf8) + " --run setup.exe");
    RunOptions plan{"winxp", {}};
    // Once the image is mapped, the file at its path is replaced by its
    // first 875 bytes, one short of the block's end. (Cutting the mapped file
    // itself would pull pages from under the loader.)
    plan.whileHeld = [&] {
        std::string head(875, '\0');
        FILE* in = fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(fread(&head[0], 1, head.size(), in), head.size());
        fclose(in);
        ASSERT_EQ(unlink(path.c_str()), 0);
        FILE* out = fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(fwrite(head.data(), 1, head.size(), out), head.size());
        ASSERT_EQ(fclose(out), 0);
    };
    ExpectRefusal(Run(path, plan), expected::kReadError, kDefaultTitle);
}

TEST_F(WineTest, NoCommandInTemporaryMode) {
    std::string path = Pack("no-command", "--title " + Quote(kTitleUtf8) + " --run setup.exe");
    Patch(path, CONFIG_FILE_OFFSET + offsetof(InstallConfig, command), std::string(1, '\0'));
    ExpectRefusal(Run(path, {"winxp", {}}), expected::kNoCommand, kTitleSjis);
}

TEST_F(WineTest, StartsWithABlockWrittenAndALargeArchiveAppended) {
    std::string archive(300000, '\0');
    for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>(i * 2654435761u >> 24);
    std::string path = Pack("large-archive", "--title " + Quote(kTitleUtf8) + " --run setup.exe", archive);
    RunResult run = Run(path, {"win98", {"no"}});
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], Question(kTitleSjis), kTitleSjis);  // the title came from the block
    EXPECT_EQ(run.exitCode, 0u);
}

TEST_F(WineTest, EmptyTitleBecomesTheDefaultTitle) {
    std::string path = Pack("default-title", "--run setup.exe");
    RunResult run = Run(path, {"winxp", {"no"}});
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], Question(kDefaultTitle), kDefaultTitle);
}

TEST_F(WineTest, AnswerNoEndsTheRunWithNothingElse) {
    std::string destination = WorkDir() + "/answer-no-destination";
    std::string path = Pack("answer-no", "--title " + Quote(kTitleUtf8) + " --folder " + Quote(WindowsPath(destination)));
    RunResult run = Run(path, {"winxp", {"no"}});
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], FolderQuestion(kTitleSjis, WindowsPath(destination)), kTitleSjis);
    EXPECT_EQ(run.boxes[0].answer, IDNO_);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(access(destination.c_str(), F_OK), 0) << "nothing is made after No";
}

TEST_F(WineTest, AnswerYesHandsTheRunOn) {
    std::string destination = WorkDir() + "/answer-yes-destination";
    std::string path = Pack("answer-yes", "--title " + Quote(kTitleUtf8) + " --folder " + Quote(WindowsPath(destination)));
    RunResult run = Run(path, {"winxp", {"yes"}});
    ASSERT_GE(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], FolderQuestion(kTitleSjis, WindowsPath(destination)), kTitleSjis);
    EXPECT_EQ(run.boxes[0].answer, IDYES_);
    ExpectHandedOn(run, 1);
}

TEST_F(WineTest, SwitchesOverrideTheBlock) {
    std::string asks = Pack("switch-asks", "--title " + Quote(kTitleUtf8) + " --run setup.exe --confirm");
    for (const char* off : {"-n", "/N", "-nx"}) {
        RunOptions plan{"winxp", {}};
        plan.arguments = off;
        RunResult run = Run(asks, plan);
        ExpectHandedOn(run, 0);  // no question at all
    }
    std::string silent = Pack("switch-silent", "--title " + Quote(kTitleUtf8) + " --run setup.exe --no-confirm");
    for (const char* on : {"-q", "/Q"}) {
        RunOptions plan{"winxp", {"no"}};
        plan.arguments = on;
        RunResult run = Run(silent, plan);
        ASSERT_EQ(run.boxes.size(), 1u) << on;
        ExpectQuestion(run.boxes[0], Question(kTitleSjis), kTitleSjis);
        EXPECT_EQ(run.exitCode, 0u);
    }
}

TEST_F(WineTest, FolderModeNamesTheDestination) {
    // Configured with quotes: shown without them.
    std::string quoted = Pack("folder-quoted", "--title " + Quote(kTitleUtf8) + " --folder '\"C:\\Program Files\\Valkrin Test\"'");
    RunResult run = Run(quoted, {"winxp", {"no"}});
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], FolderQuestion(kTitleSjis, "C:\\Program Files\\Valkrin Test"), kTitleSjis);

    // A folder on the command line replaces the configured one; -q asks.
    std::string configured = Pack("folder-argument", "--title " + Quote(kTitleUtf8) + " --folder 'C:\\Configured' --no-confirm");
    RunOptions plan{"winxp", {"no"}};
    plan.arguments = "-q \"D:\\Apps\\Shift \x95\x5C\"";  // a trail byte 0x5C inside the name
    run = Run(configured, plan);
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], FolderQuestion(kTitleSjis, "D:\\Apps\\Shift \x95\x5C"), kTitleSjis);

    // The extraction folder is not known yet: %ExtractDir% stays as written.
    std::string later = Pack("folder-extractdir", "--title " + Quote(kTitleUtf8) + " --folder '%ExtractDir%\\sub'");
    run = Run(later, {"winxp", {"no"}});
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], FolderQuestion(kTitleSjis, "%ExtractDir%\\sub"), kTitleSjis);

    // No folder at all: the current directory, where the run was started.
    std::string here = Pack("folder-current", "--title " + Quote(kTitleUtf8) + " --folder ''");
    run = Run(here, {"winxp", {"no"}});
    ASSERT_EQ(run.boxes.size(), 1u);
    ExpectQuestion(run.boxes[0], FolderQuestion(kTitleSjis, WindowsPath(WorkDir())), kTitleSjis);
}

}  // namespace
}  // namespace e2e
