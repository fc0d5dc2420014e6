// Compressed input and the bit reader.
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder_state.h"
#include "res/resource.h"
#include "ui/texts.h"

DecoderState g_decoder;

void BeginEntry(uint64_t compressedSize) {
    g_decoder.inputPosition = 0;
    g_decoder.inputEnd = 0;
    g_decoder.compressedRemaining = compressedSize;
    g_decoder.dataCrc = 0;
}

namespace CompressedInput {

void Refill() {
    uint64_t remaining = g_decoder.compressedRemaining;
    DWORD size = remaining < INPUT_BUFFER_SIZE ? static_cast<DWORD>(remaining) : INPUT_BUFFER_SIZE;
    DWORD got = 0;
    if (!ReadFile(g_run.archiveFile, g_decoder.input, size, &got, nullptr) || got != size) {
        ErrorBox(IDS_READ_ERROR, g_run.ownPath);
        AbortExtraction();
    }
    g_decoder.compressedRemaining = remaining - size;
    g_decoder.inputPosition = 0;
    g_decoder.inputEnd = size;
}

}  // namespace CompressedInput

// ---------------------------------------------------------------------------
// BitCursor

void BitCursor::Load() {
    next = g_decoder.input + g_decoder.inputPosition;
    end = g_decoder.input + g_decoder.inputEnd;
}

void BitCursor::Store() const {
    g_decoder.inputPosition = static_cast<uint32_t>(next - g_decoder.input);
}

void BitCursor::FillSlow(uint32_t need) {
    for (;;) {
        // Up to WORD_BITS - 1: a count below the word's width is what a
        // wide load needs.
        while (count < WORD_BITS - 8 && next < end) {
            bits |= static_cast<BitWord>(*next++) << (WORD_BITS - 8 - count);
            count += 8;
        }
        if (count >= need) return;
        // Every buffered byte is counted and bits are still missing.
        if (g_decoder.compressedRemaining == 0) {
            // Past the entry's data the stream reads as zeros; the bits below
            // `count` are already zero, since nothing uncounted is buffered.
            if (count < overreadBits) overran = true;
            uint32_t real = count > overreadBits ? count - overreadBits : 0;
            overreadBits = WORD_BITS - real;
            count = WORD_BITS;
            return;
        }
        CompressedInput::Refill();
        Load();
    }
}

// ---------------------------------------------------------------------------
// The decoder's own bit reader, for the block headers and for tests. The
// block decoder's hot loop works on a copy in locals and stores it back.

namespace BitReader {

void Start() {
    BitCursor& cursor = g_decoder.cursor;
    cursor.bits = 0;
    cursor.count = 0;
    cursor.overreadBits = 0;
    cursor.overran = false;
    cursor.Load();
    cursor.FillSlow(16);
    cursor.Store();
}

uint32_t Peek() { return g_decoder.cursor.Peek16(); }

void Skip(uint32_t n) {
    g_decoder.cursor.Skip(n);
    g_decoder.cursor.Store();
}

uint32_t Take(uint32_t n) {
    uint32_t value = g_decoder.cursor.Take(n);
    g_decoder.cursor.Store();
    return value;
}

}  // namespace BitReader
