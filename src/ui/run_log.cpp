#include "ui/run_log.h"

#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "ui/texts.h"

void OpenRunLog(const WCHAR* path) {
    WCHAR expanded[PATH_SIZE];
    DWORD needed = ExpandEnvironment(path, expanded, PATH_SIZE);
    if (needed == 0 || needed > PATH_SIZE) TextCopy(expanded, PATH_SIZE, path);
    HANDLE file = OpenPath(expanded, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return;  // the run goes on without its log
    SetFilePointer(file, 0, nullptr, FILE_END);
    g_run.logFile = file;
}

void CloseRunLog() {
    if (g_run.logFile != nullptr) CloseHandle(g_run.logFile);
    g_run.logFile = nullptr;
}

// "YYYY-MM-DD hh:mm:ss " of now, in UTC.
static void AppendTime(WCHAR* line, uint32_t capacity) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    const WORD parts[] = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    for (int i = 0; i < 6; ++i) {
        WCHAR piece[8];
        FormatText(piece, 8, i == 0 ? WIDE("%04d") : WIDE("%02d"), nullptr, parts[i]);
        TextAppend(line, capacity, piece);
        const WCHAR separator[2] = {static_cast<WCHAR>("-- :: "[i]), 0};
        TextAppend(line, capacity, separator);
    }
}

static void WriteLine(const WCHAR* text) {
    if (g_run.logFile == nullptr) return;
    static WCHAR line[TEXT_BUFFER_SIZE + 64];
    line[0] = 0;
    AppendTime(line, TEXT_BUFFER_SIZE + 64);
    TextAppend(line, TEXT_BUFFER_SIZE + 64, text);
    TextAppend(line, TEXT_BUFFER_SIZE + 64, WIDE("\r\n"));
    static char bytes[4 * (TEXT_BUFFER_SIZE + 64)];
    uint32_t length = TextToUtf8(line, bytes, sizeof bytes);
    DWORD written = 0;
    WriteFile(g_run.logFile, bytes, length, &written, nullptr);
}

void LogLine(UINT labelId, const WCHAR* text) {
    if (g_run.logFile == nullptr) return;
    WCHAR line[TEXT_BUFFER_SIZE];
    line[0] = 0;
    if (labelId != 0) TextCopy(line, TEXT_BUFFER_SIZE, LoadText(labelId));
    if (text != nullptr) TextAppend(line, TEXT_BUFFER_SIZE, text);
    WriteLine(line);
}

void LogNumber(UINT formatId, int number) {
    if (g_run.logFile == nullptr) return;
    WCHAR line[LOADED_TEXT_SIZE + 16];
    FormatText(line, LOADED_TEXT_SIZE + 16, LoadText(formatId), nullptr, number);
    WriteLine(line);
}
