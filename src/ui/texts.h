// Loaded texts and the error boxes.
#pragma once

#include "platform/win32.h"

// Units of the buffer that holds one loaded text.
constexpr int LOADED_TEXT_SIZE = 256;

// Loads string `id` of the executable into one shared 256-unit buffer and
// returns it; valid until the next load.
const WCHAR* LoadText(UINT id);

// Every box but the question: the text goes to the log (-l) and, unless the
// run is silent (-s), into a message box. Returns the answer, IDOK when
// silent.
int ShowTextBox(HWND owner, const WCHAR* text, const WCHAR* caption, UINT flags);

// Shows "\"subject\" message" with the error icon and one OK button,
// captioned with the configured title and owned by the progress window once
// it exists. Uses the shared text buffer.
void ErrorBox(UINT messageId, const WCHAR* subject);

// The box of ErrorBox with any owner and caption.
void ShowSubjectBox(HWND owner, UINT messageId, const WCHAR* subject, const WCHAR* caption);

// Shows text `messageId` alone (no subject) with the error icon and OK.
void PlainErrorBox(UINT messageId, const WCHAR* caption, HWND owner);
