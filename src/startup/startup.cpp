#include "startup/startup.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/wide_names.h"
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
static const char* FolderArgument(const char* line) {
    if (*line != '-' && *line != '/') return line;
    while (*line != 0 && *line != ' ' && *line != '\t') ++line;
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

// Only the second byte of a switch counts: N sets, Q clears the no-question bit.
static void ApplySwitch(const char* line) {
    if (*line != '-' && *line != '/') return;
    char letter = line[1];
    if (letter == 'N' || letter == 'n') g_config.flags |= CFG_NO_CONFIRM;
    if (letter == 'Q' || letter == 'q') g_config.flags &= ~CFG_NO_CONFIRM;
}

// Replaces environment references in `command`. An expansion that needs more
// than 260 bytes gives no usable result, so the text then stays unexpanded.
static void ExpandCommandEnvironment() {
    DWORD needed = ExpandEnvironmentStringsA(g_config.command, g_textBuffer, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH) return;
    TextCopy(g_config.command, sizeof g_config.command, g_textBuffer);
}

bool ApplyCommandLine(const char* line) {
    g_run.tempBaseFolder[0] = 0;
    ApplySwitch(line);
    line = FolderArgument(line);
    if (*line != 0) {
        bool folderMode = (g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0;
        char* field = folderMode ? g_config.command : g_run.tempBaseFolder;
        if (TextLength(line) >= PATH_SIZE) return false;
        TextCopy(field, PATH_SIZE, line);
    }
    if (g_config.command[0] != 0) {
        ExpandCommandEnvironment();
    } else if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0) {
        GetCurrentDirectoryA(MAX_PATH, g_config.command);
    }
    return true;
}

// Composes the question in the shared text buffer; in folder mode it names
// the destination. A question too long for the buffer is cut.
static void ComposeQuestion() {
    wsprintfA(g_textBuffer, LoadText(IDS_CONFIRM), g_config.title);
    if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) == 0) return;
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, "\r\n\r\n");
    TextAppend(g_textBuffer, TEXT_BUFFER_SIZE, LoadText(IDS_DESTINATION));
    char destination[PATH_SIZE];
    UnquotePath(destination, sizeof destination, g_config.command);
    uint32_t used = TextLength(g_textBuffer);
    ExpandPathVariables(destination, g_textBuffer + used, TEXT_BUFFER_SIZE - used, nullptr);
}

// The question where names go through the wide calls: the title in it is
// Shift-JIS, the rest (texts, destination) the system's own.
static int AskWideQuestion() {
    char confirm[LOADED_TEXT_SIZE];
    TextCopy(confirm, sizeof confirm, LoadText(IDS_CONFIRM));
    uint32_t placeholder = 0;
    while (confirm[placeholder] != 0 &&
           !(confirm[placeholder] == '%' && confirm[placeholder + 1] == 's')) {
        ++placeholder;
    }
    WideText text;
    WideBegin(&text);
    WideAppend(&text, confirm, placeholder, CP_ACP);
    if (confirm[placeholder] != 0) {
        WideAppendText(&text, g_config.title, SHIFT_JIS_CODE_PAGE);
        WideAppendText(&text, confirm + placeholder + 2, CP_ACP);
    }
    if ((g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0) {
        WideAppendText(&text, "\r\n\r\n", CP_ACP);
        WideAppendText(&text, LoadText(IDS_DESTINATION), CP_ACP);
        char destination[PATH_SIZE];
        UnquotePath(destination, sizeof destination, g_config.command);
        ExpandPathVariables(destination, g_textBuffer, TEXT_BUFFER_SIZE, nullptr);
        WideAppendText(&text, g_textBuffer, CP_ACP);
    }
    return ShowBox(nullptr, &text, g_config.title, MB_YESNO | MB_ICONQUESTION);
}

// The folder argument that does not fit: shown like a folder that cannot be
// written, with the argument (cut) as subject, before any window exists.
static void ShowArgumentTooLong(const char* line, const char* caption) {
    char subject[PATH_SIZE];
    TextCopy(subject, sizeof subject, FolderArgument(line));
    ShowSubjectBox(nullptr, IDS_WRITE_ERROR, subject, caption);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    bool searchRestricted = RestrictDllSearch();
    ChooseWideNames();
    g_run.instance = instance;
    InitCommonControlsFromSystem(searchRestricted);
    char caption[PATH_SIZE];
    TextCopy(caption, sizeof caption, LoadText(IDS_TITLE));

    if (!IsWindowsSupported()) {
        PlainErrorBox(IDS_WRONG_WINDOWS, caption, nullptr);
        return 0;
    }
    GetModuleFileNameA(instance, g_run.ownPath, MAX_PATH);
    if (!LoadInstallConfig(g_run.ownPath)) {
        PlainErrorBox(IDS_READ_ERROR, caption, nullptr);
        return 0;
    }
    if (!ApplyCommandLine(commandLine)) {
        ShowArgumentTooLong(commandLine, g_config.title);
        return 0;
    }
    if (!IsWindowsPermitted(g_config.flags)) {
        PlainErrorBox(IDS_WRONG_WINDOWS, g_config.title, nullptr);
        return 0;
    }
    if (g_config.command[0] == 0) {
        PlainErrorBox(IDS_NO_COMMAND, g_config.title, nullptr);
        return 0;
    }
    if ((g_config.flags & CFG_NO_CONFIRM) == 0) {
        int answer;
        if (UsesWideNames()) {
            answer = AskWideQuestion();
        } else {
            ComposeQuestion();
            answer = MessageBoxA(nullptr, g_textBuffer, g_config.title, MB_YESNO | MB_ICONQUESTION);
        }
        if (answer == IDNO) return 0;
    }
    return g_extractionRun();
}
