#include "files/pe_image.h"

#include <stdio.h>
#include <string.h>

#include "files/host_fs.h"

namespace pe {

uint16_t Get16(const Bytes& file, size_t offset) {
    return static_cast<uint16_t>(file[offset] | (file[offset + 1] << 8));
}

uint32_t Get32(const Bytes& file, size_t offset) {
    return static_cast<uint32_t>(Get16(file, offset)) |
           (static_cast<uint32_t>(Get16(file, offset + 2)) << 16);
}

void Put16(Bytes& file, size_t offset, uint16_t value) {
    file[offset] = static_cast<uint8_t>(value);
    file[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(Bytes& file, size_t offset, uint32_t value) {
    Put16(file, offset, static_cast<uint16_t>(value));
    Put16(file, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint32_t Image::firstSectionData() const {
    uint32_t first = 0;
    for (const Section& s : sections) {
        if (s.rawSize != 0 && (first == 0 || s.rawPointer < first)) first = s.rawPointer;
    }
    return first;
}

uint32_t Image::endOfSectionData() const {
    uint32_t end = 0;
    for (const Section& s : sections) {
        if (s.rawSize != 0 && s.rawPointer + s.rawSize > end) end = s.rawPointer + s.rawSize;
    }
    return end;
}

uint32_t Image::directoryRva(const Bytes& file, int index) const {
    if (static_cast<uint32_t>(index) >= Get32(file, peOffset + OPT_DIRECTORY_COUNT)) return 0;
    return Get32(file, peOffset + OPT_DIRECTORIES + 8 * index);
}

uint32_t Image::directorySize(const Bytes& file, int index) const {
    if (static_cast<uint32_t>(index) >= Get32(file, peOffset + OPT_DIRECTORY_COUNT)) return 0;
    return Get32(file, peOffset + OPT_DIRECTORIES + 8 * index + 4);
}

uint32_t Image::rvaToOffset(uint32_t rva) const {
    for (const Section& s : sections) {
        if (rva >= s.virtualAddress && rva < s.virtualAddress + s.rawSize) {
            return s.rawPointer + (rva - s.virtualAddress);
        }
    }
    return 0;
}

bool Parse(const Bytes& file, Image* image, std::string* error) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
        *error = "no MZ header";
        return false;
    }
    image->peOffset = Get32(file, 0x3C);
    if (image->peOffset > file.size() || file.size() - image->peOffset < 24 ||
        memcmp(&file[image->peOffset], "PE\0\0", 4) != 0) {
        *error = "no PE signature at the offset named at 0x3C";
        return false;
    }
    size_t pe = image->peOffset;
    image->optionalSize = Get16(file, pe + COFF_OPTIONAL_SIZE);
    if (image->optionalSize < 96 + 8 * 16 || file.size() < pe + 24 + image->optionalSize ||
        Get16(file, pe + OPT_MAGIC) != 0x10B) {
        *error = "not a PE32 optional header";
        return false;
    }
    image->sectionAlignment = Get32(file, pe + OPT_SECTION_ALIGNMENT);
    image->fileAlignment = Get32(file, pe + OPT_FILE_ALIGNMENT);
    image->sizeOfHeaders = Get32(file, pe + OPT_SIZE_OF_HEADERS);
    uint32_t count = Get16(file, pe + COFF_SECTION_COUNT);
    size_t table = pe + 24 + image->optionalSize;
    if (file.size() < table + count * SECTION_HEADER_SIZE) {
        *error = "section table runs past the end of the file";
        return false;
    }
    image->sections.clear();
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = table + i * SECTION_HEADER_SIZE;
        Section s;
        s.name.assign(reinterpret_cast<const char*>(&file[at]), strnlen(reinterpret_cast<const char*>(&file[at]), 8));
        s.virtualSize = Get32(file, at + 8);
        s.virtualAddress = Get32(file, at + 12);
        s.rawSize = Get32(file, at + 16);
        s.rawPointer = Get32(file, at + 20);
        s.headerOffset = at;
        if (s.rawSize != 0 && (s.rawPointer > file.size() || file.size() - s.rawPointer < s.rawSize)) {
            *error = "section " + s.name + " runs past the end of the file";
            return false;
        }
        image->sections.push_back(s);
    }
    return true;
}

uint32_t Checksum(const Bytes& file, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2) continue;
        uint32_t word = file[i];
        if (i + 1 < file.size()) word |= static_cast<uint32_t>(file[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

bool ReadFile(const std::string& path, Bytes* bytes, std::string* error) {
    FILE* f = hostfs::OpenFile(path, "rb");
    if (f == nullptr) {
        *error = path + ": " + hostfs::LastError();
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) != 0) bytes->insert(bytes->end(), chunk, chunk + got);
    bool ok = ferror(f) == 0;
    fclose(f);
    if (!ok) *error = path + ": read failed";
    return ok;
}

bool WriteFile(const std::string& path, const Bytes& bytes, std::string* error) {
    FILE* f = hostfs::OpenFile(path, "wb");
    if (f == nullptr) {
        *error = path + ": " + hostfs::LastError();
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        *error = path + ": write failed: " + hostfs::LastError();
        hostfs::RemoveFile(path);  // no partial file is left behind
    }
    return ok;
}

}  // namespace pe
