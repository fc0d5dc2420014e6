// The resource section of a linked image, read and written in place: the
// builder lays it out again with new icons and version information and fixes
// every header field that depends on its size. Only the resource section
// changes, and it must be the last section, so that nothing behind it moves.
#pragma once

#include <string>

#include "common/pe_image.h"
#include "pe/resource_tree.h"

namespace pe {

// Reads the resources of `file`. False with a reason when the image has no
// resource section that can be rewritten: the resource directory must begin
// a section that comes last both in the file and in memory.
bool ReadResources(const Bytes& file, ResourceSet* set, std::string* error);

// Replaces the resource section of `file` by `set` laid out anew: section
// sizes, the image size, the size of initialised data and the resource
// directory follow. The checksum is left for the caller (it changes again
// when the archive is appended). Same preconditions as ReadResources.
bool WriteResources(Bytes& file, const ResourceSet& set, std::string* error);

}  // namespace pe
