// The log of a run (-l FILE): short lines appended in UTF-8 (on Windows 95
// to Me in the system's code page), each behind the time in UTC, for
// administrators who start packages with nobody in front of them.
#pragma once

#include "platform/win32.h"

// Opens (creates) the log and appends from its end; without a log every
// line below is dropped.
void OpenRunLog(const WCHAR* path);
void CloseRunLog();

// A line: the loaded text `labelId` (0: none) followed by `text` (may be null).
void LogLine(UINT labelId, const WCHAR* text);
// A line: the loaded text `formatId` with its %d replaced by `number`.
void LogNumber(UINT formatId, int number);
