// The folder variables of the install command and the destination folder:
// %ExtractDir%, %SystemDir%, %ProgramFilesDir%, %CommonFilesDir%, %TEMP%,
// %ExtractDirX%, %MyDocuments% and %windir%, matched exactly (case counts).
#pragma once

#include <stdint.h>

#include "platform/win32.h"

// Writes `text` with its path variables replaced to `out` (capacity units,
// terminator included). A result too long for `out` is cut, never split
// inside a character; nothing follows a value that was cut.
// `extractionFolder` may be null: %ExtractDir% and %ExtractDirX% then stay
// as written.
void ExpandPathVariables(const WCHAR* text, WCHAR* out, uint32_t capacity,
                         const WCHAR* extractionFolder);

// The folders that the registry names; the order of the table behind them.
enum class RegistryFolderKind { ProgramFiles, CommonFiles, MyDocuments };

// `out` (260 units) receives the registry value, or the default folder when
// the value is missing, too long or not a text.
void QueryRegistryFolder(RegistryFolderKind kind, WCHAR* out);
