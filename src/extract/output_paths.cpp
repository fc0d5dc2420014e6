#include "extract/output_paths.h"

#include "archive/archive_entry.h"
#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"

// Characters that no long file name may hold, and the wider set of the 8.3
// form (the dot included: a short base holds none).
static const char kLongNameSet[] = "\"*/:<>?\\|";
static const char kShortNameSet[] = "\"*+,./:;<=>?[\\]|";

static bool InSet(const char* set, WCHAR c) {
    for (; *set != 0; ++set) {
        if (static_cast<uint8_t>(*set) == c) return true;
    }
    return false;
}

void VolumeRoot(WCHAR* dest, uint32_t capacity, const WCHAR* path) {
    dest[0] = 0;
    // Two units or fewer cannot hold the two leading backslashes and a terminator.
    if (path[0] == '\\' && path[1] == '\\' && capacity > 2) {
        TextCopy(dest, capacity, path);
        int backslashes = 0;
        for (WCHAR* p = dest + 2; *p != 0; p += IsSystemLead(*p) && p[1] != 0 ? 2 : 1) {
            if (*p == '\\' && ++backslashes == 2) {
                p[1] = 0;
                break;
            }
        }
        return;
    }
    if (path[0] != 0 && path[1] == ':' && path[2] == '\\' && capacity > 3) {
        MemCopy(dest, path, 3 * sizeof(WCHAR));
        dest[3] = 0;
    }
}

bool JoinPath(WCHAR* dest, uint32_t capacity, const WCHAR* folder, const WCHAR* name) {
    if (!TextCopy(dest, capacity, folder)) return false;
    if (TextLength(dest) + 2 > capacity) return false;
    AppendBackslash(dest, capacity);
    if (*name == '\\') ++name;
    return TextAppend(dest, capacity, name);
}

WCHAR* SanitizeName(WCHAR* text, uint32_t limit, bool longNames, LeadTest isLead) {
    uint32_t i = 0;
    uint32_t bytes = 0;
    while (text[i] != 0) {
        if (isLead(text[i])) {
            // Never split a character.
            if (text[i + 1] == 0) break;
            uint32_t size = UnitBytes(text[i]) + UnitBytes(text[i + 1]);
            if (bytes + size > limit) break;
            bytes += size;
            i += 2;
            continue;
        }
        if (bytes + UnitBytes(text[i]) > limit) break;
        WCHAR c = text[i];
        // 0xFF is no character of Shift-JIS; in UTF-16 it is 'ÿ'.
        bool shortOnly = InSet(kShortNameSet, c) || c <= 0x20 || (c == 0xFF && !TextsAreUtf16());
        if (longNames ? InSet(kLongNameSet, c) : shortOnly) text[i] = '_';
        bytes += UnitBytes(c);
        ++i;
    }
    text[i] = 0;
    return text + i;
}

void FitComponent(WCHAR* component, bool longNames, LeadTest isLead) {
    if (longNames) {
        SanitizeName(component, 255, true, isLead);
        return;
    }
    WCHAR* lastDot = nullptr;
    for (WCHAR* p = component; *p != 0; ++p) {
        if (*p == '.') lastDot = p;
    }
    if (lastDot == nullptr) {
        SanitizeName(component, 8, false, isLead);
        return;
    }
    // Base and extension are fitted apart, then joined by the dot again.
    WCHAR extension[OUTPUT_PATH_SIZE];
    TextCopy(extension, OUTPUT_PATH_SIZE, lastDot + 1);
    *lastDot = 0;
    WCHAR* end = SanitizeName(component, 8, false, isLead);
    SanitizeName(extension, 3, false, isLead);
    *end++ = '.';
    TextCopy(end, 7, extension);
}

void FitPathComponents(WCHAR* text, bool longNames, LeadTest isLead) {
    if (*text == '/') ++text;
    WCHAR* write = text;
    const WCHAR* read = text;
    for (;;) {
        WCHAR component[OUTPUT_PATH_SIZE];
        uint32_t length = 0;
        while (read[length] != 0 && read[length] != '/') ++length;
        bool more = read[length] == '/';
        MemCopy(component, read, length * sizeof(WCHAR));
        component[length] = 0;
        read += length + (more ? 1 : 0);
        FitComponent(component, longNames, isLead);
        // Components only shrink, so the write position never passes the read.
        uint32_t fitted = TextLength(component);
        MemCopy(write, component, fitted * sizeof(WCHAR));
        write += fitted;
        if (!more) break;
        *write++ = '/';
    }
    *write = 0;
}

// The parent folder of the last output path, every folder along it already
// created (or tried): entries of one folder follow each other, so each
// folder is created once, not once for every entry below it.
static WCHAR g_createdParents[OUTPUT_PATH_SIZE];

void ForgetCreatedFolders() { g_createdParents[0] = 0; }

void CreateParentFolders(const WCHAR* path) {
    WCHAR prefix[OUTPUT_PATH_SIZE];
    uint32_t same = 0;  // units shared with the last parent folder
    while (path[same] != 0 && path[same] == g_createdParents[same]) ++same;
    uint32_t i = 0;
    uint32_t lastSeparator = 0;
    for (; path[i] != 0 && i + 1 < OUTPUT_PATH_SIZE; ++i) {
        if (path[i] == '/') {
            prefix[i] = 0;
            bool made = g_createdParents[0] != 0 && i <= same &&
                        (g_createdParents[i] == '/' || g_createdParents[i] == 0);
            if (!made) MakeFolder(prefix);
            lastSeparator = i;
        }
        prefix[i] = path[i];
    }
    MemCopy(g_createdParents, path, lastSeparator * sizeof(WCHAR));
    g_createdParents[lastSeparator] = 0;
}

// Normalises and fits the components of `text` up to `end` (not included),
// leaving the rest of the text where it is; returns the new end.
static WCHAR* FitStretch(WCHAR* text, WCHAR* end, bool longNames, LeadTest isLead) {
    WCHAR kept = *end;
    *end = 0;
    NormalizeSeparators(text, isLead);
    FitPathComponents(text, longNames, isLead);
    WCHAR* fitted = text + TextLength(text);
    *end = kept;
    return fitted;
}

bool BuildOutputPath(WCHAR* dest, uint32_t capacity, const WCHAR* extractionFolder,
                     const WCHAR* name, const WCHAR* root, bool longNames) {
    if (!JoinPath(dest, capacity, extractionFolder, name)) return false;
    // Where the name begins: behind the folder and the one backslash JoinPath put there.
    WCHAR folder[OUTPUT_PATH_SIZE];
    TextCopy(folder, OUTPUT_PATH_SIZE, extractionFolder);
    AppendBackslash(folder, OUTPUT_PATH_SIZE);
    uint32_t folderEnd = TextLength(folder);
    uint32_t rootLength = TextLength(root);
    if (rootLength > folderEnd) rootLength = folderEnd;
    // The folder's part, without the separator in front of the name, is the
    // system's text; the name's part is a name.
    WCHAR* nameAt = dest + folderEnd;
    if (folderEnd > rootLength) {
        WCHAR* folderFitted = FitStretch(dest + rootLength, nameAt - 1, longNames, IsSystemLead);
        *folderFitted++ = '/';
        uint32_t nameLength = TextLength(nameAt);
        for (uint32_t i = 0; i <= nameLength; ++i) folderFitted[i] = nameAt[i];  // moves down
        nameAt = folderFitted;
    }
    NormalizeSeparators(nameAt);
    FitPathComponents(nameAt, longNames);
    CreateParentFolders(dest);
    return true;
}

// True when no `/`-separated component is made of dots and blanks alone
// with two or more dots.
static bool HasNoParentStep(const WCHAR* name) {
    const WCHAR* start = name;
    for (const WCHAR* p = name;; ++p) {
        if (*p != 0 && *p != '/') continue;
        int dots = 0;
        bool onlyDotsAndBlanks = true;
        for (const WCHAR* q = start; q < p; ++q) {
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

bool IsNameConfined(const WCHAR* name) {
    // Fitting can turn a harmless component into a climbing one: two dots
    // and a lead byte lose that byte when no trail byte follows it, and the
    // cut to 255 bytes can leave ".. " and blanks. The name is judged as
    // written and as fitted to a long-name volume (the 8.3 form never keeps
    // two dots in a component).
    WCHAR fitted[OUTPUT_PATH_SIZE];
    TextCopy(fitted, OUTPUT_PATH_SIZE, name);
    FitPathComponents(fitted, true);
    return HasNoParentStep(name) && HasNoParentStep(fitted);
}
