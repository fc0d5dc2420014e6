#include "ui/progress.h"

#include "common/abort.h"
#include "common/run_state.h"
#include "ui/progress_window.h"

uint32_t ProgressPercent(uint64_t done, uint64_t total) {
    if (total == 0) return 0;
    uint64_t percent = (done * 100) / total;
    return percent > 100 ? 100 : static_cast<uint32_t>(percent);
}

void ReportProgress(uint64_t done, uint64_t total) {
    // The bar is set when its position changes: a window under Wine repaints
    // for every setting, and an entry writes a block many times a percent.
    int percent = static_cast<int>(ProgressPercent(done, total));
    if (percent != g_run.shownPercent) SendWindowCommand(CMD_SET_PROGRESS, static_cast<LPARAM>(percent));
    g_run.shownPercent = percent;
    PumpMessages(g_run.progressWindow);
    if (g_run.cancelFlag != 0) AbortExtraction();
}
