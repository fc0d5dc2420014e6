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
    std::vector<std::string> loadedLibraries;
    DWORD dllSearchFlags = 0;
    bool currentFolderDropped = false;
    bool oldKernel = false;
    UINT codePage = 932;        // the ANSI code page
    bool englishUi = false;     // the user's UI language picks the English texts
    bool wideCall = false;      // a wide call is being served: its path bytes are Shift-JIS  // hidden, system, archive by host path
};

State& Current();

// Adds to one of the logs that tests read back. valkrin-host (interactive)
// keeps none, so that a run over many entries holds no memory per entry.
template <typename T, typename V>
void Record(std::vector<T>& log, const V& value) {
    if (!Current().interactive) log.push_back(value);
}

// The host path of a product path: separators (`\`, outside double-byte
// characters of the ANSI code page) become `/`.
std::string HostPath(const char* path);

// A lead byte of the code page the current call reads its texts in.
bool HostLeadByte(BYTE byte);

// Conversions between code pages by iconv names; bytes without a
// counterpart become '?'.
std::string Convert(const std::string& text, const char* to, const char* from);
// The iconv name of the ANSI code page.
const char* AnsiCharset();

// The wide calls of kernel32 and user32 that GetProcAddress hands out.
FARPROC WideFunction(const std::string& name);

}  // namespace host

// shell32's ShellExecuteExA on the host (host_process.cpp), handed out by
// GetProcAddress.
BOOL WINAPI HostShellExecuteExA(SHELLEXECUTEINFOA* info);
