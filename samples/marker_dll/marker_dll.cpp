// A marker DLL for the DLL-planting tests. It is built once under each name
// that a planted DLL could carry (comctl32.dll, version.dll, ...) and left
// beside a packed file. When any process loads it, it writes a marker file
// next to itself, "<its own path>.loaded", holding the path of the program
// that loaded it; a test that finds no marker file knows that it was never
// loaded.
//
// No C runtime: it imports kernel32 alone, so that loading it pulls in no
// other DLL. It exports the two common-controls entry points, so that a
// program that imports them statically resolves them here and starts (with
// no progress bar class registered).
#include <windows.h>

namespace {

void WriteMarker(HINSTANCE self) {
    char marker[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcpyA(marker + length, ".loaded");
    char loader[MAX_PATH];
    DWORD loaderLength = GetModuleFileNameA(nullptr, loader, MAX_PATH);
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written;
    WriteFile(file, loader, loaderLength, &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" {

__declspec(dllexport) void WINAPI InitCommonControls() {}

__declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void*) { return TRUE; }

BOOL WINAPI MarkerDllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) WriteMarker(self);
    return TRUE;
}

}  // extern "C"
