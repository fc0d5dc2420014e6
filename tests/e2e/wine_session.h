// The Wine side of the end-to-end tests: one Xvfb display, a private
// WINEPREFIX with a persistent wineserver under the build folder, and runs of
// a program through the UI driver, whose record is read back here.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Where things are: the windows build's outputs and this build's session.
std::string WindowsBuildDir();  // holds valkrin.exe and ui-driver.exe
std::string SessionDir();       // prefix/, display, xvfb.pid, work/
std::string WorkDir();          // scratch files of the tests
std::string PackTool();         // the host build's valkrin-pack

// Starts Xvfb, creates the prefix (once) and a persistent wineserver.
// Reuses a running session. False with a reason.
bool StartSession(std::string* error);
// Stops the wineserver and the Xvfb of the session.
void StopSession();
// True when a started session's files and Xvfb are there.
bool SessionRunning();

// "/a/b" -> "Z:\a\b", the path under which Wine sees a host file.
std::string WindowsPath(const std::string& hostPath);

// One dialog or message box as the UI driver recorded it. Texts are the
// ANSI bytes (Shift-JIS under code page 932).
struct Box {
    std::string caption;
    std::string text;  // the message text of a message box; empty for other dialogs
    std::string utf8Caption;  // both as a Unicode program reads them, in UTF-8
    std::string utf8Text;
    bool hasOwner = false;
    std::string ownerCaption;
    std::string icon;  // none, error, question, warning, information, other
    std::vector<int> buttons;
    std::vector<std::string> items;  // "ID CLASS" of every child
    int answer = 0;                  // button pressed; 0 when left alone
};

// The progress bar's state after one of its changes.
struct ProgressStep {
    int position = 0, low = 0, high = 0;
};

struct RunResult {
    std::vector<Box> boxes;
    std::vector<ProgressStep> progress;  // every change of the bar, with RunOptions::recordProgress
    bool ended = false;  // false: the driver had to stop it (timeout)
    unsigned long exitCode = 0;
    std::string failure;  // set when the run itself could not be made
};

struct RunOptions {
    std::string windows;               // Wine version name, e.g. "win95"; empty: Wine's default
    std::vector<std::string> answers;  // "yes", "no", "ok", "cancel", "escape", "close", in box order
    std::string arguments;             // the command line behind the program name, as bytes
    bool argumentsUtf8 = false;        // `arguments` is UTF-8, not bytes of the ANSI code page
    std::vector<std::string> environment;  // "NAME=VALUE" (UTF-8) set for the program
    int timeoutSeconds = 30;
    int delayMs = 300;  // how long the driver looks at a box before it answers
    std::string workingFolder;  // host path of the program's current folder; empty: the work folder
    std::vector<std::string> nativeDlls;  // DLL names Wine takes from beside the program first (n,b)
    std::string wineDebug = "-all";       // WINEDEBUG of the run; its output goes to PROGRAM.log
    // Called while the created process is held before its first instruction.
    std::function<void()> whileHeld;
    // The Unix locale of the Wine processes: ja_JP.UTF-8 gives the ANSI code
    // page 932 and the Japanese texts, en_US.UTF-8 code page 1252 and English.
    std::string locale = "ja_JP.UTF-8";
    // Bytes that any one file may grow to by the writes of the program's
    // process (Wine writes files from the process that asks, not from the
    // wineserver), as a full disk would stop them: the write past it fails
    // with EFBIG, as SIGXFSZ is ignored. Set while the process is held before
    // its first instruction. Negative: no limit.
    long long fileSizeLimit = -1;
    // Records every change of the program's progress bar, from inside its
    // thread (a hook of the driver), into RunResult::progress.
    bool recordProgress = false;
};

// The Unix process ids of the running Wine processes of the program file
// `fileName` ("setup.exe"), which Wine gives as the process name.
std::vector<int> WineProcessesNamed(const std::string& fileName);

// Runs `program` (a host path) under Wine through the UI driver.
RunResult RunUnderWine(const std::string& program, const RunOptions& plan);

// Runs valkrin-pack with `arguments` (already quoted for the shell); the
// exit status and what it printed.
int RunPackTool(const std::string& arguments, std::string* output);
// Runs a shell command line; its exit status and what it printed.
int RunCommand(const std::string& command, std::string* output);

// Empty when 32-bit Wine can run on this machine. A kernel without 32-bit
// x86 support refuses Wine's loader ("Exec format error"); the Wine tests are
// then skipped with this reason, unless VALKRIN_REQUIRE_WINE is set. Any
// other failure of Wine is a failure of the tests.
std::string WhyWineCannotRun();

}  // namespace e2e
