// The progress report and the message pump.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

// Private commands of the progress window (WM_COMMAND ids, sent synchronously).
constexpr WORD CMD_SET_PROGRESS = 1100;  // lParam: a percentage 0 to 100
constexpr WORD CMD_SET_NAME = 1101;      // lParam: the text of the name line
constexpr WORD CMD_SET_LABEL = 1102;     // lParam: the text of the label

// The least time between two settings of the bar in a pass.
constexpr DWORD PROGRESS_INTERVAL_MS = 50;

// Called by the output side after every block written in the extract pass:
// shows done/total as a percentage (when it changed, at most every 50 ms
// but its first and last), lets the window handle
// its messages, and raises AbortExtraction (showing nothing) once the user
// has cancelled.
void ReportProgress(uint64_t done, uint64_t total);

// The percentage of the bar: done * 100 / total (low 64 bits of the product),
// 0 when total is 0, at most 100.
uint32_t ProgressPercent(uint64_t done, uint64_t total);
