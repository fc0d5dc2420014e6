// The UI driver of the end-to-end tests. It starts a program under test in
// the same Wine session, records every dialog and message box that program
// shows (class #32770) and answers them by script, then records the exit
// code:
//
//   ui-driver --record FILE [--windows VERSION] [--answer yes|no|ok|cancel|escape|close|none]...
//             [--delay MS] [--timeout SECONDS] [--pause FILE] [--tail HEX | --tail-utf8 HEX]
//             [--cwd FOLDER] [--env NAME=VALUE]... [--progress FILE] --run PROGRAM.exe
//
// Its arguments are read in UTF-16, so that PROGRAM and FOLDER may lie in
// folders that no code page spells; the program is started by the wide call.
//
// --windows sets Wine's per-application version for PROGRAM's file name.
// --answer is given once per expected box, in order; boxes beyond the script
// are answered OK, No or Cancel, whichever they offer (message boxes only;
// other dialogs are left alone). --pause FILE holds the created process
// before its first instruction: the driver writes FILE.ready and resumes the
// process once FILE.go exists, so that the caller can change the program's
// file in between (Wine, like Windows, refuses writes to a running image). --tail is the rest of the
// command line, hex-encoded so that quotes and blanks arrive as they are:
// bytes of the ANSI code page (--tail) or UTF-8 (--tail-utf8). --env sets a
// variable of the program's environment.
// --cwd starts PROGRAM in FOLDER; the driver itself stays where it was
// started, so that it loads nothing from there. --progress FILE hooks
// ui-driver-hook.dll (beside the driver) into the program's thread, which
// writes every change of the program's progress bar to FILE.
//
// The record, one block per box, texts as hex of their ANSI bytes (and, in
// the utf8 lines, of their UTF-8 bytes):
//   box / caption HEX / text HEX / utf8caption HEX / utf8text HEX /
//   owner none|HEX / icon KIND / buttons ID... /
//   item ID CLASS HEX (every child) / answer ID|none / end
// and a last line "exit CODE" or "timeout".
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

constexpr int MSGBOX_TEXT_ID = 0xFFFF;

struct Options {
    std::string record;
    std::string windowsVersion;
    std::vector<std::string> answers;
    DWORD delayMs = 300;
    DWORD timeoutSeconds = 30;
    std::string pause;
    std::string tail;
    bool tailUtf8 = false;
    std::vector<std::string> environment;
    std::string workingFolder;
    std::string progress;
    std::string program;
};

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

std::string Unhex(const char* text) {
    std::string out;
    for (size_t i = 0; text[i] != 0 && text[i + 1] != 0; i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        out += static_cast<char>(strtoul(pair, nullptr, 16));
    }
    return out;
}

std::string WindowText(HWND window) {
    char buffer[4096];
    // WM_GETTEXT is marshalled across processes; the text arrives in our
    // ANSI code page, which is the program's too.
    LRESULT length = SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring Wide(const std::string& utf8) {
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(units > 0 ? units : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], units);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

// The window's text in UTF-8, as a Unicode program reads it.
std::string WindowTextUtf8(HWND window) {
    wchar_t buffer[4096];
    LRESULT length = SendMessageW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0], reinterpret_cast<LPARAM>(buffer));
    buffer[length > 0 ? length : 0] = 0;
    return Utf8(buffer);
}

std::string ClassOf(HWND window) {
    char name[256] = {0};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Kind of icon in a message box: the icon control's pixels on the screen
// against the system icons drawn here on the dialog's background.
const char* IconKind(HWND box) {
    HWND control = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child)) {
            control = child;
        }
    }
    if (control == nullptr) return "none";
    RECT rect;
    GetWindowRect(control, &rect);
    const int size = GetSystemMetrics(SM_CXICON);
    HDC screen = GetDC(nullptr);
    HDC shot = CreateCompatibleDC(screen);
    HBITMAP shotBits = CreateCompatibleBitmap(screen, size, size);
    SelectObject(shot, shotBits);
    BitBlt(shot, 0, 0, size, size, screen, rect.left, rect.top, SRCCOPY);

    struct Candidate {
        LPCSTR id;
        const char* kind;
    } candidates[] = {{IDI_HAND, "error"}, {IDI_QUESTION, "question"},
                      {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"}};
    const char* best = "other";
    int bestDifferent = size * size / 4;  // more than a quarter off: none of them
    HDC drawn = CreateCompatibleDC(screen);
    HBITMAP drawnBits = CreateCompatibleBitmap(screen, size, size);
    SelectObject(drawn, drawnBits);
    for (const Candidate& c : candidates) {
        RECT all = {0, 0, size, size};
        FillRect(drawn, &all, GetSysColorBrush(COLOR_3DFACE));
        DrawIcon(drawn, 0, 0, LoadIconA(nullptr, c.id));
        int different = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                if (GetPixel(drawn, x, y) != GetPixel(shot, x, y)) ++different;
            }
        }
        if (different < bestDifferent) {
            bestDifferent = different;
            best = c.kind;
        }
    }
    DeleteDC(drawn);
    DeleteObject(drawnBits);
    DeleteDC(shot);
    DeleteObject(shotBits);
    ReleaseDC(nullptr, screen);
    return best;
}

struct Finder {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
    Finder* finder = reinterpret_cast<Finder*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == finder->processId && ClassOf(window) == "#32770" && IsWindowVisible(window)) {
        finder->found.push_back(window);
    }
    return TRUE;
}

int ButtonId(const std::string& answer) {
    if (answer == "yes") return IDYES;
    if (answer == "no") return IDNO;
    if (answer == "ok") return IDOK;
    if (answer == "cancel") return IDCANCEL;
    return 0;
}

class Recorder {
public:
    Recorder(const Options& options, FILE* out) : options_(options), out_(out) {}

    // Records and answers every dialog of the process that is new since the
    // last look.
    void Look(DWORD processId) {
        Finder finder = {processId, {}};
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&finder));
        // Top to bottom is newest first: an error box above its progress
        // window that came up in the same moment. Bottom to top records them
        // in the order they were made.
        for (auto it = finder.found.rbegin(); it != finder.found.rend(); ++it) {
            HWND box = *it;
            if (Seen(box)) continue;
            seen_.push_back(box);
            Handle(box);
        }
    }

private:
    bool Seen(HWND box) const {
        for (HWND s : seen_) {
            if (s == box) return true;
        }
        return false;
    }

    // A dialog is visible before its controls are: on a busy machine the
    // first look can come before them. Every dialog here has a button.
    static void WaitForButtons(HWND box) {
        for (int waited = 0; waited < 5000 && IsWindow(box); waited += 20) {
            for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
                if (ClassOf(child) == "Button" && IsWindowVisible(child)) return;
            }
            Sleep(20);
        }
    }

    void Handle(HWND box) {
        WaitForButtons(box);
        Sleep(options_.delayMs);  // let it paint, and answer like a person would
        RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(100);
        HWND textControl = GetDlgItem(box, MSGBOX_TEXT_ID);
        bool isMessageBox = textControl != nullptr;
        HWND owner = GetWindow(box, GW_OWNER);
        fprintf(out_, "box\ncaption %s\n", Hex(WindowText(box)).c_str());
        fprintf(out_, "text %s\n", isMessageBox ? Hex(WindowText(textControl)).c_str() : "-");
        fprintf(out_, "utf8caption %s\n", Hex(WindowTextUtf8(box)).c_str());
        fprintf(out_, "utf8text %s\n", isMessageBox ? Hex(WindowTextUtf8(textControl)).c_str() : "-");
        fprintf(out_, "owner %s\n", owner == nullptr ? "none" : Hex(WindowText(owner)).c_str());
        fprintf(out_, "icon %s\n", IconKind(box));
        std::vector<int> buttons;
        fprintf(out_, "buttons");
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) == "Button" && IsWindowVisible(child)) {
                buttons.push_back(GetDlgCtrlID(child));
                fprintf(out_, " %d", GetDlgCtrlID(child));
            }
        }
        fprintf(out_, "\n");
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            fprintf(out_, "item %d %s %s\n", GetDlgCtrlID(child), ClassOf(child).c_str(),
                    Hex(WindowText(child)).c_str());
        }
        int answer = 0;
        std::string scripted = next_ < options_.answers.size() ? options_.answers[next_] : "";
        if (scripted == "escape" || scripted == "close") {
            // Esc on the focused button, or the close box of the caption.
            ++next_;
            fprintf(out_, "answer %s\nend\n", scripted.c_str());
            fflush(out_);
            if (scripted == "escape") {
                HWND target = GetDlgItem(box, IDCANCEL);
                PostMessageA(target != nullptr ? target : box, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            } else {
                PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
            return;
        }
        if (next_ < options_.answers.size()) {
            answer = ButtonId(options_.answers[next_++]);
        } else if (isMessageBox) {
            for (int fallback : {IDOK, IDNO, IDCANCEL}) {
                for (int b : buttons) {
                    if (answer == 0 && b == fallback) answer = b;
                }
            }
        }
        if (answer != 0) {
            fprintf(out_, "answer %d\n", answer);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
        } else {
            fprintf(out_, "answer none\n");
        }
        fprintf(out_, "end\n");
        fflush(out_);
    }

    const Options& options_;
    FILE* out_;
    std::vector<HWND> seen_;
    size_t next_ = 0;
};

// Wine reads HKCU\Software\Wine\AppDefaults\NAME.exe\Version when a process
// starts, so setting it here before the start emulates that version.
bool SetWindowsVersion(const std::string& program, const std::string& version) {
    size_t slash = program.find_last_of("\\/");
    std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    std::string key = "Software\\Wine\\AppDefaults\\" + name;
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG result = RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                                 static_cast<DWORD>(version.size() + 1));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

// Announces the held process and waits (at most `seconds`) for the go.
bool HoldUntilGo(const std::string& pause, DWORD seconds) {
    FILE* ready = _wfopen(Wide(pause + ".ready").c_str(), L"w");
    if (ready == nullptr) return false;
    fclose(ready);
    std::wstring go = Wide(pause + ".go");
    for (DWORD waited = 0; waited < seconds * 1000; waited += 20) {
        if (GetFileAttributesW(go.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(20);
    }
    return false;
}

bool ParseOptions(int argc, const std::vector<std::string>& argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i].c_str();
        if (arg == "--record") options->record = value;
        else if (arg == "--windows") options->windowsVersion = value;
        else if (arg == "--answer") options->answers.push_back(value);
        else if (arg == "--delay") options->delayMs = strtoul(value, nullptr, 10);
        else if (arg == "--timeout") options->timeoutSeconds = strtoul(value, nullptr, 10);
        else if (arg == "--pause") options->pause = value;
        else if (arg == "--tail") options->tail = Unhex(value);
        else if (arg == "--tail-utf8") options->tail = Unhex(value), options->tailUtf8 = true;
        else if (arg == "--env") options->environment.push_back(value);
        else if (arg == "--cwd") options->workingFolder = value;
        else if (arg == "--progress") options->progress = value;
        else if (arg == "--run") options->program = value;
        else return false;
    }
    return !options->record.empty() && !options->program.empty();
}

// Hooks the progress recorder into the created, still held `thread`; the
// program inherits the variable that names the recorder's file.
HHOOK HookProgress(DWORD thread) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dll(path, length);
    dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "ui-driver-hook.dll";
    HMODULE module = LoadLibraryA(dll.c_str());
    HOOKPROC hook = module != nullptr ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(module, "ProgressHook"))) : nullptr;
    if (hook == nullptr) return nullptr;
    return SetWindowsHookExA(WH_CALLWNDPROCRET, hook, module, thread);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** wideArgv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> argv;
    for (int i = 0; i < argc; ++i) argv.push_back(Utf8(wideArgv[i]));
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr, "usage: ui-driver --record FILE [--windows V] [--answer A]... [--delay MS]\n"
                        "                 [--timeout S] [--pause FILE] [--tail HEX | --tail-utf8 HEX] [--cwd FOLDER]\n"
                        "                 [--env NAME=VALUE]... [--progress FILE] --run PROGRAM\n");
        return 2;
    }
    FILE* out = _wfopen(Wide(options.record).c_str(), L"w");
    if (out == nullptr) {
        fprintf(stderr, "ui-driver: cannot write %s\n", options.record.c_str());
        return 2;
    }
    if (!options.windowsVersion.empty() && !SetWindowsVersion(options.program, options.windowsVersion)) {
        fprintf(stderr, "ui-driver: cannot set the Windows version\n");
        return 2;
    }
    std::wstring commandLine = L"\"" + Wide(options.program) + L"\"";
    if (!options.tail.empty()) {
        std::wstring tail;
        if (options.tailUtf8) {
            tail = Wide(options.tail);
        } else {
            int units = MultiByteToWideChar(CP_ACP, 0, options.tail.data(), static_cast<int>(options.tail.size()), nullptr, 0);
            tail.resize(units);
            MultiByteToWideChar(CP_ACP, 0, options.tail.data(), static_cast<int>(options.tail.size()), &tail[0], units);
        }
        commandLine += L" " + tail;
    }
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!options.progress.empty()) SetEnvironmentVariableA("VALKRIN_PROGRESS_RECORD", options.progress.c_str());
    for (const std::string& assignment : options.environment) {
        size_t equals = assignment.find('=');
        if (equals == std::string::npos) continue;
        SetEnvironmentVariableW(Wide(assignment.substr(0, equals)).c_str(), Wide(assignment.substr(equals + 1)).c_str());
    }
    std::wstring program = Wide(options.program), folder = Wide(options.workingFolder);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        options.workingFolder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        fprintf(stderr, "ui-driver: cannot start %s (error %lu)\n", options.program.c_str(), GetLastError());
        return 2;
    }
    HHOOK progressHook = nullptr;
    if (!options.progress.empty() && (progressHook = HookProgress(process.dwThreadId)) == nullptr) {
        fprintf(stderr, "ui-driver: cannot hook the progress recorder (error %lu)\n", GetLastError());
        TerminateProcess(process.hProcess, 99);
        return 2;
    }
    if (!options.pause.empty() && !HoldUntilGo(options.pause, options.timeoutSeconds)) {
        fprintf(stderr, "ui-driver: no go for the held process\n");
        TerminateProcess(process.hProcess, 99);
        return 2;
    }
    ResumeThread(process.hThread);

    Recorder recorder(options, out);
    DWORD deadline = GetTickCount() + options.timeoutSeconds * 1000;
    bool ended = false;
    while (!ended && GetTickCount() < deadline) {
        recorder.Look(process.dwProcessId);
        ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
    }
    if (!ended) {
        TerminateProcess(process.hProcess, 99);
        fprintf(out, "timeout\n");
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        fprintf(out, "exit %lu\n", code);
    }
    fclose(out);
    if (progressHook != nullptr) UnhookWindowsHookEx(progressHook);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
