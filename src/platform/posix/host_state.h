// State shared by the host layer's implementation files.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/host_controls.h"
#include "res/resource.h"

// Every kernel object behind a HANDLE (files, searches, processes); closed
// and freed by CloseHandle.
struct HostHandle {
    virtual ~HostHandle() = default;
};

// A window of the host model: the progress dialog, or a top-level window
// of another program that the class wait may meet.
struct HostWindow {
    DLGPROC proc = nullptr;
    LONG_PTR user = 0;
    std::string className;
    int enumerationsLeft = -1;  // other programs' windows: -1 lives for ever
};

namespace host {

// One process the product started.
struct ProcessRecord;

// A program that another process runs (AddRunningProgram).
struct RunningProgram {
    DWORD id;
    std::string image;  // product form, UTF-8
    int snapshotsLeft;  // -1: for ever
    ImageAccess access;
};

struct FaultPlan {
    int countdown = 0;  // 0: unarmed; otherwise calls left until the fault
    Fault fault = Fault::Fail;
    // True when this call is the one that faults.
    bool Hit() { return countdown > 0 && --countdown == 0; }
};

struct State {
    bool interactive = false;
    DWORD getVersion = 0x0A280105;  // Windows XP, build 2600
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    std::string modulePath;
    std::vector<BoxRecord> boxes;
    std::vector<int> boxAnswers;
    std::map<std::string, std::string> registry;  // "hive\\key\\name" -> value
    DWORD maxComponentLength = 255;
    bool volumeFails = false;
    std::string tempPath;
    std::map<std::string, std::string> shortPaths;  // as named -> short form, UTF-8
    std::string systemFolder = "C:\\WINDOWS\\SYSTEM32";
    std::string windowsFolder = "C:\\WINDOWS";
    FaultPlan readFault, writeFault, allocationFault, closeFault;
    std::set<std::string> refusedPaths;
    std::set<std::string> foldersCreatedFirst;
    std::vector<std::string> changedPaths;
    bool simulateFolders = false;
    std::vector<std::string> foldersTried;
    std::vector<DWORD> readRequests;
    std::vector<DWORD> writeRequests;
    std::map<std::string, DWORD> extraAttributes;
    ProgressRecord progress;
    int cancelPumpCountdown = 0;
    CancelBy cancelHow = CancelBy::Button;
    std::string cancelName;
    bool cancelArmedByName = false;
    bool dialogFails = false;
    int pumps = 0;
    std::vector<std::unique_ptr<HostWindow>> otherWindows;
    std::vector<ProcessRecord> processes;
    bool elevationRequired = false;
    std::vector<ShellRecord> shellExecutions;
    ShellState shellState = ShellState::Working;
    DWORD shellError = 0;
    int sleeps = 0;
    bool simulateProcesses = false;
    DWORD simulatedExitCode = 0;
    std::vector<RunningProgram> runningPrograms;
    ProcessListing processListing = ProcessListing::FullImageName;
    int processSnapshots = 0;
    std::set<std::string> heldFiles;
    bool restartRights = true;
    std::vector<std::string> restartRemovals;
    FreeSpace freeSpace = FreeSpace::Plenty;
    uint64_t freeBytes = 0;
    std::vector<std::string> freeSpaceQueries;
    std::vector<std::string> loadedLibraries;
    DWORD dllSearchFlags = 0;
    bool currentFolderDropped = false;
    bool oldKernel = false;
    UINT codePage = 932;        // the ANSI code page
    bool englishUi = false;     // the user's UI language picks the English texts
    std::string commandLine;    // behind the program's name, UTF-8 (GetCommandLineW)
};

State& Current();

// Adds to one of the logs that tests read back. valkrin-host (interactive)
// keeps none, so that a run over many entries holds no memory per entry.
template <typename T, typename V>
void Record(std::vector<T>& log, const V& value) {
    if (!Current().interactive) log.push_back(value);
}

// Texts between the product's forms and the host's: the host keeps every
// name, folder and value in UTF-8, as Wine writes Unix names. The ANSI
// calls read and give texts in the ANSI code page (characters it lacks
// become '?'); the wide calls in UTF-16.
std::string Utf8FromAnsi(const char* text);

// The host path (UTF-8, `/` separators) of a product path: separators are
// `\` outside double-byte characters of the ANSI code page.
std::string HostPath(const char* path);
std::string HostPath(LPCWSTR path);

// A lead byte of the ANSI code page.
bool HostLeadByte(BYTE byte);

// Conversions between code pages by iconv names; bytes without a
// counterpart become '?'.
std::string Convert(const std::string& text, const char* to, const char* from);
// The iconv name of the ANSI code page.
const char* AnsiCharset();

// The wide calls of kernel32 and user32 that GetProcAddress hands out.
FARPROC WideFunction(const std::string& name);
// kernel32's other calls found at run time, null where the scripted system
// lacks them: the process list and queries (host_process.cpp), the deletion
// at restart and the free space (host_files.cpp).
FARPROC ProcessFunction(const std::string& name);
FARPROC FileFunction(const std::string& name);

}  // namespace host

// shell32's ShellExecuteExA and ShellExecuteExW on the host
// (host_process.cpp), handed out by GetProcAddress.
BOOL WINAPI HostShellExecuteExA(SHELLEXECUTEINFOA* info);
BOOL WINAPI HostShellExecuteExW(SHELLEXECUTEINFOW* info);

// The wide calls, which the product finds only through GetProcAddress
// (host::WideFunction): declared here, not in win32_host.h, so that the
// product cannot call them directly and import them on Windows.
HANDLE WINAPI HostCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL WINAPI HostCreateDirectoryW(LPCWSTR, LPSECURITY_ATTRIBUTES);
BOOL WINAPI HostRemoveDirectoryW(LPCWSTR);
BOOL WINAPI HostDeleteFileW(LPCWSTR);
DWORD WINAPI HostGetFileAttributesW(LPCWSTR);
BOOL WINAPI HostSetFileAttributesW(LPCWSTR, DWORD);
HANDLE WINAPI HostFindFirstFileW(LPCWSTR, LPWIN32_FIND_DATAW);
BOOL WINAPI HostFindNextFileW(HANDLE, LPWIN32_FIND_DATAW);
BOOL WINAPI HostGetVolumeInformationW(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
DWORD WINAPI HostGetModuleFileNameW(HMODULE, LPWSTR, DWORD);
DWORD WINAPI HostGetTempPathW(DWORD, LPWSTR);
DWORD WINAPI HostGetCurrentDirectoryW(DWORD, LPWSTR);
BOOL WINAPI HostSetCurrentDirectoryW(LPCWSTR);
DWORD WINAPI HostGetShortPathNameW(LPCWSTR, LPWSTR, DWORD);
UINT WINAPI HostGetSystemDirectoryW(LPWSTR, UINT);
UINT WINAPI HostGetWindowsDirectoryW(LPWSTR, UINT);
DWORD WINAPI HostExpandEnvironmentStringsW(LPCWSTR, LPWSTR, DWORD);
BOOL WINAPI HostCreateProcessW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                               LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
LPWSTR WINAPI HostGetCommandLineW();
BOOL WINAPI HostGetExitCodeProcess(HANDLE, LPDWORD);
int WINAPI HostMessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT);
HWND WINAPI HostCreateDialogParamW(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
BOOL WINAPI HostSetWindowTextW(HWND, LPCWSTR);
BOOL WINAPI HostSetDlgItemTextW(HWND, int, LPCWSTR);
int WINAPI HostLoadStringW(HINSTANCE, UINT, LPWSTR, int);
LONG WINAPI HostRegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
LONG WINAPI HostRegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
