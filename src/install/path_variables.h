// The folder variables of the install command and the destination folder:
// %ExtractDir%, %SystemDir%, %ProgramFilesDir%, %CommonFilesDir%, %TEMP%,
// %ExtractDirX%, %MyDocuments% and %windir%, matched exactly (case counts).
#pragma once

#include <stdint.h>

// Writes `text` with its path variables replaced to `out` (capacity bytes,
// terminator included). A result too long for `out` is cut, never split
// inside a double-byte character. `extractionFolder` may be null:
// %ExtractDir% and %ExtractDirX% then stay as written.
void ExpandPathVariables(const char* text, char* out, uint32_t capacity,
                         const char* extractionFolder);

// The same expansion as UTF-16, where names go through the wide calls: the
// text is Shift-JIS, the values are converted from the system's code page.
struct WideText;
void ExpandPathVariablesWide(const char* text, WideText* out, const char* extractionFolder);

// The folders that the registry names; the order of the table behind them.
enum class RegistryFolderKind { ProgramFiles, CommonFiles, MyDocuments };

// `out` (260 bytes) receives the registry value, or the default folder when
// the value is missing, too long or not a text.
void QueryRegistryFolder(RegistryFolderKind kind, char* out);
