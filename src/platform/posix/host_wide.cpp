// Host implementations of the code page calls and of the wide calls that
// the product reaches through GetProcAddress. A wide call takes its texts as
// UTF-16, turns them into code page 932 bytes and does what the ANSI call
// does with those, reading them as Shift-JIS whatever the ANSI code page is:
// so a file it creates is the one the ANSI call creates under code page 932.
#include <string.h>

#include <string>

#include "platform/posix/host_state.h"

using host::Current;

namespace {

std::string FromUtf16(LPCWSTR text) {
    if (text == nullptr) return "";
    size_t length = 0;
    while (text[length] != 0) ++length;
    std::string bytes(reinterpret_cast<const char*>(text), length * 2);
    return host::Convert(bytes, "CP932", "UTF-16LE");
}

// Serves one wide call through its ANSI twin, with path bytes read as Shift-JIS.
struct WideScope {
    WideScope() { Current().wideCall = true; }
    ~WideScope() { Current().wideCall = false; }
};

BOOL WINAPI HostCreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security) {
    WideScope scope;
    return CreateDirectoryA(FromUtf16(name).c_str(), security);
}

HANDLE WINAPI HostCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
    WideScope scope;
    return CreateFileA(FromUtf16(name).c_str(), access, share, security, disposition, flags,
                       templateFile);
}

BOOL WINAPI HostSetFileAttributesW(LPCWSTR name, DWORD attributes) {
    WideScope scope;
    return SetFileAttributesA(FromUtf16(name).c_str(), attributes);
}

DWORD WINAPI HostGetFileAttributesW(LPCWSTR name) {
    WideScope scope;
    return GetFileAttributesA(FromUtf16(name).c_str());
}

BOOL WINAPI HostDeleteFileW(LPCWSTR name) {
    WideScope scope;
    return DeleteFileA(FromUtf16(name).c_str());
}

BOOL WINAPI HostRemoveDirectoryW(LPCWSTR name) {
    WideScope scope;
    return RemoveDirectoryA(FromUtf16(name).c_str());
}

void ToWideFindData(const WIN32_FIND_DATAA& narrow, LPWIN32_FIND_DATAW wide) {
    memset(wide, 0, sizeof *wide);
    wide->dwFileAttributes = narrow.dwFileAttributes;
    wide->ftLastWriteTime = narrow.ftLastWriteTime;
    wide->nFileSizeLow = narrow.nFileSizeLow;
    std::string units = host::Convert(narrow.cFileName, "UTF-16LE", "CP932");
    size_t count = units.size() / 2 < MAX_PATH - 1 ? units.size() / 2 : MAX_PATH - 1;
    memcpy(wide->cFileName, units.data(), count * 2);
}

HANDLE WINAPI HostFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    WideScope scope;
    WIN32_FIND_DATAA narrow;
    HANDLE found = FindFirstFileA(FromUtf16(pattern).c_str(), &narrow);
    if (found != INVALID_HANDLE_VALUE) ToWideFindData(narrow, data);
    return found;
}

BOOL WINAPI HostFindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    WIN32_FIND_DATAA narrow;
    if (!FindNextFileA(find, &narrow)) return FALSE;
    ToWideFindData(narrow, data);
    return TRUE;
}

BOOL WINAPI HostCreateProcessW(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                               LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags,
                               LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                               LPPROCESS_INFORMATION info) {
    WideScope scope;
    std::string line = FromUtf16(commandLine);
    std::string folder = FromUtf16(directory);
    STARTUPINFOA narrow;
    memset(&narrow, 0, sizeof narrow);
    narrow.cb = sizeof narrow;
    narrow.dwFlags = startup->dwFlags;
    narrow.wShowWindow = startup->wShowWindow;
    return CreateProcessA(nullptr, &line[0], process, thread, inherit, flags, environment,
                          directory != nullptr ? folder.c_str() : nullptr, &narrow, info);
}

int WINAPI HostMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    int answer = MessageBoxA(owner, FromUtf16(text).c_str(), FromUtf16(caption).c_str(), type);
    Current().boxes.back().wide = true;
    return answer;
}

BOOL WINAPI HostSetWindowTextW(HWND window, LPCWSTR text) {
    return SetWindowTextA(window, FromUtf16(text).c_str());
}

BOOL WINAPI HostSetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    return SetDlgItemTextA(dialog, id, FromUtf16(text).c_str());
}

HWND WINAPI HostCreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc,
                                   LPARAM init) {
    return CreateDialogParamA(instance, reinterpret_cast<LPCSTR>(name), owner, proc, init);
}

template <typename Function>
FARPROC AsProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace

FARPROC host::WideFunction(const std::string& name) {
    struct Entry {
        const char* name;
        FARPROC function;
    };
    static const Entry entries[] = {
        {"CreateDirectoryW", AsProc(HostCreateDirectoryW)},
        {"CreateFileW", AsProc(HostCreateFileW)},
        {"SetFileAttributesW", AsProc(HostSetFileAttributesW)},
        {"GetFileAttributesW", AsProc(HostGetFileAttributesW)},
        {"DeleteFileW", AsProc(HostDeleteFileW)},
        {"RemoveDirectoryW", AsProc(HostRemoveDirectoryW)},
        {"FindFirstFileW", AsProc(HostFindFirstFileW)},
        {"FindNextFileW", AsProc(HostFindNextFileW)},
        {"CreateProcessW", AsProc(HostCreateProcessW)},
        {"MessageBoxW", AsProc(HostMessageBoxW)},
        {"SetWindowTextW", AsProc(HostSetWindowTextW)},
        {"SetDlgItemTextW", AsProc(HostSetDlgItemTextW)},
        {"CreateDialogParamW", AsProc(HostCreateDialogParamW)},
    };
    for (const Entry& entry : entries) {
        if (name == entry.name) return entry.function;
    }
    return nullptr;
}

UINT WINAPI GetACP(void) { return Current().codePage; }

BOOL WINAPI IsValidCodePage(UINT codePage) {
    return codePage == 932 || codePage == 1252 ? TRUE : FALSE;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR wide,
                               int wideLength) {
    if (codePage == CP_ACP) codePage = Current().codePage;
    if (!IsValidCodePage(codePage)) return 0;
    size_t bytes = length < 0 ? strlen(text) + 1 : static_cast<size_t>(length);
    std::string units = host::Convert(std::string(text, bytes), "UTF-16LE",
                                      codePage == 932 ? "CP932" : "CP1252");
    int count = static_cast<int>(units.size() / 2);
    if (wideLength == 0) return count;
    if (count > wideLength) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    memcpy(wide, units.data(), units.size());
    return count;
}
