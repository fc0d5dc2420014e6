#include "install/install_command.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/wide_names.h"
#include "format/command_line.h"
#include "install/path_variables.h"
#include "install/wide_install.h"
#include "res/resource.h"
#include "startup/dll_safety.h"
#include "startup/install_config.h"
#include "ui/progress.h"
#include "ui/progress_window.h"
#include "ui/texts.h"

namespace {

// folder + one backslash + name; false when it does not fit.
bool JoinExtractedName(char* dest, uint32_t capacity, const char* folder, const char* name) {
    if (!TextCopy(dest, capacity, folder)) return false;
    AppendBackslash(dest, capacity);
    return TextAppend(dest, capacity, name);
}

// One cycle of a wait: pump the window's messages; true once cancelled.
bool PumpAndCheckCancel() {
    PumpMessages(g_run.progressWindow);
    return g_run.cancelFlag != 0;
}

// Sleeps graceSeconds (in 50 ms cycles, pumping in between). False when the
// user cancelled.
bool GraceWait() {
    uint32_t cycles = g_config.graceSeconds * (1000 / WAIT_CYCLE_MS);
    for (uint32_t i = 0; i < cycles; ++i) {
        Sleep(WAIT_CYCLE_MS);
        if (PumpAndCheckCancel()) return false;
    }
    return true;
}

// Waits until no top-level window of the class is left, then the grace time
// again.
void ClassWait() {
    WindowSearch search{g_config.windowClass, 0};
    for (;;) {
        if (PumpAndCheckCancel()) return;
        search.found = 0;
        EnumWindows(MatchWindowClass, reinterpret_cast<LPARAM>(&search));
        if (search.found == 0) break;
        Sleep(WAIT_CYCLE_MS);
    }
    GraceWait();
}

typedef BOOL(WINAPI* ShellExecuteExFn)(SHELLEXECUTEINFOA*);

// Starts `command` again through the shell with the verb "runas", which
// asks for an administrator's rights: for an installer whose own manifest
// demands them, which CreateProcessA cannot start from a process that lacks
// them. The program and its arguments are split as for a bare program; the
// working folder is the extraction folder. shell32 is loaded here from the
// system folder, so the stub starts on Windows that never needs it. False
// when the shell cannot start it (the user declined, ShellExecuteExA is
// missing, any other failure); `process` may be null after a start when the
// shell gives no process to wait for.
bool StartElevated(HANDLE* process) {
    HMODULE shell = LoadSystemLibrary("shell32.dll");
    if (shell == nullptr) return false;
    auto execute = reinterpret_cast<ShellExecuteExFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExA")));
    if (execute == nullptr) return false;
    lzh_format::ProgramSpan span =
        lzh_format::FindProgram(g_config.command, lzh_format::NameEnd::BlankOrTab);
    const char* token = g_config.command + span.begin;
    const char* rest = g_config.command + span.after;
    uint32_t length = span.length;
    char program[PATH_SIZE];
    if (length >= sizeof program) return false;
    MemCopy(program, token, length);
    program[length] = 0;
    while (*rest == ' ' || *rest == '\t') ++rest;
    SHELLEXECUTEINFOA info;
    MemFill(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    // The process handle is kept for the wait; the shell shows no error box
    // of its own, since the launch failure is shown once, by the caller.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "runas";
    info.lpFile = program;
    info.lpParameters = *rest != 0 ? rest : nullptr;
    info.lpDirectory = g_run.extractionFolder;
    info.nShow = SW_SHOW;
    if (!execute(&info)) return false;
    *process = info.hProcess;
    return true;
}

// Starts the installer; its process handle goes to `process` (null when
// there is none to wait for). An installer that needs an administrator's
// rights (ERROR_ELEVATION_REQUIRED) is started through the shell instead.
bool StartInstaller(HANDLE* process) {
    STARTUPINFOA startup;
    MemFill(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    DWORD flags = (GetVersion() & 0x80000000u) == 0 ? CREATE_SEPARATE_WOW_VDM : 0;
    PROCESS_INFORMATION created;
    MemFill(&created, 0, sizeof created);
    DropCurrentFolderFromDllSearch(false);
    BOOL started = UsesWideNames()
                       ? StartWideInstaller(g_run.extractionFolder, flags, &created)
                       : CreateProcessA(nullptr, g_config.command, nullptr, nullptr, FALSE, flags,
                                        nullptr, g_run.extractionFolder, &startup, &created);
    DWORD error = GetLastError();  // before the search is restricted again
    DropCurrentFolderFromDllSearch(true);
    if (started != 0) {
        CloseHandle(created.hThread);
        *process = created.hProcess;
        return true;
    }
    return error == ERROR_ELEVATION_REQUIRED && StartElevated(process);
}

// Waits until the installer's process has ended, pumping the window every
// cycle, and closes its handle. True when the user cancelled first.
bool AwaitProcess(HANDLE process) {
    WaitForInputIdle(process, INFINITE);
    bool cancelled = false;
    for (;;) {
        if (PumpAndCheckCancel()) {
            cancelled = true;
            break;
        }
        if (WaitForSingleObject(process, WAIT_CYCLE_MS) != WAIT_TIMEOUT) break;
    }
    CloseHandle(process);
    return cancelled;
}

bool HasFolderPart(const char* token, uint32_t length) {
    for (const char* p = token; p < token + length; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/' || *p == ':') return true;
    }
    return false;
}

bool HasExtension(const char* token, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (token[i] == '.') return true;
    }
    return false;
}

bool IsFileIn(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ResolveBareProgram(char* command, uint32_t capacity, const char* folder) {
    lzh_format::ProgramSpan span = lzh_format::FindProgram(command, lzh_format::NameEnd::BlankOrTab);
    const char* token = command + span.begin;
    const char* rest = command + span.after;
    uint32_t length = span.length;
    if (length == 0 || HasFolderPart(token, length)) return true;
    char program[OUTPUT_PATH_SIZE];
    char name[OUTPUT_PATH_SIZE];
    MemCopy(name, token, length);
    name[length] = 0;
    if (!JoinExtractedName(program, sizeof program, folder, name)) return true;
    if (!IsFileIn(program)) {
        if (HasExtension(name, length) || !TextAppend(program, sizeof program, ".exe") ||
            !IsFileIn(program)) {
            return true;  // not ours: Windows searches as usual
        }
    }
    char rewritten[TEXT_BUFFER_SIZE];
    rewritten[0] = '"';
    rewritten[1] = 0;
    bool fits = TextAppend(rewritten, sizeof rewritten, program) &&
                TextAppend(rewritten, sizeof rewritten, "\"") &&
                TextAppend(rewritten, sizeof rewritten, rest);
    if (!fits || TextLength(rewritten) >= capacity) return false;
    TextCopy(command, capacity, rewritten);
    return true;
}

BOOL CALLBACK MatchWindowClass(HWND window, LPARAM record) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(record);
    // Room for a name as long as the configured one can be, and one more
    // byte: a longer name is cut, and then differs.
    char className[sizeof InstallConfig::windowClass];
    if (GetClassNameA(window, className, sizeof className) == 0) return TRUE;
    if (lstrcmpA(className, search->className) != 0) return TRUE;
    search->found = 1;
    return FALSE;
}

bool RunInstallCommand() {
    bool wide = UsesWideNames();
    if (wide && !PrepareWideCommand(g_config.command, g_run.extractionFolder)) return false;
    ExpandPathVariables(g_config.command, g_textBuffer, TEXT_BUFFER_SIZE, g_run.extractionFolder);
    TextCopy(g_config.command, sizeof g_config.command, g_textBuffer);
    if (!ResolveBareProgram(g_config.command, sizeof g_config.command, g_run.extractionFolder)) {
        return false;
    }
    SendWindowCommand(CMD_SET_LABEL, reinterpret_cast<LPARAM>(LoadText(IDS_WATCHING)));
    if (wide) {
        ShowWideName(WideCommand());
    } else {
        SendWindowCommand(CMD_SET_NAME, reinterpret_cast<LPARAM>(g_config.command));
    }

    char savedDirectory[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, savedDirectory);
    SetCurrentDirectoryA(g_run.extractionFolder);
    HANDLE process = nullptr;
    if (!StartInstaller(&process)) {
        SetCurrentDirectoryA(savedDirectory);
        return false;
    }
    bool cancelled = process != nullptr && AwaitProcess(process);
    SetCurrentDirectoryA(savedDirectory);
    if (cancelled || !GraceWait()) return true;  // the installer is left running
    if ((g_config.flags & CFG_WAIT_FOR_CLASS) != 0) ClassWait();
    return true;
}

void RemoveFolderTree(char* path, uint32_t capacity) {
    if (UsesWideNames()) {
        RemoveFolderTreeWide(path);
        return;
    }
    uint32_t length = TextLength(path);
    if (length == 0) return;
    AppendBackslash(path, capacity);
    if (!TextAppend(path, capacity, "*.*")) return;
    WIN32_FIND_DATAA found;
    HANDLE listing = FindFirstFileA(path, &found);
    if (listing == INVALID_HANDLE_VALUE) return;  // the folder and its contents stay
    do {
        const char* name = found.cFileName;
        if (TextEqual(name, ".") || TextEqual(name, "..")) continue;
        path[length] = 0;
        AppendBackslash(path, capacity);
        if (!TextAppend(path, capacity, name)) continue;  // beyond any usable path
        DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link: removed itself, its target left alone.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveDirectoryA(path);
            } else {
                DeleteFileA(path);
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveFolderTree(path, capacity);
        } else {
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path);
        }
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
    path[length] = 0;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path);
}
