#include "pe_reader.h"

#include <ctype.h>

namespace e2e {

std::map<std::string, std::vector<std::string>> ReadImports(const pe::Bytes& file, const pe::Image& image) {
    std::map<std::string, std::vector<std::string>> imports;
    uint32_t at = image.rvaToOffset(image.directoryRva(file, pe::DIR_IMPORT));
    if (at == 0) return imports;
    auto text = [&](uint32_t rva) {
        uint32_t offset = image.rvaToOffset(rva);
        std::string s;
        while (offset != 0 && offset < file.size() && file[offset] != 0) s += static_cast<char>(file[offset++]);
        return s;
    };
    for (;; at += 20) {
        uint32_t lookup = pe::Get32(file, at);
        uint32_t nameRva = pe::Get32(file, at + 12);
        uint32_t thunks = pe::Get32(file, at + 16);
        if (nameRva == 0) break;
        std::string dll = text(nameRva);
        for (char& c : dll) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        std::vector<std::string>& functions = imports[dll];
        uint32_t entry = image.rvaToOffset(lookup != 0 ? lookup : thunks);
        for (; entry != 0 && pe::Get32(file, entry) != 0; entry += 4) {
            uint32_t value = pe::Get32(file, entry);
            if (value & 0x80000000u) {
                functions.push_back("#" + std::to_string(value & 0xFFFF));
            } else {
                functions.push_back(text(value + 2));  // behind the hint
            }
        }
    }
    return imports;
}

namespace {

// The entry of directory `dir` (offset from the resource section start) for
// `id`; the offset field, or 0 when absent.
uint32_t Entry(const pe::Bytes& file, uint32_t base, uint32_t dir, uint32_t id) {
    uint32_t named = pe::Get16(file, base + dir + 12);
    uint32_t ids = pe::Get16(file, base + dir + 14);
    for (uint32_t i = named; i < named + ids; ++i) {
        uint32_t entry = base + dir + 16 + i * 8;
        if (pe::Get32(file, entry) == id) return pe::Get32(file, entry + 4);
    }
    return 0;
}

}  // namespace

std::vector<uint32_t> ResourceLanguages(const pe::Bytes& file, const pe::Image& image, uint32_t type,
                                        uint32_t id) {
    std::vector<uint32_t> languages;
    uint32_t base = image.rvaToOffset(image.directoryRva(file, pe::DIR_RESOURCE));
    if (base == 0) return languages;
    uint32_t types = Entry(file, base, 0, type);
    if ((types & 0x80000000u) == 0) return languages;
    uint32_t names = Entry(file, base, types & 0x7FFFFFFF, id);
    if ((names & 0x80000000u) == 0) return languages;
    uint32_t dir = names & 0x7FFFFFFF;
    uint32_t count = pe::Get16(file, base + dir + 12) + pe::Get16(file, base + dir + 14);
    for (uint32_t i = 0; i < count; ++i) languages.push_back(pe::Get32(file, base + dir + 16 + i * 8));
    return languages;
}

pe::Bytes FindResource(const pe::Bytes& file, const pe::Image& image, uint32_t type, uint32_t id,
                       uint32_t language) {
    uint32_t base = image.rvaToOffset(image.directoryRva(file, pe::DIR_RESOURCE));
    if (base == 0) return {};
    uint32_t types = Entry(file, base, 0, type);
    if ((types & 0x80000000u) == 0) return {};
    uint32_t names = Entry(file, base, types & 0x7FFFFFFF, id);
    if ((names & 0x80000000u) == 0) return {};
    uint32_t leaf = Entry(file, base, names & 0x7FFFFFFF, language);
    if (leaf == 0 || (leaf & 0x80000000u) != 0) return {};
    uint32_t data = image.rvaToOffset(pe::Get32(file, base + leaf));
    uint32_t size = pe::Get32(file, base + leaf + 4);
    if (data == 0 || data + size > file.size()) return {};
    return pe::Bytes(file.begin() + data, file.begin() + data + size);
}

}  // namespace e2e
