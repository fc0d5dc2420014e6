#include "ui/texts.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/wide_names.h"
#include "startup/install_config.h"

static char g_loadedText[LOADED_TEXT_SIZE];

const char* LoadText(UINT id) {
    g_loadedText[0] = 0;
    LoadStringA(g_run.instance, id, g_loadedText, LOADED_TEXT_SIZE);
    return g_loadedText;
}

// The configured title is Shift-JIS; every other caption is a loaded text.
static UINT CaptionCodePage(const char* caption) {
    return caption == g_config.title ? SHIFT_JIS_CODE_PAGE : CP_ACP;
}

int ShowBox(HWND owner, const WideText* text, const char* caption, UINT flags) {
    WideText wideCaption;
    WideBegin(&wideCaption);
    WideAppendText(&wideCaption, caption, CaptionCodePage(caption));
    return g_wide.messageBox(owner, text->text, wideCaption.text, flags);
}

void ShowSubjectBox(HWND owner, UINT messageId, const char* subject, const char* caption) {
    if (UsesWideNames()) {
        // The subject is a path: the output path holds a Shift-JIS name behind
        // the extraction folder; every other subject is the system's own text.
        uint32_t systemLength =
            subject == g_run.outputPath ? g_run.outputNameStart : TextLength(subject);
        WideText text;
        WideBegin(&text);
        WideAppendText(&text, "\"", CP_ACP);
        WideAppendPath(&text, subject, systemLength);
        WideAppendText(&text, "\" ", CP_ACP);
        WideAppendText(&text, LoadText(messageId), CP_ACP);
        ShowBox(owner, &text, caption, MB_OK | MB_ICONERROR);
        return;
    }
    // wsprintfA stops at 1024 bytes, the size of the buffer.
    wsprintfA(g_textBuffer, "\"%s\" %s", subject, LoadText(messageId));
    MessageBoxA(owner, g_textBuffer, caption, MB_OK | MB_ICONERROR);
}

void ErrorBox(UINT messageId, const char* subject) {
    ShowSubjectBox(g_run.progressWindow, messageId, subject, g_config.title);
}

void PlainErrorBox(UINT messageId, const char* caption, HWND owner) {
    if (UsesWideNames()) {
        WideText text;
        WideBegin(&text);
        WideAppendText(&text, LoadText(messageId), CP_ACP);
        ShowBox(owner, &text, caption, MB_OK | MB_ICONERROR);
        return;
    }
    MessageBoxA(owner, LoadText(messageId), caption, MB_OK | MB_ICONERROR);
}
