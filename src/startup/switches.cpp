#include "startup/switches.h"

#include "common/system_calls.h"
#include "common/text.h"

namespace {

bool IsBlank(WCHAR c) { return c == ' ' || c == '\t'; }

const WCHAR* SkipBlanks(const WCHAR* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

// The end of the token at `p`: a blank, a tab or the end.
const WCHAR* TokenEnd(const WCHAR* p) {
    while (*p != 0 && !IsBlank(*p)) ++p;
    return p;
}

// Copies the token of `length` units at `token` as the text of a refusal.
void Refuse(ParsedSwitches* parsed, const WCHAR* token, uint32_t length) {
    parsed->refused[0] = 0;
    TextAppendUnits(parsed->refused, PATH_SIZE, token, length);
}

// Reads the value behind a switch into `out`: a quoted text without its
// quotes, or a token up to a blank. Null when there is none, it begins with
// '-', or it does not fit.
const WCHAR* ReadValue(const WCHAR* p, WCHAR* out) {
    p = SkipBlanks(p);
    if (*p == 0 || *p == '-') return nullptr;
    const WCHAR* end;
    const WCHAR* start = p;
    if (*p == '"') {
        start = ++p;
        while (*p != 0 && *p != '"') ++p;
        end = p;
        if (*p == '"') ++p;
    } else {
        end = p = TokenEnd(p);
    }
    uint32_t length = static_cast<uint32_t>(end - start);
    out[0] = 0;
    if (length >= PATH_SIZE || !TextAppendUnits(out, PATH_SIZE, start, length)) return nullptr;
    return p;
}

// Where a `--` token outside quotes begins in `p`, or null.
const WCHAR* FindArgumentsMark(const WCHAR* p) {
    bool quoted = false;
    for (const WCHAR* at = p; *at != 0; ++at) {
        if (*at == '"') quoted = !quoted;
        bool tokenStart = at == p || IsBlank(at[-1]);
        if (!quoted && tokenStart && at[0] == '-' && at[1] == '-' && (at[2] == 0 || IsBlank(at[2]))) return at;
    }
    return nullptr;
}

}  // namespace

SwitchVerdict ParseSwitches(const WCHAR* line, ParsedSwitches* parsed) {
    MemFill(parsed, 0, sizeof *parsed);
    const WCHAR* p = SkipBlanks(line);
    while (*p == '-' || *p == '/') {
        const WCHAR* end = TokenEnd(p);
        uint32_t length = static_cast<uint32_t>(end - p);
        if (length == 2 && p[0] == '-' && p[1] == '-') break;  // the installer's arguments
        WCHAR letter = length == 2 ? static_cast<WCHAR>(p[1] | 0x20) : 0;
        const WCHAR* next = end;
        if (letter == 'n') {
            parsed->noQuestion = true;
        } else if (letter == 'q') {
            parsed->askQuestion = true;
        } else if (letter == 's') {
            parsed->silent = true;
        } else if (letter == 't') {
            parsed->testOnly = true;
        } else if (letter == '?') {
            Refuse(parsed, p, length);
            return SwitchVerdict::Help;
        } else if (letter == 'x' || letter == 'l') {
            parsed->extractOnly |= letter == 'x';
            next = ReadValue(end, letter == 'x' ? parsed->extractFolder : parsed->logFile);
        } else {
            next = nullptr;
        }
        if (next == nullptr) {
            Refuse(parsed, p, length);
            return SwitchVerdict::Refused;
        }
        p = SkipBlanks(next);
    }
    const WCHAR* mark = FindArgumentsMark(p);
    const WCHAR* folderEnd = mark != nullptr ? mark : p + TextLength(p);
    if (mark != nullptr) {
        while (folderEnd > p && IsBlank(folderEnd[-1])) --folderEnd;
        parsed->arguments = SkipBlanks(mark + 2);
    }
    uint32_t length = static_cast<uint32_t>(folderEnd - p);
    bool whole = TextAppendUnits(parsed->folder, PATH_SIZE, p, length);  // cut, for the box of a refusal
    return whole && SystemTextBytes(parsed->folder) < PATH_SIZE ? SwitchVerdict::Run : SwitchVerdict::TooLong;
}
