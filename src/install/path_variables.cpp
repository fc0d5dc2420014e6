#include "install/path_variables.h"

#include "common/run_state.h"
#include "common/text.h"
#include "common/wide_names.h"
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
int MatchVariable(const char* text) {
    for (int v = 0; v < VARIABLE_COUNT; ++v) {
        const char* name = kVariableNames[v];
        uint32_t i = 0;
        while (name[i] != 0 && text[i] == name[i]) ++i;
        if (name[i] == 0) return v;
    }
    return VARIABLE_COUNT;
}

// The value of a variable in `value` (260 bytes). A system query that fails
// leaves the value empty.
void ComputeValue(int variable, const char* extractionFolder, char* value) {
    value[0] = 0;
    switch (variable) {
        case EXTRACT_DIR:
            TextCopy(value, MAX_PATH, extractionFolder);
            break;
        case EXTRACT_DIR_SHORT:
            // Without a short form the long one stays.
            TextCopy(value, MAX_PATH, extractionFolder);
            GetShortPathNameA(extractionFolder, value, MAX_PATH);
            break;
        case SYSTEM_DIR:
            if (GetSystemDirectoryA(value, MAX_PATH) >= MAX_PATH) value[0] = 0;
            break;
        case WINDOWS_DIR:
            if (GetWindowsDirectoryA(value, MAX_PATH) >= MAX_PATH) value[0] = 0;
            break;
        case TEMP_DIR:
            if (GetTempPathA(MAX_PATH, value) >= MAX_PATH) value[0] = 0;
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

void QueryRegistryFolder(RegistryFolderKind kind, char* out) {
    const RegistryFolder& folder = kRegistryFolders[static_cast<int>(kind)];
    TextCopy(out, MAX_PATH, folder.fallback);
    HKEY key;
    if (RegOpenKeyExA(folder.hive, folder.key, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    char value[MAX_PATH];
    DWORD type = 0;
    DWORD size = sizeof value;
    LONG result = RegQueryValueExA(key, folder.valueName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    // Only a terminated text that fits is taken; anything else keeps the default.
    if (result != ERROR_SUCCESS || size == 0 || size > sizeof value) return;
    if (value[size - 1] != 0) {
        if (size == sizeof value) return;
        value[size] = 0;
    }
    TextCopy(out, MAX_PATH, value);
}

namespace {

// Writes the expansion into a byte text of `capacity` bytes: cut where it
// no longer fits, never inside a double-byte character.
struct ByteExpansion {
    char* out;
    uint32_t capacity;
    uint32_t used;
    bool HasRoom() const { return used + 1 < capacity; }
    uint32_t LiteralStep(const char* text) const {
        return IsDBCSLeadByte(static_cast<BYTE>(*text)) && text[1] != 0 ? 2 : 1;
    }
    bool AddLiteral(const char* text, uint32_t step) {
        if (used + step + 1 > capacity) return false;
        MemCopy(out + used, text, step);
        used += step;
        out[used] = 0;
        return true;
    }
    // A value cut short ends the result: nothing after it may follow.
    bool AddValue(const char* value) {
        bool whole = TextAppend(out, capacity, value);
        used = TextLength(out);
        return whole;
    }
};

// Writes the expansion as UTF-16: the text around the variables is
// Shift-JIS (the configured command), the values are the system's texts.
struct WideExpansion {
    WideText* out;
    bool HasRoom() const { return out->whole && out->used + 1 < WIDE_TEXT_SIZE; }
    uint32_t LiteralStep(const char* text) const {
        return IsShiftJisLeadByte(static_cast<uint8_t>(*text)) && text[1] != 0 ? 2 : 1;
    }
    bool AddLiteral(const char* text, uint32_t step) {
        WideAppend(out, text, step, SHIFT_JIS_CODE_PAGE);
        return out->whole;
    }
    bool AddValue(const char* value) {
        WideAppendText(out, value, CP_ACP);
        return out->whole;
    }
};

template <typename Expansion>
void Expand(const char* text, Expansion& expansion, const char* extractionFolder) {
    while (*text != 0 && expansion.HasRoom()) {
        int variable = *text == '%' ? MatchVariable(text) : VARIABLE_COUNT;
        bool needsFolder = variable == EXTRACT_DIR || variable == EXTRACT_DIR_SHORT;
        if (variable == VARIABLE_COUNT || (needsFolder && extractionFolder == nullptr)) {
            // Copied as it stands, double-byte characters whole.
            uint32_t step = expansion.LiteralStep(text);
            if (!expansion.AddLiteral(text, step)) break;
            text += step;
            continue;
        }
        char value[MAX_PATH];
        ComputeValue(variable, extractionFolder, value);
        if (!expansion.AddValue(value)) break;
        text += TextLength(kVariableNames[variable]);
    }
}

}  // namespace

void ExpandPathVariables(const char* text, char* out, uint32_t capacity,
                         const char* extractionFolder) {
    if (capacity == 0) return;
    out[0] = 0;
    ByteExpansion expansion{out, capacity, 0};
    Expand(text, expansion, extractionFolder);
}

void ExpandPathVariablesWide(const char* text, WideText* out, const char* extractionFolder) {
    WideBegin(out);
    WideExpansion expansion{out};
    Expand(text, expansion, extractionFolder);
}
