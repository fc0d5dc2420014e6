// The block decoder of -lh4- to -lh7-: static Huffman codes sent anew for
// every block of symbols, over a 65536-byte sliding window.
#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/block_codes.h"
#include "res/resource.h"
#include "ui/texts.h"

using namespace BlockCodes;

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
uint32_t WalkTree(uint32_t node, BitWord bits, BitWord mask, uint32_t symbols) {
    while (node >= symbols) {
        if (mask == 0 || node >= static_cast<uint32_t>(NODE_CAPACITY)) AbortDamagedData();
        node = (bits & mask) != 0 ? g_decoder.branchOne[node] : g_decoder.branchZero[node];
        mask >>= 1;
    }
    return node;
}

}  // namespace

// The tree walks of the two paths.
uint32_t BlockCodes::SymbolFromTree(uint32_t cell, BitWord bits) {
    uint32_t symbol = WalkTree(cell >> SYMBOL_SHIFT, bits, BitWord{1} << (WORD_BITS - 1 - SYMBOL_TABLE_BITS), SYMBOL_COUNT);
    return symbol << SYMBOL_SHIFT | g_decoder.symbolLengths[symbol];
}

uint32_t BlockCodes::DistanceCode(BitWord bits, uint32_t distanceCount) {
    uint32_t code = g_decoder.smallTable[bits >> (WORD_BITS - SMALL_TABLE_BITS)];
    if (code < distanceCount) return code;
    return WalkTree(code, bits, BitWord{1} << (WORD_BITS - 1 - SMALL_TABLE_BITS), distanceCount);
}

namespace {

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
            code = WalkTree(code, in.bits, BitWord{1} << (WORD_BITS - 1 - SMALL_TABLE_BITS), LENGTH_CODE_COUNT);
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


// Packs the symbol code's table in place: each symbol with its code length,
// each node with length 0.
void PackSymbolTable() {
    for (uint16_t& cell : g_decoder.symbolTable) {
        uint32_t symbol = cell;
        cell = static_cast<uint16_t>(symbol << SYMBOL_SHIFT |
                                     (symbol < static_cast<uint32_t>(SYMBOL_COUNT) ? g_decoder.symbolLengths[symbol] : 0));
    }
}

// The distance code's fast table. A cell whose code and extra bits take
// `total` bits (code j above 1 has j - 1 extra bits) holds the number to add
// to those `total` bits, read as one number, to get the distance: the code's
// base (2^(j - 1), or j itself) less the code bits shifted over the extra
// bits. So a distance is one shift and one add. Cells of no bits at all and
// cells that lead into the tree hold their code or node << 8 with a total of
// 0, and take the slow way.
void MakeDistanceTable(uint32_t distanceCount) {
    for (uint32_t i = 0; i < (1u << SMALL_TABLE_BITS); ++i) {
        uint32_t code = g_decoder.smallTable[i];
        uint32_t cell = code << 8;
        if (code < distanceCount) {
            uint32_t length = g_decoder.smallLengths[code];
            uint32_t extra = code > 1 ? code - 1 : 0;
            if (length + extra != 0) {
                uint32_t codeBits = i >> (SMALL_TABLE_BITS - length);
                uint32_t base = code > 1 ? 1u << extra : code;
                cell = (base - (codeBits << extra)) << 8 | (length + extra);
            }
        }
        g_decoder.distanceFast[i] = cell;
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
    PackSymbolTable();
    MakeDistanceTable(g_decoder.distanceCodeCount);
    return symbols == 0 ? 65536 : symbols;
}

void Spill(const HotBits& in) {
    BitCursor& shared = g_decoder.cursor;
    shared.bits = in.bits;
    shared.count = in.count;
    shared.next = in.next;
}

HotBits Reload() {
    const BitCursor& shared = g_decoder.cursor;
    return HotBits{shared.bits, shared.count, shared.next};
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
void Consume(HotBits& in, uint32_t n) {
    in.bits <<= n;
    in.count -= n;
    if (in.count < 16) {
        if (g_decoder.cursor.end - in.next < static_cast<intptr_t>(WORD_BYTES)) {
            in = FillSlowly(in);
        } else {
            BitCursor::LoadWord(in.bits, in.count, in.next);
        }
    }
}

// Reads a block header through the shared cursor and returns its symbol
// count. Output that came from bits beyond the entry's data is never written,
// so an overrun is looked for first.
uint32_t StartBlock(HotBits& in) {
    if (Overran(in)) AbortDamagedData();
    Spill(in);
    uint32_t symbols = ReadBlockHeader(g_decoder.cursor);
    in = Reload();
    return symbols;
}

// Writes the window's chunk and reports `done`. The one rule for `done`: it
// counts every byte of the entry up to the end of the symbol being decoded,
// the whole literal or the whole match, even when part of the match already
// lies past the chunk. Bytes that came from bits beyond the entry's data are
// never written.
void FlushWindow(bool overran, uint32_t bytes, uint64_t done) {
    if (overran) AbortDamagedData();
    g_run.done = done;
    OutputSink::Write(g_decoder.window + WINDOW_SIZE, bytes);
    ReportEntryProgress(done);
}

// The next literal/length symbol with every test: one lookup, or the tree
// beyond it.
uint32_t DecodeSymbol(HotBits& in) {
    uint32_t cell = g_decoder.symbolTable[in.bits >> (WORD_BITS - SYMBOL_TABLE_BITS)];
    if (cell >= static_cast<uint32_t>(SYMBOL_COUNT) << SYMBOL_SHIFT) cell = SymbolFromTree(cell, in.bits);
    Consume(in, cell & LENGTH_MASK);
    return cell >> SYMBOL_SHIFT;
}

// The distance of a match with every test: its code, then for code j above
// 1, j - 1 extra bits (at most 15).
uint32_t DecodeDistance(HotBits& in, uint32_t distanceCount) {
    uint32_t code = DistanceCode(in.bits, distanceCount);
    Consume(in, g_decoder.smallLengths[code]);
    if (code <= 1) return code;
    uint32_t distance = DistanceOf(code, in.bits);
    Consume(in, code - 1);
    return distance;
}

}  // namespace

namespace BlockDecoder {

void DecodeEntry(char method, uint64_t originalSize) {
    uint8_t* const window = g_decoder.window;
    // What a match reaching back before the entry's first byte finds.
    for (uint32_t i = 0; i < WINDOW_SIZE; ++i) window[i] = ' ';

    // Method parameters: -lh6- and -lh7- send 17 distance lengths in 5-bit
    // fields; every other method 14 in 4-bit fields.
    bool wide = method == '6' || method == '7';
    g_decoder.distanceCodeCount = wide ? 17 : 14;
    g_decoder.distanceCountBits = wide ? 5 : 4;
    const uint32_t distanceCount = g_decoder.distanceCodeCount;

    // Stretches of symbols run in DecodeStretch; the others (a block's
    // first, those at the end of the buffered input) one at a time with
    // every test, the slow paths (block headers, a new refill, the end of
    // the data) going through the decoder's own cursor (g_decoder.cursor).
    BitReader::Start();
    HotBits in = Reload();
    const uint32_t chunkEnd = 2 * WINDOW_SIZE;
    uint32_t at = WINDOW_SIZE;         // the next window position to fill
    uint64_t chunkDone = g_run.done;   // `done` at the chunk's start
    uint64_t left = originalSize;      // bytes still to produce
    uint32_t blockLeft = 0;            // symbols of the current block still to decode
    while (left != 0) {
        uint32_t room = chunkEnd - at;
        if (room > blockLeft) room = blockLeft;
        if (room > left) room = static_cast<uint32_t>(left);
        uint32_t made;
        if (room != 0 && g_decoder.cursor.end - in.next >= static_cast<intptr_t>(STRETCH_INPUT_BYTES)) {
            Stretch stretch = DecodeStretch(in, at, at + room, distanceCount);
            // A stretch leaves the look-ahead as its last symbol left it:
            // topped up here as a symbol of the tested path would have done.
            Consume(in, 0);
            blockLeft -= stretch.symbols;
            made = stretch.at - at;
        } else {
            if (blockLeft == 0) blockLeft = StartBlock(in);
            --blockLeft;
            uint32_t symbol = DecodeSymbol(in);
            made = 1;
            if (symbol < 256) {
                window[at] = static_cast<uint8_t>(symbol);
            } else {
                made = symbol - MATCH_LENGTH_BIAS;
                const uint8_t* from = window + at - DecodeDistance(in, distanceCount) - 1;
                for (uint32_t i = 0; i < made; ++i) window[at + i] = from[i];
            }
        }
        at += made;
        left = made >= left ? 0 : left - made;
        if (at >= chunkEnd) {
            // `done` counts the whole symbol that filled the chunk; what it
            // wrote past the chunk moves along with the chunk's last 65536
            // bytes, which are the window from then on.
            FlushWindow(Overran(in), WINDOW_SIZE, chunkDone + (at - WINDOW_SIZE));
            __builtin_memcpy(window, window + WINDOW_SIZE, WINDOW_SIZE);
            __builtin_memcpy(window + WINDOW_SIZE, window + chunkEnd, WINDOW_SLACK);
            at -= WINDOW_SIZE;
            chunkDone += WINDOW_SIZE;
        }
    }

    Spill(in);
    g_decoder.cursor.Store();
    uint64_t done = chunkDone + (at - WINDOW_SIZE);
    if (at != WINDOW_SIZE) {
        FlushWindow(Overran(in), at - WINDOW_SIZE, done);
    } else {
        if (Overran(in)) AbortDamagedData();
        g_run.done = done;
    }
}

}  // namespace BlockDecoder
