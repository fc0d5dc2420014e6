// Output paths below the extraction folder and the name rules of the target
// volume: long names (maximum component length exactly 255) replace only the
// nine characters that no file name may hold; any other volume forces every
// component into the 8.3 form.
#pragma once

#include <stdint.h>

#include "common/text.h"

// The root of a path's volume: "\\server\share\" for UNC, "C:\" for a drive
// path, empty otherwise. `dest` holds `capacity` bytes.
void VolumeRoot(char* dest, uint32_t capacity, const char* path);

// folder + one backslash + name (a leading backslash of the name dropped).
// False when the result does not fit.
bool JoinPath(char* dest, uint32_t capacity, const char* folder, const char* name);

// Makes the output path of an entry (its name with `/` separators) below
// the extraction folder, fits every component behind the volume root to the
// volume and creates the missing parent folders. The extraction folder's
// part is judged in the system's code page, the entry's name as Shift-JIS;
// `nameStart`, when given, receives where the name's part begins. False,
// with nothing created, when the path does not fit `capacity` bytes.
bool BuildOutputPath(char* dest, uint32_t capacity, const char* extractionFolder,
                     const char* name, const char* root, bool longNames,
                     uint32_t* nameStart = nullptr);

// Fits every `/`-separated component of `text` in place (a leading `/`
// stays). Characters are told apart by `isLead`.
void FitPathComponents(char* text, bool longNames, LeadByteTest isLead = IsShiftJisLeadByte);

// Fits one component in place: at most 255 bytes on a long-name volume;
// otherwise base of 8 and extension of 3 bytes, split at the last dot.
void FitComponent(char* component, bool longNames, LeadByteTest isLead = IsShiftJisLeadByte);

// Replaces the characters the volume does not allow by `_` and cuts the text
// to `limit` bytes without splitting a double-byte character. Returns the
// new end.
char* SanitizeName(char* text, uint32_t limit, bool longNames,
                   LeadByteTest isLead = IsShiftJisLeadByte);

// Creates every folder named by a prefix of `path` that ends before a `/`;
// failures are not reported. The first `systemLength` bytes are in the
// system's code page, the rest Shift-JIS. Folders along the previous path's
// parent are not created again.
void CreateParentFolders(const char* path, uint32_t systemLength = 0xFFFFFFFFu);
// Forgets the folders created so far: every parent is created again (at the
// start of each extract pass).
void ForgetCreatedFolders();

// False for an entry name that could lead out of the extraction folder: a
// component made of dots and blanks alone with two or more dots ("..",
// "...", ".. "), which Windows resolves to a parent folder, in the name as
// written or once its components are fitted to the volume.
bool IsNameConfined(const char* name);
