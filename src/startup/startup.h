// Start-up: from the process entry to the extraction run.
#pragma once

#include "platform/win32.h"

// The program: version gate, own path, configuration block, command line,
// permission check, the question, then the extraction run. Returns the exit
// code: 1 when both passes succeeded, else 0. `commandLine` is the process
// command line without the program's own name (see SkipProgramName); on the
// NT family the wide command line is read instead, skipped the same way.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The extraction run that WinMain hands over to after the question. A plain
// function pointer so that start-up can be tested on its own.
extern int (*g_extractionRun)();

// The minimum-version gate, from GetVersion: the Windows 95 family from 4.0,
// the NT family from 3.51.
bool IsWindowsSupported();

// The permission bit that the running version requires is set in `flags`.
bool IsWindowsPermitted(DWORD flags);

// The permission bit for a platform id and version, or 0 where none permits.
DWORD RequiredPermissionBit(DWORD platformId, DWORD major, DWORD minor);

// Applies the switch (-n, -q, /N, /Q) and the folder argument, then expands
// environment variables in the command (folder mode: the current directory
// when it is empty). False when the folder argument does not fit its 259
// bytes; the caller then refuses the run.
bool ApplyCommandLine(const WCHAR* commandLine);

// The process command line behind the program's name: a quoted name ends at
// its closing quote, an unquoted one at the first byte of 0x20 or below; the
// bytes 0x01 to 0x20 after it are skipped too.
const char* SkipProgramName(const char* processCommandLine);
