// Output paths below the extraction folder and the name rules of the target
// volume: long names (maximum component length exactly 255) replace only the
// nine characters that no file name may hold; any other volume forces every
// component into the 8.3 form. Limits count bytes as Shift-JIS has them
// (UnitBytes), so that a name is fitted alike in both forms of text.
#pragma once

#include <stdint.h>

#include "common/text.h"

// The root of a path's volume: "\\server\share\" for UNC, "C:\" for a drive
// path, empty otherwise. `dest` holds `capacity` units.
void VolumeRoot(WCHAR* dest, uint32_t capacity, const WCHAR* path);

// folder + one backslash + name (a leading backslash of the name dropped).
// False when the result does not fit.
bool JoinPath(WCHAR* dest, uint32_t capacity, const WCHAR* folder, const WCHAR* name);

// Makes the output path of an entry (its name with `/` separators) below
// the extraction folder, fits every component behind the volume root to the
// volume and creates the missing parent folders. The extraction folder's
// part is judged as the system's text, the entry's name as a name. False,
// with nothing created, when the path does not fit `capacity` units.
bool BuildOutputPath(WCHAR* dest, uint32_t capacity, const WCHAR* extractionFolder,
                     const WCHAR* name, const WCHAR* root, bool longNames);

// Fits every `/`-separated component of `text` in place (a leading `/`
// stays). Characters are told apart by `isLead`.
void FitPathComponents(WCHAR* text, bool longNames, LeadTest isLead = IsNameLead);

// Fits one component in place: at most 255 bytes on a long-name volume;
// otherwise base of 8 and extension of 3 bytes, split at the last dot.
void FitComponent(WCHAR* component, bool longNames, LeadTest isLead = IsNameLead);

// Replaces the characters the volume does not allow by `_` and cuts the text
// to `limit` bytes without splitting a character. Returns the new end.
WCHAR* SanitizeName(WCHAR* text, uint32_t limit, bool longNames, LeadTest isLead = IsNameLead);

// Creates every folder named by a prefix of `path` that ends before a `/`;
// failures are not reported. Folders along the previous path's parent are
// not created again.
void CreateParentFolders(const WCHAR* path);
// Forgets the folders created so far: every parent is created again (at the
// start of each extract pass).
void ForgetCreatedFolders();

// False for an entry name that could lead out of the extraction folder: a
// component made of dots and blanks alone with two or more dots ("..",
// "...", ".. "), which Windows resolves to a parent folder, in the name as
// written or once its components are fitted to the volume.
bool IsNameConfined(const WCHAR* name);
