// A small PE32 file as a linker lays it out (PE header at 0x80, section data
// from 0x400), with recognisable bytes in every section.
#pragma once

#include <string.h>

#include "files/pe_image.h"

namespace synthetic {

// `sections` sections of one file-aligned block (0x200 bytes) each, the
// section with index i filled with the byte 0x11 * (i + 1).
inline pe::Bytes LinkedImage(int sections = 5) {
    const size_t peOffset = 0x80;
    const size_t optionalSize = 224;
    const uint32_t dataStart = 0x400;
    pe::Bytes file(dataStart + 0x200 * sections, 0);
    file[0] = 'M';
    file[1] = 'Z';
    pe::Put32(file, 0x3C, peOffset);
    memcpy(&file[peOffset], "PE\0\0", 4);
    pe::Put16(file, peOffset + 4, 0x14C);
    pe::Put16(file, peOffset + pe::COFF_SECTION_COUNT, sections);
    pe::Put16(file, peOffset + pe::COFF_OPTIONAL_SIZE, optionalSize);
    pe::Put16(file, peOffset + pe::OPT_MAGIC, 0x10B);
    pe::Put32(file, peOffset + 24 + 16, 0x1000);  // entry point
    pe::Put32(file, peOffset + 24 + 28, 0x400000);
    pe::Put32(file, peOffset + pe::OPT_SECTION_ALIGNMENT, 0x1000);
    pe::Put32(file, peOffset + pe::OPT_FILE_ALIGNMENT, 0x200);
    pe::Put32(file, peOffset + 24 + 56, 0x1000 * (sections + 1));  // SizeOfImage
    pe::Put32(file, peOffset + pe::OPT_SIZE_OF_HEADERS, dataStart);
    pe::Put16(file, peOffset + 24 + 68, 2);  // GUI
    pe::Put32(file, peOffset + pe::OPT_DIRECTORY_COUNT, 16);
    for (int i = 0; i < sections; ++i) {
        size_t entry = peOffset + 24 + optionalSize + i * pe::SECTION_HEADER_SIZE;
        char name[16];
        snprintf(name, sizeof name, ".s%d", i);
        memcpy(&file[entry], name, strnlen(name, 8));
        pe::Put32(file, entry + 8, 0x180);
        pe::Put32(file, entry + 12, 0x1000 * (i + 1));
        pe::Put32(file, entry + 16, 0x200);
        pe::Put32(file, entry + 20, dataStart + 0x200 * i);
        memset(&file[dataStart + 0x200 * i], 0x11 * (i + 1), 0x200);
    }
    return file;
}

}  // namespace synthetic
