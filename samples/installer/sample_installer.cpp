// A small installer for demonstrations and end-to-end tests. It records how
// it was started (command line, working folder, the files beside it; also
// through the wide calls, in UTF-8) and can
// behave like real installers do: run for a while, keep a window of a given
// class open after its process has ended... or simply exit.
//
//   sample-installer.exe [--log FILE] [--sleep MS] [--window CLASS MS]
//                        [--spawn-window CLASS MS] [--exit CODE]
//                        [--hand-off MS NAME | --hand-off-runas MS NAME]
//                        [--hold PROGRAM NAME MS]
//
// --window opens a top-level window of CLASS for MS milliseconds before the
// process ends; --spawn-window starts a second copy of this program that
// keeps such a window open for MS milliseconds after this one has ended.
// --hand-off starts a copy of this program from its own folder and ends at
// once, as bootstrappers do (--hand-off-runas: through the shell with the
// verb "runas", as installers that restart elevated do); the copy waits MS
// milliseconds, then logs whether its folder and the file NAME beside it
// are still there. --hold starts PROGRAM (a copy kept outside the folder),
// which holds the file NAME of the working folder open, unshared, for MS
// milliseconds; this one ends once it does.
#include <stdarg.h>
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
    const char* handOffVerb = nullptr;  // "open" or "runas"
    DWORD handOffMs = 0;
    const char* handOffName = nullptr;
    DWORD handedMs = 0;  // this is the copy: wait, then look
    const char* handedName = nullptr;
    const char* holder = nullptr;
    const char* holdName = nullptr;
    DWORD holdMs = 0;
    const char* keepOpen = nullptr;  // this is the holder
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
        } else if ((strcmp(arg, "--hand-off") == 0 || strcmp(arg, "--hand-off-runas") == 0) && i + 2 < __argc) {
            options.handOffVerb = arg[10] == 0 ? "open" : "runas";
            options.handOffMs = strtoul(__argv[++i], nullptr, 10);
            options.handOffName = __argv[++i];
        } else if (strcmp(arg, "--handed") == 0 && i + 2 < __argc) {
            options.handedMs = strtoul(__argv[++i], nullptr, 10);
            options.handedName = __argv[++i];
        } else if (strcmp(arg, "--hold") == 0 && i + 3 < __argc) {
            options.holder = __argv[++i];
            options.holdName = __argv[++i];
            options.holdMs = strtoul(__argv[++i], nullptr, 10);
        } else if (strcmp(arg, "--keep-open") == 0 && i + 2 < __argc) {
            options.keepOpen = __argv[++i];
            options.holdMs = strtoul(__argv[++i], nullptr, 10);
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

// One line at the end of the log, when there is one.
void LogLine(const Options& options, const char* format, ...) {
    FILE* log = options.logPath != nullptr ? fopen(options.logPath, "ab") : nullptr;
    if (log == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    vfprintf(log, format, arguments);
    va_end(arguments);
    fprintf(log, "\r\n");
    fclose(log);
}

// Starts this program again, the log passed on, through the shell with the
// verb of the option, without waiting for it.
void HandOff(const Options& options) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char arguments[2 * MAX_PATH];
    snprintf(arguments, sizeof arguments, "--log \"%s\" --handed %lu %s", options.logPath,
             static_cast<unsigned long>(options.handOffMs), options.handOffName);
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.lpVerb = options.handOffVerb;
    info.lpFile = self;
    info.lpParameters = arguments;
    info.nShow = SW_SHOW;
    if (!ShellExecuteExA(&info)) LogLine(options, "hand-off through %s failed: error %lu", options.handOffVerb, GetLastError());
}

// The copy: after the wait, whether its folder and the file beside it are there.
void LookAfterHandOff(const Options& options) {
    WaitInMessageLoop(options.handedMs);
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    *strrchr(path, '\\') = 0;
    bool folder = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    LogLine(options, "after the hand-off: folder %s", folder ? "there" : "gone");
    strcat(path, "\\");
    strcat(path, options.handedName);
    bool file = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    LogLine(options, "after the hand-off: file %s", file ? "there" : "gone");
}

// Starts the holder of the file and waits until it holds it.
void StartHolder(const Options& options) {
    char file[MAX_PATH];
    GetFullPathNameA(options.holdName, MAX_PATH, file, nullptr);
    char commandLine[3 * MAX_PATH];
    snprintf(commandLine, sizeof commandLine, "\"%s\" --log \"%s\" --keep-open \"%s\" %lu", options.holder,
             options.logPath, file, static_cast<unsigned long>(options.holdMs));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        LogLine(options, "cannot start the holder %s: error %lu", options.holder, GetLastError());
        return;
    }
    WaitForInputIdle(process.hProcess, 10000);  // in its message loop, the file open
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void HoldOpen(const Options& options) {
    HANDLE file = CreateFileA(options.keepOpen, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LogLine(options, "holding %s: error %lu", options.keepOpen, file != INVALID_HANDLE_VALUE ? 0ul : GetLastError());
    WaitInMessageLoop(options.holdMs);
    CloseHandle(file);
    LogLine(options, "released %s", options.keepOpen);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Options options = ParseOptions();
    if (options.logPath != nullptr) WriteLog(options.logPath);
    if (options.spawnClass != nullptr) SpawnWindowKeeper(options.spawnClass, options.spawnMs);
    if (options.windowClass != nullptr) ShowWindowFor(options.windowClass, options.windowMs);
    if (options.sleepMs != 0) WaitInMessageLoop(options.sleepMs);
    if (options.handOffVerb != nullptr && options.logPath != nullptr) HandOff(options);
    if (options.handedName != nullptr) LookAfterHandOff(options);
    if (options.holder != nullptr && options.logPath != nullptr) StartHolder(options);
    if (options.keepOpen != nullptr) HoldOpen(options);
    return options.exitCode;
}
