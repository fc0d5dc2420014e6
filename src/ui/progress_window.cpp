#include "ui/progress_window.h"

#include "common/run_state.h"
#include "common/system_calls.h"
#include "res/resource.h"
#include "ui/progress.h"

// Major versions below 4 have the old shell: no WM_SETICON, the minimised
// window paints its own icon.
static bool IsOldShell(const ProgressWindowParams* params) {
    return (params->windowsVersion & 0xFF) < 4;
}

HWND CreateProgressWindow(ProgressWindowParams* params) {
    // Made by the wide call on the NT family, the dialog is a Unicode
    // window: the texts set on it and its controls stay UTF-16.
    return CreateDialogWindow(g_run.instance, IDD_PROGRESS, ProgressDialogProc,
                              reinterpret_cast<LPARAM>(params));
}

static void CentreOnScreen(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    MoveWindow(window, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, FALSE);
}

static INT_PTR InitDialog(HWND window, ProgressWindowParams* params) {
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(params));
    params->icon = LoadIconA(g_run.instance, MAKEINTRESOURCEA(IDI_APP));
    params->windowsVersion = GetVersion();
    if (!IsOldShell(params)) {
        SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(params->icon));
    }
    SetWindowTitle(window, params->title);
    CentreOnScreen(window);
    return 1;  // the system puts the focus on Cancel
}

static void PaintMinimisedIcon(HWND window, const ProgressWindowParams* params) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    int mode = GetMapMode(dc);
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SetMapMode(dc, MM_TEXT);
    DrawIcon(dc, 0, 0, params->icon);
    SetMapMode(dc, mode);
    EndPaint(window, &paint);
}

static INT_PTR OnCommand(HWND window, ProgressWindowParams* params, WORD id, LPARAM lParam) {
    switch (id) {
        case IDCANCEL:
            *params->cancelFlag = 1;
            return 1;
        case CMD_SET_PROGRESS:
            SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
            return 0;
        case CMD_SET_NAME:
            SetItemText(window, IDC_NAME, reinterpret_cast<const WCHAR*>(lParam));
            return 0;
        case CMD_SET_LABEL:
            SetItemText(window, IDC_LABEL, reinterpret_cast<const WCHAR*>(lParam));
            return 0;
        default:
            return 0;
    }
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        return InitDialog(window, reinterpret_cast<ProgressWindowParams*>(lParam));
    }
    auto* params = reinterpret_cast<ProgressWindowParams*>(GetWindowLongPtrA(window, DWLP_USER));
    if (params == nullptr) return 0;
    switch (message) {
        case WM_COMMAND:
            return OnCommand(window, params, LOWORD(wParam), lParam);
        case WM_QUERYENDSESSION:
            *params->cancelFlag = 1;
            return 0;  // the standard processing lets the session end
        case WM_CLOSE:
            // The standard processing turns it into a press of Cancel.
            if (IsOldShell(params)) DestroyIcon(params->icon);
            return 0;
        case WM_PAINT:
            if (IsOldShell(params) && IsIconic(window)) PaintMinimisedIcon(window, params);
            return 0;
        case WM_ERASEBKGND:
            return IsOldShell(params) && IsIconic(window) ? 1 : 0;
        case WM_QUERYDRAGICON:
            return IsOldShell(params) ? reinterpret_cast<INT_PTR>(params->icon) : 0;
        default:
            return 0;
    }
}

void PumpMessages(HWND window) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (IsDialogMessageA(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void SendWindowCommand(WORD command, LPARAM value) {
    if (g_run.progressWindow == nullptr) return;
    SendMessageA(g_run.progressWindow, WM_COMMAND, MAKEWPARAM(command, 0), value);
}
