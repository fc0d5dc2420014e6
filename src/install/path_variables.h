// The folder variables of the install command and the destination folder.
#pragma once

#include <stdint.h>

// Writes `text` with its path variables replaced to `out` (capacity bytes,
// terminator included; a longer result is cut). `extractionFolder` may be
// null: %ExtractDir% and %ExtractDirX% then stay as written.
void ExpandPathVariables(const char* text, char* out, uint32_t capacity,
                         const char* extractionFolder);
