// A level-2 header built field by field for tests, independent of the
// product code, with every field open to tampering.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "support/reference_crc.h"

namespace lzh {

using support::ReferenceCrc16;

inline void PutU16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void PutU32(std::string& s, uint32_t v) {
    PutU16(s, v & 0xFFFF);
    PutU16(s, v >> 16);
}
inline void PutU64(std::string& s, uint64_t v) {
    PutU32(s, static_cast<uint32_t>(v));
    PutU32(s, static_cast<uint32_t>(v >> 32));
}

struct Extension {
    uint8_t type;
    std::string data;
};

struct Header {
    std::string method = "-lh5-";
    uint32_t compressedSize = 0;
    uint32_t originalSize = 0;
    uint32_t stamp = 0;
    uint8_t attribute = 0x20;
    uint8_t level = 2;
    uint16_t dataCrc = 0;
    char osId = 'M';
    std::vector<Extension> extensions;  // without EXT_COMMON unless `common` is false
    bool common = true;                 // add an EXT_COMMON holding the header CRC
    bool commonFirst = false;           // put it first in the chain rather than last
    int crcDelta = 0;                   // added to the stored header CRC
    std::string commonExtra;            // bytes behind the CRC in EXT_COMMON

    // The whole header, with its total size and header CRC filled in.
    std::string Bytes() const {
        std::vector<Extension> all = extensions;
        Extension crcHolder{0x00, std::string(2, '\0') + commonExtra};
        if (common) all.insert(commonFirst ? all.begin() : all.end(), crcHolder);
        const size_t commonIndex = commonFirst ? 0 : all.size() - 1;
        std::string h;
        PutU16(h, 0);
        h += method.substr(0, 5);
        PutU32(h, compressedSize);
        PutU32(h, originalSize);
        PutU32(h, stamp);
        h += static_cast<char>(attribute);
        h += static_cast<char>(level);
        PutU16(h, dataCrc);
        h += osId;
        size_t crcAt = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            const Extension& e = all[i];
            PutU16(h, static_cast<uint32_t>(e.data.size() + 3));
            if (common && i == commonIndex) crcAt = h.size() + 1;
            h += static_cast<char>(e.type);
            h += e.data;
        }
        PutU16(h, 0);
        h[0] = static_cast<char>(h.size() & 0xFF);
        h[1] = static_cast<char>(h.size() >> 8);
        if (common) {
            uint16_t crc = static_cast<uint16_t>(ReferenceCrc16(h) + crcDelta);
            h[crcAt] = static_cast<char>(crc & 0xFF);
            h[crcAt + 1] = static_cast<char>(crc >> 8);
        }
        return h;
    }
};

inline Extension FileName(const std::string& name) { return Extension{0x01, name}; }
inline Extension DirName(const std::string& name) { return Extension{0x02, name}; }

}  // namespace lzh
