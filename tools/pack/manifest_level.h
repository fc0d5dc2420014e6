// The execution level in the stub's application manifest. The manifest
// (resource type 24, id 1) carries a fixed-width level field: the longest
// level name and its closing quote, 21 bytes, which a shorter name fills with
// blanks behind its quote. valkrin-pack rewrites that field in the stub's
// bytes before the archive is appended; nothing else in the file moves.
#pragma once

#include <string>

#include "files/pe_image.h"

enum class ExecutionLevel { AsInvoker, HighestAvailable, RequireAdministrator };

// "asInvoker", "highestAvailable", "requireAdministrator".
const char* ExecutionLevelName(ExecutionLevel level);
// The level of a name as written above; false for any other text.
bool ParseExecutionLevel(const std::string& name, ExecutionLevel* level);

// Where the level field of the manifest of `file` (a stub or a packed file)
// lies: true with its file offset, false when the file has no manifest or
// its manifest has no field of the fixed width.
bool FindManifestLevel(const pe::Bytes& file, size_t* offset);

// Writes `level` into the field in place. False with the reason when the
// stub has no such field.
bool SetManifestLevel(pe::Bytes* stub, ExecutionLevel level, std::string* error);

// The level name that the field holds; false when there is no field or it
// holds no known level.
bool ReadManifestLevel(const pe::Bytes& file, std::string* name);
