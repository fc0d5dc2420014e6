// Loaded texts and the error boxes.
#pragma once

#include "platform/win32.h"

struct WideText;

// Bytes of the buffer that holds one loaded text.
constexpr int LOADED_TEXT_SIZE = 256;

// Loads string `id` of the executable into one shared 256-byte buffer and
// returns it; valid until the next load.
const char* LoadText(UINT id);

// Shows "\"subject\" message" with the error icon and one OK button,
// captioned with the configured title and owned by the progress window once
// it exists. Uses the shared text buffer.
void ErrorBox(UINT messageId, const char* subject);

// Where names go through the wide calls: shows a composed UTF-16 text in a
// box captioned `caption` (the configured title, Shift-JIS, or a loaded text).
int ShowBox(HWND owner, const WideText* text, const char* caption, UINT flags);

// The box of ErrorBox with any owner and caption.
void ShowSubjectBox(HWND owner, UINT messageId, const char* subject, const char* caption);

// Shows text `messageId` alone (no subject) with the error icon and OK.
void PlainErrorBox(UINT messageId, const char* caption, HWND owner);
