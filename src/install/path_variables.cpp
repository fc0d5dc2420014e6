#include "install/path_variables.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/system_calls.h"
#include "platform/win32.h"

namespace {

enum Variable {
    EXTRACT_DIR,
    SYSTEM_DIR,
    PROGRAM_FILES_DIR,
    COMMON_FILES_DIR,
    TEMP_DIR,
    EXTRACT_DIR_SHORT,
    MY_DOCUMENTS,
    WINDOWS_DIR,
    VARIABLE_COUNT
};

// Searched in this order; no name is a prefix of another.
const char* const kVariableNames[VARIABLE_COUNT] = {
    "%ExtractDir%", "%SystemDir%",  "%ProgramFilesDir%", "%CommonFilesDir%",
    "%TEMP%",       "%ExtractDirX%", "%MyDocuments%",     "%windir%",
};

struct RegistryFolder {
    HKEY hive;
    const char* key;
    const char* valueName;
    const char* fallback;
};

const RegistryFolder kRegistryFolders[] = {
    {HKEY_LOCAL_MACHINE, "software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
     "C:\\Program Files"},
    {HKEY_LOCAL_MACHINE, "software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
     "C:\\Program Files\\Common Files"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
     "Personal", "C:\\My Documents"},
};

// The variable whose name stands at `text`, or VARIABLE_COUNT.
int MatchVariable(const WCHAR* text) {
    for (int v = 0; v < VARIABLE_COUNT; ++v) {
        const char* name = kVariableNames[v];
        uint32_t i = 0;
        while (name[i] != 0 && text[i] == static_cast<uint8_t>(name[i])) ++i;
        if (name[i] == 0) return v;
    }
    return VARIABLE_COUNT;
}

// The value of a variable in `value` (260 units). A system query that fails
// leaves the value empty.
void ComputeValue(int variable, const WCHAR* extractionFolder, WCHAR* value) {
    value[0] = 0;
    switch (variable) {
        case EXTRACT_DIR:
            TextCopy(value, MAX_PATH, extractionFolder);
            break;
        case EXTRACT_DIR_SHORT:
            // Without a short form the long one stays.
            TextCopy(value, MAX_PATH, extractionFolder);
            GetShortPath(extractionFolder, value, MAX_PATH);
            break;
        case SYSTEM_DIR:
            if (GetSystemFolder(value, MAX_PATH) >= MAX_PATH) value[0] = 0;
            break;
        case WINDOWS_DIR:
            if (GetWindowsFolder(value, MAX_PATH) >= MAX_PATH) value[0] = 0;
            break;
        case TEMP_DIR:
            if (GetTempFolder(value, MAX_PATH) >= MAX_PATH) value[0] = 0;
            break;
        case PROGRAM_FILES_DIR:
            QueryRegistryFolder(RegistryFolderKind::ProgramFiles, value);
            break;
        case COMMON_FILES_DIR:
            QueryRegistryFolder(RegistryFolderKind::CommonFiles, value);
            break;
        case MY_DOCUMENTS:
            QueryRegistryFolder(RegistryFolderKind::MyDocuments, value);
            break;
    }
}

}  // namespace

void QueryRegistryFolder(RegistryFolderKind kind, WCHAR* out) {
    const RegistryFolder& folder = kRegistryFolders[static_cast<int>(kind)];
    // Only a terminated text that fits is taken; anything else keeps the default.
    if (QueryRegistryText(folder.hive, folder.key, folder.valueName, out, MAX_PATH)) return;
    TextFromBytes(out, MAX_PATH, folder.fallback);
}

void ExpandPathVariables(const WCHAR* text, WCHAR* out, uint32_t capacity,
                         const WCHAR* extractionFolder) {
    if (capacity == 0) return;
    out[0] = 0;
    while (*text != 0) {
        int variable = *text == '%' ? MatchVariable(text) : VARIABLE_COUNT;
        bool needsFolder = variable == EXTRACT_DIR || variable == EXTRACT_DIR_SHORT;
        if (variable == VARIABLE_COUNT || (needsFolder && extractionFolder == nullptr)) {
            // Copied as it stands, characters whole.
            uint32_t step = IsSystemLead(*text) && text[1] != 0 ? 2 : 1;
            if (!TextAppendUnits(out, capacity, text, step)) return;
            text += step;
            continue;
        }
        WCHAR value[MAX_PATH];
        ComputeValue(variable, extractionFolder, value);
        // A value cut short ends the result: nothing after it may follow.
        if (!TextAppend(out, capacity, value)) return;
        text += TextLength(kVariableNames[variable]);
    }
}
