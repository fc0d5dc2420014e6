// The table of wide calls that GetProcAddress hands out (their host
// implementations live beside the ANSI calls of the same name), and the
// code page calls.
#include <string.h>
#include <time.h>

#include <string>

#include "platform/posix/host_state.h"

using host::Current;

namespace {

template <typename Function>
FARPROC AsProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

int WINAPI HostWideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int length, LPSTR bytes, int size,
                                   LPCSTR, LPBOOL) {
    if (codePage == CP_ACP) codePage = Current().codePage;
    if (!IsValidCodePage(codePage) && codePage != CP_UTF8) return 0;
    size_t units = 0;
    if (length < 0) {
        while (text[units] != 0) ++units;
        ++units;
    } else {
        units = static_cast<size_t>(length);
    }
    std::string out = host::Convert(std::string(reinterpret_cast<const char*>(text), units * 2),
                                    codePage == CP_UTF8 ? "UTF-8" : codePage == 932 ? "CP932" : "CP1252", "UTF-16LE");
    int count = static_cast<int>(out.size());
    if (size == 0) return count;
    if (count > size) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    memcpy(bytes, out.data(), out.size());
    return count;
}

DWORD WINAPI HostGetTickCount() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace

FARPROC host::WideFunction(const std::string& name) {
    struct Entry {
        const char* name;
        FARPROC function;
    };
    static const Entry entries[] = {
        {"CreateFileW", AsProc(HostCreateFileW)},
        {"CreateDirectoryW", AsProc(HostCreateDirectoryW)},
        {"RemoveDirectoryW", AsProc(HostRemoveDirectoryW)},
        {"DeleteFileW", AsProc(HostDeleteFileW)},
        {"GetFileAttributesW", AsProc(HostGetFileAttributesW)},
        {"SetFileAttributesW", AsProc(HostSetFileAttributesW)},
        {"FindFirstFileW", AsProc(HostFindFirstFileW)},
        {"FindNextFileW", AsProc(HostFindNextFileW)},
        {"GetVolumeInformationW", AsProc(HostGetVolumeInformationW)},
        {"GetModuleFileNameW", AsProc(HostGetModuleFileNameW)},
        {"GetTempPathW", AsProc(HostGetTempPathW)},
        {"GetCurrentDirectoryW", AsProc(HostGetCurrentDirectoryW)},
        {"SetCurrentDirectoryW", AsProc(HostSetCurrentDirectoryW)},
        {"GetShortPathNameW", AsProc(HostGetShortPathNameW)},
        {"GetSystemDirectoryW", AsProc(HostGetSystemDirectoryW)},
        {"GetWindowsDirectoryW", AsProc(HostGetWindowsDirectoryW)},
        {"ExpandEnvironmentStringsW", AsProc(HostExpandEnvironmentStringsW)},
        {"CreateProcessW", AsProc(HostCreateProcessW)},
        {"GetCommandLineW", AsProc(HostGetCommandLineW)},
        {"GetExitCodeProcess", AsProc(HostGetExitCodeProcess)},
        {"GetTickCount", AsProc(HostGetTickCount)},
        {"WideCharToMultiByte", AsProc(HostWideCharToMultiByte)},
        {"MessageBoxW", AsProc(HostMessageBoxW)},
        {"CreateDialogParamW", AsProc(HostCreateDialogParamW)},
        {"SetWindowTextW", AsProc(HostSetWindowTextW)},
        {"SetDlgItemTextW", AsProc(HostSetDlgItemTextW)},
        {"LoadStringW", AsProc(HostLoadStringW)},
        {"RegOpenKeyExW", AsProc(HostRegOpenKeyExW)},
        {"RegQueryValueExW", AsProc(HostRegQueryValueExW)},
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

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                               int wideLength) {
    if (codePage == CP_ACP) codePage = Current().codePage;
    if (!IsValidCodePage(codePage)) return 0;
    size_t bytes = length < 0 ? strlen(text) + 1 : static_cast<size_t>(length);
    const char* charset = codePage == 932 ? "CP932" : "CP1252";
    std::string units = host::Convert(std::string(text, bytes), "UTF-16LE", charset);
    // A byte sequence the code page lacks fails the strict conversion.
    if ((flags & MB_ERR_INVALID_CHARS) != 0 && host::Convert(units, charset, "UTF-16LE") != std::string(text, bytes)) {
        SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
        return 0;
    }
    int count = static_cast<int>(units.size() / 2);
    if (wideLength == 0) return count;
    if (count > wideLength) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    memcpy(wide, units.data(), units.size());
    return count;
}
