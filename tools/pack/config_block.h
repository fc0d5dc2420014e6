// The configuration block as valkrin-pack writes and shows it: texts given
// in UTF-8 are stored in Shift-JIS (code page 932), each within its field.
#pragma once

#include <string>

#include "pack/pack_options.h"
#include "format/config_block.h"

// Fills a block from the options (archiveOffset left 0). False with a
// message when a text cannot be converted or is too long for its field.
bool MakeConfigBlock(const PackOptions& options, InstallConfig* block, std::string* error);

// A readable listing of a block, one field a line.
std::string DescribeConfigBlock(const InstallConfig& block);
