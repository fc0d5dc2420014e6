// Lookup tables of canonical Huffman codes: a direct table indexed by the
// first tableBits bits, and a binary tree for the codes that are longer.
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder_state.h"
#include "res/resource.h"
#include "ui/texts.h"


namespace {

constexpr uint32_t MAX_CODE_LENGTH = 16;
// The Kraft sum of a complete code, with each code of length L weighing
// 2^(16 - L).
constexpr uint32_t COMPLETE_SUM = 1u << MAX_CODE_LENGTH;

}  // namespace

void AbortDamagedData() {
    ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
    AbortExtraction();
}

void BuildDecodeTable(int16_t symbolCount, const uint8_t* lengths, int tableBits, uint16_t* table) {
    uint32_t symbols = symbolCount > 0 ? static_cast<uint32_t>(symbolCount) : 0;
    uint32_t lengthCount[MAX_CODE_LENGTH + 1] = {};
    for (uint32_t s = 0; s < symbols; ++s) {
        // A length above 16 has no class: the set cannot be a code we decode.
        if (lengths[s] > MAX_CODE_LENGTH) AbortDamagedData();
        ++lengthCount[lengths[s]];
    }

    // codeStart[L]: the first code of length L, left-aligned in 16 bits.
    uint32_t codeStart[MAX_CODE_LENGTH + 2];
    uint32_t codeWeight[MAX_CODE_LENGTH + 1];
    codeStart[1] = 0;
    for (uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        codeWeight[length] = 1u << (MAX_CODE_LENGTH - length);
        codeStart[length + 1] = codeStart[length] + lengthCount[length] * codeWeight[length];
    }
    // Only a complete code is accepted: the sum is taken whole, so an empty
    // set (sum 0) and an over-full set (a multiple of 65536 above it) are
    // refused as well as an incomplete one. With that, every cell written
    // below lies inside the table and at most symbols - 1 nodes are made.
    if (codeStart[MAX_CODE_LENGTH + 1] != COMPLETE_SUM) AbortDamagedData();

    uint32_t shift = MAX_CODE_LENGTH - static_cast<uint32_t>(tableBits);
    uint32_t tableSize = 1u << tableBits;
    for (int length = 1; length <= tableBits; ++length) {
        codeStart[length] >>= shift;
        codeWeight[length] >>= shift;
    }
    // Cells from which longer codes continue into the tree start empty.
    for (uint32_t i = codeStart[tableBits + 1] >> shift; i < tableSize; ++i) table[i] = 0;

    uint32_t nextNode = symbols;
    for (uint32_t s = 0; s < symbols; ++s) {
        uint32_t length = lengths[s];
        if (length == 0) continue;
        uint32_t code = codeStart[length];
        uint32_t next = code + codeWeight[length];
        if (length <= static_cast<uint32_t>(tableBits)) {
            for (uint32_t i = code; i < next; ++i) table[i] = static_cast<uint16_t>(s);
        } else {
            uint16_t* cell = &table[code >> shift];
            uint32_t bits = code << tableBits;  // bit 15: the first bit after the table index
            for (uint32_t step = length - tableBits; step != 0; --step) {
                if (*cell == 0) {
                    // A complete code never needs more; kept as a guard of the arrays.
                    if (nextNode >= static_cast<uint32_t>(NODE_CAPACITY)) AbortDamagedData();
                    g_decoder.branchZero[nextNode] = 0;
                    g_decoder.branchOne[nextNode] = 0;
                    *cell = static_cast<uint16_t>(nextNode++);
                }
                cell = (bits & 0x8000) != 0 ? &g_decoder.branchOne[*cell] : &g_decoder.branchZero[*cell];
                bits <<= 1;
            }
            *cell = static_cast<uint16_t>(s);
        }
        codeStart[length] = next;
    }
}
