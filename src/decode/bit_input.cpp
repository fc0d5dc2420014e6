// Compressed input and the bit reader.
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/bit_cursor.h"
#include "res/resource.h"
#include "ui/texts.h"

namespace CompressedInput {

uint8_t g_buffer[INPUT_BUFFER_SIZE];
uint32_t g_position;
uint32_t g_end;

void Reset() {
    g_position = 0;
    g_end = 0;
}

void Refill() {
    uint64_t remaining = BitReader::compressedRemaining;
    DWORD size = remaining < INPUT_BUFFER_SIZE ? static_cast<DWORD>(remaining) : INPUT_BUFFER_SIZE;
    DWORD got = 0;
    if (!ReadFile(g_run.archiveFile, g_buffer, size, &got, nullptr) || got != size) {
        ErrorBox(IDS_READ_ERROR, g_run.ownPath);
        AbortExtraction();
    }
    BitReader::compressedRemaining = remaining - size;
    g_position = 0;
    g_end = size;
}

}  // namespace CompressedInput

// ---------------------------------------------------------------------------
// BitCursor

void BitCursor::Load() {
    next = CompressedInput::g_buffer + CompressedInput::g_position;
    end = CompressedInput::g_buffer + CompressedInput::g_end;
}

void BitCursor::Store() const {
    CompressedInput::g_position = static_cast<uint32_t>(next - CompressedInput::g_buffer);
}

void BitCursor::FillSlow(uint32_t need) {
    for (;;) {
        while (count <= 56 && next < end) {
            bits |= static_cast<uint64_t>(*next++) << (56 - count);
            count += 8;
        }
        if (count >= need) return;
        // Every buffered byte is counted and bits are still missing.
        if (BitReader::compressedRemaining == 0) {
            // Past the entry's data the stream reads as zeros; the bits below
            // `count` are already zero, since nothing uncounted is buffered.
            if (count < overreadBits) overran = true;
            uint32_t real = count > overreadBits ? count - overreadBits : 0;
            overreadBits = 64 - real;
            count = 64;
            return;
        }
        CompressedInput::Refill();
        Load();
    }
}

// ---------------------------------------------------------------------------
// The process-wide bit reader, for the block headers and for tests. The block
// decoder's hot loop works on a copy in locals and stores it back here.

namespace BitReader {

uint64_t compressedRemaining;
BitCursor g_cursor;

void Start() {
    g_cursor.bits = 0;
    g_cursor.count = 0;
    g_cursor.overreadBits = 0;
    g_cursor.overran = false;
    g_cursor.Load();
    g_cursor.FillSlow(16);
    g_cursor.Store();
}

uint32_t Peek() { return g_cursor.Peek16(); }

void Skip(uint32_t n) {
    g_cursor.Skip(n);
    g_cursor.Store();
}

uint32_t Take(uint32_t n) {
    uint32_t value = g_cursor.Take(n);
    g_cursor.Store();
    return value;
}

}  // namespace BitReader
