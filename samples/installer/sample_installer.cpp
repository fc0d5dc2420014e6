// A small installer for demonstrations and end-to-end tests. It records how
// it was started (command line, working folder, the files beside it; also
// through the wide calls, in UTF-8) and can
// behave like real installers do: run for a while, keep a window of a given
// class open after its process has ended... or simply exit.
//
//   sample-installer.exe [--log FILE] [--sleep MS] [--window CLASS MS]
//                        [--spawn-window CLASS MS] [--exit CODE]
//
// --window opens a top-level window of CLASS for MS milliseconds before the
// process ends; --spawn-window starts a second copy of this program that
// keeps such a window open for MS milliseconds after this one has ended.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

struct Options {
    const char* logPath = nullptr;
    DWORD sleepMs = 0;
    const char* windowClass = nullptr;
    DWORD windowMs = 0;
    const char* spawnClass = nullptr;
    DWORD spawnMs = 0;
    int exitCode = 0;
};

Options ParseOptions() {
    Options options;
    for (int i = 1; i < __argc; ++i) {
        const char* arg = __argv[i];
        bool hasNext = i + 1 < __argc;
        if (strcmp(arg, "--log") == 0 && hasNext) {
            options.logPath = __argv[++i];
        } else if (strcmp(arg, "--sleep") == 0 && hasNext) {
            options.sleepMs = strtoul(__argv[++i], nullptr, 10);
        } else if (strcmp(arg, "--window") == 0 && i + 2 < __argc) {
            options.windowClass = __argv[++i];
            options.windowMs = strtoul(__argv[++i], nullptr, 10);
        } else if (strcmp(arg, "--spawn-window") == 0 && i + 2 < __argc) {
            options.spawnClass = __argv[++i];
            options.spawnMs = strtoul(__argv[++i], nullptr, 10);
        } else if (strcmp(arg, "--exit") == 0 && hasNext) {
            options.exitCode = atoi(__argv[++i]);
        }
    }
    return options;
}

void WriteLog(const char* path) {
    FILE* log = fopen(path, "ab");
    if (log == nullptr) return;
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    fprintf(log, "program: %s\r\ncommand line: %s\r\nworking folder: %s\r\n", self, GetCommandLineA(), folder);
    // The same through the wide calls, in UTF-8: folders no code page spells.
    wchar_t wide[MAX_PATH] = L"";
    char utf8[4 * MAX_PATH] = "";
    GetCurrentDirectoryW(MAX_PATH, wide);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    fprintf(log, "wide working folder: %s\r\n", utf8);
    GetModuleFileNameW(nullptr, wide, MAX_PATH);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    fprintf(log, "wide program: %s\r\n", utf8);
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, utf8, sizeof utf8, nullptr, nullptr);
    fprintf(log, "wide command line: %s\r\n", utf8);
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA("*", &found);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
            bool folderEntry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            fprintf(log, "  %s%s\r\n", found.cFileName, folderEntry ? "\\" : "");
        } while (FindNextFileA(listing, &found));
        FindClose(listing);
    }
    fprintf(log, "end\r\n");
    fclose(log);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void ShowWindowFor(const char* className, DWORD ms) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(className, "sample installer", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    SetTimer(window, 1, ms, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
}

// Waits like a windowed program does: in its message loop, so that it
// counts as idle (waiting for input) meanwhile.
void WaitInMessageLoop(DWORD ms) {
    UINT_PTR timer = SetTimer(nullptr, 0, ms, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.wParam == timer) break;
        DispatchMessageA(&message);
    }
    KillTimer(nullptr, timer);
}

// Starts a copy of this program that only keeps the window open.
void SpawnWindowKeeper(const char* className, DWORD ms) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char commandLine[2 * MAX_PATH];
    snprintf(commandLine, sizeof commandLine, "\"%s\" --window %s %lu", self, className,
             static_cast<unsigned long>(ms));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForInputIdle(process.hProcess, 5000);
        Sleep(300);  // the window exists before this process ends
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Options options = ParseOptions();
    if (options.logPath != nullptr) WriteLog(options.logPath);
    if (options.spawnClass != nullptr) SpawnWindowKeeper(options.spawnClass, options.spawnMs);
    if (options.windowClass != nullptr) ShowWindowFor(options.windowClass, options.windowMs);
    if (options.sleepMs != 0) WaitInMessageLoop(options.sleepMs);
    return options.exitCode;
}
