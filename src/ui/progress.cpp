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
    SendWindowCommand(CMD_SET_PROGRESS, static_cast<LPARAM>(ProgressPercent(done, total)));
    PumpMessages(g_run.progressWindow);
    if (g_run.cancelFlag != 0) AbortExtraction();
}
