// Host implementations of module loading: kernel32, comctl32 and shell32
// are the only modules, and their few run-time entry points are ours.
#include <string.h>
#include <strings.h>

#include <string>

#include "platform/posix/host_state.h"

using host::Current;

struct HostModule {
    const char* name;
};

namespace {

HostModule g_kernel{"kernel32.dll"};
HostModule g_comctl{"comctl32.dll"};
HostModule g_user{"user32.dll"};
HostModule g_shell{"shell32.dll"};
HostModule g_advapi{"advapi32.dll"};

BOOL WINAPI HostSetDefaultDllDirectories(DWORD flags) {
    Current().dllSearchFlags = flags;
    return TRUE;
}

BOOL WINAPI HostSetDllDirectoryA(LPCSTR path) {
    Current().currentFolderDropped = path != nullptr && *path == 0;
    return TRUE;
}

bool EndsWith(const std::string& text, const char* suffix) {
    size_t length = strlen(suffix);
    return text.size() >= length && strcasecmp(text.c_str() + text.size() - length, suffix) == 0;
}

}  // namespace

namespace host {

const std::vector<std::string>& LoadedLibraries() { return Current().loadedLibraries; }
DWORD DllSearchFlags() { return Current().dllSearchFlags; }
bool CurrentFolderDroppedFromSearch() { return Current().currentFolderDropped; }
void SetOldKernel(bool old) { Current().oldKernel = old; }

}  // namespace host

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (name == nullptr) return host::ModuleHandle();
    if (strcasecmp(name, "user32.dll") == 0) return &g_user;
    if (strcasecmp(name, "advapi32.dll") == 0) return &g_advapi;
    return strcasecmp(name, "kernel32.dll") == 0 ? &g_kernel : nullptr;
}

HMODULE WINAPI LoadLibraryA(LPCSTR path) {
    Current().loadedLibraries.push_back(path);
    std::string name = path;
    if (strcasecmp(path, "comctl32.dll") == 0 || EndsWith(name, "\\comctl32.dll")) return &g_comctl;
    if (EndsWith(name, "\\shell32.dll") && Current().shellState != host::ShellState::NoLibrary) return &g_shell;
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    std::string wanted = name;
    if (module == &g_kernel && !Current().oldKernel) {
        if (wanted == "SetDefaultDllDirectories") {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(HostSetDefaultDllDirectories));
        }
        if (wanted == "SetDllDirectoryA") {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(HostSetDllDirectoryA));
        }
    }
    if (module == &g_kernel) {
        FARPROC found = host::ProcessFunction(wanted);
        if (found == nullptr) found = host::FileFunction(wanted);
        if (found != nullptr) return found;
    }
    if (module == &g_kernel || module == &g_user || module == &g_advapi) {
        FARPROC wide = host::WideFunction(wanted);
        if (wide != nullptr) return wide;
    }
    if (module == &g_shell && Current().shellState != host::ShellState::NoExport) {
        if (wanted == "ShellExecuteExA") return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(HostShellExecuteExA));
        if (wanted == "ShellExecuteExW") return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(HostShellExecuteExW));
    }
    if (module == &g_comctl && wanted == "InitCommonControls") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(InitCommonControls));
    }
    return nullptr;
}
