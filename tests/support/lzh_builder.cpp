#include "support/lzh_builder.h"

#include "support/lzh_header.h"
#include "support/reference_crc.h"

namespace support {

namespace {

// The header CRC lies in the EXT_COMMON data, right behind its type byte at 26.
constexpr size_t HEADER_CRC_OFFSET = 27;

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
    lzh::Header header;
    header.method = std::string("-lh") + spec.method + "-";
    header.compressedSize = spec.overrideSizes ? spec.compressedSize : static_cast<uint32_t>(packed.size());
    header.originalSize = spec.overrideSizes ? spec.originalSize : static_cast<uint32_t>(spec.data.size());
    header.stamp = spec.time;
    header.attribute = static_cast<uint8_t>(spec.attributes & 0xFF);
    header.dataCrc = spec.overrideCrc ? spec.dataCrc : ReferenceCrc16(spec.data);
    header.commonFirst = true;  // so that ResealHeader finds the CRC at a fixed place
    if (!file.empty()) header.extensions.push_back(lzh::FileName(file));
    if (!directory.empty()) header.extensions.push_back(lzh::DirName(directory));
    if (!spec.unicodeFile.empty()) header.extensions.push_back(lzh::Extension{0x44, spec.unicodeFile});
    if (spec.largeSize) {
        std::string sizes;
        lzh::PutU64(sizes, spec.largeCompressedSize);
        lzh::PutU64(sizes, spec.largeOriginalSize);
        header.extensions.push_back(lzh::Extension{0x42, sizes});
    }
    std::string bytes = header.Bytes();
    if (bytes.size() % 256 == 0) {
        // Its first byte would read as the end marker: one more skipped extension.
        header.extensions.push_back(lzh::Extension{0x46, ""});
        bytes = header.Bytes();
    }
    return bytes + packed;
}

std::string Utf16Le(const std::u16string& units) {
    std::string bytes;
    for (char16_t unit : units) lzh::PutU16(bytes, unit);
    return bytes;
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
