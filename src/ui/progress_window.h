// The progress window: a small modeless dialog with a label, a name line, a
// percentage bar and one Cancel button. It lives only through the message
// pump that the working code calls at fixed points; it never closes itself,
// it only sets the cancel flag.
#pragma once

#include "platform/win32.h"

// The creation record, attached to the dialog for its whole life.
struct ProgressWindowParams {
    const WCHAR* title;    // the window caption: the configured title
    int* cancelFlag;       // set to 1 by Cancel, Esc, closing, session end
    HICON icon;            // IDI_APP, loaded at WM_INITDIALOG
    DWORD windowsVersion;  // GetVersion; low byte below 4 means an old shell
};

// Creates the window (centred, visible) from IDD_PROGRESS; null on failure.
HWND CreateProgressWindow(ProgressWindowParams* params);

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Handles every message waiting in the thread's queue, then returns.
void PumpMessages(HWND window);

// Sends one of the private commands (CMD_SET_NAME, CMD_SET_LABEL with a
// text, a const WCHAR*; CMD_SET_PROGRESS with a percentage) to the window,
// if it exists.
void SendWindowCommand(WORD command, LPARAM value);
