#include "pe/resource_section.h"

#include <algorithm>

namespace pe {

namespace {

constexpr size_t OPT_INITIALIZED_DATA = 24 + 8;
constexpr size_t OPT_SIZE_OF_IMAGE = 24 + 56;

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The section that holds the resource tree, checked to be rewritable.
bool FindResourceSection(const Bytes& file, Image* image, const Section** found, std::string* error) {
    if (!Parse(file, image, error)) return false;
    uint32_t rva = image->directoryRva(file, DIR_RESOURCE);
    if (rva == 0 || image->directorySize(file, DIR_RESOURCE) == 0) {
        *error = "the image has no resources";
        return false;
    }
    const Section* last = nullptr;
    for (const Section& s : image->sections) {
        if (s.virtualAddress == rva) *found = &s;
        if (last == nullptr || s.virtualAddress > last->virtualAddress) last = &s;
    }
    if (*found == nullptr || *found != last || (*found)->rawPointer + (*found)->rawSize != image->endOfSectionData()) {
        *error = "the resources are not in a section of their own at the end of the image";
        return false;
    }
    if (image->sectionAlignment == 0 || image->fileAlignment == 0) {
        *error = "the image has no section or file alignment";
        return false;
    }
    return true;
}

}  // namespace

bool ReadResources(const Bytes& file, ResourceSet* set, std::string* error) {
    Image image;
    const Section* section = nullptr;
    if (!FindResourceSection(file, &image, &section, error)) return false;
    uint32_t size = std::min(section->rawSize, section->virtualSize == 0 ? section->rawSize : section->virtualSize);
    Bytes bytes(file.begin() + section->rawPointer, file.begin() + section->rawPointer + size);
    return ParseResourceSection(bytes, section->virtualAddress, set, error);
}

bool WriteResources(Bytes& file, const ResourceSet& set, std::string* error) {
    Image image;
    const Section* section = nullptr;
    if (!FindResourceSection(file, &image, &section, error)) return false;
    Bytes bytes = BuildResourceSection(set, section->virtualAddress);
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    const uint32_t rawSize = AlignUp(size, image.fileAlignment);
    const size_t pe = image.peOffset;
    Put32(file, pe + OPT_INITIALIZED_DATA, Get32(file, pe + OPT_INITIALIZED_DATA) - section->rawSize + rawSize);
    Put32(file, pe + OPT_SIZE_OF_IMAGE, AlignUp(section->virtualAddress + size, image.sectionAlignment));
    Put32(file, pe + OPT_DIRECTORIES + 8 * DIR_RESOURCE + 4, size);
    Put32(file, section->headerOffset + 8, size);
    Put32(file, section->headerOffset + 16, rawSize);
    bytes.resize(rawSize, 0);
    file.resize(section->rawPointer);
    file.insert(file.end(), bytes.begin(), bytes.end());
    return true;
}

}  // namespace pe
