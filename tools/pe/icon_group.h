// Icons: reading a .ico file and putting its images into a resource set as
// the application's icon group (RT_GROUP_ICON) and its icons (RT_ICON).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pe/resource_tree.h"

namespace pe {

// One image of a .ico file: its directory entry as written, and its bytes
// (a BMP without its file header, or a whole PNG file).
struct IconImage {
    uint8_t width = 0;   // 0 stands for 256
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint8_t reserved = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    Bytes data;
};

// Reads a .ico file. False with a reason when it is not one: wrong header,
// no images, an image outside the file, or an image that is neither a PNG
// nor a bitmap with an info header.
bool ParseIconFile(const Bytes& file, std::vector<IconImage>* images, std::string* error);

// Replaces the first icon group of `set` (the one Windows shows for the
// file) and the icons it names by `images`, keeping the group's number or
// name and language so that the program finds its icon as before. Icons are
// numbered from 1, past the numbers that other groups still use. Without a
// group, adds one as number 1, language neutral.
void ReplaceIconGroup(ResourceSet* set, const std::vector<IconImage>& images);

}  // namespace pe
