// The tools' host layer on Windows: every name goes to the system as UTF-16
// (the W functions and _wfopen), so names outside the ANSI code page work;
// code page 932 conversions are the system's own, without best-fit
// replacements, so a character without a Shift-JIS form is an error.
#include "files/host_fs.h"

#include <windows.h>
#include <errno.h>
#include <io.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

namespace hostfs {

namespace {

constexpr UINT SHIFT_JIS = 932;
// FILETIME of 1970-01-01 00:00 UTC, in 100-ns intervals since 1601.
constexpr uint64_t UNIX_EPOCH_FILETIME = 116444736000000000ull;

// UTF-8 to UTF-16; false when the bytes are not valid UTF-8.
bool ToWide(const std::string& utf8, std::wstring* wide) {
    wide->clear();
    if (utf8.empty()) return true;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return false;
    wide->resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &(*wide)[0],
                               n) == n;
}

// A name for the system; bytes that are not UTF-8 become U+FFFD, which
// names no file, so the call that follows fails as it should.
std::wstring Wide(const std::string& utf8) {
    std::wstring wide;
    if (ToWide(utf8, &wide)) return wide;
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    wide.assign(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const wchar_t* wide, size_t length) {
    if (length == 0) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

// The system's text for an error code, in UTF-8, without the line break.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n != 0 ? Narrow(text, n) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

void SplitTime(const FILETIME& time, int64_t* seconds, uint32_t* nanoseconds) {
    uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    int64_t since1970 = static_cast<int64_t>(ticks - UNIX_EPOCH_FILETIME);
    int64_t whole = since1970 / 10000000;
    int64_t rest = since1970 % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --whole;
    }
    *seconds = whole;
    *nanoseconds = static_cast<uint32_t>(rest * 100);
}

void FromAttributes(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& write, const FILETIME& access,
                    FileInfo* info) {
    *info = FileInfo();
    info->folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->regular = !info->folder && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info->readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    info->size = info->regular ? (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow : 0;
    SplitTime(write, &info->writeSeconds, &info->writeNanoseconds);
    SplitTime(access, &info->accessSeconds, &info->accessNanoseconds);
}

// One UTF-16 text in code page 932; false when a character has no form.
bool WideToShiftJis(const std::wstring& wide, std::string* sjis) {
    sjis->clear();
    if (wide.empty()) return true;
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(SHIFT_JIS, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr,
                                0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    sjis->resize(static_cast<size_t>(n));
    n = WideCharToMultiByte(SHIFT_JIS, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &(*sjis)[0],
                            n, nullptr, &usedDefault);
    return n > 0 && !usedDefault;
}

size_t Utf8SequenceLength(unsigned char lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1; }

UINT g_savedConsoleOutput = 0;

void RestoreConsole() { SetConsoleOutputCP(g_savedConsoleOutput); }

}  // namespace

std::vector<std::string> Arguments(int, char**) {
    g_savedConsoleOutput = GetConsoleOutputCP();
    if (g_savedConsoleOutput != 0 && SetConsoleOutputCP(CP_UTF8)) atexit(RestoreConsole);
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; argv != nullptr && i < count; ++i) args.push_back(Narrow(argv[i], wcslen(argv[i])));
    if (argv != nullptr) LocalFree(argv);
    return args;
}

std::string SlashSeparated(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

FILE* OpenFile(const std::string& path, const char* mode) { return _wfopen(Wide(path).c_str(), Wide(mode).c_str()); }

bool RemoveFile(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

FILE* OpenTemporaryFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH || GetTempFileNameW(folder, L"vkp", 0, name) == 0) return nullptr;
    // "D": the C library deletes the file when it is closed.
    FILE* file = _wfopen(name, L"w+bD");
    if (file == nullptr) DeleteFileW(name);
    return file;
}

bool IsTerminal(FILE* file) { return _isatty(_fileno(file)) != 0; }

bool Stat(const std::string& path, FileInfo* info, std::string* reason) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        *reason = SystemMessage(GetLastError());
        return false;
    }
    FromAttributes(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime,
                   data.ftLastAccessTime, info);
    return true;
}

bool Stat(FILE* file, FileInfo* info, std::string* reason) {
    BY_HANDLE_FILE_INFORMATION data;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &data)) {
        *reason = SystemMessage(GetLastError());
        return false;
    }
    FromAttributes(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime,
                   data.ftLastAccessTime, info);
    return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* reason) {
    names->clear();
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return true;  // nothing at all, not even "."
        *reason = SystemMessage(code);
        return false;
    }
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
            names->push_back(Narrow(found.cFileName, wcslen(found.cFileName)));
        }
    } while (FindNextFileW(search, &found));
    DWORD code = GetLastError();
    FindClose(search);
    if (code != ERROR_NO_MORE_FILES) {
        *reason = SystemMessage(code);
        return false;
    }
    return true;
}

bool Seek(FILE* file, uint64_t offset) {
    return offset <= INT64_MAX && _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

int64_t Tell(FILE* file) { return _ftelli64(file); }

bool Truncate(FILE* file, uint64_t size) {
    if (fflush(file) != 0) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    return handle != INVALID_HANDLE_VALUE && SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle);
}

std::string LastError() { return strerror(errno); }

bool Utf8ToShiftJis(const std::string& utf8, std::string* sjis, size_t* failedAt) {
    std::wstring wide;
    if (ToWide(utf8, &wide) && WideToShiftJis(wide, sjis)) return true;
    // Find the first character that fails on its own.
    for (size_t i = 0; i < utf8.size();) {
        size_t length = Utf8SequenceLength(static_cast<unsigned char>(utf8[i]));
        std::string one;
        if (!ToWide(utf8.substr(i, length), &wide) || !WideToShiftJis(wide, &one)) {
            *failedAt = i;
            return false;
        }
        i += length;
    }
    *failedAt = 0;
    return false;
}

bool Utf8ToShiftJisReplacing(const std::string& utf8, char replacement, std::string* sjis, bool* replaced) {
    std::wstring wide;
    *replaced = false;
    if (!ToWide(utf8, &wide)) return false;
    if (WideToShiftJis(wide, sjis)) return true;
    // Character by character, a surrogate pair being one.
    sjis->clear();
    for (size_t i = 0; i < wide.size();) {
        bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
                    wide[i + 1] <= 0xDFFF;
        size_t length = pair ? 2 : 1;
        std::string one;
        if (WideToShiftJis(wide.substr(i, length), &one)) {
            *sjis += one;
        } else {
            *sjis += replacement;
            *replaced = true;
        }
        i += length;
    }
    return true;
}

bool ShiftJisToUtf8(const std::string& sjis, std::string* utf8) {
    utf8->clear();
    if (sjis.empty()) return true;
    int n = MultiByteToWideChar(SHIFT_JIS, MB_ERR_INVALID_CHARS, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(SHIFT_JIS, MB_ERR_INVALID_CHARS, sjis.data(), static_cast<int>(sjis.size()), &wide[0], n) !=
        n) {
        return false;
    }
    *utf8 = Narrow(wide.data(), wide.size());
    return true;
}

}  // namespace hostfs
