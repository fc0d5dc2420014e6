#include "extract/output_paths.h"

#include "archive/archive_entry.h"
#include "common/run_state.h"
#include "common/text.h"
#include "common/wide_names.h"
#include "platform/win32.h"

// Characters that no long file name may hold, and the wider set of the 8.3
// form (the dot included: a short base holds none).
static const char kLongNameSet[] = "\"*/:<>?\\|";
static const char kShortNameSet[] = "\"*+,./:;<=>?[\\]|\xff";

static bool InSet(const char* set, char c) {
    for (; *set != 0; ++set) {
        if (*set == c) return true;
    }
    return false;
}

void VolumeRoot(char* dest, uint32_t capacity, const char* path) {
    dest[0] = 0;
    // Two bytes or fewer cannot hold the two leading backslashes and a terminator.
    if (path[0] == '\\' && path[1] == '\\' && capacity > 2) {
        TextCopy(dest, capacity, path);
        int backslashes = 0;
        for (char* p = dest + 2; *p != 0; p = CharNextA(p)) {
            if (*p == '\\' && ++backslashes == 2) {
                p[1] = 0;
                break;
            }
        }
        return;
    }
    if (path[0] != 0 && path[1] == ':' && path[2] == '\\' && capacity > 3) {
        MemCopy(dest, path, 3);
        dest[3] = 0;
    }
}

bool JoinPath(char* dest, uint32_t capacity, const char* folder, const char* name) {
    if (!TextCopy(dest, capacity, folder)) return false;
    if (TextLength(dest) + 2 > capacity) return false;
    AppendBackslash(dest, capacity);
    if (*name == '\\') ++name;
    return TextAppend(dest, capacity, name);
}

char* SanitizeName(char* text, uint32_t limit, bool longNames, LeadByteTest isLead) {
    uint32_t i = 0;
    while (text[i] != 0 && i < limit) {
        if (isLead(static_cast<uint8_t>(text[i]))) {
            if (i + 1 >= limit || text[i + 1] == 0) break;  // never split a character
            i += 2;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool replace = longNames ? InSet(kLongNameSet, text[i])
                                 : (InSet(kShortNameSet, text[i]) || c <= 0x20);
        if (replace) text[i] = '_';
        ++i;
    }
    text[i] = 0;
    return text + i;
}

void FitComponent(char* component, bool longNames, LeadByteTest isLead) {
    if (longNames) {
        SanitizeName(component, 255, true, isLead);
        return;
    }
    char* lastDot = nullptr;
    for (char* p = component; *p != 0; ++p) {
        if (*p == '.') lastDot = p;
    }
    if (lastDot == nullptr) {
        SanitizeName(component, 8, false, isLead);
        return;
    }
    // Base and extension are fitted apart, then joined by the dot again.
    char extension[OUTPUT_PATH_SIZE];
    TextCopy(extension, sizeof extension, lastDot + 1);
    *lastDot = 0;
    char* end = SanitizeName(component, 8, false, isLead);
    SanitizeName(extension, 3, false, isLead);
    *end++ = '.';
    TextCopy(end, 4, extension);
}

void FitPathComponents(char* text, bool longNames, LeadByteTest isLead) {
    if (*text == '/') ++text;
    char* write = text;
    const char* read = text;
    for (;;) {
        char component[OUTPUT_PATH_SIZE];
        uint32_t length = 0;
        while (read[length] != 0 && read[length] != '/') ++length;
        bool more = read[length] == '/';
        MemCopy(component, read, length);
        component[length] = 0;
        read += length + (more ? 1 : 0);
        FitComponent(component, longNames, isLead);
        // Components only shrink, so the write position never passes the read.
        uint32_t fitted = TextLength(component);
        MemCopy(write, component, fitted);
        write += fitted;
        if (!more) break;
        *write++ = '/';
    }
    *write = 0;
}

// The parent folder of the last output path, every folder along it already
// created (or tried): entries of one folder follow each other, so each
// folder is created once, not once for every entry below it.
static char g_createdParents[OUTPUT_PATH_SIZE];

void ForgetCreatedFolders() { g_createdParents[0] = 0; }

void CreateParentFolders(const char* path, uint32_t systemLength) {
    char prefix[OUTPUT_PATH_SIZE];
    uint32_t same = 0;  // bytes shared with the last parent folder
    while (path[same] != 0 && path[same] == g_createdParents[same]) ++same;
    uint32_t i = 0;
    uint32_t lastSeparator = 0;
    for (; path[i] != 0 && i + 1 < sizeof prefix; ++i) {
        if (path[i] == '/') {
            prefix[i] = 0;
            bool made = g_createdParents[0] != 0 && i <= same &&
                        (g_createdParents[i] == '/' || g_createdParents[i] == 0);
            if (!made) CreateFolderAt(prefix, systemLength);
            lastSeparator = i;
        }
        prefix[i] = path[i];
    }
    MemCopy(g_createdParents, path, lastSeparator);
    g_createdParents[lastSeparator] = 0;
}

// Normalises and fits the components of `text` up to `end` (not included),
// leaving the rest of the text where it is; returns the new end.
static char* FitStretch(char* text, char* end, bool longNames, LeadByteTest isLead) {
    char kept = *end;
    *end = 0;
    NormalizeSeparators(text, '/', isLead);
    FitPathComponents(text, longNames, isLead);
    char* fitted = text + TextLength(text);
    *end = kept;
    return fitted;
}

bool BuildOutputPath(char* dest, uint32_t capacity, const char* extractionFolder,
                     const char* name, const char* root, bool longNames, uint32_t* nameStart) {
    if (!JoinPath(dest, capacity, extractionFolder, name)) return false;
    // Where the name begins: behind the folder and the one backslash JoinPath put there.
    char folder[OUTPUT_PATH_SIZE];
    TextCopy(folder, sizeof folder, extractionFolder);
    AppendBackslash(folder, sizeof folder);
    uint32_t folderEnd = TextLength(folder);
    uint32_t rootLength = TextLength(root);
    if (rootLength > folderEnd) rootLength = folderEnd;
    // The folder's part, without the separator in front of the name, follows
    // the system's code page; the name's part is Shift-JIS.
    char* nameAt = dest + folderEnd;
    if (folderEnd > rootLength) {
        char* folderFitted = FitStretch(dest + rootLength, nameAt - 1, longNames, IsSystemLeadByte);
        *folderFitted++ = '/';
        uint32_t nameLength = TextLength(nameAt);
        for (uint32_t i = 0; i <= nameLength; ++i) folderFitted[i] = nameAt[i];  // moves down
        nameAt = folderFitted;
    }
    NormalizeSeparators(nameAt, '/');
    FitPathComponents(nameAt, longNames);
    uint32_t systemLength = static_cast<uint32_t>(nameAt - dest);
    if (nameStart != nullptr) *nameStart = systemLength;
    CreateParentFolders(dest, systemLength);
    return true;
}

// True when no `/`-separated component is made of dots and blanks alone
// with two or more dots.
static bool HasNoParentStep(const char* name) {
    const char* start = name;
    for (const char* p = name;; ++p) {
        if (*p != 0 && *p != '/') continue;
        int dots = 0;
        bool onlyDotsAndBlanks = true;
        for (const char* q = start; q < p; ++q) {
            if (*q == '.') {
                ++dots;
            } else if (*q != ' ') {
                onlyDotsAndBlanks = false;
            }
        }
        if (onlyDotsAndBlanks && dots >= 2) return false;
        if (*p == 0) return true;
        start = p + 1;
    }
}

bool IsNameConfined(const char* name) {
    // Fitting can turn a harmless component into a climbing one: two dots
    // and a lead byte lose that byte when no trail byte follows it, and the
    // cut to 255 bytes can leave ".. " and blanks. The name is judged as written and as fitted to a
    // long-name volume (the 8.3 form never keeps two dots in a component).
    char fitted[OUTPUT_PATH_SIZE];
    TextCopy(fitted, sizeof fitted, name);
    FitPathComponents(fitted, true);
    return HasNoParentStep(name) && HasNoParentStep(fitted);
}
