// The publisher's icon and version information, written into the stub's
// resource section before the archive is appended. Every other resource
// (string table, dialog, manifest, ...) is carried over byte for byte.
#pragma once

#include <string>

#include "common/pe_image.h"
#include "pack/pack_options.h"

// The stub's string that serves as the default title.
constexpr uint16_t STUB_TITLE_STRING = 7;

// Rewrites the resources of `stub` for --icon and the version options; does
// nothing when none of them is given. False with a message for the user
// (naming the stub as `stubName`, or the .ico file); `stub` is then unchanged.
bool ApplyStubResources(const PackOptions& options, const std::string& stubName, pe::Bytes* stub,
                        std::string* error);

// Lines for --inspect: the icon sizes and the version information of a
// (packed) file; empty when it has no readable resources.
std::string DescribeStubResources(const pe::Bytes& file);
