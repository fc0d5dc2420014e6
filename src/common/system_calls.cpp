#include "common/system_calls.h"

#include "common/run_state.h"
#include "common/text.h"
#include "format/command_line.h"

namespace {

// The wide calls, in the order of kWideNames.
struct WideCalls {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* createDirectory)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI* removeDirectory)(LPCWSTR);
    BOOL(WINAPI* deleteFile)(LPCWSTR);
    DWORD(WINAPI* getFileAttributes)(LPCWSTR);
    BOOL(WINAPI* setFileAttributes)(LPCWSTR, DWORD);
    HANDLE(WINAPI* findFirstFile)(LPCWSTR, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* findNextFile)(HANDLE, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* getVolumeInformation)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    DWORD(WINAPI* getModuleFileName)(HMODULE, LPWSTR, DWORD);
    DWORD(WINAPI* getTempPath)(DWORD, LPWSTR);
    DWORD(WINAPI* getCurrentDirectory)(DWORD, LPWSTR);
    BOOL(WINAPI* setCurrentDirectory)(LPCWSTR);
    DWORD(WINAPI* getShortPathName)(LPCWSTR, LPWSTR, DWORD);
    UINT(WINAPI* getSystemDirectory)(LPWSTR, UINT);
    UINT(WINAPI* getWindowsDirectory)(LPWSTR, UINT);
    DWORD(WINAPI* expandEnvironmentStrings)(LPCWSTR, LPWSTR, DWORD);
    BOOL(WINAPI* createProcess)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    LPWSTR(WINAPI* getCommandLine)();
    int(WINAPI* wideCharToMultiByte)(UINT, DWORD, LPCWSTR, int, LPSTR, int, LPCSTR, LPBOOL);
    int(WINAPI* messageBox)(HWND, LPCWSTR, LPCWSTR, UINT);
    HWND(WINAPI* createDialogParam)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
    BOOL(WINAPI* setWindowText)(HWND, LPCWSTR);
    BOOL(WINAPI* setDlgItemText)(HWND, int, LPCWSTR);
    int(WINAPI* loadString)(HINSTANCE, UINT, LPWSTR, int);
    LONG(WINAPI* regOpenKeyEx)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
    LONG(WINAPI* regQueryValueEx)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
};

// Each name is prefixed by its module: k kernel32, u user32, a advapi32.
const char* const kWideNames[] = {
    "kCreateFileW", "kCreateDirectoryW", "kRemoveDirectoryW", "kDeleteFileW",
    "kGetFileAttributesW", "kSetFileAttributesW", "kFindFirstFileW", "kFindNextFileW",
    "kGetVolumeInformationW", "kGetModuleFileNameW", "kGetTempPathW", "kGetCurrentDirectoryW",
    "kSetCurrentDirectoryW", "kGetShortPathNameW", "kGetSystemDirectoryW", "kGetWindowsDirectoryW",
    "kExpandEnvironmentStringsW", "kCreateProcessW", "kGetCommandLineW", "kWideCharToMultiByte",
    "uMessageBoxW", "uCreateDialogParamW", "uSetWindowTextW", "uSetDlgItemTextW", "uLoadStringW",
    "aRegOpenKeyExW", "aRegQueryValueExW",
};
static_assert(sizeof(WideCalls) == sizeof kWideNames / sizeof kWideNames[0] * sizeof(void*),
              "one name for every wide call");

WideCalls g_wide;

// Every wide call, or none.
bool ResolveWideCalls() {
    HMODULE modules[3] = {GetModuleHandleA("kernel32.dll"), GetModuleHandleA("user32.dll"),
                          GetModuleHandleA("advapi32.dll")};
    auto* slots = reinterpret_cast<FARPROC*>(&g_wide);
    for (uint32_t i = 0; i < sizeof kWideNames / sizeof kWideNames[0]; ++i) {
        const char* name = kWideNames[i];
        HMODULE module = modules[name[0] == 'k' ? 0 : name[0] == 'u' ? 1 : 2];
        slots[i] = module != nullptr ? GetProcAddress(module, name + 1) : nullptr;
        if (slots[i] == nullptr) return false;
    }
    return true;
}

// ソ, whose trail byte is 0x5C, must come out as one character.
bool ConvertsShiftJis() {
    WCHAR probe[2] = {0, 0};
    return IsValidCodePage(SHIFT_JIS_CODE_PAGE) &&
           MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, 0, "\x83\x5C", 2, probe, 2) == 1 &&
           probe[0] == 0x30BD;
}

bool Wide() { return TextsAreUtf16(); }

// A text in bytes for an ANSI call: every unit holds one byte.
struct Narrow {
    explicit Narrow(const WCHAR* text) {
        uint32_t i = 0;
        if (text != nullptr) {
            for (; text[i] != 0 && i + 1 < sizeof bytes; ++i) bytes[i] = static_cast<char>(text[i]);
        }
        bytes[i] = 0;
        null = text == nullptr;
    }
    const char* get() const { return null ? nullptr : bytes; }
    char bytes[OUTPUT_PATH_SIZE + 8];
    bool null;
};

// Bytes an ANSI call gave, as units.
void Widen(WCHAR* dest, uint32_t capacity, const char* bytes) { TextFromBytes(dest, capacity, bytes); }

// The result of a query that fills `buffer` as the ANSI call of the same
// name does: the length, or the size needed when it does not fit.
DWORD WidenResult(DWORD result, const char* bytes, WCHAR* buffer, DWORD size) {
    if (result != 0 && result < size) Widen(buffer, size, bytes);
    return result;
}

// kernel32's `name`, null where this system lacks it.
void* KernelCall(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

// The form of kernel32's `stem` that takes the texts held: with "W" on
// UTF-16; on bytes with `narrow`, 'A' or, for the tool-help calls, nothing.
__attribute__((noinline)) void* KernelTextCall(const char* stem, char narrow = 'A') {
    char name[32];
    uint32_t length = TextLength(stem);
    MemCopy(name, stem, length);
    name[length] = Wide() ? 'W' : narrow;
    name[length + 1] = 0;
    return KernelCall(name);
}

void TakeFound(const WIN32_FIND_DATAW& wide, FoundEntry* found) {
    found->attributes = wide.dwFileAttributes;
    MemCopy(found->name, wide.cFileName, sizeof found->name);
    found->name[MAX_PATH - 1] = 0;
}

void TakeFound(const WIN32_FIND_DATAA& narrow, FoundEntry* found) {
    found->attributes = narrow.dwFileAttributes;
    Widen(found->name, MAX_PATH, narrow.cFileName);
}

}  // namespace

void ChooseSystemCalls() {
    MemFill(&g_wide, 0, sizeof g_wide);
    bool nt = (GetVersion() & 0x80000000u) == 0;
    bool wide = nt && ConvertsShiftJis() && ResolveWideCalls();
    if (!wide) MemFill(&g_wide, 0, sizeof g_wide);
    SetTextsUtf16(wide);
}

bool TextFromShiftJis(WCHAR* dest, uint32_t capacity, const char* text, uint32_t length, bool strict) {
    if (capacity == 0) return false;
    dest[0] = 0;
    if (length == 0) return true;
    if (!Wide()) {
        if (length >= capacity) return false;
        for (uint32_t i = 0; i < length; ++i) dest[i] = static_cast<uint8_t>(text[i]);
        dest[length] = 0;
        return true;
    }
    int made = MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, strict ? MB_ERR_INVALID_CHARS : 0, text,
                                   static_cast<int>(length), dest, static_cast<int>(capacity - 1));
    if (made <= 0) return false;
    dest[made] = 0;
    return true;
}

uint32_t SystemTextBytes(const WCHAR* text) {
    if (!Wide()) return TextLength(text);
    int bytes = g_wide.wideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    return bytes > 0 ? static_cast<uint32_t>(bytes - 1) : TextLength(text);
}

uint32_t TextToUtf8(const WCHAR* text, char* out, uint32_t capacity) {
    uint32_t length = TextLength(text);
    if (!Wide()) {
        if (length > capacity) length = capacity;
        for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<char>(text[i]);
        return length;
    }
    int bytes = g_wide.wideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out, static_cast<int>(capacity),
                                           nullptr, nullptr);
    return bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
}

const WCHAR* CommandLineText(const char* ansiLine) {
    static WCHAR line[TEXT_BUFFER_SIZE];
    if (!Wide()) {
        Widen(line, TEXT_BUFFER_SIZE, ansiLine);
        return line;
    }
    const WCHAR* full = g_wide.getCommandLine();
    full += lzh_format::FindProgram(full, lzh_format::NameEnd::AnyControl).after;
    while (*full != 0 && *full <= 0x20) ++full;
    return full;
}

HANDLE OpenPath(const WCHAR* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (Wide()) return g_wide.createFile(path, access, share, nullptr, disposition, flags, nullptr);
    return CreateFileA(Narrow(path).get(), access, share, nullptr, disposition, flags, nullptr);
}

BOOL MakeFolder(const WCHAR* path) {
    return Wide() ? g_wide.createDirectory(path, nullptr) : CreateDirectoryA(Narrow(path).get(), nullptr);
}

BOOL RemoveFolder(const WCHAR* path) {
    return Wide() ? g_wide.removeDirectory(path) : RemoveDirectoryA(Narrow(path).get());
}

BOOL DeletePath(const WCHAR* path) {
    return Wide() ? g_wide.deleteFile(path) : DeleteFileA(Narrow(path).get());
}

DWORD AttributesOf(const WCHAR* path) {
    return Wide() ? g_wide.getFileAttributes(path) : GetFileAttributesA(Narrow(path).get());
}

BOOL SetPathAttributes(const WCHAR* path, DWORD attributes) {
    return Wide() ? g_wide.setFileAttributes(path, attributes)
                  : SetFileAttributesA(Narrow(path).get(), attributes);
}

HANDLE FindFirstEntry(const WCHAR* pattern, FoundEntry* found) {
    HANDLE listing;
    if (Wide()) {
        WIN32_FIND_DATAW data;
        listing = g_wide.findFirstFile(pattern, &data);
        if (listing != INVALID_HANDLE_VALUE) TakeFound(data, found);
    } else {
        WIN32_FIND_DATAA data;
        listing = FindFirstFileA(Narrow(pattern).get(), &data);
        if (listing != INVALID_HANDLE_VALUE) TakeFound(data, found);
    }
    return listing;
}

BOOL FindNextEntry(HANDLE listing, FoundEntry* found) {
    if (Wide()) {
        WIN32_FIND_DATAW data;
        if (!g_wide.findNextFile(listing, &data)) return FALSE;
        TakeFound(data, found);
        return TRUE;
    }
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(listing, &data)) return FALSE;
    TakeFound(data, found);
    return TRUE;
}

bool VolumeComponentLength(const WCHAR* root, DWORD* length) {
    const WCHAR* at = *root != 0 ? root : nullptr;
    if (Wide()) {
        return g_wide.getVolumeInformation(at, nullptr, 0, nullptr, length, nullptr, nullptr, 0) != 0;
    }
    return GetVolumeInformationA(Narrow(at).get(), nullptr, 0, nullptr, length, nullptr, nullptr, 0) != 0;
}

DWORD GetOwnPath(HMODULE module, WCHAR* buffer, DWORD size) {
    if (Wide()) return g_wide.getModuleFileName(module, buffer, size);
    char bytes[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, bytes, size < MAX_PATH ? size : MAX_PATH);
    Widen(buffer, size, bytes);
    return length;
}

DWORD GetTempFolder(WCHAR* buffer, DWORD size) {
    if (Wide()) return g_wide.getTempPath(size, buffer);
    char bytes[MAX_PATH];
    return WidenResult(GetTempPathA(size < MAX_PATH ? size : MAX_PATH, bytes), bytes, buffer, size);
}

DWORD GetCurrentFolder(WCHAR* buffer, DWORD size) {
    if (Wide()) return g_wide.getCurrentDirectory(size, buffer);
    char bytes[MAX_PATH];
    return WidenResult(GetCurrentDirectoryA(size < MAX_PATH ? size : MAX_PATH, bytes), bytes, buffer, size);
}

BOOL SetCurrentFolder(const WCHAR* path) {
    return Wide() ? g_wide.setCurrentDirectory(path) : SetCurrentDirectoryA(Narrow(path).get());
}

DWORD GetShortPath(const WCHAR* path, WCHAR* buffer, DWORD size) {
    if (Wide()) return g_wide.getShortPathName(path, buffer, size);
    char bytes[MAX_PATH];
    DWORD result = GetShortPathNameA(Narrow(path).get(), bytes, size < MAX_PATH ? size : MAX_PATH);
    return WidenResult(result, bytes, buffer, size);
}

UINT GetSystemFolder(WCHAR* buffer, UINT size) {
    if (Wide()) return g_wide.getSystemDirectory(buffer, size);
    char bytes[MAX_PATH];
    return WidenResult(GetSystemDirectoryA(bytes, size < MAX_PATH ? size : MAX_PATH), bytes, buffer, size);
}

UINT GetWindowsFolder(WCHAR* buffer, UINT size) {
    if (Wide()) return g_wide.getWindowsDirectory(buffer, size);
    char bytes[MAX_PATH];
    return WidenResult(GetWindowsDirectoryA(bytes, size < MAX_PATH ? size : MAX_PATH), bytes, buffer, size);
}

DWORD ExpandEnvironment(const WCHAR* text, WCHAR* buffer, DWORD size) {
    if (Wide()) return g_wide.expandEnvironmentStrings(text, buffer, size);
    char bytes[TEXT_BUFFER_SIZE];
    DWORD needed = ExpandEnvironmentStringsA(Narrow(text).get(), bytes, size < TEXT_BUFFER_SIZE ? size : TEXT_BUFFER_SIZE);
    if (needed != 0 && needed <= size) Widen(buffer, size, bytes);
    return needed;
}

bool QueryRegistryText(HKEY hive, const char* key, const char* value, WCHAR* buffer, DWORD size) {
    HKEY opened;
    DWORD type = 0;
    LONG result;
    DWORD count = size;  // bytes of room for the ANSI call, one a unit
    auto* raw = reinterpret_cast<BYTE*>(buffer);
    if (Wide()) {
        WCHAR wideKey[MAX_PATH], wideValue[64];
        Widen(wideKey, MAX_PATH, key);
        Widen(wideValue, 64, value);
        if (g_wide.regOpenKeyEx(hive, wideKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
        count = size * sizeof(WCHAR);
        result = g_wide.regQueryValueEx(opened, wideValue, nullptr, &type, raw, &count);
        count /= sizeof(WCHAR);
    } else {
        if (RegOpenKeyExA(hive, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
        result = RegQueryValueExA(opened, value, nullptr, &type, raw, &count);
        // The bytes become units in place, from the last: unit i lies on
        // bytes 2i and 2i+1, which are read by then.
        for (DWORD i = count <= size ? count : 0; i-- > 0;) buffer[i] = raw[i];
    }
    RegCloseKey(opened);
    // Only a text that fits with its terminator is taken.
    if (result != ERROR_SUCCESS || count == 0 || count > size) return false;
    if (buffer[count - 1] != 0) {
        if (count == size) return false;
        buffer[count] = 0;
    }
    return true;
}

DWORD MillisecondsNow() {
    static auto tickCount = reinterpret_cast<DWORD(WINAPI*)()>(KernelCall("GetTickCount"));
    return tickCount != nullptr ? tickCount() : 0;
}

bool GetProcessExitCode(HANDLE process, DWORD* code) {
    auto query = reinterpret_cast<BOOL(WINAPI*)(HANDLE, LPDWORD)>(KernelCall("GetExitCodeProcess"));
    return query != nullptr && query(process, code) != 0;
}

BOOL StartProcess(WCHAR* commandLine, const WCHAR* folder, DWORD flags, PROCESS_INFORMATION* created) {
    // Both start-up records begin with the same fields; only the texts
    // that stay null differ in type.
    STARTUPINFOW startup;
    MemFill(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    if (Wide()) {
        return g_wide.createProcess(nullptr, commandLine, nullptr, nullptr, FALSE, flags, nullptr,
                                    folder, &startup, created);
    }
    static_assert(sizeof(STARTUPINFOA) == sizeof(STARTUPINFOW), "the same record");
    Narrow line(commandLine);
    return CreateProcessA(nullptr, line.bytes, nullptr, nullptr, FALSE, flags, nullptr, Narrow(folder).get(),
                          reinterpret_cast<STARTUPINFOA*>(&startup), created);
}

bool StartThroughShell(HMODULE shell, const WCHAR* file, const WCHAR* parameters,
                       const WCHAR* folder, HANDLE* process) {
    // The two records have the same layout; the texts differ in type only.
    static_assert(sizeof(SHELLEXECUTEINFOA) == sizeof(SHELLEXECUTEINFOW), "the same record");
    SHELLEXECUTEINFOW info;
    MemFill(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    // The process handle is kept for the wait; the shell shows no error box
    // of its own, since the launch failure is shown once, by the caller.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.nShow = SW_SHOW;
    BOOL started;
    if (Wide()) {
        auto execute = reinterpret_cast<BOOL(WINAPI*)(SHELLEXECUTEINFOW*)>(
            reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExW")));
        if (execute == nullptr) return false;
        info.lpVerb = WIDE("runas");
        info.lpFile = file;
        info.lpParameters = parameters;
        info.lpDirectory = folder;
        started = execute(&info);
    } else {
        auto execute = reinterpret_cast<BOOL(WINAPI*)(SHELLEXECUTEINFOA*)>(
            reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExA")));
        if (execute == nullptr) return false;
        Narrow narrowFile(file), narrowParameters(parameters), narrowFolder(folder);
        auto* narrow = reinterpret_cast<SHELLEXECUTEINFOA*>(&info);
        narrow->lpVerb = "runas";
        narrow->lpFile = narrowFile.get();
        narrow->lpParameters = narrowParameters.get();
        narrow->lpDirectory = narrowFolder.get();
        started = execute(narrow);
    }
    if (!started) return false;
    *process = info.hProcess;
    return true;
}

bool AnyRunningProgram(bool (*matches)(const WCHAR* path)) {
    bool wide = Wide();
    auto snapshotOf = reinterpret_cast<HANDLE(WINAPI*)(DWORD, DWORD)>(KernelCall("CreateToolhelp32Snapshot"));
    typedef BOOL(WINAPI * ListCall)(HANDLE, void*);
    auto first = reinterpret_cast<ListCall>(KernelTextCall("Process32First", 0));
    auto next = reinterpret_cast<ListCall>(KernelTextCall("Process32Next", 0));
    if (snapshotOf == nullptr || first == nullptr || next == nullptr) return false;
    HANDLE processes = snapshotOf(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) return false;
    // On the NT family the list names only the program's file: its path
    // comes from QueryFullProcessImageName (Vista and later) or else from
    // the first module of the process, which is its program (2000, XP).
    auto query = reinterpret_cast<BOOL(WINAPI*)(HANDLE, DWORD, void*, DWORD*)>(
        KernelTextCall("QueryFullProcessImageName"));
    auto open = reinterpret_cast<HANDLE(WINAPI*)(DWORD, BOOL, DWORD)>(KernelCall("OpenProcess"));
    auto firstModule = reinterpret_cast<ListCall>(KernelTextCall("Module32First", 0));
    // The wide records are the larger; the byte ones have the same fields
    // before their names.
    PROCESSENTRY32W process;
    process.dwSize = wide ? sizeof process : sizeof(PROCESSENTRY32);
    MODULEENTRY32W module;
    WCHAR queried[MAX_PATH];
    WCHAR path[MAX_PATH];
    bool found = false;
    for (BOOL more = first(processes, &process); more && !found; more = next(processes, &process)) {
        // Windows 95 to Me list each program by its full path.
        const void* text = reinterpret_cast<PROCESSENTRY32*>(&process)->szExeFile;
        BOOL read = TRUE;
        if ((GetVersion() & 0x80000000u) == 0) {
            DWORD id = process.th32ProcessID;
            read = FALSE;
            if (query != nullptr) {
                HANDLE opened = open(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
                DWORD size = MAX_PATH;
                if (opened != nullptr) {
                    read = query(opened, 0, queried, &size);
                    CloseHandle(opened);
                }
                text = queried;
            } else if (firstModule != nullptr) {
                HANDLE modules = snapshotOf(TH32CS_SNAPMODULE, id);
                if (modules != INVALID_HANDLE_VALUE) {
                    module.dwSize = wide ? sizeof module : sizeof(MODULEENTRY32);
                    read = firstModule(modules, &module);
                    CloseHandle(modules);
                }
                text = wide ? static_cast<const void*>(module.szExePath)
                            : reinterpret_cast<MODULEENTRY32*>(&module)->szExePath;
            }
        }
        if (!read) continue;  // passed over: it cannot be told
        const WCHAR* name = static_cast<const WCHAR*>(text);
        if (!wide) {
            Widen(path, MAX_PATH, static_cast<const char*>(text));
            name = path;
        }
        found = matches(name);
    }
    CloseHandle(processes);
    return found;
}

bool RemoveAtRestart(const WCHAR* path) {
    auto move = reinterpret_cast<BOOL(WINAPI*)(const void*, const void*, DWORD)>(KernelTextCall("MoveFileEx"));
    Narrow narrow(path);
    return move != nullptr && move(Wide() ? static_cast<const void*>(path) : narrow.get(), nullptr,
                                   MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool FreeSpaceOf(const WCHAR* folder, uint64_t* bytes) {
    // ULARGE_INTEGER is a 64-bit number.
    auto query = reinterpret_cast<BOOL(WINAPI*)(const void*, uint64_t*, uint64_t*, uint64_t*)>(
        KernelTextCall("GetDiskFreeSpaceEx"));
    Narrow narrow(folder);
    return query != nullptr &&
           query(Wide() ? static_cast<const void*>(folder) : narrow.get(), bytes, nullptr, nullptr) != 0;
}

int ShowMessageBox(HWND owner, const WCHAR* text, const WCHAR* caption, UINT flags) {
    if (Wide()) return g_wide.messageBox(owner, text, caption, flags);
    static char bytes[TEXT_BUFFER_SIZE];  // a message may be as long as the text buffer
    uint32_t i = 0;
    for (; text[i] != 0 && i + 1 < TEXT_BUFFER_SIZE; ++i) bytes[i] = static_cast<char>(text[i]);
    bytes[i] = 0;
    return MessageBoxA(owner, bytes, Narrow(caption).get(), flags);
}

HWND CreateDialogWindow(HINSTANCE instance, int templateId, DLGPROC proc, LPARAM init) {
    if (Wide()) {
        return g_wide.createDialogParam(instance, reinterpret_cast<LPCWSTR>(MAKEINTRESOURCEA(templateId)),
                                        nullptr, proc, init);
    }
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, proc, init);
}

void SetWindowTitle(HWND window, const WCHAR* text) {
    if (Wide()) {
        g_wide.setWindowText(window, text);
    } else {
        SetWindowTextA(window, Narrow(text).get());
    }
}

void SetItemText(HWND dialog, int id, const WCHAR* text) {
    if (Wide()) {
        g_wide.setDlgItemText(dialog, id, text);
    } else {
        SetDlgItemTextA(dialog, id, Narrow(text).get());
    }
}

int LoadStringText(HINSTANCE instance, UINT id, WCHAR* buffer, int size) {
    if (size <= 0) return 0;
    buffer[0] = 0;
    if (Wide()) return g_wide.loadString(instance, id, buffer, size);
    char bytes[512];
    int length = LoadStringA(instance, id, bytes, size < 512 ? size : 512);
    Widen(buffer, static_cast<uint32_t>(size), bytes);
    return length;
}
