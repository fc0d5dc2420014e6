// The block decoder of -lh4- to -lh7-: static Huffman codes sent anew for
// every block of symbols, over a 65536-byte sliding window.
#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder_state.h"
#include "res/resource.h"
#include "ui/texts.h"

namespace {

// Widths of the count fields and single-symbol fields.
constexpr uint32_t SYMBOL_COUNT_BITS = 9;
constexpr uint32_t LENGTH_CODE_COUNT_BITS = 5;
// The length code sends a 2-bit zero count right after its third length.
constexpr uint32_t LENGTH_CODE_ZERO_RUN_AFTER = 3;
using lzh_format::MATCH_LENGTH_BIAS;

static_assert(SYMBOL_COUNT - 1 - MATCH_LENGTH_BIAS == 256, "the longest match is 256 bytes");
static_assert((1u << LENGTH_CODE_COUNT_BITS) - 1 + LENGTH_CODE_ZERO_RUN_AFTER < SMALL_LENGTHS_SIZE,
              "the longest length list fits");
// Node numbers of a build start at its symbol count: the small codes' nodes
// (19 symbols at most) end below the first node of the symbol code.
static_assert(2 * LENGTH_CODE_COUNT - 2 < SYMBOL_COUNT, "small trees never reach the symbol code's nodes");
static_assert(sizeof g_decoder.symbolTable == 4096 * sizeof(uint16_t), "the symbol code's table has 12 index bits");
static_assert(sizeof g_decoder.smallTable == 256 * sizeof(uint16_t), "the small codes' table has 8 index bits");

// Follows the tree from `node` over the look-ahead bits, starting at the bit
// `mask` selects in `bits`. Codes are at most 16 bits, so a complete code
// always reaches a symbol within the look-ahead; `symbols` ends the walk.
uint32_t WalkTree(uint32_t node, uint64_t bits, uint64_t mask, uint32_t symbols) {
    while (node >= symbols) {
        if (mask == 0 || node >= static_cast<uint32_t>(NODE_CAPACITY)) AbortDamagedData();
        node = (bits & mask) != 0 ? g_decoder.branchOne[node] : g_decoder.branchZero[node];
        mask >>= 1;
    }
    return node;
}

// Reads the lengths of the length code or of the distance code into
// g_decoder.smallLengths and builds g_decoder.smallTable.
void ReadSmallCode(BitCursor& in, uint32_t count, uint32_t countBits, uint32_t zeroRunAfter) {
    uint32_t n = in.Take(countBits);
    if (n == 0) {
        // A single symbol, decoded from no bits at all. One that is not a
        // symbol of the code would lead the lookups into nodes no build has
        // made, so it marks the data as damaged.
        uint32_t only = in.Take(countBits);
        if (only >= count) AbortDamagedData();
        for (uint32_t i = 0; i < count; ++i) g_decoder.smallLengths[i] = 0;
        for (uint32_t i = 0; i < (1u << SMALL_TABLE_BITS); ++i) g_decoder.smallTable[i] = static_cast<uint16_t>(only);
        return;
    }
    uint32_t i = 0;
    while (i < n) {
        // Lengths below 7 take three bits; 7 + k is 111, k one bits and a zero.
        uint32_t ahead = in.Peek16();
        uint32_t length = ahead >> 13;
        if (length == 7) {
            for (uint32_t mask = 1u << 12; mask != 0 && (ahead & mask) != 0; mask >>= 1) ++length;
        }
        in.Skip(length < 7 ? 3 : length - 3);
        g_decoder.smallLengths[i++] = static_cast<uint8_t>(length);
        if (i == zeroRunAfter) {
            for (uint32_t zeros = in.Take(2); zeros != 0; --zeros) g_decoder.smallLengths[i++] = 0;
        }
    }
    for (; i < count; ++i) g_decoder.smallLengths[i] = 0;
    BuildDecodeTable(static_cast<int16_t>(count), g_decoder.smallLengths, SMALL_TABLE_BITS, g_decoder.smallTable);
}

// Reads the 510 symbol code lengths, sent in the length code, and builds
// g_decoder.symbolTable.
void ReadSymbolCode(BitCursor& in) {
    uint32_t n = in.Take(SYMBOL_COUNT_BITS);
    if (n == 0) {
        uint32_t only = in.Take(SYMBOL_COUNT_BITS);
        if (only >= static_cast<uint32_t>(SYMBOL_COUNT)) AbortDamagedData();
        for (int i = 0; i < SYMBOL_COUNT; ++i) g_decoder.symbolLengths[i] = 0;
        for (uint32_t i = 0; i < (1u << SYMBOL_TABLE_BITS); ++i) g_decoder.symbolTable[i] = static_cast<uint16_t>(only);
        return;
    }
    // More lengths than symbols cannot be stored: damaged.
    if (n > static_cast<uint32_t>(SYMBOL_COUNT)) AbortDamagedData();
    uint32_t i = 0;
    while (i < n) {
        uint32_t code = g_decoder.smallTable[in.Peek16() >> (16 - SMALL_TABLE_BITS)];
        if (code >= static_cast<uint32_t>(LENGTH_CODE_COUNT)) {
            code = WalkTree(code, in.bits, 1ull << (63 - SMALL_TABLE_BITS), LENGTH_CODE_COUNT);
        }
        in.Skip(g_decoder.smallLengths[code]);
        uint32_t zeros = 0;
        if (code == 0) {
            zeros = 1;
        } else if (code == 1) {
            zeros = in.Take(4) + 3;
        } else if (code == 2) {
            zeros = in.Take(SYMBOL_COUNT_BITS) + 20;
        } else {
            g_decoder.symbolLengths[i++] = static_cast<uint8_t>(code - 2);
            continue;
        }
        // A zero run that goes past the last symbol cannot be stored: damaged.
        if (zeros > static_cast<uint32_t>(SYMBOL_COUNT) - i) AbortDamagedData();
        for (; zeros != 0; --zeros) g_decoder.symbolLengths[i++] = 0;
    }
    for (; i < static_cast<uint32_t>(SYMBOL_COUNT); ++i) g_decoder.symbolLengths[i] = 0;
    BuildDecodeTable(SYMBOL_COUNT, g_decoder.symbolLengths, SYMBOL_TABLE_BITS, g_decoder.symbolTable);
}

void MakeFastTable(const uint16_t* table, const uint8_t* lengths, uint32_t symbols, uint32_t cells, uint32_t* fast) {
    for (uint32_t i = 0; i < cells; ++i) {
        uint32_t cell = table[i];
        fast[i] = cell < symbols ? (static_cast<uint32_t>(lengths[cell]) << 16) | cell : cell;
    }
}

// A block header: the symbol count (0 stands for 65536), then the length
// code, the symbol code and the distance code, in this order, because the
// distance code takes the length code's place.
uint32_t ReadBlockHeader(BitCursor& in) {
    uint32_t symbols = in.Take(16);
    ReadSmallCode(in, LENGTH_CODE_COUNT, LENGTH_CODE_COUNT_BITS, LENGTH_CODE_ZERO_RUN_AFTER);
    ReadSymbolCode(in);
    ReadSmallCode(in, g_decoder.distanceCodeCount, g_decoder.distanceCountBits, 0);
    MakeFastTable(g_decoder.symbolTable, g_decoder.symbolLengths, SYMBOL_COUNT, 1u << SYMBOL_TABLE_BITS, g_decoder.symbolFast);
    MakeFastTable(g_decoder.smallTable, g_decoder.smallLengths, g_decoder.distanceCodeCount, 1u << SMALL_TABLE_BITS, g_decoder.distanceFast);
    return symbols;
}

// The hot loop's copy of the shared cursor's bit buffer: kept in locals (in
// registers), while the count of bits past the entry's data stays in the
// shared cursor, which alone changes it.
struct HotBits {
    uint64_t bits;
    uint32_t count;
    const uint8_t* next;
    const uint8_t* end;
};

void Spill(const HotBits& in) {
    BitCursor& shared = g_decoder.cursor;
    shared.bits = in.bits;
    shared.count = in.count;
    shared.next = in.next;
    shared.end = in.end;
}

HotBits Reload() {
    const BitCursor& shared = g_decoder.cursor;
    return HotBits{shared.bits, shared.count, shared.next, shared.end};
}

// True once bits past the entry's data have been consumed.
bool Overran(const HotBits& in) { return g_decoder.cursor.Overran(in.count); }

// The slow refill: through the shared cursor's byte-wise fill and back, by
// value, so that the copy's fields stay in registers.
__attribute__((noinline)) HotBits FillSlowly(HotBits in) {
    Spill(in);
    g_decoder.cursor.FillSlow(16);
    return Reload();
}

// Consumes n bits (at most 16, count being 16 or more) and tops the
// look-ahead up again, exactly as BitCursor::Consume does.
__attribute__((always_inline)) inline void Consume(HotBits& in, uint32_t n) {
    in.bits <<= n;
    in.count -= n;
    if (in.count < 16 && !BitCursor::LoadWide(in.bits, in.count, in.next, in.end)) in = FillSlowly(in);
}

// Reads a block header through the shared cursor. Output that came from bits
// beyond the entry's data is never written, so an overrun is looked for
// first.
uint32_t StartBlock(HotBits& in) {
    if (Overran(in)) AbortDamagedData();
    Spill(in);
    uint32_t symbols = ReadBlockHeader(g_decoder.cursor);
    in = Reload();
    return symbols;
}

// Writes the first `bytes` of the window and reports `done`. The one rule
// for `done`: it counts every byte of the entry up to the end of the symbol
// being decoded, the whole literal or the whole match, even when part of
// the match is still to be copied into the window. Bytes that came from bits
// beyond the entry's data are never written.
void FlushWindow(bool overran, uint32_t bytes, uint64_t done) {
    if (overran) AbortDamagedData();
    g_run.done = done;
    OutputSink::Write(g_decoder.window, bytes);
    g_progressReport(done, g_run.total);
}

// The next literal/length symbol: one lookup, or the tree beyond it.
__attribute__((always_inline)) inline uint32_t DecodeSymbol(HotBits& in) {
    uint32_t entry = g_decoder.symbolFast[in.bits >> (64 - SYMBOL_TABLE_BITS)];
    uint32_t symbol = entry & 0xFFFF;
    if (symbol < static_cast<uint32_t>(SYMBOL_COUNT)) {
        Consume(in, entry >> 16);
    } else {
        symbol = WalkTree(symbol, in.bits, 1ull << (63 - SYMBOL_TABLE_BITS), SYMBOL_COUNT);
        Consume(in, g_decoder.symbolLengths[symbol]);
    }
    return symbol;
}

// The distance of a match: its code, then for code j above 1, j - 1 extra
// bits (at most 15).
__attribute__((always_inline)) inline uint32_t DecodeDistance(HotBits& in, uint32_t distanceCount) {
    uint32_t entry = g_decoder.distanceFast[in.bits >> (64 - SMALL_TABLE_BITS)];
    uint32_t code = entry & 0xFFFF;
    if (code < distanceCount) {
        Consume(in, entry >> 16);
    } else {
        code = WalkTree(code, in.bits, 1ull << (63 - SMALL_TABLE_BITS), distanceCount);
        Consume(in, g_decoder.smallLengths[code]);
    }
    if (code <= 1) return code;
    uint32_t distance = (1u << (code - 1)) + static_cast<uint32_t>(in.bits >> (65 - code));
    Consume(in, code - 1);
    return distance;
}

// Copies a match whose source lies before its target, neither wrapping around
// the window nor filling it.
inline void CopyMatch(uint8_t* to, const uint8_t* from, uint32_t length, uint32_t distance) {
    if (distance >= 7 && length >= 8) {
        // Source and target are at least 8 bytes apart, so every 8-byte load
        // sees bytes that are already final. The last piece overlaps the one
        // before it instead of running past the match.
        uint32_t i = 0;
        for (; i + 8 <= length; i += 8) {
            uint64_t piece;
            __builtin_memcpy(&piece, from + i, 8);
            __builtin_memcpy(to + i, &piece, 8);
        }
        if (i != length) {
            uint64_t piece;
            __builtin_memcpy(&piece, from + length - 8, 8);
            __builtin_memcpy(to + length - 8, &piece, 8);
        }
    } else {
        for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
    }
}

// Where the window stands: the next position to fill, and the bytes of the
// pass produced so far.
struct WindowPosition {
    uint32_t at;
    uint64_t done;
};

// Copies a match into the window. `done` already counts the whole match.
__attribute__((always_inline)) inline void PutMatch(const HotBits& in, WindowPosition& out, uint32_t length,
                                                    uint32_t distance) {
    uint8_t* const window = g_decoder.window;
    if (out.at > distance && out.at + length < WINDOW_SIZE) {
        CopyMatch(window + out.at, window + out.at - distance - 1, length, distance);
        out.at += length;
        return;
    }
    uint32_t from = (out.at - distance - 1) & (WINDOW_SIZE - 1);
    // The match wraps around the window or fills it: byte by byte, with the
    // write in the middle. The window keeps its contents across the write,
    // so the copy goes on undisturbed.
    for (uint32_t i = 0; i < length; ++i) {
        window[out.at++] = window[from];
        from = (from + 1) & (WINDOW_SIZE - 1);
        if (out.at == WINDOW_SIZE) {
            FlushWindow(Overran(in), WINDOW_SIZE, out.done);
            out.at = 0;
        }
    }
}

}  // namespace

namespace BlockDecoder {

void DecodeEntry(char method, uint64_t originalSize) {
    uint8_t* const window = g_decoder.window;
    for (uint32_t i = 0; i < WINDOW_SIZE; ++i) window[i] = ' ';

    // Method parameters: -lh6- and -lh7- send 17 distance lengths in 5-bit
    // fields; every other method 14 in 4-bit fields.
    bool wide = method == '6' || method == '7';
    g_decoder.distanceCodeCount = wide ? 17 : 14;
    g_decoder.distanceCountBits = wide ? 5 : 4;
    const uint32_t distanceCount = g_decoder.distanceCodeCount;

    // The hot loop keeps the cursor in locals; the slow paths (block headers,
    // a new refill, the end of the data) go through the decoder's own (g_decoder.cursor).
    BitReader::Start();
    HotBits in = Reload();
    WindowPosition out{0, g_run.done};
    uint32_t blockSymbolsLeft = 0;
    uint64_t produced = 0;
    while (produced < originalSize) {
        if (blockSymbolsLeft == 0) blockSymbolsLeft = StartBlock(in);
        blockSymbolsLeft = (blockSymbolsLeft - 1) & 0xFFFF;
        uint32_t symbol = DecodeSymbol(in);
        if (symbol < 256) {
            window[out.at++] = static_cast<uint8_t>(symbol);
            ++produced;
            ++out.done;
            if (out.at == WINDOW_SIZE) {
                FlushWindow(Overran(in), WINDOW_SIZE, out.done);
                out.at = 0;
            }
            continue;
        }
        uint32_t length = symbol - MATCH_LENGTH_BIAS;
        uint32_t distance = DecodeDistance(in, distanceCount);
        produced += length;
        out.done += length;
        PutMatch(in, out, length, distance);
    }

    Spill(in);
    g_decoder.cursor.Store();
    if (out.at != 0) {
        FlushWindow(Overran(in), out.at, out.done);
    } else {
        if (Overran(in)) AbortDamagedData();
        g_run.done = out.done;
    }
}

}  // namespace BlockDecoder
