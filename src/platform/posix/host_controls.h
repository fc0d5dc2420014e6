// Test controls of the host platform layer. Only tests and the host console
// program include this header; the product code never does.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace host {

// One message box as the product showed it (text and caption are bytes in
// code page 932, exactly as passed).
struct BoxRecord {
    std::string text;
    std::string caption;
    UINT flags;
    HWND owner;
    bool wide = false;  // shown with MessageBoxW (texts recorded as code page 932 bytes)
    std::string utf8Text;     // the text as shown, in UTF-8 (any code page, either call)
    std::string utf8Caption;
};

enum class Fault { Fail, Short };

// Back to the defaults: test mode (boxes logged, answered by script or by
// default), Windows XP, long names, no faults, empty logs.
void Reset();

// Console mode for valkrin-host: boxes print to stderr and the question
// reads y/n from standard input.
void SetInteractive(bool interactive);

// The Windows reported by GetVersion and GetVersionExA, by the names of the
// per-program versions: win32s, win95, win98, winme, nt350, nt351, nt40,
// win2k, winxp, win2003, vista, win7, win10. False for an unknown name.
bool SetWindows(const std::string& name);
// Any version: the raw GetVersion value and the GetVersionExA triple.
void SetVersion(DWORD getVersionValue, DWORD platformId, DWORD major, DWORD minor);

// Texts of the system given to these controls are UTF-8; the ANSI calls
// hand them out in the ANSI code page ('?' for what it lacks), the wide calls
// in UTF-16. File names on the host are UTF-8 as well, as Wine keeps them.

// Our own executable's path, as GetModuleFileName reports it.
void SetModulePath(const std::string& path);
// The command line behind the program's name, as GetCommandLineW gives it.
void SetCommandLine(const std::string& line);
HINSTANCE ModuleHandle();

// Every box shown since Reset, in order.
const std::vector<BoxRecord>& Boxes();
// The answer of the next box; without one, OK boxes answer IDOK and Yes/No
// boxes IDYES.
void QueueBoxAnswer(int answer);

// Registry values read by RegQueryValueExA (text values).
void SetRegistryValue(HKEY hive, const std::string& key, const std::string& name,
                      const std::string& value);

// The maximum component length GetVolumeInformationA reports (default 255);
// `fail` makes the call fail.
void SetMaxComponentLength(DWORD length, bool fail = false);

// Folders the system reports.
void SetTempPath(const std::string& path);
// The short form GetShortPathName gives for `path` (both as the product
// names them, UTF-8); without one, an existing path is its own short form.
void SetShortPath(const std::string& path, const std::string& shortPath);
void SetSystemFolders(const std::string& system, const std::string& windows);

// A top-level window of another program with this class; it disappears
// after `enumerations` calls of EnumWindows (-1: never).
void AddWindowClass(const std::string& className, int enumerations = -1);

// A process that CreateProcessA started (for real, with posix_spawn).
struct ProcessRecord {
    std::string commandLine;
    std::string directory;
    DWORD creationFlags;
    DWORD startupFlags;
    WORD showWindow;
    bool currentFolderDroppedFromDllSearch;  // the setting the process inherited
};
const std::vector<ProcessRecord>& Processes();
// CreateProcessA fails with ERROR_ELEVATION_REQUIRED (740), as for an
// installer whose manifest demands an administrator's rights.
void RequireElevation(bool required);

// A program the product started through shell32's ShellExecuteExA; it runs
// for real like a created process.
struct ShellRecord {
    std::string verb;
    std::string file;
    std::string parameters;
    std::string directory;
    DWORD mask;
    int show;
};
const std::vector<ShellRecord>& ShellExecutions();
// How shell32 behaves: it cannot be loaded, it lacks ShellExecuteExA, or
// ShellExecuteExA fails with `error` (ERROR_CANCELLED: the user declined the
// prompt). Without a call: loadable, the export there, no failure.
enum class ShellState { Working, NoLibrary, NoExport, Fails };
void SetShell(ShellState state, DWORD error = 0);
// Number of Sleep calls since Reset.
int SleepCount();
// Programs are not run: CreateProcessA and ShellExecuteExA "start" a
// program whose file exists (a relative name is taken from the working
// folder) and that has ended at once, and Sleep returns without waiting. For
// runs over untrusted archives, whose extracted programs must never run.
void SimulateProcesses(bool simulate);
// The exit code a simulated process ends with (default 0).
void SetSimulatedExitCode(DWORD code);

// Programs that other processes run, as the tool-help process list shows
// them: `image` is the program's full path as Windows gives it (product
// form in UTF-8, "C:\\dir\\setup.exe"). It is listed in `snapshots` more
// snapshots of the list (-1: for ever). Its path can be read, or cannot be
// (the query and the module list fail), or the process cannot be opened
// (access denied).
enum class ImageAccess { Readable, Unreadable, Denied };
void AddRunningProgram(const std::string& image, int snapshots = -1, ImageAccess access = ImageAccess::Readable);
// What kernel32 offers to tell the programs of processes: the process list
// and QueryFullProcessImageName (Vista and later: the default), the process
// list and the module list alone (2000, XP), or no tool-help at all (NT 3.51,
// NT 4). Windows 95 to Me (SetWindows) name the full path in the list itself.
enum class ProcessListing { FullImageName, ModuleList, None };
void SetProcessListing(ProcessListing listing);
// Number of process snapshots taken since Reset.
int ProcessSnapshots();

// DeleteFile of this path (host form) fails with a sharing violation, as
// for a file that another process holds open.
void HoldFile(const std::string& path);
// Without the rights (an administrator's), MoveFileEx cannot schedule a
// deletion at the next restart and fails with access denied.
void SetRestartRights(bool rights);
// Every path (host form) scheduled for deletion at the next restart, in order.
const std::vector<std::string>& RestartRemovals();

// What GetDiskFreeSpaceEx reports free for the caller on the volume of any
// existing folder: plenty (the default), `bytes`, or there is no such call
// (Windows 95 before OSR2, NT 3.51).
enum class FreeSpace { Plenty, Fixed, NoCall };
void SetFreeSpace(FreeSpace kind, uint64_t bytes = 0);
// The folders (host form) GetDiskFreeSpaceEx was asked about, in order.
const std::vector<std::string>& FreeSpaceQueries();

// Faults, counted from the moment they are armed: the nth call from now (1 is
// the next) fails, or for reads and writes transfers only half the bytes.
void FailRead(int nth, Fault fault = Fault::Fail);
void FailWrite(int nth, Fault fault = Fault::Fail);
void FailAllocation(int nth);
void FailClose(int nth);
// CreateFile and CreateDirectory refuse this path (as the product names it:
// the bytes of an ANSI call, the UTF-8 of a wide call).
void RefusePath(const std::string& path);
// Another process creates this folder (as the product names it) just before
// the product's own CreateDirectory of it, after any look at the name.
void CreateFolderFirst(const std::string& path);

// Every path (host form) that a call which succeeded created, changed or
// removed since Reset: files and folders opened for writing, folders created
// or removed, attributes set, files deleted.
const std::vector<std::string>& ChangedPaths();
// Folder creation that touches nothing: CreateDirectoryA logs the path (as
// the product names it) in FoldersTried and fails as for a folder that exists.
void SimulateFolders(bool simulate);
const std::vector<std::string>& FoldersTried();

// The byte counts asked of every ReadFile and WriteFile call since Reset.
const std::vector<DWORD>& ReadRequests();
const std::vector<DWORD>& WriteRequests();

// What the progress window showed, as the dialog's controls received it.
struct ProgressRecord {
    bool created = false;    // a window was created
    bool destroyed = false;  // and destroyed again
    std::string caption;
    std::string label;       // IDC_LABEL now
    std::string name;        // IDC_NAME now
    int percent = 0;         // IDC_PROGRESS position now
    std::vector<std::string> labels;  // every label set, in order
    std::vector<std::string> names;   // every name set, in order
    std::vector<std::string> utf8Names;  // every name set through the wide call, in UTF-8
    bool wide = false;                // made by CreateDialogParamW
    std::vector<int> percents;        // every position set, in order
    int minimizeCount = 0;   // CloseWindow calls
    int restoreCount = 0;    // OpenIcon calls
    bool iconic = false;
    bool bigIconSet = false;  // WM_SETICON with ICON_BIG arrived
    int x = -1, y = -1;       // where MoveWindow put it
};
const ProgressRecord& Progress();

// How the user cancels: the button, Esc, closing the window, or the end of
// the Windows session.
enum class CancelBy { Button, Escape, Close, EndSession };
// Cancels during the nth message pump from now (1: the next one).
void CancelOnPump(int nth, CancelBy how = CancelBy::Button);
// Cancels during the first pump after the name line has shown `name`.
void CancelWhenName(const std::string& name, CancelBy how = CancelBy::Button);
// The dialog cannot be created.
void FailDialogCreation();
// Number of message pumps (PeekMessageA rounds that found the queue empty).
int PumpCount();

// DLLs the product loaded (the paths it passed to LoadLibraryA), and the
// search restriction it asked for (SetDefaultDllDirectories; 0 when never).
const std::vector<std::string>& LoadedLibraries();
DWORD DllSearchFlags();
bool CurrentFolderDroppedFromSearch();
// Makes kernel32 lack SetDefaultDllDirectories and SetDllDirectoryA, as on
// Windows before them.
void SetOldKernel(bool old);

// The ANSI code page: 932 (the default) or 1252, which has no double-byte
// characters.
void SetCodePage(UINT codePage);
// The user's UI language: the English texts instead of the Japanese ones.
void SetEnglishUi(bool english);
// Hides the wide calls and code page 932, as on Windows 95, 98 and Me.
// (Those also report a version with the top bit set; see SetWindows.)

// Shift-JIS bytes of a UTF-8 text, and back (code page 932).
std::string ToAnsi(const std::string& utf8);
std::string ToUtf8(const std::string& ansi);
// A UTF-8 text in the current ANSI code page ('?' for what it lacks).
std::string AnsiFromUtf8(const std::string& text);
// UTF-16 and UTF-8.
std::string Utf8FromWide(LPCWSTR text);
std::u16string WideFromUtf8(const std::string& text);

}  // namespace host
