// CRC-16/ARC (reflected polynomial 0xA001, initial value 0): the data check
// of every entry and the header check held in EXT_COMMON.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace lzh_format {

// The CRC of `size` bytes at `data` continued from `crc` (0 to start). The
// lookup tables are made on the first call, once per process.
uint16_t Crc16(const void* data, size_t size, uint16_t crc = 0);

}  // namespace lzh_format
