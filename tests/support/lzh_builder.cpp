#include "support/lzh_builder.h"

#include "support/reference_crc.h"

namespace support {

namespace {

void Put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void Put64(std::string& out, uint64_t value) {
    Put32(out, static_cast<uint32_t>(value));
    Put32(out, static_cast<uint32_t>(value >> 32));
}

// The header CRC lies in the EXT_COMMON data, right behind its type byte at 26.
constexpr size_t HEADER_CRC_OFFSET = 27;

// An extended header: type, data, then the size word of the next one (the
// caller patches it when another follows).
std::string Extended(uint8_t type, const std::string& data) {
    std::string out(1, static_cast<char>(type));
    out += data;
    Put16(out, 0);
    return out;
}

}  // namespace

std::string BuildEntry(const EntryPlan& spec) {
    std::string packed = spec.method == '0' ? spec.data : spec.packed;
    if (spec.method == 'd') packed.clear();
    std::string directory, file = spec.name;
    size_t slash = spec.name.rfind('/');
    if (slash != std::string::npos) {
        directory = spec.name.substr(0, slash + 1);
        file = spec.name.substr(slash + 1);
        for (char& c : directory) {
            if (c == '/') c = '\xff';
        }
    }
    std::vector<std::string> extended;
    extended.push_back(Extended(0x00, std::string(2, '\0')));  // header CRC, patched below
    if (!file.empty()) extended.push_back(Extended(0x01, file));
    if (!directory.empty()) extended.push_back(Extended(0x02, directory));
    if (spec.largeSize) {
        std::string sizes;
        Put64(sizes, spec.largeCompressedSize);
        Put64(sizes, spec.largeOriginalSize);
        extended.push_back(Extended(0x42, sizes));
    }

    std::string header;
    Put16(header, 0);  // total size, patched below
    header += std::string("-lh") + spec.method + "-";
    Put32(header, spec.overrideSizes ? spec.compressedSize : static_cast<uint32_t>(packed.size()));
    Put32(header, spec.overrideSizes ? spec.originalSize : static_cast<uint32_t>(spec.data.size()));
    Put32(header, spec.time);
    header += static_cast<char>(spec.attributes & 0xFF);
    header += '\x02';
    Put16(header, spec.overrideCrc ? spec.dataCrc : ReferenceCrc16(spec.data));
    header += 'M';
    Put16(header, static_cast<uint32_t>(extended[0].size()));
    for (size_t i = 0; i < extended.size(); ++i) {
        std::string& ext = extended[i];
        uint32_t next = i + 1 < extended.size() ? static_cast<uint32_t>(extended[i + 1].size()) : 0;
        ext[ext.size() - 2] = static_cast<char>(next & 0xFF);
        ext[ext.size() - 1] = static_cast<char>(next >> 8);
        header += ext;
    }
    if (header.size() % 256 == 0) {
        // Its first byte would read as the end marker: one more skipped extension.
        std::string pad = Extended(0x46, "");
        header[header.size() - 2] = static_cast<char>(pad.size());
        header += pad;
    }
    header[0] = static_cast<char>(header.size() & 0xFF);
    header[1] = static_cast<char>(header.size() >> 8);
    ResealHeader(&header);
    return header + packed;
}

void ResealHeader(std::string* entry) {
    std::string& bytes = *entry;
    size_t size = static_cast<unsigned char>(bytes[0]) | static_cast<unsigned char>(bytes[1]) << 8;
    bytes[HEADER_CRC_OFFSET] = 0;
    bytes[HEADER_CRC_OFFSET + 1] = 0;
    uint16_t crc = ReferenceCrc16(bytes.substr(0, size));
    bytes[HEADER_CRC_OFFSET] = static_cast<char>(crc & 0xFF);
    bytes[HEADER_CRC_OFFSET + 1] = static_cast<char>(crc >> 8);
}

std::string BuildArchive(const std::vector<EntryPlan>& entries) {
    std::string archive;
    for (const EntryPlan& entry : entries) archive += BuildEntry(entry);
    return archive + std::string(1, '\0');
}

}  // namespace support
