// What the block decoder's two paths share: the packed cells of the symbol
// code's table, the hot copy of the bit buffer, and the stretch of symbols
// decoded without the tests of the edges, which has a file of its own
// (block_stretch.cpp) so that it can be compiled for speed.
#pragma once

#include <stdint.h>

#include "decode/decoder_state.h"

namespace BlockCodes {

// A symbol code table cell once packed: symbol << 5 | code length.
constexpr uint32_t SYMBOL_SHIFT = 5;
constexpr uint32_t LENGTH_MASK = (1u << SYMBOL_SHIFT) - 1;
static_assert(16 <= LENGTH_MASK && (NODE_CAPACITY << SYMBOL_SHIFT) <= 0xFFFF, "a packed cell fits 16 bits");

// The hot loop's copy of the shared cursor's bit buffer, kept in locals (in
// registers). The end of the buffered input and the count of bits past the
// entry's data stay in the shared cursor, which alone changes them.
struct HotBits {
    BitWord bits;
    uint32_t count;
    const uint8_t* next;
};

// The packed cell of the literal/length symbol of a look-ahead whose table
// cell is a node of the tree.
uint32_t SymbolFromTree(uint32_t cell, BitWord bits);

// The distance code of a look-ahead: from the direct table, or the tree
// beyond it.
uint32_t DistanceCode(BitWord bits, uint32_t distanceCount);

// The distance of distance code `code` above 1: 2^(code - 1) plus the
// code - 1 (at most 15) bits at the top of `bits`.
inline uint32_t DistanceOf(uint32_t code, BitWord bits) {
    return (1u << (code - 1)) + static_cast<uint32_t>(bits >> (WORD_BITS + 1 - code));
}

// Where a stretch of symbols ended: the window position reached and the
// symbols decoded.
struct Stretch {
    uint32_t at;
    uint32_t symbols;
};

// Wide loads one symbol of a stretch makes at most: a 64-bit word holds a
// whole match's bits (16 + 16 + 15) after one; on 32 bits one more before a
// distance, and one more before the extra bits of a distance code that goes
// on into its tree.
constexpr uint32_t STRETCH_LOADS = WORD_BITS >= 64 ? 1 : 3;
// The buffered input a stretch's symbol may read: each load moves at most
// WORD_BYTES - 1 bytes on, and reads a word.
constexpr uint32_t STRETCH_INPUT_BYTES = STRETCH_LOADS * (WORD_BYTES - 1) + WORD_BYTES;

// Decodes symbols from window position `at` while they start below `stop`
// and the buffered input holds a symbol's longest bits (at least
// STRETCH_INPUT_BYTES when it begins), with none of the tests of the edges:
// the caller's `stop` keeps every symbol inside the block, the entry and the
// chunk (each symbol gives at least one byte; a match may end past the
// chunk). Leaves the look-ahead as its last symbol left it, which may be
// fewer than 16 bits.
Stretch DecodeStretch(HotBits& state, uint32_t at, uint32_t stop, uint32_t distanceCount);

}  // namespace BlockCodes
