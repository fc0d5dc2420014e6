// Reading the built executable for the tests: its imports and resources.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "files/pe_image.h"

namespace e2e {

// DLL name (lower case) -> imported function names. An import by ordinal is
// listed as "#N".
std::map<std::string, std::vector<std::string>> ReadImports(const pe::Bytes& file, const pe::Image& image);

// The data of resource type/id/language; empty when absent.
pe::Bytes FindResource(const pe::Bytes& file, const pe::Image& image, uint32_t type, uint32_t id,
                       uint32_t language);

// The languages under which resource type/id exists.
std::vector<uint32_t> ResourceLanguages(const pe::Bytes& file, const pe::Image& image, uint32_t type,
                                        uint32_t id);

}  // namespace e2e
