// Host implementations of the system, version, text, memory, time and
// registry calls, and the control functions that steer them.
#include <iconv.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/posix/host_state.h"

extern char** environ;

namespace host {

State& Current() {
    static State state;
    return state;
}

static DWORD g_lastError = 0;

void Reset() {
    std::string module = Current().modulePath;
    Current() = State();
    Current().modulePath = module;
    g_lastError = 0;
}

void SetInteractive(bool interactive) { Current().interactive = interactive; }

void SetVersion(DWORD getVersionValue, DWORD platformId, DWORD major, DWORD minor) {
    State& s = Current();
    s.getVersion = getVersionValue;
    s.platformId = platformId;
    s.major = major;
    s.minor = minor;
}

bool SetWindows(const std::string& name) {
    struct Known {
        const char* name;
        DWORD getVersion, platformId, major, minor;
    };
    static const Known known[] = {
        {"win32s", 0x80000A03, VER_PLATFORM_WIN32s, 3, 10},
        {"win95", 0xC3B60004, VER_PLATFORM_WIN32_WINDOWS, 4, 0},
        {"win98", 0xC0000A04, VER_PLATFORM_WIN32_WINDOWS, 4, 10},
        {"winme", 0xC0005A04, VER_PLATFORM_WIN32_WINDOWS, 4, 90},
        {"nt350", 0x03273203, VER_PLATFORM_WIN32_NT, 3, 50},
        {"nt351", 0x04213303, VER_PLATFORM_WIN32_NT, 3, 51},
        {"nt40", 0x05650004, VER_PLATFORM_WIN32_NT, 4, 0},
        {"win2k", 0x08930005, VER_PLATFORM_WIN32_NT, 5, 0},
        {"winxp", 0x0A280105, VER_PLATFORM_WIN32_NT, 5, 1},
        {"win2003", 0x0ECE0205, VER_PLATFORM_WIN32_NT, 5, 2},
        {"vista", 0x17720006, VER_PLATFORM_WIN32_NT, 6, 0},
        {"win7", 0x1DB10106, VER_PLATFORM_WIN32_NT, 6, 1},
        {"win10", 0x4A61000A, VER_PLATFORM_WIN32_NT, 10, 0},
    };
    for (const Known& k : known) {
        if (name == k.name) {
            SetVersion(k.getVersion, k.platformId, k.major, k.minor);
            return true;
        }
    }
    return false;
}

void SetModulePath(const std::string& path) { Current().modulePath = path; }
void SetCommandLine(const std::string& line) { Current().commandLine = line; }

HINSTANCE ModuleHandle() {
    static int module;
    return reinterpret_cast<HINSTANCE>(&module);
}

const std::vector<BoxRecord>& Boxes() { return Current().boxes; }
void QueueBoxAnswer(int answer) { Current().boxAnswers.push_back(answer); }

static std::string RegistryName(HKEY hive, const std::string& key, const std::string& name) {
    std::string lowered = std::to_string(reinterpret_cast<uintptr_t>(hive)) + "\\" + key;
    for (char& c : lowered) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lowered + "\\" + name;
}

void SetRegistryValue(HKEY hive, const std::string& key, const std::string& name,
                      const std::string& value) {
    Current().registry[RegistryName(hive, key, name)] = value;
}

void SetMaxComponentLength(DWORD length, bool fail) {
    Current().maxComponentLength = length;
    Current().volumeFails = fail;
}

void SetTempPath(const std::string& path) { Current().tempPath = path; }
void SetShortPath(const std::string& path, const std::string& shortPath) { Current().shortPaths[path] = shortPath; }

void SetSystemFolders(const std::string& system, const std::string& windows) {
    Current().systemFolder = system;
    Current().windowsFolder = windows;
}


void FailRead(int nth, Fault fault) { Current().readFault = FaultPlan{nth, fault}; }
void FailWrite(int nth, Fault fault) { Current().writeFault = FaultPlan{nth, fault}; }
void FailAllocation(int nth) { Current().allocationFault = FaultPlan{nth, Fault::Fail}; }
void FailClose(int nth) { Current().closeFault = FaultPlan{nth, Fault::Fail}; }
void RefusePath(const std::string& path) { Current().refusedPaths.insert(path); }
void CreateFolderFirst(const std::string& path) { Current().foldersCreatedFirst.insert(path); }
const std::vector<std::string>& ChangedPaths() { return Current().changedPaths; }
void SimulateFolders(bool simulate) { Current().simulateFolders = simulate; }
const std::vector<std::string>& FoldersTried() { return Current().foldersTried; }

const std::vector<DWORD>& ReadRequests() { return Current().readRequests; }
const std::vector<DWORD>& WriteRequests() { return Current().writeRequests; }

std::string Convert(const std::string& text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = &out[0];
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            if (outLeft == 0) break;
            *outPtr++ = '?';  // a byte with no counterpart
            --outLeft;
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string ToAnsi(const std::string& utf8) { return Convert(utf8, "CP932", "UTF-8"); }
std::string ToUtf8(const std::string& ansi) { return Convert(ansi, "UTF-8", "CP932"); }

const char* AnsiCharset() { return Current().codePage == 932 ? "CP932" : "CP1252"; }

bool HostLeadByte(BYTE test) {
    if (Current().codePage != 932) return false;
    return (test >= 0x81 && test <= 0x9F) || (test >= 0xE0 && test <= 0xFC);
}

std::string Utf8FromAnsi(const char* text) { return Convert(text, "UTF-8", AnsiCharset()); }
std::string AnsiFromUtf8(const std::string& text) { return Convert(text, AnsiCharset(), "UTF-8"); }

std::string Utf8FromWide(LPCWSTR text) {
    if (text == nullptr) return "";
    size_t length = 0;
    while (text[length] != 0) ++length;
    return Convert(std::string(reinterpret_cast<const char*>(text), length * 2), "UTF-8", "UTF-16LE");
}

std::u16string WideFromUtf8(const std::string& text) {
    std::string units = Convert(text, "UTF-16LE", "UTF-8");
    return std::u16string(reinterpret_cast<const char16_t*>(units.data()), units.size() / 2);
}

void SetCodePage(UINT codePage) { Current().codePage = codePage; }
void SetEnglishUi(bool english) { Current().englishUi = english; }

std::string HostPath(const char* path) {
    std::string out;
    for (const char* p = path; *p != 0; ++p) {
        if (HostLeadByte(static_cast<BYTE>(*p)) && p[1] != 0) {
            out += p[0];
            out += p[1];
            ++p;
        } else {
            out += *p == '\\' ? '/' : *p;
        }
    }
    return Utf8FromAnsi(out.c_str());
}

std::string HostPath(LPCWSTR path) {
    std::string out = Utf8FromWide(path);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

}  // namespace host

using host::Current;

DWORD WINAPI GetLastError(void) { return host::g_lastError; }
void WINAPI SetLastError(DWORD error) { host::g_lastError = error; }

DWORD WINAPI GetVersion(void) { return Current().getVersion; }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
    info->dwMajorVersion = Current().major;
    info->dwMinorVersion = Current().minor;
    info->dwBuildNumber = (Current().getVersion >> 16) & 0x7FFF;
    info->dwPlatformId = Current().platformId;
    info->szCSDVersion[0] = 0;
    return TRUE;
}

// Copies a text into a caller's buffer the way the path queries do: the
// length without terminator on success, the size needed when it does not
// fit. The host's UTF-8 texts go out in the ANSI code page or in UTF-16.
template <typename Char, typename Text>
static DWORD CopyOutText(const Text& text, Char* buffer, DWORD size) {
    if (text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
    memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
    return static_cast<DWORD>(text.size());
}
static DWORD CopyOut(const std::string& utf8, LPSTR buffer, DWORD size) {
    return CopyOutText(host::AnsiFromUtf8(utf8), buffer, size);
}
static DWORD CopyOut(const std::string& utf8, LPWSTR buffer, DWORD size) {
    return CopyOutText(host::WideFromUtf8(utf8), buffer, size);
}

// As the system does: cut to the buffer and terminated.
template <typename Char, typename Text>
static DWORD CopyCut(const Text& path, Char* buffer, DWORD size) {
    if (size == 0) return 0;
    DWORD length = static_cast<DWORD>(path.size() < size - 1 ? path.size() : size - 1);
    memcpy(buffer, path.data(), length * sizeof(Char));
    buffer[length] = 0;
    return length;
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
    return CopyCut(host::AnsiFromUtf8(Current().modulePath), buffer, size);
}
DWORD WINAPI HostGetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
    return CopyCut(host::WideFromUtf8(Current().modulePath), buffer, size);
}

static std::string TempPath() {
    std::string path = Current().tempPath;
    if (path.empty()) {
        const char* tmp = getenv("TMPDIR");
        path = tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
    }
    if (path.back() != '/' && path.back() != '\\') path += '/';
    return path;
}
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) { return CopyOut(TempPath(), buffer, size); }
DWORD WINAPI HostGetTempPathW(DWORD size, LPWSTR buffer) { return CopyOut(TempPath(), buffer, size); }

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) { return CopyOut(Current().systemFolder, buffer, size); }
UINT WINAPI HostGetSystemDirectoryW(LPWSTR buffer, UINT size) { return CopyOut(Current().systemFolder, buffer, size); }
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) { return CopyOut(Current().windowsFolder, buffer, size); }
UINT WINAPI HostGetWindowsDirectoryW(LPWSTR buffer, UINT size) {
    return CopyOut(Current().windowsFolder, buffer, size);
}

// The host file system keeps no short names: an existing path is its own
// short form, unless a test gave it another.
static DWORD ShortPath(const std::string& hostPath, std::string utf8, void* buffer, DWORD size, bool wide) {
    auto given = Current().shortPaths.find(utf8);
    if (given != Current().shortPaths.end()) {
        utf8 = given->second;
    } else if (access(hostPath.c_str(), F_OK) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return wide ? CopyOut(utf8, static_cast<LPWSTR>(buffer), size) : CopyOut(utf8, static_cast<LPSTR>(buffer), size);
}
DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    return ShortPath(host::HostPath(longPath), host::Utf8FromAnsi(longPath), shortPath, size, false);
}
DWORD WINAPI HostGetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    return ShortPath(host::HostPath(longPath), host::Utf8FromWide(longPath), shortPath, size, true);
}

static std::string CurrentDirectory() {
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) == nullptr ? std::string() : std::string(cwd);
}
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) { return CopyOut(CurrentDirectory(), buffer, size); }
DWORD WINAPI HostGetCurrentDirectoryW(DWORD size, LPWSTR buffer) { return CopyOut(CurrentDirectory(), buffer, size); }
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) { return chdir(host::HostPath(path).c_str()) == 0 ? TRUE : FALSE; }
BOOL WINAPI HostSetCurrentDirectoryW(LPCWSTR path) { return chdir(host::HostPath(path).c_str()) == 0 ? TRUE : FALSE; }

// Environment names compare without regard to case, as on Windows.
static const char* FindEnvironment(const std::string& name) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (equals == nullptr || equals == *entry) continue;
        size_t length = static_cast<size_t>(equals - *entry);
        if (length == name.size() && strncasecmp(*entry, name.c_str(), length) == 0) {
            return equals + 1;
        }
    }
    return nullptr;
}

// The expansion of a UTF-8 text; the environment holds UTF-8 as well.
static std::string Expand(const std::string& source) {
    std::string out;
    for (size_t p = 0; p < source.size();) {
        size_t close = source[p] == '%' ? source.find('%', p + 1) : std::string::npos;
        if (close == std::string::npos || close == p + 1) {
            out += source[p++];
            continue;
        }
        const char* value = FindEnvironment(source.substr(p + 1, close - p - 1));
        if (value == nullptr) {
            out += source[p++];  // not a variable: the percent sign stays and may open the next one
            continue;
        }
        out += value;
        p = close + 1;
    }
    return out;
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
    std::string out = host::AnsiFromUtf8(Expand(host::Utf8FromAnsi(source)));
    DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (needed <= size) memcpy(destination, out.c_str(), needed);
    return needed;
}

DWORD WINAPI HostExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    std::u16string out = host::WideFromUtf8(Expand(host::Utf8FromWide(source)));
    DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (needed <= size) memcpy(destination, out.c_str(), needed * 2);
    return needed;
}

LPWSTR WINAPI HostGetCommandLineW() {
    static std::u16string line;
    line = host::WideFromUtf8("valkrin.exe " + Current().commandLine);
    return &line[0];
}

BOOL WINAPI IsDBCSLeadByte(BYTE test) { return host::HostLeadByte(test) ? TRUE : FALSE; }

LPSTR WINAPI CharNextA(LPCSTR current) {
    if (*current == 0) return const_cast<LPSTR>(current);
    if (IsDBCSLeadByte(static_cast<BYTE>(*current)) && current[1] != 0) {
        return const_cast<LPSTR>(current + 2);
    }
    return const_cast<LPSTR>(current + 1);
}

LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR current) {
    if (current <= start) return const_cast<LPSTR>(start);
    LPCSTR walk = start;
    for (;;) {
        LPCSTR next = CharNextA(walk);
        if (next >= current || next == walk) return const_cast<LPSTR>(walk);
        walk = next;
    }
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return strcmp(a, b); }

HLOCAL WINAPI LocalAlloc(UINT, size_t bytes) {
    if (Current().allocationFault.Hit()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return calloc(1, bytes == 0 ? 1 : bytes);
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    free(memory);
    return nullptr;
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
static int64_t DaysSince1601(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    int64_t daysSince1970 = era * 146097 + dayOfEra - 719468;
    return daysSince1970 + 134774;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
    if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999 || st->wYear < 1601) {
        return FALSE;
    }
    int64_t days = DaysSince1601(st->wYear, st->wMonth, st->wDay);
    uint64_t seconds = static_cast<uint64_t>(days) * 86400 + st->wHour * 3600u +
                       st->wMinute * 60u + st->wSecond;
    uint64_t value = seconds * 10000000u + st->wMilliseconds * 10000u;
    ft->dwLowDateTime = static_cast<DWORD>(value);
    ft->dwHighDateTime = static_cast<DWORD>(value >> 32);
    return TRUE;
}

void WINAPI GetSystemTime(LPSYSTEMTIME st) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm utc;
    gmtime_r(&now.tv_sec, &utc);
    st->wYear = static_cast<WORD>(utc.tm_year + 1900);
    st->wMonth = static_cast<WORD>(utc.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    st->wDay = static_cast<WORD>(utc.tm_mday);
    st->wHour = static_cast<WORD>(utc.tm_hour);
    st->wMinute = static_cast<WORD>(utc.tm_min);
    st->wSecond = static_cast<WORD>(utc.tm_sec);
    st->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, 1024, format, args);  // the system's limit
    va_end(args);
    return written < 1024 ? written : 1023;
}

// The text of string `id` in UTF-8: the table of the user's UI language.
static const char* MessageText(UINT id) {
    struct Message {
        UINT id;
        const char* text;
    };
    static const Message japanese[] = {
#define MESSAGE(name, id, text) {id, text},
#include "res/messages.def"
#undef MESSAGE
    };
    static const Message english[] = {
#define MESSAGE(name, id, text) {id, text},
#include "res/messages_en.def"
#undef MESSAGE
    };
    bool inEnglish = Current().englishUi;
    const Message* table = inEnglish ? english : japanese;
    size_t count = inEnglish ? sizeof english / sizeof english[0] : sizeof japanese / sizeof japanese[0];
    for (const Message* m = table; m < table + count; ++m) {
        if (m->id == id) return m->text;
    }
    return nullptr;
}

template <typename Char, typename Text>
static int LoadInto(const Text& text, Char* buffer, int size) {
    size_t length = text.size() < static_cast<size_t>(size - 1) ? text.size() : size - 1;
    memcpy(buffer, text.data(), length * sizeof(Char));
    buffer[length] = 0;
    return static_cast<int>(length);
}

// The system hands the text out in its ANSI code page, or in UTF-16.
int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
    if (size <= 0) return 0;
    const char* text = MessageText(id);
    return LoadInto(host::AnsiFromUtf8(text != nullptr ? text : ""), buffer, size);
}

int WINAPI HostLoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int size) {
    if (size <= 0) return 0;
    const char* text = MessageText(id);
    return LoadInto(host::WideFromUtf8(text != nullptr ? text : ""), buffer, size);
}

struct HostKey {
    std::string path;
};

static LONG OpenKey(HKEY hive, const std::string& subKey, PHKEY result) {
    std::string prefix = host::RegistryName(hive, subKey, "");
    for (const auto& entry : Current().registry) {
        if (entry.first.compare(0, prefix.size(), prefix) == 0) {
            *result = new HostKey{prefix};
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegOpenKeyExA(HKEY hive, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    return OpenKey(hive, host::Utf8FromAnsi(subKey), result);
}
LONG WINAPI HostRegOpenKeyExW(HKEY hive, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    return OpenKey(hive, host::Utf8FromWide(subKey), result);
}

// A text value as REG_SZ: in the ANSI code page, or in UTF-16 (sizes in bytes).
template <typename Text>
static LONG QueryValue(HKEY key, const std::string& valueName, LPDWORD type, LPBYTE data, LPDWORD dataSize,
                       Text (*convert)(const std::string&)) {
    auto found = Current().registry.find(key->path + valueName);
    if (found == Current().registry.end()) return ERROR_FILE_NOT_FOUND;
    Text value = convert(found->second);
    DWORD needed = static_cast<DWORD>((value.size() + 1) * sizeof value[0]);
    if (type != nullptr) *type = REG_SZ;
    if (needed > *dataSize) {
        *dataSize = needed;
        return 234;  // ERROR_MORE_DATA
    }
    memcpy(data, value.c_str(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
    return QueryValue(key, valueName, type, data, dataSize, host::AnsiFromUtf8);
}
LONG WINAPI HostRegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                                 LPDWORD dataSize) {
    return QueryValue(key, host::Utf8FromWide(valueName), type, data, dataSize, host::WideFromUtf8);
}

LONG WINAPI RegCloseKey(HKEY key) {
    delete key;
    return ERROR_SUCCESS;
}
