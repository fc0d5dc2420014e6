// Code lengths and canonical codes for the static Huffman codes of a block.
#pragma once

#include <stdint.h>

namespace lzh {

// The longest code any of the three codes of a block may use.
constexpr int MAX_CODE_LENGTH = 16;

// Fills lengths[0..count) with Huffman code lengths of at most maxLength
// bits for the given frequencies (0: the symbol does not occur, length 0),
// count at most 512. Returns the number of symbols that occur. With one
// symbol its length is left 0: the caller sends such a code in its
// single-symbol form.
int BuildCodeLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths);

// Canonical codes of a length list, as the decoder assigns them: codes of
// one length are consecutive in symbol order, shorter lengths come first.
void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes);

}  // namespace lzh
