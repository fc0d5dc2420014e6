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
#include "ui/texts.h"

int (*g_extractionRun)() = RunExtraction;

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

bool ApplyCommandLine(const WCHAR* line) {
    g_run.tempBaseFolder[0] = 0;
    ApplySwitch(line);
    line = FolderArgument(line);
    if (*line != 0) {
        bool folderMode = (g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0;
        WCHAR* field = folderMode ? g_run.command : g_run.tempBaseFolder;
        if (TextLength(line) >= PATH_SIZE || SystemTextBytes(line) >= PATH_SIZE) return false;
        TextCopy(field, PATH_SIZE, line);
    }
    if (g_run.command[0] != 0) {
        ExpandCommandEnvironment();
    } else if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0) {
        GetCurrentFolder(g_run.command, MAX_PATH);
    }
    return true;
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
// written, with the argument (cut) as subject, before any window exists.
static void ShowArgumentTooLong(const WCHAR* line, const WCHAR* caption) {
    WCHAR subject[PATH_SIZE];
    TextCopy(subject, PATH_SIZE, FolderArgument(line));
    // Cut to 259 bytes of the system's code page, as the field would hold it.
    while (SystemTextBytes(subject) >= PATH_SIZE) subject[FitCharacters(subject, TextLength(subject), TextLength(subject) - 1)] = 0;
    ShowSubjectBox(nullptr, IDS_WRITE_ERROR, subject, caption);
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
    if (!ApplyCommandLine(line)) {
        ShowArgumentTooLong(line, g_run.title);
        return 0;
    }
    if (!IsWindowsPermitted(g_config.flags)) {
        PlainErrorBox(IDS_WRONG_WINDOWS, g_run.title, nullptr);
        return 0;
    }
    if (g_run.command[0] == 0) {
        PlainErrorBox(IDS_NO_COMMAND, g_run.title, nullptr);
        return 0;
    }
    if ((g_config.flags & CFG_NO_CONFIRM) == 0) {
        ComposeQuestion();
        if (ShowMessageBox(nullptr, g_textBuffer, g_run.title, MB_YESNO | MB_ICONQUESTION) == IDNO) return 0;
    }
    return g_extractionRun();
}
