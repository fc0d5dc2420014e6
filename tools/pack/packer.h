// Making a packed executable out of the stub, and reading one back.
#pragma once

#include <string>

#include "files/pe_image.h"
#include "format/config_block.h"

// True when `stub` can be packed: a PE image with the header layout, an
// empty block area and nothing behind its last section. False with the
// reason, which does not name the stub; the caller says which one it was.
bool CheckStub(const pe::Bytes& stub, pe::Image* image, std::string* error);

// Writes `block` into a copy of `stub` at offset 512, appends `archive` at
// the end of the stub's last section data, stores that offset in the block's
// archiveOffset and renews the image checksum. The stub must carry the
// header layout and nothing behind its last section (CheckStub).
bool PackExecutable(const pe::Bytes& stub, InstallConfig block, const pe::Bytes& archive, pe::Bytes* packed,
                    std::string* error);

// Reads the block of a packed executable. False when the file is too short
// or its archive offset points outside it.
bool ReadPackedBlock(const pe::Bytes& packed, InstallConfig* block, std::string* error);
