// Everything the decoder keeps for the entry it is working on, in one place:
// one object in static storage (nothing is allocated while decoding), begun
// afresh for every entry by BeginEntry.
#pragma once

#include <stdint.h>

#include "decode/bit_cursor.h"

// Room for the lengths of the length code or the distance code: the largest
// count a 5-bit field can give, plus a zero run.
constexpr uint32_t SMALL_LENGTHS_SIZE = 128;

struct DecoderState {
    // The compressed input: the last refill of the entry's data and how far
    // its bytes have been counted into a cursor.
    uint8_t input[INPUT_BUFFER_SIZE];
    uint32_t inputPosition;        // next byte of `input` not yet counted
    uint32_t inputEnd;             // bytes of `input` filled by the last refill
    uint64_t compressedRemaining;  // bytes of the entry's data not yet read
    // The bit reader between calls; the block decoder's loop works on a
    // copy in locals and stores it back here.
    BitCursor cursor;

    // The codes of the current block. The direct tables give a symbol, or
    // the node where the tree goes on. Once a block's codes are read, the
    // symbol code's table holds each symbol's code length beside it (symbol
    // << 5 | length; a node has length 0), and the distance code's fast
    // table what gives a distance with one shift and one add, so that the
    // hot loop resolves a code with one lookup.
    uint8_t symbolLengths[SYMBOL_COUNT];
    uint16_t symbolTable[1u << SYMBOL_TABLE_BITS];
    // The length code while the symbol code's lengths are read, then the
    // distance code.
    uint8_t smallLengths[SMALL_LENGTHS_SIZE];
    uint16_t smallTable[1u << SMALL_TABLE_BITS];
    uint32_t distanceFast[1u << SMALL_TABLE_BITS];
    uint32_t distanceCodeCount;  // 14, or 17 for -lh6- and -lh7-
    uint32_t distanceCountBits;  // width of the distance code's count fields
    // The tree nodes shared by every table: branchZero[n] is the cell reached
    // from node n on a 0 bit, branchOne[n] on a 1 bit.
    uint16_t branchZero[NODE_CAPACITY];
    uint16_t branchOne[NODE_CAPACITY];

    // The sliding window, in a straight line so that no copy wraps: the
    // 65536 bytes before the chunk being filled, the chunk (written out when
    // full, its last 65536 bytes then moved to the front), and the slack
    // past it. Its start is also the transfer buffer of stored copies.
    uint8_t window[2 * WINDOW_SIZE + WINDOW_SLACK];
    // CRC-16/ARC of every byte written through OutputSink::Write since the
    // entry began.
    uint16_t dataCrc;
};

extern DecoderState g_decoder;
