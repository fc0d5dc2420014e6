// The progress percentage at its edges, and what the progress window does
// on the old shell (NT 3.51) and on the new one.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/run_state.h"
#include "support/test_support.h"
#include "ui/progress.h"
#include "ui/progress_window.h"

namespace {

TEST(ProgressPercent, EdgesOfTheRatio) {
    const uint64_t big = uint64_t{1} << 62;
    struct Case {
        const char* what;
        uint64_t done, total;
        uint32_t percent;
    } cases[] = {
        {"nothing to do", 0, 0, 0},
        {"done without a total", 5, 0, 0},
        {"half", 50, 100, 50},
        {"rounded down", 999, 1000, 99},
        {"all", 7, 7, 100},
        {"done beyond the total is held at 100", 150, 100, 100},
        {"over 4 GiB", 0x180000000ull, 0x200000000ull, 75},
        {"the product keeps its low 64 bits", big, big, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.what;
}

class ProgressWindowShell : public ::testing::Test {
protected:
    void SetUp() override { support::ResetRunState(); }
    void TearDown() override { DestroyWindow(window_); }
    void Open(DWORD version) {
        host::SetVersion(version, VER_PLATFORM_WIN32_NT, version & 0xFF, (version >> 8) & 0xFF);
        params_ = ProgressWindowParams{u"Sample", &g_run.cancelFlag, nullptr, 0};
        window_ = CreateProgressWindow(&params_);
        ASSERT_NE(window_, nullptr);
    }
    INT_PTR Send(UINT message) { return ProgressDialogProc(window_, message, 0, 0); }

    ProgressWindowParams params_;
    HWND window_ = nullptr;
};

TEST_F(ProgressWindowShell, OldShellDrawsItsOwnMinimisedIconAndNewShellLeavesItToTheSystem) {
    struct Case {
        const char* what;
        DWORD version;
        bool oldShell;
    } cases[] = {
        {"NT 3.51", 0x3303, true},
        {"NT 4.0", 0x0004, false},
    };
    for (const Case& c : cases) {
        host::Reset();
        Open(c.version);
        EXPECT_EQ(host::Progress().bigIconSet, !c.oldShell) << c.what;
        EXPECT_EQ(Send(WM_QUERYDRAGICON) != 0, c.oldShell) << c.what;
        EXPECT_EQ(Send(WM_ERASEBKGND), 0) << c.what;  // not minimised: the system paints
        CloseWindow(window_);                          // minimise
        EXPECT_EQ(Send(WM_ERASEBKGND), c.oldShell ? 1 : 0) << c.what;
        EXPECT_EQ(Send(WM_PAINT), 0) << c.what;
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

}  // namespace
