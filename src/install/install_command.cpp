#include "install/install_command.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/system_calls.h"
#include "format/command_line.h"
#include "install/path_variables.h"
#include "res/resource.h"
#include "startup/dll_safety.h"
#include "ui/progress.h"
#include "ui/progress_window.h"
#include "ui/run_log.h"
#include "ui/texts.h"

namespace {

// folder + one backslash + name; false when it does not fit.
bool JoinExtractedName(WCHAR* dest, uint32_t capacity, const WCHAR* folder, const WCHAR* name) {
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

// The extraction folder in its short form, for programs started through
// %ExtractDirX%.
WCHAR g_shortFolder[EXTRACTION_FOLDER_SIZE];

WCHAR AsciiLower(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; }

// `path` names something inside `folder`: the folder, a backslash, more.
// ASCII letters compare in either case, as the file system takes them.
bool IsInside(const WCHAR* path, const WCHAR* folder) {
    uint32_t i = 0;
    for (; folder[i] != 0; ++i) {
        if (AsciiLower(path[i]) != AsciiLower(folder[i])) return false;
    }
    return path[i] == '\\';
}

bool RunsFromExtractionFolder(const WCHAR* path) {
    return IsInside(path, g_run.extractionFolder) || IsInside(path, g_shortFolder);
}

// Starts the command again through the shell with the verb "runas", which
// asks for an administrator's rights: for an installer whose own manifest
// demands them, which CreateProcess cannot start from a process that lacks
// them. The program and its arguments are split as for a bare program; the
// working folder is the extraction folder. shell32 is loaded here from the
// system folder, so the stub starts on Windows that never needs it. False
// when the shell cannot start it (the user declined, ShellExecuteEx is
// missing, any other failure); `process` may be null after a start when the
// shell gives no process to wait for.
bool StartElevated(HANDLE* process) {
    HMODULE shell = LoadSystemLibrary("shell32.dll");
    if (shell == nullptr) return false;
    lzh_format::ProgramSpan span = lzh_format::FindProgram(g_run.command, lzh_format::NameEnd::BlankOrTab);
    const WCHAR* rest = g_run.command + span.after;
    WCHAR program[PATH_SIZE];
    if (span.length >= PATH_SIZE) return false;
    MemCopy(program, g_run.command + span.begin, span.length * sizeof(WCHAR));
    program[span.length] = 0;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (StartThroughShell(shell, program, *rest != 0 ? rest : nullptr, g_run.extractionFolder, process)) return true;
    if (GetLastError() == ERROR_CANCELLED) g_run.declined = 1;  // the user declined the prompt
    return false;
}

// Starts the installer; its process handle goes to `process` (null when
// there is none to wait for). An installer that needs an administrator's
// rights (ERROR_ELEVATION_REQUIRED) is started through the shell instead.
bool StartInstaller(HANDLE* process) {
    DWORD flags = (GetVersion() & 0x80000000u) == 0 ? CREATE_SEPARATE_WOW_VDM : 0;
    PROCESS_INFORMATION created;
    MemFill(&created, 0, sizeof created);
    DropCurrentFolderFromDllSearch(false);
    BOOL started = StartProcess(g_run.command, g_run.extractionFolder, flags, &created);
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
// cycle, keeps its exit code and closes its handle. True when the user
// cancelled first.
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
    if (!cancelled && GetProcessExitCode(process, &g_run.installerExitCode)) {
        g_run.installerEnded = 1;
        LogNumber(IDS_LOG_INSTALLER_EXIT, static_cast<int>(g_run.installerExitCode));
    }
    CloseHandle(process);
    return cancelled;
}

bool HasFolderPart(const WCHAR* token, uint32_t length) {
    for (uint32_t i = 0; i < length; i += IsSystemLead(token[i]) && i + 1 < length ? 2 : 1) {
        if (token[i] == '\\' || token[i] == '/' || token[i] == ':') return true;
    }
    return false;
}

bool HasExtension(const WCHAR* token, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (token[i] == '.') return true;
    }
    return false;
}

bool IsFileIn(const WCHAR* path) {
    DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ResolveBareProgram(WCHAR* command, uint32_t capacity, const WCHAR* folder) {
    lzh_format::ProgramSpan span = lzh_format::FindProgram(command, lzh_format::NameEnd::BlankOrTab);
    const WCHAR* token = command + span.begin;
    const WCHAR* rest = command + span.after;
    uint32_t length = span.length;
    if (length == 0 || HasFolderPart(token, length)) return true;
    WCHAR program[OUTPUT_PATH_SIZE];
    WCHAR name[OUTPUT_PATH_SIZE];
    MemCopy(name, token, length * sizeof(WCHAR));
    name[length] = 0;
    if (!JoinExtractedName(program, OUTPUT_PATH_SIZE, folder, name)) return true;
    if (!IsFileIn(program)) {
        if (HasExtension(name, length) || !TextAppend(program, OUTPUT_PATH_SIZE, WIDE(".exe")) ||
            !IsFileIn(program)) {
            return true;  // not ours: Windows searches as usual
        }
    }
    WCHAR rewritten[TEXT_BUFFER_SIZE];
    rewritten[0] = '"';
    rewritten[1] = 0;
    bool fits = TextAppend(rewritten, TEXT_BUFFER_SIZE, program) &&
                TextAppend(rewritten, TEXT_BUFFER_SIZE, WIDE("\"")) &&
                TextAppend(rewritten, TEXT_BUFFER_SIZE, rest);
    if (!fits || TextLength(rewritten) >= capacity || SystemTextBytes(rewritten) >= PATH_SIZE) return false;
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

// Replaces the command by its path-variable expansion. Cut to the field, as
// the command has always been held; a package that chose the extended
// switches never runs a cut command: false then.
bool ExpandCommand() {
    if (g_run.commandTooLong != 0) return false;
    ExpandPathVariables(g_run.command, g_textBuffer, TEXT_BUFFER_SIZE, g_run.extractionFolder);
    bool whole = TextCopy(g_run.command, PATH_SIZE, g_textBuffer);
    while (SystemTextBytes(g_run.command) >= PATH_SIZE) {
        uint32_t length = TextLength(g_run.command);
        g_run.command[FitCharacters(g_run.command, length, length - 1)] = 0;
        whole = false;
    }
    return whole || (g_config.flags & CFG_EXTENDED_SWITCHES) == 0;
}

bool RunInstallCommand() {
    if (!ExpandCommand()) return false;
    if (!ResolveBareProgram(g_run.command, PATH_SIZE, g_run.extractionFolder)) return false;
    SendWindowCommand(CMD_SET_LABEL, reinterpret_cast<LPARAM>(LoadText(IDS_WATCHING)));
    SendWindowCommand(CMD_SET_NAME, reinterpret_cast<LPARAM>(g_run.command));
    LogLine(IDS_LOG_RUN, g_run.command);

    WCHAR savedDirectory[MAX_PATH];
    GetCurrentFolder(savedDirectory, MAX_PATH);
    SetCurrentFolder(g_run.extractionFolder);
    HANDLE process = nullptr;
    if (!StartInstaller(&process)) {
        SetCurrentFolder(savedDirectory);
        return false;
    }
    bool cancelled = process != nullptr && AwaitProcess(process);
    SetCurrentFolder(savedDirectory);
    if (cancelled || !GraceWait()) return true;  // the installer is left running
    if ((g_config.flags & CFG_WAIT_FOR_CLASS) != 0) ClassWait();
    // Nobody can cancel a silent run: its wait is bounded.
    AwaitProgramsInFolder(g_run.silent == 0 ? 0 : PROGRAM_WAIT_BOUND_MS);
    LogLine(IDS_LOG_WAITED, nullptr);
    return true;
}

void AwaitProgramsInFolder(DWORD boundMs) {
    // Without a short form the folder stands for itself.
    TextCopy(g_shortFolder, EXTRACTION_FOLDER_SIZE, g_run.extractionFolder);
    GetShortPath(g_run.extractionFolder, g_shortFolder, MAX_PATH);
    for (DWORD waited = 0; boundMs == 0 || waited < boundMs; waited += WAIT_CYCLE_MS) {
        if (PumpAndCheckCancel() || !AnyRunningProgram(RunsFromExtractionFolder)) return;
        Sleep(WAIT_CYCLE_MS);
    }
}

static bool IsDotEntry(const WCHAR* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

void RemoveFolderTree(WCHAR* path, uint32_t capacity) {
    uint32_t length = TextLength(path);
    if (length == 0) return;
    AppendBackslash(path, capacity);
    if (!TextAppend(path, capacity, WIDE("*.*"))) return;
    FoundEntry found;
    HANDLE listing = FindFirstEntry(path, &found);
    if (listing == INVALID_HANDLE_VALUE) return;  // the folder and its contents stay
    do {
        if (IsDotEntry(found.name)) continue;
        path[length] = 0;
        AppendBackslash(path, capacity);
        if (!TextAppend(path, capacity, found.name)) continue;  // beyond any usable path
        DWORD attributes = found.attributes;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link: removed itself, its target left alone.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveFolder(path);
            } else {
                DeletePath(path);
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveFolderTree(path, capacity);
        } else {
            SetPathAttributes(path, FILE_ATTRIBUTE_NORMAL);
            if (!DeletePath(path)) RemoveAtRestart(path);
        }
    } while (FindNextEntry(listing, &found));
    FindClose(listing);
    path[length] = 0;
    SetPathAttributes(path, FILE_ATTRIBUTE_NORMAL);
    // After its contents: the folder comes last at the restart too.
    if (!RemoveFolder(path)) RemoveAtRestart(path);
}
