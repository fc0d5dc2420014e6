// CRC-16/ARC bit by bit (reflected polynomial 0xA001, initial value 0): the
// one reference that the tests, the fuzz targets and the test-side archive
// builder compare with or compute by, written without tables so that it
// shares nothing with the engine under test.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace support {

inline uint16_t ReferenceCrc16(const void* data, size_t size, uint16_t crc = 0) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

inline uint16_t ReferenceCrc16(const std::string& bytes, uint16_t crc = 0) {
    return ReferenceCrc16(bytes.data(), bytes.size(), crc);
}

}  // namespace support
