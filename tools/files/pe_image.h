// Reading and patching 32-bit PE files held in memory: the fields that the
// post-link layout and the archive builder touch, and the image checksum.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace pe {

using Bytes = std::vector<uint8_t>;

uint16_t Get16(const Bytes& file, size_t offset);
uint32_t Get32(const Bytes& file, size_t offset);
void Put16(Bytes& file, size_t offset, uint16_t value);
void Put32(Bytes& file, size_t offset, uint32_t value);

// Offsets inside the PE headers, counted from the "PE\0\0" signature.
constexpr size_t COFF_SECTION_COUNT = 6;
constexpr size_t COFF_SYMBOL_TABLE = 12;
constexpr size_t COFF_OPTIONAL_SIZE = 20;
constexpr size_t OPT_MAGIC = 24;
constexpr size_t OPT_SECTION_ALIGNMENT = 24 + 32;
constexpr size_t OPT_FILE_ALIGNMENT = 24 + 36;
constexpr size_t OPT_SIZE_OF_HEADERS = 24 + 60;
constexpr size_t OPT_CHECKSUM = 24 + 64;
constexpr size_t OPT_DIRECTORY_COUNT = 24 + 92;
constexpr size_t OPT_DIRECTORIES = 24 + 96;
constexpr size_t SECTION_HEADER_SIZE = 40;

constexpr int DIR_IMPORT = 1;
constexpr int DIR_RESOURCE = 2;
constexpr int DIR_SECURITY = 4;
constexpr int DIR_DEBUG = 6;

struct Section {
    std::string name;
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawPointer;
    size_t headerOffset;  // file offset of this entry of the section table
};

struct Image {
    uint32_t peOffset;         // e_lfanew: file offset of "PE\0\0"
    uint32_t optionalSize;     // SizeOfOptionalHeader
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    uint32_t sizeOfHeaders;
    std::vector<Section> sections;

    size_t checksumOffset() const { return peOffset + OPT_CHECKSUM; }
    // First byte behind the section table.
    size_t headersEnd() const {
        return peOffset + 24 + optionalSize + sections.size() * SECTION_HEADER_SIZE;
    }
    // Lowest file offset of any section's data (0 when no section has data).
    uint32_t firstSectionData() const;
    // End of the last section's data in the file: where appended data begins.
    uint32_t endOfSectionData() const;
    // Data directory `index`: RVA and size (0, 0 when absent).
    uint32_t directoryRva(const Bytes& file, int index) const;
    uint32_t directorySize(const Bytes& file, int index) const;
    // File offset of an RVA inside some section's data; 0 when none holds it.
    uint32_t rvaToOffset(uint32_t rva) const;
};

// Parses the DOS header, PE signature, COFF and optional header (PE32 only)
// and the section table. False with a reason when the file is not one.
bool Parse(const Bytes& file, Image* image, std::string* error);

// The image checksum as the system computes it: 16-bit one's-complement-like
// sum of the file (the checksum field counted as 0) plus the file length.
uint32_t Checksum(const Bytes& file, size_t checksumOffset);

bool ReadFile(const std::string& path, Bytes* bytes, std::string* error);
bool WriteFile(const std::string& path, const Bytes& bytes, std::string* error);

}  // namespace pe
