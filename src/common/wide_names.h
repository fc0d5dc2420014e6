// Names on Windows whose ANSI code page is not 932. Entry names and the
// configured texts are Shift-JIS bytes; the ANSI calls would read them in the
// system's own code page and make other characters of them, and a trail
// byte 0x5C even a folder separator. Where the system offers the wide calls
// and code page 932 (the NT family), such texts are converted to UTF-16 and
// go through the wide calls instead. On Japanese Windows, and on Windows
// 95, 98 and Me, the ANSI calls are used as they always were.
//
// A path here is a mixed text: its first `systemLength` bytes come from the
// system (the extraction folder) and are in its code page, the rest comes
// from the archive and is Shift-JIS.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

constexpr UINT SHIFT_JIS_CODE_PAGE = 932;
// UTF-16 units of a converted output path or text, terminator included.
constexpr uint32_t WIDE_TEXT_SIZE = 1024;

// Decides once, at start-up, whether names go through the wide calls: the
// ANSI code page is not 932, the system is of the NT family, converts code
// page 932 and has every wide call used here.
void ChooseWideNames();
bool UsesWideNames();

// A UTF-16 text being composed from pieces in different code pages.
struct WideText {
    WCHAR text[WIDE_TEXT_SIZE];
    uint32_t used;  // units before the terminator
    bool whole;     // false once a piece did not fit or did not convert
};
void WideBegin(WideText* out);
// Appends `length` bytes of `text` in `codePage` (CP_ACP for the system's).
void WideAppend(WideText* out, const char* text, uint32_t length, UINT codePage);
// Appends a terminated text.
void WideAppendText(WideText* out, const char* text, UINT codePage);
void WideAppendUnits(WideText* out, const WCHAR* text, uint32_t length);
// A mixed path: system code page for the first `systemLength` bytes.
// Returns where the converted Shift-JIS part begins.
uint32_t WideAppendPath(WideText* out, const char* path, uint32_t systemLength);

// File-system steps on a mixed path, through the ANSI calls where names
// pass unchanged and through the wide calls otherwise.
BOOL CreateFolderAt(const char* path, uint32_t systemLength);
HANDLE OpenFileAt(const char* path, uint32_t systemLength, DWORD access, DWORD share,
                  DWORD disposition, DWORD flags);
BOOL SetAttributesAt(const char* path, uint32_t systemLength, DWORD attributes);
BOOL DeleteFileAt(const char* path, uint32_t systemLength);

// The wide calls, resolved at run time so that no system lacks an import:
// all null unless UsesWideNames().
struct WideCalls {
    BOOL(WINAPI* createDirectory)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* setFileAttributes)(LPCWSTR, DWORD);
    DWORD(WINAPI* getFileAttributes)(LPCWSTR);
    BOOL(WINAPI* deleteFile)(LPCWSTR);
    BOOL(WINAPI* removeDirectory)(LPCWSTR);
    HANDLE(WINAPI* findFirstFile)(LPCWSTR, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* findNextFile)(HANDLE, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* createProcess)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    int(WINAPI* messageBox)(HWND, LPCWSTR, LPCWSTR, UINT);
    BOOL(WINAPI* setWindowText)(HWND, LPCWSTR);
    BOOL(WINAPI* setDlgItemText)(HWND, int, LPCWSTR);
    // A dialog made by the wide call is a Unicode window: the texts set on it
    // and its controls stay UTF-16 instead of passing the ANSI code page.
    HWND(WINAPI* createDialogParam)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
};
extern WideCalls g_wide;
