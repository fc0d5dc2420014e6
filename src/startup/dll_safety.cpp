#include "startup/dll_safety.h"

#include "common/text.h"

namespace {

constexpr DWORD SEARCH_SYSTEM32_ONLY = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFn)(LPCSTR);
typedef void(WINAPI* InitCommonControlsFn)(void);

}  // namespace

bool RestrictDllSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return false;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    bool restricted = setDefault != nullptr && setDefault(SEARCH_SYSTEM32_ONLY) != 0;
    DropCurrentFolderFromDllSearch(true);
    return restricted;
}

void DropCurrentFolderFromDllSearch(bool drop) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory != nullptr) setDirectory(drop ? "" : nullptr);
}

HMODULE LoadSystemLibrary(const char* name) {
    // The system folder and a DLL's name behind it, in the system's bytes:
    // the folder never ends in a double-byte character.
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (path[length - 1] != '\\') path[length++] = '\\';
    uint32_t nameLength = TextLength(name);
    if (length + nameLength >= MAX_PATH) return nullptr;
    MemCopy(path + length, name, nameLength + 1);
    return LoadLibraryA(path);
}

void InitCommonControlsFromSystem(bool searchRestricted) {
    HMODULE comctl = searchRestricted ? LoadLibraryA("comctl32.dll") : LoadSystemLibrary("comctl32.dll");
    if (comctl == nullptr) return;
    auto init = reinterpret_cast<InitCommonControlsFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControls")));
    if (init != nullptr) init();
}
