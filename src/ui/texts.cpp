#include "ui/texts.h"

#include "common/run_state.h"
#include "common/text.h"
#include "startup/install_config.h"

static char g_loadedText[LOADED_TEXT_SIZE];

const char* LoadText(UINT id) {
    g_loadedText[0] = 0;
    LoadStringA(g_run.instance, id, g_loadedText, LOADED_TEXT_SIZE);
    return g_loadedText;
}

void ErrorBox(UINT messageId, const char* subject) {
    // wsprintfA stops at 1024 bytes, the size of the buffer.
    wsprintfA(g_textBuffer, "\"%s\" %s", subject, LoadText(messageId));
    MessageBoxA(g_run.progressWindow, g_textBuffer, g_config.title, MB_OK | MB_ICONERROR);
}

void PlainErrorBox(UINT messageId, const char* caption, HWND owner) {
    MessageBoxA(owner, LoadText(messageId), caption, MB_OK | MB_ICONERROR);
}
