// Where the appended archive comes from. Today: an existing .lzh file, taken
// as it is. An archive writer of our own plugs in here.
#pragma once

#include <string>

#include "files/pe_image.h"
#include "pack/pack_options.h"

// The archive bytes to append. False with a message for the user.
bool LoadArchive(const PackOptions& options, pe::Bytes* archive, std::string* error);
