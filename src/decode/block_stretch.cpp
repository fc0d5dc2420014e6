// The stretch: symbols decoded without the tests of the edges. Every bit
// buffer load is a wide one, made without a test of the count: the input
// holds enough for the longest symbol. A file of its own, compiled for
// speed, and a function of its own, so that the bit buffer and the window
// position have the registers to themselves.
#include "decode/block_codes.h"

namespace BlockCodes {

namespace {

// Copies a match to window position `at` (inside the chunk). The source
// never wraps; a source at least 4 bytes back is copied 8 bytes a step in
// two 4-byte pieces, each load seeing bytes already final, and up to 7
// bytes past the match's end are written too: they lie ahead of every
// source, and are written again before anything reads them.
__attribute__((always_inline)) inline void CopyMatch(uint32_t at, uint32_t length, uint32_t distance) {
    uint8_t* to = g_decoder.window + at;
    const uint8_t* from = to - distance - 1;
    uint8_t* const end = to + length;
    if (distance >= 3) {
        do {
            uint32_t piece;
            __builtin_memcpy(&piece, from, 4);
            __builtin_memcpy(to, &piece, 4);
            __builtin_memcpy(&piece, from + 4, 4);
            __builtin_memcpy(to + 4, &piece, 4);
            from += 8;
            to += 8;
        } while (to < end);
    } else {
        do {
            *to++ = *from++;
        } while (to < end);
    }
}

}  // namespace

Stretch DecodeStretch(HotBits& state, uint32_t at, uint32_t stop, uint32_t distanceCount) {
    uint8_t* const window = g_decoder.window;
    BitWord bits = state.bits;
    uint32_t count = state.count;
    const uint8_t* next = state.next;
    const uint8_t* const last = g_decoder.cursor.end - STRETCH_INPUT_BYTES;
    uint32_t symbols = 0;
    while (at < stop && next <= last) {
        ++symbols;
        BitCursor::LoadWord(bits, count, next);
        uint32_t cell = g_decoder.symbolTable[bits >> (WORD_BITS - SYMBOL_TABLE_BITS)];
        if (cell >= static_cast<uint32_t>(SYMBOL_COUNT) << SYMBOL_SHIFT) cell = SymbolFromTree(cell, bits);
        bits <<= cell & LENGTH_MASK;
        count -= cell & LENGTH_MASK;
        if (cell < 256u << SYMBOL_SHIFT) {
            window[at++] = static_cast<uint8_t>(cell >> SYMBOL_SHIFT);
            continue;
        }
        uint32_t length = (cell >> SYMBOL_SHIFT) - lzh_format::MATCH_LENGTH_BIAS;
        if constexpr (WORD_BITS < 64) BitCursor::LoadWord(bits, count, next);
        uint32_t entry = g_decoder.distanceFast[bits >> (WORD_BITS - SMALL_TABLE_BITS)];
        uint32_t total = entry & 0xFF;
        uint32_t distance;
        if (total != 0) {
            distance = static_cast<uint32_t>(bits >> (WORD_BITS - total)) + static_cast<uint32_t>(static_cast<int32_t>(entry) >> 8);
        } else {
            // The tree, or a code of no bits.
            uint32_t code = DistanceCode(bits, distanceCount);
            uint32_t used = g_decoder.smallLengths[code];
            bits <<= used;
            count -= used;
            distance = code;
            if (code > 1) {
                if constexpr (WORD_BITS < 64) BitCursor::LoadWord(bits, count, next);
                distance = DistanceOf(code, bits);
                total = code - 1;
            }
        }
        bits <<= total;
        count -= total;
        CopyMatch(at, length, distance);
        at += length;
    }
    state = HotBits{bits, count, next};
    return Stretch{at, symbols};
}

}  // namespace BlockCodes
