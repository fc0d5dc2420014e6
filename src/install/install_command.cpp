#include "install/install_command.h"

#include "common/run_state.h"
#include "common/text.h"
#include "install/path_variables.h"
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

bool StartInstaller(PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    MemFill(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    DWORD flags = (GetVersion() & 0x80000000u) == 0 ? CREATE_SEPARATE_WOW_VDM : 0;
    DropCurrentFolderFromDllSearch(false);
    BOOL started = CreateProcessA(nullptr, g_config.command, nullptr, nullptr, FALSE, flags,
                                  nullptr, g_run.extractionFolder, &startup, process);
    DropCurrentFolderFromDllSearch(true);
    return started != 0;
}

// The program token of a command line: quoted up to the closing quote, else
// up to the first blank or tab. Sets `rest` to what follows it.
uint32_t ProgramToken(const char* command, const char** start, const char** rest) {
    const char* p = command;
    if (*p == '"') {
        *start = ++p;
        while (*p != 0 && *p != '"') ++p;
        uint32_t length = static_cast<uint32_t>(p - *start);
        *rest = *p == '"' ? p + 1 : p;
        return length;
    }
    *start = p;
    while (*p != 0 && *p != ' ' && *p != '\t') ++p;
    *rest = p;
    return static_cast<uint32_t>(p - *start);
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
    const char* token;
    const char* rest;
    uint32_t length = ProgramToken(command, &token, &rest);
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
    char className[41];
    if (GetClassNameA(window, className, sizeof className) == 0) return TRUE;
    if (lstrcmpA(className, search->className) != 0) return TRUE;
    search->found = 1;
    return FALSE;
}

bool RunInstallCommand() {
    ExpandPathVariables(g_config.command, g_textBuffer, TEXT_BUFFER_SIZE, g_run.extractionFolder);
    TextCopy(g_config.command, sizeof g_config.command, g_textBuffer);
    if (!ResolveBareProgram(g_config.command, sizeof g_config.command, g_run.extractionFolder)) {
        return false;
    }
    SendWindowCommand(CMD_SET_LABEL, reinterpret_cast<LPARAM>(LoadText(IDS_WATCHING)));
    SendWindowCommand(CMD_SET_NAME, reinterpret_cast<LPARAM>(g_config.command));

    char savedDirectory[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, savedDirectory);
    SetCurrentDirectoryA(g_run.extractionFolder);
    PROCESS_INFORMATION process;
    MemFill(&process, 0, sizeof process);
    if (!StartInstaller(&process)) {
        SetCurrentDirectoryA(savedDirectory);
        return false;
    }
    WaitForInputIdle(process.hProcess, INFINITE);
    bool cancelled = false;
    for (;;) {
        if (PumpAndCheckCancel()) {
            cancelled = true;
            break;
        }
        if (WaitForSingleObject(process.hProcess, WAIT_CYCLE_MS) != WAIT_TIMEOUT) break;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    SetCurrentDirectoryA(savedDirectory);
    if (cancelled || !GraceWait()) return true;  // the installer is left running
    if ((g_config.flags & CFG_WAIT_FOR_CLASS) != 0) ClassWait();
    return true;
}

void RemoveFolderTree(char* path, uint32_t capacity) {
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
