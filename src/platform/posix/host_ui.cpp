// Host implementations of the user-interface calls. In test mode every box
// is logged and answered by script, and the progress dialog is a model that
// records what its controls show and delivers scripted cancels through the
// same message path as on Windows (Cancel, Esc, closing, session end). In
// console mode (valkrin-host) boxes and progress print to stderr and the
// question is answered from standard input.
#include <stdio.h>

#include <deque>
#include <string>

#include "platform/posix/host_state.h"

using host::Current;

struct HostIcon {};

namespace {

std::deque<MSG> g_queue;
HostWindow* g_dialog = nullptr;
HostIcon g_icon;

void Say(const std::string& line) {
    if (Current().interactive) fprintf(stderr, "%s\n", host::ToUtf8(line).c_str());
}

int AskOnTerminal(const std::string& text, const std::string& caption, UINT type) {
    fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    if ((type & 0x0F) != MB_YESNO) return IDOK;
    fprintf(stderr, "(y/n) ");
    char answer[16] = "";
    if (fgets(answer, sizeof answer, stdin) == nullptr) return IDYES;
    return answer[0] == 'n' || answer[0] == 'N' ? IDNO : IDYES;
}

void QueueCancel(HWND window) {
    MSG message{};
    message.hwnd = window;
    switch (Current().cancelHow) {
        case host::CancelBy::Button:
            message.message = WM_COMMAND;
            message.wParam = IDCANCEL;
            break;
        case host::CancelBy::Escape:
            message.message = WM_KEYDOWN;
            message.wParam = VK_ESCAPE;
            break;
        case host::CancelBy::Close:
            message.message = WM_CLOSE;
            break;
        case host::CancelBy::EndSession:
            message.message = WM_QUERYENDSESSION;
            break;
    }
    g_queue.push_back(message);
}

LRESULT CallDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || window->proc == nullptr) return 0;
    return window->proc(window, message, wParam, lParam);
}

}  // namespace

namespace host {

const ProgressRecord& Progress() { return Current().progress; }

void CancelOnPump(int nth, CancelBy how) {
    Current().cancelPumpCountdown = nth;
    Current().cancelHow = how;
}

void CancelWhenName(const std::string& name, CancelBy how) {
    Current().cancelName = name;
    Current().cancelArmedByName = true;
    Current().cancelHow = how;
}

void FailDialogCreation() { Current().dialogFails = true; }

int PumpCount() { return Current().pumps; }

}  // namespace host

// Logs a box (the texts as shown, and in UTF-8) and answers it.
static int ShowBox(host::BoxRecord record) {
    host::State& s = Current();
    s.boxes.push_back(record);
    if (s.interactive) return AskOnTerminal(record.utf8Text, record.utf8Caption, record.flags);
    if (!s.boxAnswers.empty()) {
        int answer = s.boxAnswers.front();
        s.boxAnswers.erase(s.boxAnswers.begin());
        return answer;
    }
    return (record.flags & 0x0F) == MB_YESNO ? IDYES : IDOK;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    return ShowBox(host::BoxRecord{text, caption, type, owner, false, host::Utf8FromAnsi(text),
                                   host::Utf8FromAnsi(caption)});
}

int WINAPI HostMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::string utf8Text = host::Utf8FromWide(text), utf8Caption = host::Utf8FromWide(caption);
    return ShowBox(host::BoxRecord{host::ToAnsi(utf8Text), host::ToAnsi(utf8Caption), type, owner, true,
                                   utf8Text, utf8Caption});
}

void WINAPI InitCommonControls(void) {}

HWND WINAPI HostCreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM init) {
    Current().progress.wide = true;
    return CreateDialogParamA(instance, reinterpret_cast<LPCSTR>(name), owner, proc, init);
}

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR, HWND, DLGPROC proc, LPARAM init) {
    if (Current().dialogFails) return nullptr;
    g_queue.clear();
    g_dialog = new HostWindow;
    g_dialog->proc = proc;
    bool wide = Current().progress.wide;
    Current().progress = host::ProgressRecord();
    Current().progress.created = true;
    Current().progress.wide = wide;
    proc(g_dialog, WM_INITDIALOG, 0, init);
    return g_dialog;
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (window == nullptr) return FALSE;
    Current().progress.destroyed = true;
    if (window == g_dialog) g_dialog = nullptr;
    delete window;
    g_queue.clear();
    return TRUE;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    if (index != DWLP_USER) return 0;
    LONG_PTR old = window->user;
    window->user = value;
    return old;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    return index == DWLP_USER ? window->user : 0;
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) { return &g_icon; }
BOOL WINAPI DestroyIcon(HICON) { return TRUE; }

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETICON) {
        if (wParam == ICON_BIG) Current().progress.bigIconSet = true;
        return 0;
    }
    return CallDialog(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG posted{};
    posted.hwnd = window;
    posted.message = message;
    posted.wParam = wParam;
    posted.lParam = lParam;
    g_queue.push_back(posted);
    return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND, LPCSTR text) {
    Current().progress.caption = text;
    return TRUE;
}

BOOL WINAPI HostSetWindowTextW(HWND window, LPCWSTR text) {
    return SetWindowTextA(window, host::ToAnsi(host::Utf8FromWide(text)).c_str());
}

int WINAPI GetSystemMetrics(int index) { return index == SM_CXSCREEN ? 1024 : 768; }

BOOL WINAPI GetWindowRect(HWND, LPRECT rect) {
    *rect = RECT{0, 0, 287, 143};
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND, int x, int y, int, int, BOOL) {
    Current().progress.x = x;
    Current().progress.y = y;
    return TRUE;
}

BOOL WINAPI IsIconic(HWND) { return Current().progress.iconic ? TRUE : FALSE; }

HDC WINAPI BeginPaint(HWND, LPPAINTSTRUCT paint) {
    *paint = PAINTSTRUCT{};
    return nullptr;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }
BOOL WINAPI DrawIcon(HDC, int, int, HICON) { return TRUE; }
int WINAPI GetMapMode(HDC) { return MM_TEXT; }
int WINAPI SetMapMode(HDC, int) { return MM_TEXT; }

BOOL WINAPI HostSetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    std::string utf8 = host::Utf8FromWide(text);
    if (id == IDC_NAME) host::Record(Current().progress.utf8Names, utf8);
    return SetDlgItemTextA(dialog, id, host::ToAnsi(utf8).c_str());
}

BOOL WINAPI SetDlgItemTextA(HWND, int id, LPCSTR text) {
    host::ProgressRecord& p = Current().progress;
    if (id == IDC_LABEL) {
        p.label = text;
        p.labels.push_back(text);
    } else if (id == IDC_NAME) {
        p.name = text;
        host::Record(p.names, text);
        Say(p.label + " " + p.name);
        if (Current().cancelArmedByName && p.name == Current().cancelName) {
            Current().cancelArmedByName = false;
            QueueCancel(g_dialog);
        }
    }
    return TRUE;
}

LRESULT WINAPI SendDlgItemMessageA(HWND, int id, UINT message, WPARAM wParam, LPARAM) {
    if (id == IDC_PROGRESS && message == PBM_SETPOS) {
        host::ProgressRecord& p = Current().progress;
        int old = p.percent;
        p.percent = static_cast<int>(wParam);
        host::Record(p.percents, p.percent);
        if (p.percent / 10 != old / 10) Say(std::to_string(p.percent) + "%");
        return old;
    }
    return 0;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT) {
    if (g_queue.empty()) {
        ++Current().pumps;
        if (Current().cancelPumpCountdown > 0 && --Current().cancelPumpCountdown == 0) {
            QueueCancel(g_dialog);
        }
    }
    if (g_queue.empty()) return FALSE;
    *msg = g_queue.front();
    g_queue.pop_front();
    return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (dialog == nullptr || msg->hwnd != dialog) return FALSE;
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) {
        // Esc, and Enter on the default push button, both press Cancel.
        CallDialog(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    DispatchMessageA(msg);
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    LRESULT result = CallDialog(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    // The standard dialog processing turns an unhandled close into Cancel.
    if (msg->message == WM_CLOSE && result == 0) CallDialog(msg->hwnd, WM_COMMAND, IDCANCEL, 0);
    return result;
}

BOOL WINAPI CloseWindow(HWND) {
    ++Current().progress.minimizeCount;
    Current().progress.iconic = true;
    return TRUE;
}

BOOL WINAPI OpenIcon(HWND) {
    ++Current().progress.restoreCount;
    Current().progress.iconic = false;
    return TRUE;
}
