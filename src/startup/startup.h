// Start-up: from the process entry to the extraction run.
#pragma once

#include "platform/win32.h"

// The program: version gate, own path, configuration block, command line,
// permission check, the question, then the extraction run. Returns the exit
// code: 1 when both passes succeeded, else 0 (or, for packages that choose
// them, the codes of Windows Installer). `commandLine` is the process
// command line without the program's own name (see SkipProgramName); on the
// NT family the wide command line is read instead, skipped the same way.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The extraction run that WinMain hands over to after the question, when
// set; RunExtraction otherwise. A plain function pointer so that start-up can
// be tested on its own.
extern int (*g_extractionRun)();

// The minimum-version gate, from GetVersion: the Windows 95 family from 4.0,
// the NT family from 3.51.
bool IsWindowsSupported();

// The permission bit that the running version requires is set in `flags`.
bool IsWindowsPermitted(DWORD flags);

// The permission bit for a platform id and version, or 0 where none permits.
DWORD RequiredPermissionBit(DWORD platformId, DWORD major, DWORD minor);

// The exit codes of Windows Installer that packages choosing them give for
// the stub's own outcomes (CFG_INSTALLER_EXIT_CODES).
constexpr int EXIT_USER_CANCELLED = 1602;  // the answer No, Cancel, a declined elevation
constexpr int EXIT_INSTALL_FAILED = 1603;  // damage, read or write errors, no installer, any failure
constexpr int EXIT_NOT_PERMITTED = 1633;   // a Windows the package is not permitted on

enum class StartupVerdict {
    Run,            // applied: go on
    TooLong,        // the folder argument does not fit its 259 bytes: refuse the run
    Help,           // -?: show the switches
    UnknownSwitch,  // refuse the run, naming g_run.refusedText
};

// Applies the command line: for classic packages the one switch (-n, -q,
// /N, /Q; only its second byte counts) and the folder argument; for packages
// that choose the extended switches those (startup/switches.h). Then expands
// environment variables in the command (folder mode: the current directory
// when it is empty).
StartupVerdict ApplyCommandLine(const WCHAR* commandLine);

// The process command line behind the program's name: a quoted name ends at
// its closing quote, an unquoted one at the first byte of 0x20 or below; the
// bytes 0x01 to 0x20 after it are skipped too.
const char* SkipProgramName(const char* processCommandLine);
