// The install command of temporary mode and the removal of the extraction
// folder afterwards.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

// Every poll and sleep of the waits, in milliseconds.
constexpr DWORD WAIT_CYCLE_MS = 50;

// How long a run that nobody can cancel (no progress window) waits for the
// programs that run from the extraction folder: 10 minutes, counted in wait
// cycles.
constexpr DWORD PROGRAM_WAIT_BOUND_MS = 10 * 60 * 1000;

// Expands and runs `command` from the extraction folder, keeping the
// progress window alive while it waits: for the process, the grace time,
// then (with CFG_WAIT_FOR_CLASS) for the windows of the configured class and
// the grace time again, then for every program that runs from the folder
// (AwaitProgramsInFolder). A cancel ends every wait at once and leaves the
// installer running. True when the command was started; false when it could
// not be.
bool RunInstallCommand();

// Waits while any process runs a program from inside the extraction folder,
// named as the stub named it or in its short form (%ExtractDirX%): copies
// the installer started and left running, one started elevated through
// "runas" among them. Pumps the window every cycle; ends on a cancel, or
// after `boundMs` (0: no bound). Where the system lists no processes, or
// gives no program's path, it does not wait.
void AwaitProgramsInFolder(DWORD boundMs);

// A program named without a folder ("setup.exe /q") would be searched first
// in the folder of the packed file, where a planted program of that name
// could wait. When the extraction folder holds that program (with ".exe"
// added when the name has no extension, as Windows does), `command` is
// rewritten to name it by its full path, in quotes. False when the
// rewritten command would not fit `capacity` units, or 259 bytes in the
// system's code page (it is then not run).
bool ResolveBareProgram(WCHAR* command, uint32_t capacity, const WCHAR* folder);

// The search record of MatchWindowClass.
struct WindowSearch {
    const char* className;  // the class awaited
    int found;              // 1 once a window of it was met
};

// Window-enumeration callback: false (stop) at the first top-level window of
// the class. Names are read with room for 40 bytes.
BOOL CALLBACK MatchWindowClass(HWND window, LPARAM record);

// Removes the folder in `path` with everything in it, as far as possible:
// read-only, hidden and system files included. Only the entries "." and
// ".." are skipped; a junction or symbolic link is removed itself, never
// descended into. A file that cannot be deleted (in use) and every folder
// left so are scheduled for deletion at the next restart, deepest first,
// where the process has the rights. `path` is working storage of `capacity`
// units.
void RemoveFolderTree(WCHAR* path, uint32_t capacity);
