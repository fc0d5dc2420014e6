#include "pack/packer.h"

#include <string.h>

#include "layout/layout.h"

bool CheckStub(const pe::Bytes& stub, pe::Image* image, std::string* error) {
    if (!pe::Parse(stub, image, error)) {
        *error = "not a PE image: " + *error;
        return false;
    }
    if (image->peOffset != layout::PE_HEADER ||
        memcmp(&stub[layout::MARKER_OFFSET], layout::MARKER, layout::MARKER_LENGTH) != 0) {
        *error = "not a Valkrin stub (no marker, or the PE header is not at 0x408)";
        return false;
    }
    if (image->directorySize(stub, pe::DIR_SECURITY) != 0) {
        *error = "it is signed (it carries a certificate table), and any change would void the signature; "
                 "pack an unsigned stub and sign the packed file";
        return false;
    }
    for (size_t i = layout::BLOCK_AREA; i < layout::BLOCK_AREA_END; ++i) {
        if (stub[i] != 0) {
            *error = "the block area is not empty; is it an already packed file?";
            return false;
        }
    }
    const uint32_t end = image->endOfSectionData();
    if (end != stub.size()) {
        *error = std::to_string(stub.size() - end) + " bytes behind the last section";
        return false;
    }
    return true;
}

bool PackExecutable(const pe::Bytes& stub, InstallConfig block, const pe::Bytes& archive, pe::Bytes* packed,
                    std::string* error) {
    pe::Image image;
    if (!CheckStub(stub, &image, error)) {
        *error = "stub: " + *error;
        return false;
    }
    const uint32_t end = image.endOfSectionData();
    if (uint64_t(end) + archive.size() > 0x7FFFFFFFu) {
        *error = "the packed file would exceed 2 GiB";
        return false;
    }
    block.archiveOffset = end;
    *packed = stub;
    memcpy(&(*packed)[CONFIG_FILE_OFFSET], &block, sizeof block);
    packed->insert(packed->end(), archive.begin(), archive.end());
    pe::Put32(*packed, image.checksumOffset(), 0);
    pe::Put32(*packed, image.checksumOffset(), pe::Checksum(*packed, image.checksumOffset()));
    return true;
}

bool ReadPackedBlock(const pe::Bytes& packed, InstallConfig* block, std::string* error) {
    if (packed.size() < CONFIG_FILE_OFFSET + sizeof *block) {
        *error = "too short to hold the block (" + std::to_string(packed.size()) + " bytes)";
        return false;
    }
    memcpy(block, &packed[CONFIG_FILE_OFFSET], sizeof *block);
    if (block->archiveOffset >= packed.size()) {
        *error = "the archive offset " + std::to_string(block->archiveOffset) + " lies behind the end of the file";
        return false;
    }
    return true;
}
