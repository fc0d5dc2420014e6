// The product's own entry point: no C runtime runs before or after it.
#ifdef _WIN32
#include "platform/win32.h"
#include "startup/startup.h"

extern "C" void WINAPI StubEntry() {
    LPSTR commandLine = const_cast<LPSTR>(SkipProgramName(GetCommandLineA()));
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, commandLine,
                                          SW_SHOWDEFAULT)));
}
#endif
