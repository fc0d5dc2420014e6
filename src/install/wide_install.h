// The install command and the removal of the extraction folder where names
// go through the wide calls: the command mixes the configured Shift-JIS
// text with the system's folders, and the extracted names cannot be listed
// or removed through the ANSI calls of another code page.
#pragma once

#include "platform/win32.h"

// Expands the command template into its UTF-16 form and, as for the ANSI
// form, names a bare program by its full path when the extraction folder
// holds it. False when the rewritten command would not fit.
bool PrepareWideCommand(const char* command, const char* extractionFolder);

// The prepared command, for the name line.
const WCHAR* WideCommand();

// Starts the prepared command in the extraction folder.
bool StartWideInstaller(const char* extractionFolder, DWORD flags, PROCESS_INFORMATION* process);

// Removes the folder with everything in it, by the same rules as
// RemoveFolderTree.
void RemoveFolderTreeWide(const char* folder);
