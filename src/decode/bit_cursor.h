// The bit stream of one entry, as the block decoder walks it.
//
// The stream is the entry's compressed bytes in file order, each read from its
// most significant bit down, followed by an endless run of zero bits. The
// cursor keeps up to one machine word of it in `bits` (32 bits on i686, where
// a wider buffer would live in register pairs, 64 on x86-64), left-aligned:
// the top bit is the next unconsumed bit, `count` says how many are valid,
// and the bits below them are either zero or the real next bits of the
// buffered input (a wide load may bring in part of a byte before it is
// counted; the byte is counted later at the very same place, so the extra
// bits are always the true ones).
//
// Reads of the archive happen at exactly the moments where a 16-bit
// look-ahead that is topped up after every consume would need them: a new
// 16384-byte refill is read only once every buffered byte is counted and
// fewer than 16 bits are left. So the file is read in the same pieces, at the
// same points between writes, whatever width the cursor works with.
#pragma once

#include <stdint.h>

#include "decode/decoder.h"

namespace CompressedInput {
// Reads the next refill of the entry's data into the buffer: min(remaining,
// 16384) bytes with one ReadFile. A failed or short read shows the read
// error (subject: our own path) and raises AbortExtraction.
void Refill();
}  // namespace CompressedInput

// The word the cursor works in: the machine's register width. The host's
// tests build the decoder once more with VALKRIN_DECODE_WORD32, so that the
// stub's 32-bit path runs there too.
#ifdef VALKRIN_DECODE_WORD32
using BitWord = uint32_t;
#else
using BitWord = uintptr_t;
#endif
constexpr uint32_t WORD_BITS = sizeof(BitWord) * 8;
constexpr uint32_t WORD_BYTES = sizeof(BitWord);

struct BitCursor {
    BitWord bits;
    uint32_t count;
    const uint8_t* next;  // next byte of the input buffer not yet counted
    const uint8_t* end;   // end of the input buffer's valid bytes
    uint32_t overreadBits;  // zero bits past the entry's data at the tail of `count`
    bool overran;           // bits past the entry's data have been consumed

    // True once the decoder has consumed bits that lie beyond the entry's
    // compressed data (with `currentCount` the count it holds now). A valid
    // stream never does: such an entry is damaged, and this is found before
    // its output is written rather than at the CRC after up to its whole
    // declared size.
    bool Overran(uint32_t currentCount) const { return overran || currentCount < overreadBits; }

    void Load();
    void Store() const;

    // The next 16 bits.
    uint32_t Peek16() const { return static_cast<uint32_t>(bits >> (WORD_BITS - 16)); }

    // Consumes n bits, n at most 16 and at most count (count is at least 16
    // between operations), then tops the look-ahead up again.
    void Consume(uint32_t n) {
        bits <<= n;
        count -= n;
        if (count < 16) Fill();
    }

    // Consumes n bits (0 to 17).
    void Skip(uint32_t n) {
        if (n > count) FillSlow(n);
        Consume(n);
    }

    // The next n bits (0 to 16) as a number, consumed.
    uint32_t Take(uint32_t n) {
        uint32_t value = n == 0 ? 0 : static_cast<uint32_t>(bits >> (WORD_BITS - n));
        Skip(n);
        return value;
    }

    // Brings count to 16 or more from the buffered input, or from the archive
    // when the buffer is used up.
    void Fill() {
        if (end - next < static_cast<intptr_t>(WORD_BYTES)) {
            FillSlow(16);
        } else {
            LoadWord(bits, count, next);
        }
    }

    // One wide load, which needs a whole word of buffered input: counts whole
    // bytes up to a count of WORD_BITS - 8 or more, the part of a byte that
    // does not fit stays uncounted. Any count below WORD_BITS is fine, so it
    // may run without a test of the count. Written on plain values so that
    // the block decoder's loop keeps them in registers.
    __attribute__((always_inline)) static void LoadWord(BitWord& bits, uint32_t& count, const uint8_t*& next) {
        BitWord word;
        __builtin_memcpy(&word, next, sizeof word);
        if constexpr (WORD_BITS == 64) {
            word = __builtin_bswap64(word);
        } else {
            word = __builtin_bswap32(word);
        }
        bits |= word >> count;
        next += (WORD_BITS - 1 - count) >> 3;
        count |= WORD_BITS - 8;
    }

    // Brings count to at least `need` (at most 17): byte by byte from the
    // buffer, then from a new refill, or as zero bits past the entry's data.
    void FillSlow(uint32_t need);
};
