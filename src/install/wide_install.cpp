#include "install/wide_install.h"

#include "common/text.h"
#include "common/wide_names.h"
#include "install/path_variables.h"

namespace {

WideText g_command;

const WCHAR BACKSLASH = '\\';
const WCHAR QUOTE = '"';

bool IsWideFile(const WCHAR* path) {
    DWORD attributes = g_wide.getFileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void AppendWideBackslash(WideText* text) {
    if (text->used == 0 || text->text[text->used - 1] != BACKSLASH) {
        WideAppendUnits(text, &BACKSLASH, 1);
    }
}

bool IsDotEntry(const WCHAR* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// The wide twin of the ANSI removal: `path` holds the folder.
void RemoveTree(WideText* path) {
    uint32_t length = path->used;
    AppendWideBackslash(path);
    WideAppendText(path, "*.*", CP_ACP);
    if (!path->whole) return;
    WIN32_FIND_DATAW found;
    HANDLE listing = g_wide.findFirstFile(path->text, &found);
    if (listing == INVALID_HANDLE_VALUE) return;  // the folder and its contents stay
    do {
        if (IsDotEntry(found.cFileName)) continue;
        path->used = length;
        path->whole = true;
        AppendWideBackslash(path);
        uint32_t nameLength = 0;
        while (nameLength < MAX_PATH && found.cFileName[nameLength] != 0) ++nameLength;
        WideAppendUnits(path, found.cFileName, nameLength);
        if (!path->whole) continue;  // beyond any usable path
        DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A link: removed itself, its target left alone.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                g_wide.removeDirectory(path->text);
            } else {
                g_wide.deleteFile(path->text);
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RemoveTree(path);
        } else {
            g_wide.setFileAttributes(path->text, FILE_ATTRIBUTE_NORMAL);
            g_wide.deleteFile(path->text);
        }
    } while (g_wide.findNextFile(listing, &found));
    FindClose(listing);
    path->used = length;
    path->whole = true;
    path->text[length] = 0;
    g_wide.setFileAttributes(path->text, FILE_ATTRIBUTE_NORMAL);
    g_wide.removeDirectory(path->text);
}

}  // namespace

bool PrepareWideCommand(const char* command, const char* extractionFolder) {
    ExpandPathVariablesWide(command, &g_command, extractionFolder);
    // The program token: quoted up to the closing quote, else up to a blank or tab.
    const WCHAR* p = g_command.text;
    bool quoted = *p == QUOTE;
    if (quoted) ++p;
    const WCHAR* token = p;
    while (*p != 0 && (quoted ? *p != QUOTE : (*p != ' ' && *p != '\t'))) ++p;
    uint32_t length = static_cast<uint32_t>(p - token);
    const WCHAR* rest = quoted && *p == QUOTE ? p + 1 : p;
    bool hasExtension = false;
    for (const WCHAR* c = token; c < token + length; ++c) {
        if (*c == '\\' || *c == '/' || *c == ':') return true;  // it names its folder
        if (*c == '.') hasExtension = true;
    }
    if (length == 0) return true;
    WideText program;
    WideBegin(&program);
    WideAppendText(&program, extractionFolder, CP_ACP);
    AppendWideBackslash(&program);
    WideAppendUnits(&program, token, length);
    if (!program.whole) return true;
    if (!IsWideFile(program.text)) {
        if (hasExtension) return true;
        WideAppendText(&program, ".exe", CP_ACP);
        if (!program.whole || !IsWideFile(program.text)) return true;  // Windows searches as usual
    }
    WideText rewritten;
    WideBegin(&rewritten);
    WideAppendUnits(&rewritten, &QUOTE, 1);
    WideAppendUnits(&rewritten, program.text, program.used);
    WideAppendUnits(&rewritten, &QUOTE, 1);
    uint32_t restLength = 0;
    while (rest[restLength] != 0) ++restLength;
    WideAppendUnits(&rewritten, rest, restLength);
    if (!rewritten.whole) return false;
    g_command = rewritten;
    return true;
}

const WCHAR* WideCommand() { return g_command.text; }

bool StartWideInstaller(const char* extractionFolder, DWORD flags, PROCESS_INFORMATION* process) {
    WideText folder;
    WideBegin(&folder);
    WideAppendText(&folder, extractionFolder, CP_ACP);
    STARTUPINFOW startup;
    MemFill(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    return g_wide.createProcess(nullptr, g_command.text, nullptr, nullptr, FALSE, flags, nullptr,
                                folder.text, &startup, process) != 0;
}

void RemoveFolderTreeWide(const char* folder) {
    if (*folder == 0) return;
    static WideText path;  // deep trees recurse: the path is not on the stack
    WideBegin(&path);
    WideAppendText(&path, folder, CP_ACP);
    if (path.whole) RemoveTree(&path);
}
