// Host implementations of the process and window-enumeration calls. A
// process is started for real with posix_spawn from a Windows-style command
// line (blanks separate, double quotes group); the other programs' windows
// are a scripted list.
#include <errno.h>
#include <stdio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/host_state.h"

extern char** environ;

using host::Current;

namespace {

struct HostProcess : HostHandle {
    pid_t pid = -1;
    bool ended = false;
    DWORD exitCode = 259;  // STILL_ACTIVE until it has ended
};

// The words of a command line in UTF-8.
std::vector<std::string> SplitCommandLine(const std::string& text) {
    const char* line = text.c_str();
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (const char* p = line; *p != 0; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += *p;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// A product path in UTF-8 as the host has it.
std::string HostPathOf(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

// Starts the words of a command line (UTF-8) as a process in `directory`
// (UTF-8, product form; empty: ours). Null when it cannot be started.
HostProcess* Spawn(std::vector<std::string> words, const std::string& directory) {
    if (words.empty()) return nullptr;
    for (std::string& word : words) word = HostPathOf(word);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::string hostDirectory = HostPathOf(directory);
    if (Current().simulateProcesses) {
        bool relative = words[0][0] != '/' && !hostDirectory.empty();
        std::string program = relative ? hostDirectory + "/" + words[0] : words[0];
        struct stat info;
        if (stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
        HostProcess* process = new HostProcess;
        process->ended = true;
        return process;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!hostDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, hostDirectory.c_str());
    pid_t pid = -1;
    int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return nullptr;
    HostProcess* process = new HostProcess;
    process->pid = pid;
    return process;
}

}  // namespace

namespace host {

void AddWindowClass(const std::string& className, int enumerations) {
    auto window = std::make_unique<HostWindow>();
    window->className = className;
    window->enumerationsLeft = enumerations;
    Current().otherWindows.push_back(std::move(window));
}

const std::vector<ProcessRecord>& Processes() { return Current().processes; }
void RequireElevation(bool required) { Current().elevationRequired = required; }
const std::vector<ShellRecord>& ShellExecutions() { return Current().shellExecutions; }
void SetShell(ShellState state, DWORD error) {
    Current().shellState = state;
    Current().shellError = error;
}
int SleepCount() { return Current().sleeps; }
void SimulateProcesses(bool simulate) { Current().simulateProcesses = simulate; }
void SetSimulatedExitCode(DWORD code) { Current().simulatedExitCode = code; }

void AddRunningProgram(const std::string& image, int snapshots, ImageAccess access) {
    std::vector<RunningProgram>& programs = Current().runningPrograms;
    programs.push_back(RunningProgram{static_cast<DWORD>(1000 + programs.size()), image, snapshots, access});
}
void SetProcessListing(ProcessListing listing) { Current().processListing = listing; }
int ProcessSnapshots() { return Current().processSnapshots; }

}  // namespace host

namespace {

// A snapshot of the process list, or of one process's modules (its program).
struct HostSnapshot : HostHandle {
    std::vector<host::RunningProgram> entries;
    size_t next = 0;
};

// An opened process: its program, and whether that can be read.
struct HostOpenedProcess : HostHandle {
    host::RunningProgram program;
};

const host::RunningProgram* FindProgram(DWORD id) {
    for (const host::RunningProgram& program : Current().runningPrograms) {
        if (program.id == id) return &program;
    }
    return nullptr;
}

std::string FileNameOf(const std::string& image) {
    size_t separator = image.find_last_of("\\/");
    return separator == std::string::npos ? image : image.substr(separator + 1);
}

// Copies UTF-8 `text` into a record's name field of MAX_PATH units.
void CopyName(const std::string& text, char* field) {
    std::string bytes = host::AnsiFromUtf8(text);
    snprintf(field, MAX_PATH, "%s", bytes.c_str());
}
void CopyName(const std::string& text, WCHAR* field) {
    std::u16string units = host::WideFromUtf8(text);
    size_t length = std::min<size_t>(units.size(), MAX_PATH - 1);
    units.copy(field, length);
    field[length] = 0;
}

HANDLE WINAPI HostCreateToolhelp32Snapshot(DWORD flags, DWORD id) {
    host::State& state = Current();
    HostSnapshot* snapshot = new HostSnapshot;
    if ((flags & TH32CS_SNAPPROCESS) != 0) {
        ++state.processSnapshots;
        // A program listed its last time is gone from this snapshot on.
        std::vector<host::RunningProgram>& programs = state.runningPrograms;
        programs.erase(std::remove_if(programs.begin(), programs.end(),
                                      [](const host::RunningProgram& p) { return p.snapshotsLeft == 0; }),
                       programs.end());
        for (host::RunningProgram& program : programs) {
            snapshot->entries.push_back(program);
            if (program.snapshotsLeft > 0) --program.snapshotsLeft;
        }
        return snapshot;
    }
    const host::RunningProgram* program = FindProgram(id);
    if (program == nullptr || program->access == host::ImageAccess::Denied) {
        delete snapshot;
        SetLastError(program == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (program->access == host::ImageAccess::Readable) snapshot->entries.push_back(*program);
    return snapshot;
}

// The next entry of a snapshot into a record whose size the caller set.
template <typename Record>
const host::RunningProgram* NextEntry(HANDLE handle, Record* record, bool first) {
    HostSnapshot* snapshot = static_cast<HostSnapshot*>(handle);
    if (record->dwSize != sizeof(Record)) {
        SetLastError(ERROR_BAD_LENGTH);
        return nullptr;
    }
    if (first) snapshot->next = 0;
    if (snapshot->next >= snapshot->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return nullptr;
    }
    return &snapshot->entries[snapshot->next++];
}

// Windows 95 to Me name the program's full path in the list, the NT family
// only its file.
template <typename Record>
BOOL ProcessEntry(HANDLE handle, Record* record, bool first) {
    const host::RunningProgram* program = NextEntry(handle, record, first);
    if (program == nullptr) return FALSE;
    record->th32ProcessID = program->id;
    bool fullPath = Current().platformId == VER_PLATFORM_WIN32_WINDOWS;
    CopyName(fullPath ? program->image : FileNameOf(program->image), record->szExeFile);
    return TRUE;
}

template <typename Record>
BOOL FirstModule(HANDLE handle, Record* record) {
    const host::RunningProgram* program = NextEntry(handle, record, true);
    if (program == nullptr) return FALSE;
    record->th32ProcessID = program->id;
    CopyName(FileNameOf(program->image), record->szModule);
    CopyName(program->image, record->szExePath);
    return TRUE;
}

BOOL WINAPI HostProcess32First(HANDLE snapshot, PROCESSENTRY32* record) { return ProcessEntry(snapshot, record, true); }
BOOL WINAPI HostProcess32Next(HANDLE snapshot, PROCESSENTRY32* record) { return ProcessEntry(snapshot, record, false); }
BOOL WINAPI HostProcess32FirstW(HANDLE snapshot, PROCESSENTRY32W* record) { return ProcessEntry(snapshot, record, true); }
BOOL WINAPI HostProcess32NextW(HANDLE snapshot, PROCESSENTRY32W* record) {
    return ProcessEntry(snapshot, record, false);
}
BOOL WINAPI HostModule32First(HANDLE snapshot, MODULEENTRY32* record) { return FirstModule(snapshot, record); }
BOOL WINAPI HostModule32FirstW(HANDLE snapshot, MODULEENTRY32W* record) { return FirstModule(snapshot, record); }

HANDLE WINAPI HostOpenProcess(DWORD, BOOL, DWORD id) {
    const host::RunningProgram* program = FindProgram(id);
    if (program == nullptr || program->access == host::ImageAccess::Denied) {
        SetLastError(program == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HostOpenedProcess* process = new HostOpenedProcess;
    process->program = *program;
    return process;
}

// `size` holds the units of `buffer` and gets the length written.
template <typename Char>
BOOL QueryImage(HANDLE handle, Char* buffer, DWORD* size) {
    const host::RunningProgram& program = static_cast<HostOpenedProcess*>(handle)->program;
    if (program.access != host::ImageAccess::Readable) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    Char name[MAX_PATH];
    CopyName(program.image, name);
    DWORD length = 0;
    while (name[length] != 0) ++length;
    if (length + 1 > *size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(name, name + length + 1, buffer);
    *size = length;
    return TRUE;
}

BOOL WINAPI HostQueryFullProcessImageNameA(HANDLE process, DWORD, LPSTR buffer, DWORD* size) {
    return QueryImage(process, buffer, size);
}
BOOL WINAPI HostQueryFullProcessImageNameW(HANDLE process, DWORD, LPWSTR buffer, DWORD* size) {
    return QueryImage(process, buffer, size);
}

template <typename Function>
FARPROC AsProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace

FARPROC host::ProcessFunction(const std::string& name) {
    ProcessListing listing = Current().processListing;
    if (listing == ProcessListing::None) return nullptr;
    struct Entry {
        const char* name;
        FARPROC function;
        bool queried;  // there only with QueryFullProcessImageName
    };
    static const Entry entries[] = {
        {"CreateToolhelp32Snapshot", AsProc(HostCreateToolhelp32Snapshot), false},
        {"Process32First", AsProc(HostProcess32First), false},
        {"Process32Next", AsProc(HostProcess32Next), false},
        {"Process32FirstW", AsProc(HostProcess32FirstW), false},
        {"Process32NextW", AsProc(HostProcess32NextW), false},
        {"Module32First", AsProc(HostModule32First), false},
        {"Module32FirstW", AsProc(HostModule32FirstW), false},
        {"OpenProcess", AsProc(HostOpenProcess), false},
        {"QueryFullProcessImageNameA", AsProc(HostQueryFullProcessImageNameA), true},
        {"QueryFullProcessImageNameW", AsProc(HostQueryFullProcessImageNameW), true},
    };
    for (const Entry& entry : entries) {
        if (name == entry.name) {
            return entry.queried && listing != ProcessListing::FullImageName ? nullptr : entry.function;
        }
    }
    return nullptr;
}

// A process from a command line and a folder in UTF-8.
static BOOL CreateProcessFrom(const std::string& commandLine, const std::string& directory, DWORD flags,
                              DWORD startupFlags, WORD showWindow, LPPROCESS_INFORMATION info) {
    Current().processes.push_back(host::ProcessRecord{commandLine, directory, flags, startupFlags, showWindow,
                                                      Current().currentFolderDropped});
    if (Current().elevationRequired) {
        SetLastError(ERROR_ELEVATION_REQUIRED);
        return FALSE;
    }
    HostProcess* process = Spawn(SplitCommandLine(commandLine), directory);
    if (process == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    info->hProcess = process;
    info->hThread = new HostProcess;  // a thread handle of its own, closed apart
    info->dwProcessId = static_cast<DWORD>(process->pid);
    info->dwThreadId = static_cast<DWORD>(process->pid);
    return TRUE;
}

BOOL WINAPI CreateProcessA(LPCSTR, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD flags, LPVOID, LPCSTR directory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION info) {
    return CreateProcessFrom(host::Utf8FromAnsi(commandLine), directory ? host::Utf8FromAnsi(directory) : "",
                             flags, startup->dwFlags, startup->wShowWindow, info);
}

BOOL WINAPI HostCreateProcessW(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                               BOOL, DWORD flags, LPVOID, LPCWSTR directory, LPSTARTUPINFOW startup,
                               LPPROCESS_INFORMATION info) {
    return CreateProcessFrom(host::Utf8FromWide(commandLine), host::Utf8FromWide(directory), flags,
                             startup->dwFlags, startup->wShowWindow, info);
}

// The shell's start of a program, its texts in UTF-8.
static BOOL ShellExecute(const host::ShellRecord& record, DWORD mask, HANDLE* processOut) {
    host::State& state = Current();
    state.shellExecutions.push_back(record);
    if (state.shellState == host::ShellState::Fails) {
        SetLastError(state.shellError);
        return FALSE;
    }
    std::vector<std::string> words{record.file};
    for (std::string& word : SplitCommandLine(record.parameters)) words.push_back(word);
    HostProcess* process = Spawn(words, record.directory);
    if (process == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if ((mask & SEE_MASK_NOCLOSEPROCESS) != 0) {
        *processOut = process;
    } else {
        delete process;  // not awaited; the child is reaped by nobody, as on Windows
    }
    return TRUE;
}

BOOL WINAPI HostShellExecuteExA(SHELLEXECUTEINFOA* info) {
    auto text = [](LPCSTR value) { return value ? host::Utf8FromAnsi(value) : std::string(); };
    return ShellExecute(host::ShellRecord{text(info->lpVerb), text(info->lpFile), text(info->lpParameters),
                                          text(info->lpDirectory), info->fMask, info->nShow},
                        info->fMask, &info->hProcess);
}

BOOL WINAPI HostShellExecuteExW(SHELLEXECUTEINFOW* info) {
    auto text = [](LPCWSTR value) { return host::Utf8FromWide(value); };
    return ShellExecute(host::ShellRecord{text(info->lpVerb), text(info->lpFile), text(info->lpParameters),
                                          text(info->lpDirectory), info->fMask, info->nShow},
                        info->fMask, &info->hProcess);
}

DWORD WINAPI WaitForInputIdle(HANDLE, DWORD) { return 0; }

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    HostProcess* process = static_cast<HostProcess*>(handle);
    for (DWORD waited = 0;; waited += 10) {
        if (process->ended) return WAIT_OBJECT_0;
        int status = 0;
        pid_t result = waitpid(process->pid, &status, WNOHANG);
        if (result == process->pid || (result < 0 && errno == ECHILD)) {
            process->ended = true;
            // A Unix status keeps 8 bits of the code.
            if (result == process->pid && WIFEXITED(status)) process->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
            return WAIT_OBJECT_0;
        }
        if (waited >= milliseconds) return WAIT_TIMEOUT;
        usleep(10000);
    }
}

BOOL WINAPI HostGetExitCodeProcess(HANDLE handle, LPDWORD code) {
    HostProcess* process = static_cast<HostProcess*>(handle);
    if (process->ended && process->pid < 0) process->exitCode = Current().simulatedExitCode;
    *code = process->exitCode;
    return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
    ++Current().sleeps;
    if (!Current().simulateProcesses) usleep(milliseconds * 1000);
}

BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM param) {
    auto& windows = Current().otherWindows;
    for (auto& window : windows) {
        if (!proc(window.get(), param)) break;
    }
    // Windows with a limited life close after this enumeration.
    for (size_t i = 0; i < windows.size();) {
        HostWindow* window = windows[i].get();
        if (window->enumerationsLeft > 0 && --window->enumerationsLeft == 0) {
            windows.erase(windows.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    return TRUE;
}

int WINAPI GetClassNameA(HWND window, LPSTR buffer, int size) {
    if (size <= 0) return 0;
    const std::string& name = window->className;
    size_t length = name.size() < static_cast<size_t>(size - 1) ? name.size() : size - 1;
    name.copy(buffer, length);
    buffer[length] = 0;
    return static_cast<int>(length);
}
