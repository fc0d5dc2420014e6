// State shared by the host layer's implementation files.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/host_controls.h"
#include "res/resource.h"

namespace host {

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
    std::vector<std::string> windowClasses;
    FaultPlan readFault, writeFault, allocationFault, closeFault;
    std::set<std::string> refusedPaths;
    std::vector<DWORD> readRequests;
    std::vector<DWORD> writeRequests;
    std::map<std::string, DWORD> extraAttributes;
    ProgressRecord progress;
    int cancelPumpCountdown = 0;
    CancelBy cancelHow = CancelBy::Button;
    std::string cancelName;
    bool cancelArmedByName = false;
    bool dialogFails = false;
    int pumps = 0;  // hidden, system, archive by host path
};

State& Current();

// The host path of a product path: separators (`\`, outside double-byte
// characters) become `/`.
std::string HostPath(const char* path);

}  // namespace host
