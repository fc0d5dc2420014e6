#include "ui/progress.h"

#include "common/abort.h"
#include "common/run_state.h"
#include "common/system_calls.h"
#include "ui/progress_window.h"

uint32_t ProgressPercent(uint64_t done, uint64_t total) {
    if (total == 0) return 0;
    uint64_t percent = (done * 100) / total;
    return percent > 100 ? 100 : static_cast<uint32_t>(percent);
}

void ReportProgress(uint64_t done, uint64_t total) {
    // The bar is set when its position changes, at most every 50 ms but its
    // first and its last setting: it repaints for every setting (under Wine
    // about a millisecond each), and an entry writes many blocks a second.
    int percent = static_cast<int>(ProgressPercent(done, total));
    DWORD now = MillisecondsNow();
    bool due = g_run.shownPercent < 0 || percent == 100 || now - g_run.shownAt >= PROGRESS_INTERVAL_MS;
    if (percent != g_run.shownPercent && due) {
        SendWindowCommand(CMD_SET_PROGRESS, static_cast<LPARAM>(percent));
        g_run.shownPercent = percent;
        g_run.shownAt = now;
    }
    PumpMessages(g_run.progressWindow);
    if (g_run.cancelFlag != 0) AbortExtraction();
}
