#include "common/wide_names.h"

#include "common/text.h"

WideCalls g_wide;

namespace {

bool g_useWide;

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* out) {
    *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *out != nullptr;
}

bool ResolveWideCalls() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    HMODULE user = GetModuleHandleA("user32.dll");
    if (kernel == nullptr || user == nullptr) return false;
    return Resolve(kernel, "CreateDirectoryW", &g_wide.createDirectory) &&
           Resolve(kernel, "CreateFileW", &g_wide.createFile) &&
           Resolve(kernel, "SetFileAttributesW", &g_wide.setFileAttributes) &&
           Resolve(kernel, "GetFileAttributesW", &g_wide.getFileAttributes) &&
           Resolve(kernel, "DeleteFileW", &g_wide.deleteFile) &&
           Resolve(kernel, "RemoveDirectoryW", &g_wide.removeDirectory) &&
           Resolve(kernel, "FindFirstFileW", &g_wide.findFirstFile) &&
           Resolve(kernel, "FindNextFileW", &g_wide.findNextFile) &&
           Resolve(kernel, "CreateProcessW", &g_wide.createProcess) &&
           Resolve(user, "MessageBoxW", &g_wide.messageBox) &&
           Resolve(user, "SetWindowTextW", &g_wide.setWindowText) &&
           Resolve(user, "SetDlgItemTextW", &g_wide.setDlgItemText) &&
           Resolve(user, "CreateDialogParamW", &g_wide.createDialogParam);
}

// ソ, whose trail byte is 0x5C, must come out as one character.
bool ConvertsShiftJis() {
    WCHAR probe[2] = {0, 0};
    return IsValidCodePage(SHIFT_JIS_CODE_PAGE) &&
           MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, 0, "\x83\x5C", 2, probe, 2) == 1 &&
           probe[0] == 0x30BD;
}

// True when a component of `name` (separated by `/` or `\`) is made of
// dots and blanks alone with two or more dots: Windows would resolve it to
// a parent folder.
bool ClimbsOut(const WCHAR* name) {
    int dots = 0;
    bool onlyDots = true;
    for (;; ++name) {
        if (*name == 0 || *name == '/' || *name == '\\') {
            if (onlyDots && dots >= 2) return true;
            if (*name == 0) return false;
            dots = 0;
            onlyDots = true;
        } else if (*name == '.') {
            ++dots;
        } else if (*name != ' ') {
            onlyDots = false;
        }
    }
}

// Converts one mixed path for a wide call; false when it does not fit. The
// name's part was judged as Shift-JIS bytes; should the conversion ever
// read a byte pair differently and make a parent step of it, the path is
// refused rather than followed.
bool WidenPath(WideText* out, const char* path, uint32_t systemLength) {
    WideBegin(out);
    uint32_t nameAt = WideAppendPath(out, path, systemLength);
    return out->whole && !ClimbsOut(out->text + nameAt);
}

}  // namespace

void ChooseWideNames() {
    g_useWide = false;
    MemFill(&g_wide, 0, sizeof g_wide);
    if (GetACP() == SHIFT_JIS_CODE_PAGE) return;
    if ((GetVersion() & 0x80000000u) != 0) return;  // Windows 95, 98 and Me
    if (!ConvertsShiftJis() || !ResolveWideCalls()) {
        MemFill(&g_wide, 0, sizeof g_wide);
        return;
    }
    g_useWide = true;
}

bool UsesWideNames() { return g_useWide; }

void WideBegin(WideText* out) {
    out->text[0] = 0;
    out->used = 0;
    out->whole = true;
}

void WideAppend(WideText* out, const char* text, uint32_t length, UINT codePage) {
    if (length == 0) return;
    int room = static_cast<int>(WIDE_TEXT_SIZE - 1 - out->used);
    int made = room > 0 ? MultiByteToWideChar(codePage, 0, text, static_cast<int>(length),
                                              out->text + out->used, room)
                        : 0;
    if (made <= 0) {
        out->whole = false;
        return;
    }
    out->used += static_cast<uint32_t>(made);
    out->text[out->used] = 0;
}

void WideAppendText(WideText* out, const char* text, UINT codePage) {
    WideAppend(out, text, TextLength(text), codePage);
}

void WideAppendUnits(WideText* out, const WCHAR* text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (out->used + 1 >= WIDE_TEXT_SIZE) {
            out->whole = false;
            break;
        }
        out->text[out->used++] = text[i];
    }
    out->text[out->used] = 0;
}

uint32_t WideAppendPath(WideText* out, const char* path, uint32_t systemLength) {
    uint32_t length = TextLength(path);
    if (systemLength > length) systemLength = length;
    WideAppend(out, path, systemLength, CP_ACP);
    uint32_t nameAt = out->used;
    WideAppend(out, path + systemLength, length - systemLength, SHIFT_JIS_CODE_PAGE);
    return nameAt;
}

BOOL CreateFolderAt(const char* path, uint32_t systemLength) {
    if (!g_useWide) return CreateDirectoryA(path, nullptr);
    WideText wide;
    return WidenPath(&wide, path, systemLength) ? g_wide.createDirectory(wide.text, nullptr) : FALSE;
}

HANDLE OpenFileAt(const char* path, uint32_t systemLength, DWORD access, DWORD share,
                  DWORD disposition, DWORD flags) {
    if (!g_useWide) return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    WideText wide;
    if (!WidenPath(&wide, path, systemLength)) return INVALID_HANDLE_VALUE;
    return g_wide.createFile(wide.text, access, share, nullptr, disposition, flags, nullptr);
}

BOOL SetAttributesAt(const char* path, uint32_t systemLength, DWORD attributes) {
    if (!g_useWide) return SetFileAttributesA(path, attributes);
    WideText wide;
    return WidenPath(&wide, path, systemLength) ? g_wide.setFileAttributes(wide.text, attributes)
                                                : FALSE;
}

BOOL DeleteFileAt(const char* path, uint32_t systemLength) {
    if (!g_useWide) return DeleteFileA(path);
    WideText wide;
    return WidenPath(&wide, path, systemLength) ? g_wide.deleteFile(wide.text) : FALSE;
}
