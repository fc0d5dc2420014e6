// The UI driver's window of the progress bar: a DLL that the driver hooks
// into the program under test (WH_CALLWNDPROCRET on its thread). After every
// message that a progress bar of that program has handled and that moves it
// or sets its range, it appends the bar's state, when it has changed, to the
// file named by VALKRIN_PROGRESS_RECORD:
//
//   POSITION LOW HIGH
//
// The hook runs in the program's own thread, after the bar's own handling, so
// no step is missed, the last one before the window closes included. Polling
// from outside misses that one, and Wine's bar sends no value-change events.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

namespace {

int g_position = -1, g_low = -1, g_high = -1;

bool IsProgressBar(HWND window) {
    char name[32];
    return GetClassNameA(window, name, sizeof name) > 0 && lstrcmpiA(name, PROGRESS_CLASSA) == 0;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProgressHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    // PBM_SETRANGE, PBM_SETPOS, PBM_DELTAPOS, PBM_SETSTEP, PBM_STEPIT, PBM_SETRANGE32
    if (code == HC_ACTION && sent->message >= PBM_SETRANGE && sent->message <= PBM_SETRANGE32 &&
        IsProgressBar(sent->hwnd)) {
        int position = static_cast<int>(SendMessageA(sent->hwnd, PBM_GETPOS, 0, 0));
        int low = static_cast<int>(SendMessageA(sent->hwnd, PBM_GETRANGE, TRUE, 0));
        int high = static_cast<int>(SendMessageA(sent->hwnd, PBM_GETRANGE, FALSE, 0));
        char path[MAX_PATH];
        if (position != g_position || low != g_low || high != g_high) {
            g_position = position;
            g_low = low;
            g_high = high;
            DWORD length = GetEnvironmentVariableA("VALKRIN_PROGRESS_RECORD", path, sizeof path);
            FILE* out = length > 0 && length < sizeof path ? fopen(path, "a") : nullptr;
            if (out != nullptr) {
                fprintf(out, "%d %d %d\n", position, low, high);
                fclose(out);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
