#include "pack/manifest_level.h"

#include <string.h>

#include <algorithm>

namespace {

constexpr uint32_t RT_MANIFEST_TYPE = 24;
constexpr uint32_t MANIFEST_ID = 1;  // the manifest Windows reads at process start

// What precedes the field, and its width: the longest name and its quote.
const char FIELD_START[] = "<requestedExecutionLevel level=\"";
constexpr size_t FIELD_WIDTH = 21;

const char* const LEVEL_NAMES[] = {"asInvoker", "highestAvailable", "requireAdministrator"};

// The target (a subdirectory with the top bit set, else a data entry) of
// the entry with this id in one resource directory; of its first entry when
// `id` is 0 (any language). 0 when absent.
uint32_t FindDirectoryEntry(const pe::Bytes& file, size_t directory, uint32_t id) {
    if (directory + 16 > file.size()) return 0;
    uint32_t count = uint32_t(pe::Get16(file, directory + 12)) + pe::Get16(file, directory + 14);
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = directory + 16 + 8 * size_t(i);
        if (entry + 8 > file.size()) return 0;
        uint32_t name = pe::Get32(file, entry);
        if (id != 0 && name != id) continue;
        return pe::Get32(file, entry + 4);
    }
    return 0;
}

// The manifest's bytes in the file: offset and size; false when absent.
bool FindManifest(const pe::Bytes& file, size_t* offset, size_t* size) {
    pe::Image image;
    std::string error;
    if (!pe::Parse(file, &image, &error)) return false;
    uint32_t rva = image.directoryRva(file, pe::DIR_RESOURCE);
    size_t base = rva == 0 ? 0 : image.rvaToOffset(rva);
    if (base == 0) return false;
    size_t directory = base;
    const uint32_t path[3] = {RT_MANIFEST_TYPE, MANIFEST_ID, 0};
    for (uint32_t id : path) {
        uint32_t target = FindDirectoryEntry(file, directory, id);
        if (target == 0) return false;
        bool isDirectory = (target & 0x80000000u) != 0;
        directory = base + (target & 0x7FFFFFFFu);
        if (id == 0 && isDirectory) return false;  // a language must lead to data
        if (id != 0 && !isDirectory) return false;
    }
    if (directory + 16 > file.size()) return false;
    size_t data = image.rvaToOffset(pe::Get32(file, directory));
    size_t length = pe::Get32(file, directory + 4);
    if (data == 0 || data + length > file.size()) return false;
    *offset = data;
    *size = length;
    return true;
}

}  // namespace

const char* ExecutionLevelName(ExecutionLevel level) { return LEVEL_NAMES[static_cast<int>(level)]; }

bool ParseExecutionLevel(const std::string& name, ExecutionLevel* level) {
    for (int i = 0; i < 3; ++i) {
        if (name == LEVEL_NAMES[i]) {
            *level = static_cast<ExecutionLevel>(i);
            return true;
        }
    }
    return false;
}

bool FindManifestLevel(const pe::Bytes& file, size_t* offset) {
    size_t manifest, size;
    if (!FindManifest(file, &manifest, &size)) return false;
    const size_t startLength = sizeof FIELD_START - 1;
    auto begin = file.begin() + manifest;
    auto end = begin + size;
    auto found = std::search(begin, end, FIELD_START, FIELD_START + startLength);
    if (found == end) return false;
    size_t field = (found - file.begin()) + startLength;
    // The field ends in its quote or blanks, followed by a blank that
    // separates it from the next attribute.
    if (field + FIELD_WIDTH >= manifest + size || file[field + FIELD_WIDTH] != ' ') return false;
    *offset = field;
    return true;
}

bool SetManifestLevel(pe::Bytes* stub, ExecutionLevel level, std::string* error) {
    size_t field;
    if (!FindManifestLevel(*stub, &field)) {
        *error = "it has no manifest with a level field, so --elevation cannot be set";
        return false;
    }
    std::string text = std::string(ExecutionLevelName(level)) + "\"";
    text.resize(FIELD_WIDTH, ' ');
    memcpy(&(*stub)[field], text.data(), FIELD_WIDTH);
    return true;
}

bool ReadManifestLevel(const pe::Bytes& file, std::string* name) {
    size_t field;
    if (!FindManifestLevel(file, &field)) return false;
    std::string text(file.begin() + field, file.begin() + field + FIELD_WIDTH);
    std::string value = text.substr(0, text.find('"'));
    ExecutionLevel level;
    if (!ParseExecutionLevel(value, &level)) return false;
    *name = value;
    return true;
}
