#include "ui/texts.h"

#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "ui/run_log.h"

static WCHAR g_loadedText[LOADED_TEXT_SIZE];

const WCHAR* LoadText(UINT id) {
    LoadStringText(g_run.instance, id, g_loadedText, LOADED_TEXT_SIZE);
    return g_loadedText;
}

int ShowTextBox(HWND owner, const WCHAR* text, const WCHAR* caption, UINT flags) {
    LogLine(0, text);
    if (g_run.silent) return IDOK;
    return ShowMessageBox(owner, text, caption, flags);
}

void ShowSubjectBox(HWND owner, UINT messageId, const WCHAR* subject, const WCHAR* caption) {
    // "\"%s\" %s": the subject in quotes, one blank, the message; cut at the
    // buffer's 1024 units as wsprintf cuts.
    g_textBuffer[0] = '"';
    g_textBuffer[1] = 0;
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, subject);
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, WIDE("\" "));
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, LoadText(messageId));
    ShowTextBox(owner, g_textBuffer, caption, MB_OK | MB_ICONERROR);
}

void ErrorBox(UINT messageId, const WCHAR* subject) {
    ShowSubjectBox(g_run.progressWindow, messageId, subject, g_run.title);
}

void PlainErrorBox(UINT messageId, const WCHAR* caption, HWND owner) {
    ShowTextBox(owner, LoadText(messageId), caption, MB_OK | MB_ICONERROR);
}
