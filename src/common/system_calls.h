// The system calls that take or give texts, in the one form the stub holds
// them (common/text.h). Where the system offers the wide calls and code page
// 932 (the NT family), a text is UTF-16 and goes to the wide call as it is;
// this is how a package runs from, extracts to and removes any folder the
// file system allows, whatever the system's code page cannot spell. On
// Windows 95, 98 and Me each unit holds a byte, and the call below narrows
// the units and takes the ANSI call. The wide calls are found at run time,
// so that no system lacks an import.
//
// Texts come in at three edges and are converted once there: from the
// system (these calls), from the archive and the block (Shift-JIS, by
// TextFromShiftJis) and from the string table (LoadText, ui/texts.h).
#pragma once

#include <stdint.h>

#include "platform/win32.h"

constexpr UINT SHIFT_JIS_CODE_PAGE = 932;

// Decides the form of texts, once, first thing at start-up: UTF-16 on the
// NT family when every wide call used here is there and code page 932
// converts; bytes otherwise.
void ChooseSystemCalls();

// Converts `length` bytes of Shift-JIS into `dest` (capacity units, the
// terminator included). False when they do not fit or, `strict`, are no
// Shift-JIS (a lead byte without its trail byte): an entry name must be the
// one the system will see, so such a name is damage; the block's texts are
// taken as the system converts them. Texts of bytes take the bytes as they are.
bool TextFromShiftJis(WCHAR* dest, uint32_t capacity, const char* text, uint32_t length, bool strict = false);

// The bytes the text takes in the system's code page, as the ANSI calls
// would have had it: the limits of the block's fields count these.
uint32_t SystemTextBytes(const WCHAR* text);

// The text in UTF-8 into `out` (`capacity` bytes, no terminator written);
// texts of bytes as they are. Returns the bytes written.
uint32_t TextToUtf8(const WCHAR* text, char* out, uint32_t capacity);

// The process command line behind the program's name. `ansiLine` is what
// the entry point was given; on the NT family the wide command line is read
// instead. The text lives until the next call.
const WCHAR* CommandLineText(const char* ansiLine);

// Files and folders.
HANDLE OpenPath(const WCHAR* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
BOOL MakeFolder(const WCHAR* path);
BOOL RemoveFolder(const WCHAR* path);
BOOL DeletePath(const WCHAR* path);
DWORD AttributesOf(const WCHAR* path);
BOOL SetPathAttributes(const WCHAR* path, DWORD attributes);

// One entry of a folder listing.
struct FoundEntry {
    DWORD attributes;
    WCHAR name[MAX_PATH];
};
HANDLE FindFirstEntry(const WCHAR* pattern, FoundEntry* found);
BOOL FindNextEntry(HANDLE listing, FoundEntry* found);

// The maximum component length of the volume at `root`; false when the
// volume cannot tell.
bool VolumeComponentLength(const WCHAR* root, DWORD* length);

// Folders and values of the system, each into `size` units as the calls of
// the same name give them.
DWORD GetOwnPath(HMODULE module, WCHAR* buffer, DWORD size);
DWORD GetTempFolder(WCHAR* buffer, DWORD size);
DWORD GetCurrentFolder(WCHAR* buffer, DWORD size);
BOOL SetCurrentFolder(const WCHAR* path);
DWORD GetShortPath(const WCHAR* path, WCHAR* buffer, DWORD size);
UINT GetSystemFolder(WCHAR* buffer, UINT size);
UINT GetWindowsFolder(WCHAR* buffer, UINT size);
DWORD ExpandEnvironment(const WCHAR* text, WCHAR* buffer, DWORD size);
// A text value of the registry (key and value named in ASCII) into `size`
// units; false when missing, not a text, or without room for its terminator.
bool QueryRegistryText(HKEY hive, const char* key, const char* value, WCHAR* buffer, DWORD size);

// Milliseconds since the system started (GetTickCount, found at run time;
// 0 where it is missing).
DWORD MillisecondsNow();

// Programs.
// The exit code of an ended process (GetExitCodeProcess, found at run time).
bool GetProcessExitCode(HANDLE process, DWORD* code);
BOOL StartProcess(WCHAR* commandLine, const WCHAR* folder, DWORD flags, PROCESS_INFORMATION* created);
// Starts `file` with `parameters` (may be null) through the shell's
// ShellExecuteEx of `shell` with the verb "runas", in `folder`, the process
// handle kept; false when the call is missing or fails.
bool StartThroughShell(HMODULE shell, const WCHAR* file, const WCHAR* parameters,
                       const WCHAR* folder, HANDLE* process);

// Whether a running process's program satisfies `matches`, which gets the
// program's full path: true at the first that does. A process whose path
// cannot be read (one that cannot be opened, or whose query fails) is passed
// over. The calls are found at run time: QueryFullProcessImageName (Vista
// and later), else the process's module list (2000, XP), and on Windows 95
// to Me the path in the process list itself; false without a process list
// (NT 3.51, NT 4).
bool AnyRunningProgram(bool (*matches)(const WCHAR* path));

// Asks the system to delete `path` (a file, or a folder once empty) at the
// next restart: MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT, found at run
// time. False when it cannot: without an administrator's rights (access
// denied), or on Windows 95 to Me, which lack it.
bool RemoveAtRestart(const WCHAR* path);

// The bytes free for this user (quotas counted) on the volume of `folder`,
// an existing folder ending in a backslash. False when the system cannot
// tell: GetDiskFreeSpaceEx, found at run time, is missing (Windows 95 before
// OSR2, NT 3.51) or fails.
bool FreeSpaceOf(const WCHAR* folder, uint64_t* bytes);

// Windows and boxes.
int ShowMessageBox(HWND owner, const WCHAR* text, const WCHAR* caption, UINT flags);
HWND CreateDialogWindow(HINSTANCE instance, int templateId, DLGPROC proc, LPARAM init);
void SetWindowTitle(HWND window, const WCHAR* text);
void SetItemText(HWND dialog, int id, const WCHAR* text);
// String `id` of the module into `size` units; 0 when there is none.
int LoadStringText(HINSTANCE instance, UINT id, WCHAR* buffer, int size);
