#include "startup/dll_safety.h"

#include "common/text.h"
#include "platform/win32.h"

namespace {

constexpr DWORD SEARCH_SYSTEM32_ONLY = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFn)(LPCSTR);
typedef void(WINAPI* InitCommonControlsFn)(void);

}  // namespace

void RestrictDllSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(SEARCH_SYSTEM32_ONLY);
    DropCurrentFolderFromDllSearch(true);
}

void DropCurrentFolderFromDllSearch(bool drop) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory != nullptr) setDirectory(drop ? "" : nullptr);
}

void InitCommonControlsFromSystem() {
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    AppendBackslash(path, sizeof path);
    if (!TextAppend(path, sizeof path, "comctl32.dll")) return;
    HMODULE comctl = LoadLibraryA(path);
    if (comctl == nullptr) return;
    auto init = reinterpret_cast<InitCommonControlsFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControls")));
    if (init != nullptr) init();
}
