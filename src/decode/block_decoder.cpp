// The block decoder of -lh4- to -lh7-: static Huffman codes sent anew for
// every block of symbols, over a 65536-byte sliding window.
#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/bit_cursor.h"
#include "res/resource.h"
#include "ui/texts.h"

namespace {

// Widths of the count fields and single-symbol fields.
constexpr uint32_t SYMBOL_COUNT_BITS = 9;
constexpr uint32_t LENGTH_CODE_COUNT_BITS = 5;
// The length code sends a 2-bit zero count right after its third length.
constexpr uint32_t LENGTH_CODE_ZERO_RUN_AFTER = 3;
// Room for the largest count a 5-bit field can give, plus a zero run.
constexpr uint32_t SMALL_LENGTHS_SIZE = 128;
using lzh_format::MATCH_LENGTH_BIAS;

uint8_t g_symbolLengths[SYMBOL_COUNT];
uint16_t g_symbolTable[1u << SYMBOL_TABLE_BITS];
// The length code while the symbol code's lengths are read, then the
// distance code.
uint8_t g_smallLengths[SMALL_LENGTHS_SIZE];
uint16_t g_smallTable[1u << SMALL_TABLE_BITS];

// The direct tables again with each symbol's code length beside it (length
// << 16 | symbol), so that the hot loop resolves a code with one lookup.
// Cells that continue into the tree hold the node number alone.
uint32_t g_symbolFast[1u << SYMBOL_TABLE_BITS];
uint32_t g_distanceFast[1u << SMALL_TABLE_BITS];

uint32_t g_distanceCodeCount;
uint32_t g_distanceCountBits;

static_assert(SYMBOL_COUNT - 1 - MATCH_LENGTH_BIAS == 256, "the longest match is 256 bytes");
static_assert((1u << LENGTH_CODE_COUNT_BITS) - 1 + LENGTH_CODE_ZERO_RUN_AFTER < SMALL_LENGTHS_SIZE,
              "the longest length list fits");
// Node numbers of a build start at its symbol count: the small codes' nodes
// (19 symbols at most) end below the first node of the symbol code.
static_assert(2 * LENGTH_CODE_COUNT - 2 < SYMBOL_COUNT, "small trees never reach the symbol code's nodes");
static_assert(sizeof g_symbolTable == 4096 * sizeof(uint16_t), "the symbol code's table has 12 index bits");
static_assert(sizeof g_smallTable == 256 * sizeof(uint16_t), "the small codes' table has 8 index bits");

[[noreturn]] void Damaged() {
    ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
    AbortExtraction();
}

// Follows the tree from `node` over the look-ahead bits, starting at the bit
// `mask` selects in `bits`. Codes are at most 16 bits, so a complete code
// always reaches a symbol within the look-ahead; `symbols` ends the walk.
uint32_t WalkTree(uint32_t node, uint64_t bits, uint64_t mask, uint32_t symbols) {
    while (node >= symbols) {
        if (mask == 0 || node >= static_cast<uint32_t>(NODE_CAPACITY)) Damaged();
        node = (bits & mask) != 0 ? g_branchOne[node] : g_branchZero[node];
        mask >>= 1;
    }
    return node;
}

// Reads the lengths of the length code or of the distance code into
// g_smallLengths and builds g_smallTable.
void ReadSmallCode(BitCursor& in, uint32_t count, uint32_t countBits, uint32_t zeroRunAfter) {
    uint32_t n = in.Take(countBits);
    if (n == 0) {
        // A single symbol, decoded from no bits at all. One that is not a
        // symbol of the code would lead the lookups into nodes no build has
        // made, so it marks the data as damaged.
        uint32_t only = in.Take(countBits);
        if (only >= count) Damaged();
        for (uint32_t i = 0; i < count; ++i) g_smallLengths[i] = 0;
        for (uint32_t i = 0; i < (1u << SMALL_TABLE_BITS); ++i) g_smallTable[i] = static_cast<uint16_t>(only);
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
        g_smallLengths[i++] = static_cast<uint8_t>(length);
        if (i == zeroRunAfter) {
            for (uint32_t zeros = in.Take(2); zeros != 0; --zeros) g_smallLengths[i++] = 0;
        }
    }
    for (; i < count; ++i) g_smallLengths[i] = 0;
    BuildDecodeTable(static_cast<int16_t>(count), g_smallLengths, SMALL_TABLE_BITS, g_smallTable);
}

// Reads the 510 symbol code lengths, sent in the length code, and builds
// g_symbolTable.
void ReadSymbolCode(BitCursor& in) {
    uint32_t n = in.Take(SYMBOL_COUNT_BITS);
    if (n == 0) {
        uint32_t only = in.Take(SYMBOL_COUNT_BITS);
        if (only >= static_cast<uint32_t>(SYMBOL_COUNT)) Damaged();
        for (int i = 0; i < SYMBOL_COUNT; ++i) g_symbolLengths[i] = 0;
        for (uint32_t i = 0; i < (1u << SYMBOL_TABLE_BITS); ++i) g_symbolTable[i] = static_cast<uint16_t>(only);
        return;
    }
    // More lengths than symbols cannot be stored: damaged.
    if (n > static_cast<uint32_t>(SYMBOL_COUNT)) Damaged();
    uint32_t i = 0;
    while (i < n) {
        uint32_t code = g_smallTable[in.Peek16() >> (16 - SMALL_TABLE_BITS)];
        if (code >= static_cast<uint32_t>(LENGTH_CODE_COUNT)) {
            code = WalkTree(code, in.bits, 1ull << (63 - SMALL_TABLE_BITS), LENGTH_CODE_COUNT);
        }
        in.Skip(g_smallLengths[code]);
        uint32_t zeros = 0;
        if (code == 0) {
            zeros = 1;
        } else if (code == 1) {
            zeros = in.Take(4) + 3;
        } else if (code == 2) {
            zeros = in.Take(SYMBOL_COUNT_BITS) + 20;
        } else {
            g_symbolLengths[i++] = static_cast<uint8_t>(code - 2);
            continue;
        }
        // A zero run that goes past the last symbol cannot be stored: damaged.
        if (zeros > static_cast<uint32_t>(SYMBOL_COUNT) - i) Damaged();
        for (; zeros != 0; --zeros) g_symbolLengths[i++] = 0;
    }
    for (; i < static_cast<uint32_t>(SYMBOL_COUNT); ++i) g_symbolLengths[i] = 0;
    BuildDecodeTable(SYMBOL_COUNT, g_symbolLengths, SYMBOL_TABLE_BITS, g_symbolTable);
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
    ReadSmallCode(in, g_distanceCodeCount, g_distanceCountBits, 0);
    MakeFastTable(g_symbolTable, g_symbolLengths, SYMBOL_COUNT, 1u << SYMBOL_TABLE_BITS, g_symbolFast);
    MakeFastTable(g_smallTable, g_smallLengths, g_distanceCodeCount, 1u << SMALL_TABLE_BITS, g_distanceFast);
    return symbols;
}

void Report(uint64_t done) { g_progressReport(done, g_run.total); }

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

}  // namespace

namespace BlockDecoder {

void DecodeEntry(char method, uint64_t originalSize) {
    Crc16Reset();
    uint8_t* const window = g_window;
    for (uint32_t i = 0; i < WINDOW_SIZE; ++i) window[i] = ' ';

    // Method parameters: -lh6- and -lh7- send 17 distance lengths in 5-bit
    // fields; every other method 14 in 4-bit fields.
    bool wide = method == '6' || method == '7';
    g_distanceCodeCount = wide ? 17 : 14;
    g_distanceCountBits = wide ? 5 : 4;
    const uint32_t distanceCount = g_distanceCodeCount;

    // The hot loop keeps the cursor in locals; the slow paths (block headers,
    // a new refill, the end of the data) go through the process-wide one.
    BitReader::Start();
    BitCursor& shared = BitReader::g_cursor;
    uint64_t bits = shared.bits;
    uint32_t count = shared.count;
    const uint8_t* next = shared.next;
    const uint8_t* end = shared.end;
    auto spill = [&] {
        shared.bits = bits;
        shared.count = count;
        shared.next = next;
        shared.end = end;
    };
    auto reload = [&] {
        bits = shared.bits;
        count = shared.count;
        next = shared.next;
        end = shared.end;
    };
    // Consumes n bits (at most 16, count being 16 or more) and tops the
    // look-ahead up again, exactly as BitCursor::Consume does.
    auto consume = [&](uint32_t n) __attribute__((always_inline)) {
        bits <<= n;
        count -= n;
        if (count < 16) {
            if (end - next >= 8) {
                uint64_t word = static_cast<uint64_t>(next[0]) << 56 | static_cast<uint64_t>(next[1]) << 48 |
                                static_cast<uint64_t>(next[2]) << 40 | static_cast<uint64_t>(next[3]) << 32 |
                                static_cast<uint64_t>(next[4]) << 24 | static_cast<uint64_t>(next[5]) << 16 |
                                static_cast<uint64_t>(next[6]) << 8 | static_cast<uint64_t>(next[7]);
                bits |= word >> count;
                next += (63 - count) >> 3;
                count |= 56;
            } else {
                spill();
                shared.FillSlow(16);
                reload();
            }
        }
    };

    // Output that came from bits beyond the entry's data is never written.
    auto checkInput = [&] {
        if (shared.Overran(count)) {
            ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
            AbortExtraction();
        }
    };

    uint32_t blockSymbolsLeft = 0;
    uint32_t windowPos = 0;
    uint64_t produced = 0;
    uint64_t done = g_run.done;

    while (produced < originalSize) {
        if (blockSymbolsLeft == 0) {
            checkInput();
            spill();
            blockSymbolsLeft = ReadBlockHeader(shared);
            reload();
        }
        blockSymbolsLeft = (blockSymbolsLeft - 1) & 0xFFFF;

        uint32_t entry = g_symbolFast[bits >> (64 - SYMBOL_TABLE_BITS)];
        uint32_t symbol = entry & 0xFFFF;
        if (symbol < static_cast<uint32_t>(SYMBOL_COUNT)) {
            consume(entry >> 16);
        } else {
            symbol = WalkTree(symbol, bits, 1ull << (63 - SYMBOL_TABLE_BITS), SYMBOL_COUNT);
            consume(g_symbolLengths[symbol]);
        }

        if (symbol < 256) {
            window[windowPos++] = static_cast<uint8_t>(symbol);
            if (windowPos == WINDOW_SIZE) {
                checkInput();
                g_run.done = done;
                OutputSink::Write(window, WINDOW_SIZE);
                Report(done + 1);
                windowPos = 0;
            }
            ++produced;
            ++done;
            continue;
        }

        uint32_t length = symbol - MATCH_LENGTH_BIAS;
        uint32_t distanceEntry = g_distanceFast[bits >> (64 - SMALL_TABLE_BITS)];
        uint32_t code = distanceEntry & 0xFFFF;
        if (code < distanceCount) {
            consume(distanceEntry >> 16);
        } else {
            code = WalkTree(code, bits, 1ull << (63 - SMALL_TABLE_BITS), distanceCount);
            consume(g_smallLengths[code]);
        }
        // Code j above 1 carries j - 1 extra bits (at most 15).
        uint32_t distance = code;
        if (code > 1) {
            distance = (1u << (code - 1)) + static_cast<uint32_t>(bits >> (65 - code));
            consume(code - 1);
        }

        produced += length;
        done += length;
        if (windowPos > distance && windowPos + length < WINDOW_SIZE) {
            CopyMatch(window + windowPos, window + windowPos - distance - 1, length, distance);
            windowPos += length;
            continue;
        }
        uint32_t from = (windowPos - distance - 1) & (WINDOW_SIZE - 1);
        // The match wraps around the window or fills it: byte by byte, with
        // the write in the middle. The window keeps its contents across the
        // write, so the copy goes on undisturbed.
        for (uint32_t i = 0; i < length; ++i) {
            window[windowPos++] = window[from];
            from = (from + 1) & (WINDOW_SIZE - 1);
            if (windowPos == WINDOW_SIZE) {
                checkInput();
                g_run.done = done;
                OutputSink::Write(window, WINDOW_SIZE);
                Report(done);
                windowPos = 0;
            }
        }
    }

    spill();
    shared.Store();
    checkInput();
    g_run.done = done;
    if (windowPos != 0) {
        OutputSink::Write(window, windowPos);
        Report(done);
    }
}

}  // namespace BlockDecoder
