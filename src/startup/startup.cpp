#include "startup/startup.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/system_calls.h"
#include "extract/extraction.h"
#include "format/command_line.h"
#include "install/path_variables.h"
#include "res/resource.h"
#include "startup/dll_safety.h"
#include "startup/install_config.h"
#include "startup/switches.h"
#include "ui/run_log.h"
#include "ui/texts.h"

int (*g_extractionRun)();

bool IsWindowsSupported() {
    DWORD version = GetVersion();
    DWORD major = version & 0xFF;
    DWORD minor = (version >> 8) & 0xFF;
    if ((version & 0x80000000u) != 0) return major >= 4;  // Windows 95 family, Win32s
    return major >= 4 || (major == 3 && minor >= 51);
}

DWORD RequiredPermissionBit(DWORD platformId, DWORD major, DWORD minor) {
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (major != 4) return 0;
        if (minor == 0) return CFG_OS_WIN95;
        if (minor == 10) return CFG_OS_WIN98;
        if (minor == 90) return CFG_OS_WINME;
        return 0;
    }
    if (platformId == VER_PLATFORM_WIN32_NT) {
        if (major == 3) return minor == 51 ? CFG_OS_NT351 : 0;
        if (major == 4) return minor == 0 ? CFG_OS_NT4 : 0;
        if (major == 5) return minor == 0 ? CFG_OS_WIN2000 : CFG_OS_WINXP;
        if (major >= 6) return CFG_OS_WINXP;
    }
    return 0;
}

bool IsWindowsPermitted(DWORD flags) {
    OSVERSIONINFOA info;
    MemFill(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    DWORD bit = RequiredPermissionBit(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
    return bit != 0 && (flags & bit) != 0;
}

const char* SkipProgramName(const char* line) {
    line += lzh_format::FindProgram(line, lzh_format::NameEnd::AnyControl).after;
    while (*line != 0 && static_cast<unsigned char>(*line) <= 0x20) ++line;
    return line;
}

// The folder argument: what follows a switch token and its blanks and tabs,
// or the whole line when it starts with no switch.
static const WCHAR* FolderArgument(const WCHAR* line) {
    if (*line != '-' && *line != '/') return line;
    while (*line != 0 && *line != ' ' && *line != '\t') ++line;
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

// Only the second unit of a switch counts: N sets, Q clears the no-question bit.
static void ApplySwitch(const WCHAR* line) {
    if (*line != '-' && *line != '/') return;
    WCHAR letter = line[1];
    if (letter == 'N' || letter == 'n') g_config.flags |= CFG_NO_CONFIRM;
    if (letter == 'Q' || letter == 'q') g_config.flags &= ~CFG_NO_CONFIRM;
}

// Replaces environment references in the command. An expansion that needs
// more than 260 units, or more than 259 bytes in the system's code page,
// gives no usable result, so the text then stays unexpanded.
static void ExpandCommandEnvironment() {
    DWORD needed = ExpandEnvironment(g_run.command, g_textBuffer, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH || SystemTextBytes(g_textBuffer) >= PATH_SIZE) return;
    TextCopy(g_run.command, PATH_SIZE, g_textBuffer);
}

// The folder argument: into the command in folder mode (it replaces the
// destination), into the temporary base folder in temporary mode.
static void TakeFolderArgument(const WCHAR* folder) {
    if (*folder == 0) return;
    bool folderMode = (g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0;
    TextCopy(folderMode ? g_run.command : g_run.tempBaseFolder, PATH_SIZE, folder);
}

// The command's environment, or in folder mode without a destination the
// current directory.
static void CompleteCommand() {
    if (g_run.command[0] != 0) {
        ExpandCommandEnvironment();
    } else if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0) {
        GetCurrentFolder(g_run.command, MAX_PATH);
    }
}

// The installer's arguments behind the command and one blank. A command
// that no longer fits its 259 bytes is never cut: it cannot be started.
static void AppendInstallerArguments(const WCHAR* arguments) {
    if (arguments == nullptr || *arguments == 0 || (g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0) return;
    WCHAR* command = g_textBuffer;
    TextCopy(command, TEXT_BUFFER_SIZE, g_run.command);
    bool fits = TextAppend(command, TEXT_BUFFER_SIZE, WIDE(" ")) && TextAppend(command, TEXT_BUFFER_SIZE, arguments) &&
                TextLength(command) < PATH_SIZE && SystemTextBytes(command) < PATH_SIZE;
    if (fits) {
        TextCopy(g_run.command, PATH_SIZE, command);
    } else {
        g_run.commandTooLong = 1;
    }
}

// The extended switches: -n, -q, -s, -t, -x DIR, -l FILE, the folder
// argument and the installer's arguments behind `--`. -q wins over -n.
static StartupVerdict ApplyExtendedSwitches(const WCHAR* line) {
    static ParsedSwitches parsed;
    SwitchVerdict verdict = ParseSwitches(line, &parsed);
    g_run.silent = parsed.silent;
    if (parsed.logFile[0] != 0) OpenRunLog(parsed.logFile);
    if (verdict == SwitchVerdict::Help) return StartupVerdict::Help;
    if (verdict == SwitchVerdict::Refused || verdict == SwitchVerdict::TooLong) {
        TextCopy(g_run.refusedText, PATH_SIZE, verdict == SwitchVerdict::Refused ? parsed.refused : parsed.folder);
        return verdict == SwitchVerdict::Refused ? StartupVerdict::UnknownSwitch : StartupVerdict::TooLong;
    }
    if (parsed.noQuestion || parsed.silent) g_config.flags |= CFG_NO_CONFIRM;
    if (parsed.askQuestion && !parsed.silent) g_config.flags &= ~CFG_NO_CONFIRM;
    g_run.testOnly = parsed.testOnly;
    if (parsed.extractOnly) {
        // Extract only: both passes into DIR, as folder mode does.
        g_run.extractOnly = 1;
        g_config.flags |= CFG_EXTRACT_TO_FOLDER;
        TextCopy(g_run.command, PATH_SIZE, parsed.extractFolder);
    } else {
        TakeFolderArgument(parsed.folder);
    }
    CompleteCommand();
    AppendInstallerArguments(parsed.arguments);
    return StartupVerdict::Run;
}

StartupVerdict ApplyCommandLine(const WCHAR* line) {
    g_run.tempBaseFolder[0] = 0;
    if ((g_config.flags & CFG_EXTENDED_SWITCHES) != 0) return ApplyExtendedSwitches(line);
    ApplySwitch(line);
    line = FolderArgument(line);
    if (TextLength(line) >= PATH_SIZE || SystemTextBytes(line) >= PATH_SIZE) {
        TextCopy(g_run.refusedText, PATH_SIZE, line);
        return StartupVerdict::TooLong;
    }
    TakeFolderArgument(line);
    CompleteCommand();
    return StartupVerdict::Run;
}

// Composes the question in the shared text buffer; in folder mode it names
// the destination. A question too long for the buffer is cut.
static void ComposeQuestion() {
    FormatText(g_textBuffer, TEXT_BUFFER_SIZE, LoadText(IDS_CONFIRM), g_run.title);
    if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) == 0) return;
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, WIDE("\r\n\r\n"));
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, LoadText(IDS_DESTINATION));
    WCHAR destination[PATH_SIZE];
    UnquotePath(destination, PATH_SIZE, g_run.command);
    uint32_t used = TextLength(g_textBuffer);
    ExpandPathVariables(destination, g_textBuffer + used, TEXT_BUFFER_SIZE - used, nullptr);
}

// The folder argument that does not fit: shown like a folder that cannot be
// written, with the argument cut to 259 bytes of the system's code page as
// its subject, before any window exists.
static void ShowArgumentTooLong(const WCHAR* caption) {
    WCHAR* subject = g_run.refusedText;
    while (SystemTextBytes(subject) >= PATH_SIZE) {
        uint32_t length = TextLength(subject);
        subject[FitCharacters(subject, length, length - 1)] = 0;
    }
    ShowSubjectBox(nullptr, IDS_WRITE_ERROR, subject, caption);
}

// What a run came to, and the exit code it gives: classic packages exit
// with 1 for success and 0 for everything else; packages that choose the
// installer's codes exit as Windows Installer does, with the installer's own
// code after a temporary-mode install.
enum class Outcome { Succeeded, Declined, Failed, NotPermitted };

static int ExitCodeOf(Outcome outcome) {
    if ((g_config.flags & CFG_INSTALLER_EXIT_CODES) == 0) return outcome == Outcome::Succeeded ? 1 : 0;
    if (outcome == Outcome::Succeeded && g_run.cancelFlag != 0) outcome = Outcome::Declined;
    switch (outcome) {
        case Outcome::Succeeded:
            return g_run.installerEnded != 0 ? static_cast<int>(g_run.installerExitCode) : 0;
        case Outcome::Declined:
            return EXIT_USER_CANCELLED;
        case Outcome::NotPermitted:
            return EXIT_NOT_PERMITTED;
        case Outcome::Failed:
            break;
    }
    return EXIT_INSTALL_FAILED;
}

static int Finish(Outcome outcome) {
    if (outcome == Outcome::Declined) LogLine(IDS_LOG_CANCELLED, nullptr);
    int code = ExitCodeOf(outcome);
    LogNumber(IDS_LOG_EXIT, code);
    CloseRunLog();
    return code;
}

// -?: the list of switches, in the shared text buffer (it is longer than a
// loaded text may be).
static void ShowSwitchList() {
    LoadStringText(g_run.instance, IDS_SWITCHES, g_textBuffer, TEXT_BUFFER_SIZE);
    ShowTextBox(nullptr, g_textBuffer, g_run.title, MB_OK | MB_ICONINFORMATION);
}

// The first lines of the log: who runs, what, how.
static void LogStart() {
    LogLine(IDS_LOG_START, g_run.ownPath);
    LogLine(IDS_LOG_TITLE, g_run.title);
    if (g_run.testOnly != 0) {
        LogLine(IDS_CHECKING, nullptr);
    } else if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0) {
        LogLine(IDS_DESTINATION, g_run.command);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    bool searchRestricted = RestrictDllSearch();
    ChooseSystemCalls();
    g_run.instance = instance;
    InitCommonControlsFromSystem(searchRestricted);
    WCHAR caption[PATH_SIZE];
    TextCopy(caption, PATH_SIZE, LoadText(IDS_TITLE));

    if (!IsWindowsSupported()) {
        PlainErrorBox(IDS_WRONG_WINDOWS, caption, nullptr);
        return 0;
    }
    GetOwnPath(instance, g_run.ownPath, MAX_PATH);
    if (!LoadInstallConfig(g_run.ownPath)) {
        PlainErrorBox(IDS_READ_ERROR, caption, nullptr);
        return 0;
    }
    const WCHAR* line = CommandLineText(commandLine);
    switch (ApplyCommandLine(line)) {
        case StartupVerdict::Run:
            break;
        case StartupVerdict::TooLong:
            ShowArgumentTooLong(g_run.title);
            return Finish(Outcome::Failed);
        case StartupVerdict::Help:
            ShowSwitchList();
            CloseRunLog();
            return 0;
        case StartupVerdict::UnknownSwitch:
            ShowSubjectBox(nullptr, IDS_UNKNOWN_SWITCH, g_run.refusedText, g_run.title);
            return Finish(Outcome::Failed);
    }
    LogStart();
    if (!IsWindowsPermitted(g_config.flags)) {
        PlainErrorBox(IDS_WRONG_WINDOWS, g_run.title, nullptr);
        return Finish(Outcome::NotPermitted);
    }
    if (g_run.command[0] == 0) {
        PlainErrorBox(IDS_NO_COMMAND, g_run.title, nullptr);
        return Finish(Outcome::Failed);
    }
    if ((g_config.flags & CFG_NO_CONFIRM) == 0 && g_run.testOnly == 0) {
        ComposeQuestion();
        if (ShowMessageBox(nullptr, g_textBuffer, g_run.title, MB_YESNO | MB_ICONQUESTION) == IDNO) {
            return Finish(Outcome::Declined);
        }
    }
    if ((g_extractionRun != nullptr ? g_extractionRun : RunExtraction)() == 1) return Finish(Outcome::Succeeded);
    return Finish(g_run.cancelFlag != 0 || g_run.declined != 0 ? Outcome::Declined : Outcome::Failed);
}
