#include "format/crc16.h"

namespace lzh_format {

namespace {

constexpr uint16_t CRC16_POLYNOMIAL = 0xA001;
constexpr int CRC_SLICES = 8;

// entries[0] is the table of the polynomial; entries[k][b] is the CRC of
// byte b followed by k zero bytes, which lets the update fold eight bytes
// with eight independent lookups instead of a chain of eight. Made at run
// time rather than compiled in: the stub carries no 4 KiB of constants.
struct Crc16Tables {
    uint16_t entries[CRC_SLICES][256];

    Crc16Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint16_t v = static_cast<uint16_t>(i);
            for (int bit = 0; bit < 8; ++bit) {
                v = (v & 1) != 0 ? static_cast<uint16_t>((v >> 1) ^ CRC16_POLYNOMIAL) : static_cast<uint16_t>(v >> 1);
            }
            entries[0][i] = v;
        }
        for (int k = 1; k < CRC_SLICES; ++k) {
            for (uint32_t i = 0; i < 256; ++i) {
                uint16_t previous = entries[k - 1][i];
                entries[k][i] = static_cast<uint16_t>(entries[0][previous & 0xFF] ^ (previous >> 8));
            }
        }
    }
};

}  // namespace

uint16_t Crc16(const void* data, size_t size, uint16_t crc) {
    static const Crc16Tables tables;
    const uint16_t(*t)[256] = tables.entries;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    uint32_t value = crc;
    // Eight bytes at a time: the running value folds into the first two, and
    // each byte's share is its CRC shifted through the bytes after it.
    for (; size >= CRC_SLICES; size -= CRC_SLICES, in += CRC_SLICES) {
        uint32_t head = value ^ (in[0] | (static_cast<uint32_t>(in[1]) << 8));
        value = t[7][head & 0xFF] ^ t[6][head >> 8] ^ t[5][in[2]] ^ t[4][in[3]] ^ t[3][in[4]] ^ t[2][in[5]] ^
                t[1][in[6]] ^ t[0][in[7]];
    }
    for (; size > 0; --size, ++in) value = t[0][(value ^ *in) & 0xFF] ^ (value >> 8);
    return static_cast<uint16_t>(value);
}

}  // namespace lzh_format
