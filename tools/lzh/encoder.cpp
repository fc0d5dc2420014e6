#include "lzh/encoder.h"

#include <string.h>

#include <algorithm>
#include <deque>

#include "format/lzh_format.h"
#include "lzh/huffman.h"
#include "lzh/worker_thread.h"

namespace lzh {

namespace {

// Format constants, the same the decoder reads with.
using lzh_format::LENGTH_CODE_COUNT;
using lzh_format::MATCH_LENGTH_BIAS;
using lzh_format::MAX_MATCH;
using lzh_format::MIN_MATCH;
using lzh_format::SYMBOL_COUNT;
constexpr int MAX_DISTANCE_CODES = 17;
constexpr int LITERAL_COUNT = MATCH_LENGTH_BIAS + MIN_MATCH;  // symbols below this are bytes

// The input is cut into chunks of CHUNK_SIZE bytes, the same whatever the
// number of threads. The tokens of each chunk are found on their own: the
// window of input before the chunk is entered into the match finder's
// tables first, and no match reaches past the chunk's end. The block coder
// then takes the tokens of the chunks in order, so the output does not
// depend on how many chunks were searched at once.
constexpr uint32_t CHUNK_SIZE = ENCODER_CHUNK_SIZE;
constexpr int MAX_THREADS = 4;  // chunks searched at once, by default
// Match finder storage: 64 KiB of history for every method (the method
// limits how far a match may reach).
constexpr uint32_t HISTORY = 65536;
constexpr uint32_t BUFFER_SLACK = MAX_MATCH + 8;  // compares read up to 8 bytes past the input
static_assert(CHUNK_SIZE >= HISTORY, "a chunk holds the window of the next one");
// Chains link positions with the same hash of their next four bytes; a
// table without chains holds the newest position of each three-byte start.
// The tables hold 16-bit entries, small enough to stay in the cache: the
// heads a position counted from a base not quite HISTORY back (0: none), the
// chains the distance to the next older position (NO_LINK: none; added to
// any distance it goes past every method's reach).
constexpr uint16_t NO_LINK = 0xFFFF;
constexpr int HASH_BITS = 16;
constexpr int HASH3_BITS = 14;

// Blocks grow by segments of tokens; a segment either joins the block or
// starts the next one, whichever costs fewer bits. The block symbol count
// field has 16 bits (we never use its 0 = 65536 form).
constexpr uint32_t SEGMENT_TOKENS = 4096;
// The match finder prices tokens anew after this many, from counts that
// halve each time.
constexpr uint32_t PRICE_TOKENS = 8192;
constexpr uint32_t MAX_BLOCK_TOKENS = 65535;
static_assert(MAX_BLOCK_TOKENS / SEGMENT_TOKENS * SEGMENT_TOKENS <= MAX_BLOCK_TOKENS, "segments fit a block");
// The near-optimal parse cuts blocks at multiples of this many tokens.
constexpr uint32_t SPLIT_TOKENS = 1024;
// A chunk at least this long is tested for random-looking bytes.
constexpr uint32_t RANDOM_TEST_BYTES = 65536;
constexpr int RANDOM_REPEATS = 16;
// Rounds of pricing and parsing again of --best.
constexpr int BEST_PASSES = 4;
// The price of a symbol a block with a single-symbol code does not use.
constexpr uint32_t UNUSED_SYMBOL_BITS = 12;

struct MethodParameters {
    uint32_t maxOffset;     // furthest match: bytes back from the current one
    int distanceCodes;      // codes the distance code may use
    int distanceCountBits;  // width of the distance code's count field
};

MethodParameters ParametersOf(Method method) {
    switch (method) {
    case Method::Lh6:
        return {32768 - 1, 16, 5};
    case Method::Lh7:
        return {65536 - 1, 17, 5};
    default:
        return {8192 - 1, 14, 4};
    }
}

// Distance code of d = offset - 1: 0 for d = 0, else the bit length of d.
inline int DistanceCode(uint32_t d) { return d == 0 ? 0 : 32 - __builtin_clz(d); }

// Most significant bit first, as the decoder draws them; whole 32-bit words
// are stored at once, byte-swapped from the host's little-endian order.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit writer swaps bytes for a little-endian host");
class BitWriter {
public:
    // Makes room for `bytes` more whole bytes; Put does not check.
    void Reserve(size_t bytes) {
        if (bytes_.size() < used_ + bytes) bytes_.resize(used_ + bytes);
    }
    // value < 2^bits, bits <= 32.
    void Put(uint32_t value, int bits) {
        acc_ = (acc_ << bits) | value;
        count_ += bits;
        if (count_ >= 32) {
            count_ -= 32;
            uint32_t word = __builtin_bswap32(static_cast<uint32_t>(acc_ >> count_));
            memcpy(bytes_.data() + used_, &word, 4);
            used_ += 4;
        }
    }
    // Pads the last byte with zero bits and writes out what is held.
    void Flush() {
        Reserve(8);
        while (count_ >= 8) {
            count_ -= 8;
            bytes_[used_++] = static_cast<uint8_t>(acc_ >> count_);
        }
        if (count_ > 0) bytes_[used_++] = static_cast<uint8_t>(acc_ << (8 - count_));
        count_ = 0;
        acc_ = 0;
    }
    // The whole bytes written since the last Clear.
    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return used_; }
    void Clear() { used_ = 0; }

private:
    std::vector<uint8_t> bytes_;
    size_t used_ = 0;
    uint64_t acc_ = 0;
    int count_ = 0;
};

// Counts bits instead of writing them, to price a block header.
struct BitCounter {
    uint64_t bits = 0;
    void Put(uint32_t, int n) { bits += static_cast<uint64_t>(n); }
};

// One symbol of the run-coded symbol code lengths: a length-code symbol
// (0: one zero, 1: 3..18 zeros, 2: 20..531 zeros, 3..18: length 1..16) and
// the extra bits of the two runs.
struct LengthItem {
    uint8_t code;
    uint16_t extra;
};

// Everything needed to write one block: the three codes and their forms.
struct BlockPlan {
    uint8_t symbolLengths[SYMBOL_COUNT];
    uint16_t symbolCodes[SYMBOL_COUNT];
    int symbolSingle;  // the only symbol, or -1
    int symbolCount;   // lengths sent (trailing zeros dropped)

    LengthItem items[SYMBOL_COUNT];
    int itemCount;
    uint8_t lengthLengths[LENGTH_CODE_COUNT];
    uint16_t lengthCodes[LENGTH_CODE_COUNT];
    int lengthSingle;

    uint8_t distanceLengths[MAX_DISTANCE_CODES];
    uint16_t distanceCodes[MAX_DISTANCE_CODES];
    int distanceSingle;

    uint64_t bits;  // the whole block: header and symbols
};

int OnlySymbol(const uint32_t* freq, int count) {
    int used = 0, which = 0;
    for (int s = 0; s < count; ++s) {
        if (freq[s] != 0) {
            ++used;
            which = s;
        }
    }
    return used <= 1 ? which : -1;
}

// The lengths of the length code or the distance code: a count, then each
// length in 3 bits (0..6) or as 111, length - 7 one bits and a zero bit;
// the length code has a 2-bit count of zeros after its third length.
template <class Out>
void PutSmallLengths(Out& out, const uint8_t* lengths, int count, int countBits, bool zeroRunAfterThird) {
    int n = count;
    while (n > 0 && lengths[n - 1] == 0) --n;
    out.Put(static_cast<uint32_t>(n), countBits);
    for (int i = 0; i < n;) {
        int length = lengths[i++];
        if (length < 7) {
            out.Put(static_cast<uint32_t>(length), 3);
        } else {
            out.Put((1u << (length - 3)) - 2, length - 3);
        }
        if (zeroRunAfterThird && i == 3) {
            int zeros = 0;
            while (zeros < 3 && i < n && lengths[i] == 0) {
                ++zeros;
                ++i;
            }
            out.Put(static_cast<uint32_t>(zeros), 2);
        }
    }
}

template <class Out>
void PutBlockHeader(Out& out, const BlockPlan& plan, uint32_t tokenCount, const MethodParameters& m) {
    out.Put(tokenCount, 16);
    if (plan.symbolSingle >= 0) {
        out.Put(0, 5);
        out.Put(0, 5);
        out.Put(0, 9);
        out.Put(static_cast<uint32_t>(plan.symbolSingle), 9);
    } else {
        if (plan.lengthSingle >= 0) {
            out.Put(0, 5);
            out.Put(static_cast<uint32_t>(plan.lengthSingle), 5);
        } else {
            PutSmallLengths(out, plan.lengthLengths, LENGTH_CODE_COUNT, 5, true);
        }
        out.Put(static_cast<uint32_t>(plan.symbolCount), 9);
        for (int i = 0; i < plan.itemCount; ++i) {
            const LengthItem& item = plan.items[i];
            out.Put(plan.lengthCodes[item.code], plan.lengthLengths[item.code]);
            if (item.code == 1) out.Put(item.extra, 4);
            if (item.code == 2) out.Put(item.extra, 9);
        }
    }
    if (plan.distanceSingle >= 0) {
        out.Put(0, m.distanceCountBits);
        out.Put(static_cast<uint32_t>(plan.distanceSingle), m.distanceCountBits);
    } else {
        PutSmallLengths(out, plan.distanceLengths, m.distanceCodes, m.distanceCountBits, false);
    }
}

// Builds the codes of a block from its frequencies and prices it.
void PlanBlock(const uint32_t* symbolFreq, const uint32_t* distanceFreq, uint32_t tokenCount,
               const MethodParameters& m, BlockPlan& plan) {
    BuildCodeLengths(symbolFreq, SYMBOL_COUNT, MAX_CODE_LENGTH, plan.symbolLengths);
    plan.symbolSingle = OnlySymbol(symbolFreq, SYMBOL_COUNT);
    BuildCanonicalCodes(plan.symbolLengths, SYMBOL_COUNT, plan.symbolCodes);

    plan.itemCount = 0;
    plan.symbolCount = 0;
    plan.lengthSingle = -1;
    memset(plan.lengthLengths, 0, sizeof plan.lengthLengths);
    if (plan.symbolSingle < 0) {
        int n = SYMBOL_COUNT;
        while (plan.symbolLengths[n - 1] == 0) --n;
        plan.symbolCount = n;
        for (int i = 0; i < n;) {
            if (plan.symbolLengths[i] != 0) {
                plan.items[plan.itemCount++] = LengthItem{static_cast<uint8_t>(plan.symbolLengths[i] + 2), 0};
                ++i;
                continue;
            }
            int run = 0;
            while (i + run < n && plan.symbolLengths[i + run] == 0) ++run;
            i += run;
            while (run > 0) {
                if (run >= 20) {
                    int take = std::min(run, 531);
                    plan.items[plan.itemCount++] = LengthItem{2, static_cast<uint16_t>(take - 20)};
                    run -= take;
                } else if (run >= 3) {
                    int take = std::min(run, 18);
                    plan.items[plan.itemCount++] = LengthItem{1, static_cast<uint16_t>(take - 3)};
                    run -= take;
                } else {
                    plan.items[plan.itemCount++] = LengthItem{0, 0};
                    --run;
                }
            }
        }
        uint32_t lengthFreq[LENGTH_CODE_COUNT] = {};
        for (int i = 0; i < plan.itemCount; ++i) ++lengthFreq[plan.items[i].code];
        BuildCodeLengths(lengthFreq, LENGTH_CODE_COUNT, MAX_CODE_LENGTH, plan.lengthLengths);
        plan.lengthSingle = OnlySymbol(lengthFreq, LENGTH_CODE_COUNT);
    }
    BuildCanonicalCodes(plan.lengthLengths, LENGTH_CODE_COUNT, plan.lengthCodes);

    BuildCodeLengths(distanceFreq, m.distanceCodes, MAX_CODE_LENGTH, plan.distanceLengths);
    for (int c = m.distanceCodes; c < MAX_DISTANCE_CODES; ++c) plan.distanceLengths[c] = 0;
    plan.distanceSingle = OnlySymbol(distanceFreq, m.distanceCodes);
    BuildCanonicalCodes(plan.distanceLengths, m.distanceCodes, plan.distanceCodes);

    BitCounter counter;
    PutBlockHeader(counter, plan, tokenCount, m);
    uint64_t bits = counter.bits;
    for (int s = 0; s < SYMBOL_COUNT; ++s) bits += static_cast<uint64_t>(symbolFreq[s]) * plan.symbolLengths[s];
    for (int c = 0; c < m.distanceCodes; ++c) {
        bits += static_cast<uint64_t>(distanceFreq[c]) * (plan.distanceLengths[c] + (c > 1 ? c - 1 : 0));
    }
    plan.bits = bits;
}

// Symbol and distance-code counts of a run of tokens.
struct Statistics {
    uint32_t symbols[SYMBOL_COUNT];
    uint32_t distances[MAX_DISTANCE_CODES];
    uint32_t tokens;
    uint32_t matches;

    void Clear() { memset(this, 0, sizeof *this); }
    void Add(const Statistics& other) {
        for (int s = 0; s < SYMBOL_COUNT; ++s) symbols[s] += other.symbols[s];
        for (int c = 0; c < MAX_DISTANCE_CODES; ++c) distances[c] += other.distances[c];
        tokens += other.tokens;
        matches += other.matches;
    }
};

// The tokens found in one chunk: the symbol of each token, and the
// distance (offset - 1) of each match.
struct TokenList {
    std::vector<uint16_t> symbols;
    std::vector<uint16_t> distances;
    // Where the chunk's own blocks end, as token counts (the last one is
    // every token); empty: the block coder chooses where blocks end.
    std::vector<uint32_t> blockEnds;
    // Instead of the lists: this many literals, the bytes at `literals`
    // (a random-looking chunk's input, in its buffer, not copied out).
    const uint8_t* literals = nullptr;
    uint32_t literalCount = 0;
};

// What a token is likely to cost, in sixteenths of a bit: the match finder
// weighs length against distance with them, and takes a match only where it
// beats literals.
struct Prices {
    int32_t literal;                        // average literal
    int32_t length[MAX_MATCH + 1];          // match length symbol
    int32_t distance[MAX_DISTANCE_CODES];  // distance code and its extra bits

    void SetDefault() {
        literal = 6 * 16;
        for (int n = MIN_MATCH; n <= MAX_MATCH; ++n) length[n] = (7 + std::min(n - MIN_MATCH, 12) / 2) * 16;
        for (int c = 0; c < MAX_DISTANCE_CODES; ++c) distance[c] = (4 + (c > 1 ? c - 1 : 0)) * 16;
    }

    // From the codes that tokens of these counts would get. Symbols they do
    // not use get a little more than the longest code.
    void SetFrom(const Statistics& stats, const MethodParameters& m) {
        uint8_t symbolLengths[SYMBOL_COUNT];
        BuildCodeLengths(stats.symbols, SYMBOL_COUNT, MAX_CODE_LENGTH, symbolLengths);
        const int symbolSingle = OnlySymbol(stats.symbols, SYMBOL_COUNT);
        uint8_t distanceLengths[MAX_DISTANCE_CODES] = {};
        BuildCodeLengths(stats.distances, m.distanceCodes, MAX_CODE_LENGTH, distanceLengths);
        const int distanceSingle = OnlySymbol(stats.distances, m.distanceCodes);

        int longest = 0;
        for (int sym = 0; sym < SYMBOL_COUNT; ++sym) longest = std::max<int>(longest, symbolLengths[sym]);
        auto symbolBits = [&](int sym) -> int32_t {
            if (symbolSingle >= 0) return sym == symbolSingle ? 1 : 12;
            return symbolLengths[sym] != 0 ? symbolLengths[sym] : longest + 2;
        };
        uint64_t literalBits = 0, literals = 0;
        for (int b = 0; b < LITERAL_COUNT; ++b) {
            literalBits += static_cast<uint64_t>(stats.symbols[b]) * symbolBits(b);
            literals += stats.symbols[b];
        }
        literal = literals != 0 ? static_cast<int32_t>(literalBits * 16 / literals) : 8 * 16;
        for (int n = MIN_MATCH; n <= MAX_MATCH; ++n) length[n] = symbolBits(n + MATCH_LENGTH_BIAS) * 16;
        int longestDistance = 0;
        for (int c = 0; c < m.distanceCodes; ++c) longestDistance = std::max<int>(longestDistance, distanceLengths[c]);
        for (int c = 0; c < MAX_DISTANCE_CODES; ++c) {
            int bits = distanceSingle >= 0 ? (c == distanceSingle ? 0 : 6)
                       : distanceLengths[c] != 0 ? distanceLengths[c] : longestDistance + 2;
            distance[c] = (bits + (c > 1 ? c - 1 : 0)) * 16;
        }
    }
};

// LZ77 over hash chains with one step of lazy matching, for one chunk at a
// time. Every chunk starts afresh: empty tables, default prices.
class ChunkMatcher {
public:
    ChunkMatcher(const MethodParameters& params, const EncoderTuning& tuning) : params_(params), tuning_(tuning) {
        // Short reaches let head entries age further before they are forgotten.
        rebaseStep_ = params.maxOffset + 1 < HISTORY ? (HISTORY - 1 - params.maxOffset) & ~4095u : 8192;
        linkMask_ = params.maxOffset;  // reaches are powers of two less one
    }

    // The tokens of data[history, end). data[0, history) is the input just
    // before, entered into the tables without tokens; BUFFER_SLACK zeros
    // follow `end`.
    void Run(const uint8_t* data, uint32_t history, uint32_t end, TokenList& tokens) {
        tokens.blockEnds.clear();
        tokens.symbols.clear();
        tokens.distances.clear();
        tokens.literals = nullptr;
        tokens.literalCount = 0;
        if (LooksRandom(data + history, end - history)) {
            // Every byte a literal, in either mode: no search would find a
            // match worth its bits, and the window before is not needed.
            tokens.literals = data + history;
            tokens.literalCount = end - history;
            return;
        }
        if (tuning_.optimalPasses > 0) return RunOptimal(data, history, end, tokens);
        data_ = data;
        Reset();
        if (history != 0) {
            // The window is parsed like input and its tokens dropped: the
            // tables then hold it, and the prices fit the data just before
            // the chunk rather than being the defaults.
            tokens_ = &windowTokens_;
            FindTokens(0, history);
            // Its last two positions, left out for want of three bytes.
            for (uint32_t p = history - 2; p < history; ++p) {
                if (p - base_ >= HISTORY) Rebase();
                Insert(p, HashesAt(data + p));
            }
            if (recent_.tokens != 0) Reprice();
        }
        tokens_ = &tokens;
        FindTokens(history, end);
    }

    // Whether a chunk is random-looking (compressed or encrypted input),
    // so that no search could find matches worth their bits: its bytes are
    // as even as random data's (the chance that two are equal is at most
    // 1/256 by 1/128 more), and a sample of its eight-byte strings, taken
    // where their first four bytes hash to a sixteenth of the values
    // (wherever a string repeats, both copies are sampled alike), shows
    // fewer than RANDOM_REPEATS repeats. Whole numbers only, so that
    // every build decides the same.
    static bool LooksRandom(const uint8_t* bytes, uint32_t size) {
        if (size < RANDOM_TEST_BYTES) return false;
        // Four tables of counts, so that runs of one byte do not wait on
        // the same counter.
        uint32_t counts[4][256] = {};
        uint32_t i = 0;
        for (; i + 4 <= size; i += 4) {
            ++counts[0][bytes[i]];
            ++counts[1][bytes[i + 1]];
            ++counts[2][bytes[i + 2]];
            ++counts[3][bytes[i + 3]];
        }
        for (; i < size; ++i) ++counts[0][bytes[i]];
        uint64_t pairs = 0;
        for (int b = 0; b < 256; ++b) {
            uint64_t c = uint64_t{counts[0][b]} + counts[1][b] + counts[2][b] + counts[3][b];
            pairs += c * c;
        }
        const uint64_t n = size;
        if (256 * pairs > n * n + n * n / 128) return false;
        uint64_t seen[1 << 12] = {};
        int repeats = 0;
        for (i = 0; i + 8 <= size; ++i) {
            if (((Load32(bytes + i) * 2654435761u) >> 28) != 0) continue;
            uint64_t key;
            memcpy(&key, bytes + i, 8);
            uint64_t& slot = seen[(key * 0x9E3779B97F4A7C15ull) >> 52];
            if (slot == key && ++repeats >= RANDOM_REPEATS) return false;
            slot = key;
        }
        return true;
    }

    // The tokens of data[history, end) by the near-optimal parse: every
    // match the chains offer is collected once, then the chunk is parsed
    // for the least bits under the prices of its blocks' own codes, the
    // blocks are cut again where that costs least, and so on for
    // `optimalPasses` rounds; the cheapest parse found is kept, with its blocks.
    void RunOptimal(const uint8_t* data, uint32_t history, uint32_t end, TokenList& tokens) {
        data_ = data;
        Reset();
        for (uint32_t p = 0; p < history; ++p) {
            if (p - base_ >= HISTORY) Rebase();
            Insert(p, HashesAt(data + p));
        }
        CollectCandidates(history, end);
        TokenList parse;
        ParseGreedy(history, end, parse);
        uint64_t bestBits = UINT64_MAX;
        std::vector<uint32_t> ends;
        for (int pass = 0;; ++pass) {
            uint64_t bits = SplitBlocks(parse, &ends);
            if (bits >= bestBits) break;  // no better than the round before: the prices have settled
            bestBits = bits;
            tokens.symbols = parse.symbols;
            tokens.distances = parse.distances;
            tokens.blockEnds = ends;
            if (pass >= tuning_.optimalPasses) break;
            ParseByPrices(history, end, tokens, parse);
        }
        // The candidates of a chunk take several megabytes: let them go.
        std::vector<uint32_t>().swap(candidateStart_);
        std::vector<Candidate>().swap(candidates_);
    }

private:
    MethodParameters params_;
    EncoderTuning tuning_;
    const uint8_t* data_ = nullptr;  // the chunk and its window
    TokenList* tokens_ = nullptr;    // where FindTokens puts them
    TokenList windowTokens_;
    BlockPlan plan_;

    // Optimal parsing. A candidate is the nearest match of its length at a
    // position whose candidates before it (nearer ones) are all shorter.
    struct Candidate {
        uint16_t length;
        uint16_t offset;
    };
    // What each token costs in whole bits under one block's codes.
    struct BitPrices {
        uint32_t symbol[SYMBOL_COUNT];
        uint32_t distance[MAX_DISTANCE_CODES];  // with the extra bits
    };
    std::vector<uint32_t> candidateStart_;  // by position in the chunk, and one past the last
    std::vector<Candidate> candidates_;
    std::vector<uint32_t> cost_;      // bits to reach each position from the chunk's start
    std::vector<uint16_t> arrival_;   // the token that reaches it: 0 a literal, else the match length
    std::vector<uint16_t> arrivalOffset_;

    // Lists the candidates of every position of data[history, end). A
    // match of niceLength or more is taken as it is: the positions it
    // covers get none.
    void CollectCandidates(uint32_t history, uint32_t end) {
        const uint32_t n = end - history;
        candidateStart_.assign(n + 1, 0);
        candidates_.clear();
        uint32_t coveredTo = history;
        for (uint32_t p = history; p < end; ++p) {
            candidateStart_[p - history] = static_cast<uint32_t>(candidates_.size());
            uint32_t avail = std::min<uint32_t>(end - p, MAX_MATCH);
            if (avail < MIN_MATCH) continue;
            if (p - base_ >= HISTORY) Rebase();
            Hashes h = HashesAt(data_ + p);
            nearest3_ = HeadDistance(p, head3_[h.three]);
            Insert(p, h);
            if (p < coveredTo) continue;
            pos_ = p;
            uint32_t longest = CollectAt(avail);
            if (longest >= static_cast<uint32_t>(tuning_.niceLength)) coveredTo = p + longest;
        }
        candidateStart_[n] = static_cast<uint32_t>(candidates_.size());
    }

    // Appends the candidates of `pos_` (already inserted), at most `avail`
    // bytes long, nearest first; returns the longest length.
    uint32_t CollectAt(uint32_t avail) {
        const uint32_t pos = pos_;
        const uint8_t* data = data_;
        const uint8_t* cur = data + pos;
        const uint32_t reach = std::min(params_.maxOffset, pos);
        const size_t first = candidates_.size();
        int chain = tuning_.maxChain;
        uint32_t nice = std::min<uint32_t>(static_cast<uint32_t>(tuning_.niceLength), avail);
        uint32_t longest = MIN_MATCH - 1;
        uint32_t tailAt = 0;
        uint32_t mask = 0xFFFFFF;
        uint32_t tail = Load32(cur) & mask;
        const uint16_t* links = prev_.data();
        const uint32_t linkMask = linkMask_;
        const int32_t lowest = static_cast<int32_t>(pos - reach);
        uint32_t link = prev_[pos & linkMask_];
        int32_t candidate = static_cast<int32_t>(pos) - static_cast<int32_t>(link == NO_LINK ? HISTORY : link);
        while (candidate >= lowest && chain-- > 0) {
            if ((Load32(data + candidate + tailAt) & mask) == tail) {
                uint32_t length = MatchLength(data + candidate, cur, avail);
                if (length > longest) {
                    longest = length;
                    candidates_.push_back(Candidate{static_cast<uint16_t>(length),
                                                    static_cast<uint16_t>(pos - static_cast<uint32_t>(candidate))});
                    if (length >= nice) break;
                    tailAt = longest - 3;
                    mask = 0xFFFFFFFF;
                    tail = Load32(cur + tailAt);
                }
            }
            candidate -= links[candidate & linkMask];
        }
        // The nearest three-byte match, which the four-byte chains miss:
        // worth listing when it is nearer than every other candidate.
        uint32_t distance = nearest3_;
        if (distance != 0 && distance <= reach &&
            (candidates_.size() == first || candidates_[first].offset > distance)) {
            const uint8_t* m = cur - distance;
            if (m[0] == cur[0] && m[1] == cur[1] && m[2] == cur[2]) {
                uint32_t length = MatchLength(m, cur, avail);
                if (candidates_.size() != first) length = std::min<uint32_t>(length, candidates_[first].length - 1u);
                if (length >= MIN_MATCH) {
                    candidates_.insert(candidates_.begin() + static_cast<ptrdiff_t>(first),
                                       Candidate{static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
                    longest = std::max(longest, length);
                }
            }
        }
        return longest;
    }

    static uint32_t MatchLengthOfSymbol(uint16_t symbol) {
        return symbol < LITERAL_COUNT ? 1 : static_cast<uint32_t>(symbol - MATCH_LENGTH_BIAS);
    }

    // The first parse, to have counts to price from: the longest
    // candidate wherever there is one.
    void ParseGreedy(uint32_t history, uint32_t end, TokenList& out) {
        out.symbols.clear();
        out.distances.clear();
        const uint32_t n = end - history;
        for (uint32_t i = 0; i < n;) {
            uint32_t last = candidateStart_[i + 1];
            if (last != candidateStart_[i]) {
                const Candidate& c = candidates_[last - 1];
                out.symbols.push_back(static_cast<uint16_t>(c.length + MATCH_LENGTH_BIAS));
                out.distances.push_back(static_cast<uint16_t>(c.offset - 1));
                i += c.length;
            } else {
                out.symbols.push_back(data_[history + i]);
                ++i;
            }
        }
    }

    // The counts of tokens [from, to), whose matches start at `firstMatch`.
    static void Count(const TokenList& t, uint32_t from, uint32_t to, uint32_t firstMatch, Statistics& stats) {
        stats.Clear();
        const uint16_t* distance = t.distances.data() + firstMatch;
        for (uint32_t i = from; i < to; ++i) {
            uint16_t symbol = t.symbols[i];
            ++stats.symbols[symbol];
            if (symbol >= LITERAL_COUNT) {
                ++stats.distances[DistanceCode(*distance++)];
                ++stats.matches;
            }
        }
        stats.tokens = to - from;
    }

    // Cuts the tokens into blocks, at multiples of SPLIT_TOKENS, where the
    // blocks cost fewest bits in all; `ends` receives where each block ends.
    // Returns the bits of all the blocks.
    uint64_t SplitBlocks(const TokenList& t, std::vector<uint32_t>* ends) {
        const uint32_t total = static_cast<uint32_t>(t.symbols.size());
        ends->clear();
        if (total == 0) return 0;
        const uint32_t pieces = (total + SPLIT_TOKENS - 1) / SPLIT_TOKENS;
        // Counts of every piece, then the cheapest cut ending at each piece
        // boundary, from blocks of at most MAX_BLOCK_TOKENS.
        std::vector<Statistics> piece(pieces);
        uint32_t match = 0;
        for (uint32_t k = 0; k < pieces; ++k) {
            uint32_t from = k * SPLIT_TOKENS, to = std::min(total, from + SPLIT_TOKENS);
            Count(t, from, to, match, piece[k]);
            match += piece[k].matches;
        }
        std::vector<uint64_t> best(pieces + 1, UINT64_MAX);
        std::vector<uint32_t> from(pieces + 1, 0);
        best[0] = 0;
        Statistics block;
        for (uint32_t j = 1; j <= pieces; ++j) {
            block.Clear();
            for (uint32_t i = j; i-- > 0;) {
                block.Add(piece[i]);
                if (block.tokens > MAX_BLOCK_TOKENS) break;
                PlanBlock(block.symbols, block.distances, block.tokens, params_, plan_);
                uint64_t bits = best[i] + plan_.bits;
                if (bits < best[j]) {
                    best[j] = bits;
                    from[j] = i;
                }
            }
        }
        for (uint32_t j = pieces; j > 0; j = from[j]) ends->push_back(std::min(total, j * SPLIT_TOKENS));
        std::reverse(ends->begin(), ends->end());
        return best[pieces];
    }

    // Whole-bit prices of a block's codes; what it does not use costs a
    // little more than its longest code.
    void SetBitPrices(const Statistics& stats, BitPrices& prices) {
        PlanBlock(stats.symbols, stats.distances, stats.tokens, params_, plan_);
        int longest = 0;
        for (int s = 0; s < SYMBOL_COUNT; ++s) longest = std::max<int>(longest, plan_.symbolLengths[s]);
        for (int s = 0; s < SYMBOL_COUNT; ++s) {
            prices.symbol[s] = plan_.symbolSingle >= 0 ? (s == plan_.symbolSingle ? 1 : UNUSED_SYMBOL_BITS)
                               : plan_.symbolLengths[s] != 0 ? plan_.symbolLengths[s] : longest + 2;
        }
        int longestDistance = 0;
        for (int c = 0; c < params_.distanceCodes; ++c) {
            longestDistance = std::max<int>(longestDistance, plan_.distanceLengths[c]);
        }
        for (int c = 0; c < MAX_DISTANCE_CODES; ++c) {
            uint32_t bits = plan_.distanceSingle >= 0 ? (c == plan_.distanceSingle ? 0 : UNUSED_SYMBOL_BITS)
                            : plan_.distanceLengths[c] != 0 ? plan_.distanceLengths[c] : longestDistance + 2;
            prices.distance[c] = bits + (c > 1 ? c - 1 : 0);
        }
    }

    // Parses the chunk again for the fewest bits, pricing each token by
    // the codes of the block of `last` (the previous parse with its blocks)
    // where it starts.
    void ParseByPrices(uint32_t history, uint32_t end, const TokenList& last, TokenList& out) {
        const uint32_t n = end - history;
        // Each block's prices, and the position where it starts.
        std::vector<BitPrices> prices(last.blockEnds.size());
        std::vector<uint32_t> blockStart(last.blockEnds.size() + 1, n);
        uint32_t token = 0, match = 0, position = 0;
        Statistics stats;
        for (size_t b = 0; b < last.blockEnds.size(); ++b) {
            blockStart[b] = position;
            uint32_t to = last.blockEnds[b];
            Count(last, token, to, match, stats);
            SetBitPrices(stats, prices[b]);
            for (; token < to; ++token) position += MatchLengthOfSymbol(last.symbols[token]);
            match += stats.matches;
        }

        cost_.assign(n + 1, UINT32_MAX);
        arrival_.resize(n + 1);
        arrivalOffset_.resize(n + 1);
        cost_[0] = 0;
        const uint8_t* bytes = data_ + history;
        size_t b = 0;
        for (uint32_t i = 0; i < n; ++i) {
            while (i >= blockStart[b + 1]) ++b;
            const BitPrices& price = prices[b];
            const uint32_t here = cost_[i];
            uint32_t c = here + price.symbol[bytes[i]];
            if (c < cost_[i + 1]) {
                cost_[i + 1] = c;
                arrival_[i + 1] = 0;
            }
            uint32_t length = MIN_MATCH;
            for (uint32_t k = candidateStart_[i]; k < candidateStart_[i + 1]; ++k) {
                const Candidate cand = candidates_[k];
                const uint32_t base = here + price.distance[DistanceCode(cand.offset - 1u)];
                for (; length <= cand.length; ++length) {
                    c = base + price.symbol[length + MATCH_LENGTH_BIAS];
                    if (c < cost_[i + length]) {
                        cost_[i + length] = c;
                        arrival_[i + length] = static_cast<uint16_t>(length);
                        arrivalOffset_[i + length] = cand.offset;
                    }
                }
            }
        }
        // Back from the end, then the tokens in order.
        std::vector<uint32_t> path;
        for (uint32_t i = n; i > 0;) {
            path.push_back(i);
            i -= arrival_[i] == 0 ? 1 : arrival_[i];
        }
        out.symbols.clear();
        out.distances.clear();
        for (size_t k = path.size(); k-- > 0;) {
            uint32_t i = path[k];
            if (arrival_[i] == 0) {
                out.symbols.push_back(bytes[i - 1]);
            } else {
                out.symbols.push_back(static_cast<uint16_t>(arrival_[i] + MATCH_LENGTH_BIAS));
                out.distances.push_back(static_cast<uint16_t>(arrivalOffset_[i] - 1));
            }
        }
    }

    std::vector<uint16_t> head_;   // newest position of each four-byte hash, from `base_`
    std::vector<uint16_t> head3_;  // newest position of each three-byte hash, from `base_`
    std::vector<uint16_t> prev_;   // distance to the position before, by position modulo the reach + 1
    uint32_t linkMask_ = 0;        // the method's reach: no walk goes further, so its links are all it keeps
    uint32_t base_ = 0;            // position of head entry 1, minus 1 (modulo 2^32)
    uint32_t rebaseStep_ = 0;      // how far `base_` moves at a time

    uint32_t pos_ = 0;      // next byte to code
    uint32_t nearest3_ = 0;  // distance to the three-byte candidate of `pos_`, read before inserting it
    Prices prices_;
    Statistics recent_;  // token counts, halved whenever the prices are set

    void Reset() {
        head_.assign(size_t{1} << HASH_BITS, 0);
        head3_.assign(size_t{1} << HASH3_BITS, 0);
        // A link is read only at a position entered since this reset, and the
        // heads lead to nothing older: the links need no clearing.
        if (prev_.size() != linkMask_ + 1) prev_.assign(linkMask_ + 1, NO_LINK);
        base_ = UINT32_MAX;
        prices_.SetDefault();
        recent_.Clear();
    }

    // Codes data[from, end); the lazy step holds the byte before `pos_`
    // back, with the match found there.
    void FindTokens(uint32_t from, uint32_t end) {
        const uint8_t* data = data_;
        tokens_->symbols.clear();
        tokens_->distances.clear();
        bool pending = false;
        uint32_t pendingLength = 0, pendingOffset = 0;
        int32_t pendingGain = 0;
        pos_ = from;
        while (pos_ < end) {
            uint32_t avail = std::min<uint32_t>(end - pos_, MAX_MATCH);
            uint32_t length = 0, offset = 0;
            int32_t gain = 0;
            if (avail >= MIN_MATCH) {
                if (pos_ - base_ >= HISTORY) Rebase();
                Hashes h = HashesAt(data + pos_);
                nearest3_ = HeadDistance(pos_, head3_[h.three]);
                Insert(pos_, h);
                if (!pending || pendingLength < static_cast<uint32_t>(tuning_.lazyLength)) {
                    length = FindMatch(pending ? pendingLength : 0, avail, &offset, &gain);
                }
            }
            // The match waiting at pos - 1 against a literal there and the
            // match found here.
            if (pending && pendingLength >= MIN_MATCH && gain <= pendingGain) {
                AddMatch(pendingLength, pendingOffset);
                uint32_t stop = pos_ - 1 + pendingLength;
                InsertRange(pos_ + 1, std::min(stop, end - (MIN_MATCH - 1)));
                pos_ = stop;
                pending = false;
                pendingLength = 0;
            } else {
                if (pending) AddLiteral(data[pos_ - 1]);
                pending = true;
                pendingLength = length;
                pendingOffset = offset;
                pendingGain = gain;
                ++pos_;
            }
        }
        // Only a literal can wait at the very end: a match there would
        // have reached past the chunk.
        if (pending) AddLiteral(data[pos_ - 1]);
    }

    void AddLiteral(uint8_t byte) {
        tokens_->symbols.push_back(byte);
        ++recent_.symbols[byte];
        if (++recent_.tokens == PRICE_TOKENS) Reprice();
    }

    void AddMatch(uint32_t length, uint32_t offset) {
        uint16_t symbol = static_cast<uint16_t>(length + MATCH_LENGTH_BIAS);
        uint16_t d = static_cast<uint16_t>(offset - 1);
        tokens_->symbols.push_back(symbol);
        tokens_->distances.push_back(d);
        ++recent_.symbols[symbol];
        ++recent_.distances[DistanceCode(d)];
        if (++recent_.tokens == PRICE_TOKENS) Reprice();
    }

    void Reprice() {
        prices_.SetFrom(recent_, params_);
        for (uint32_t& n : recent_.symbols) n >>= 1;
        for (uint32_t& n : recent_.distances) n >>= 1;
        recent_.tokens = 0;
    }

    // Bits saved by a match against sending its bytes as literals.
    int32_t Gain(uint32_t length, uint32_t offset) const {
        return static_cast<int32_t>(length) * prices_.literal - prices_.length[length] -
               prices_.distance[DistanceCode(offset - 1)];
    }

    // The hashes of the four and of the three bytes at `p`, from one load.
    // Past the chunk the buffer holds zeros, so a hash may read up to one
    // byte beyond it; every candidate is compared before use.
    struct Hashes {
        uint32_t four, three;
    };
    static Hashes HashesAt(const uint8_t* p) {
        uint32_t v;
        memcpy(&v, p, 4);
        return {(v * 2654435761u) >> (32 - HASH_BITS), ((v << 8) * 2246822519u) >> (32 - HASH3_BITS)};
    }

    // Head entries count from `base_`; positions reach at most HISTORY - 1
    // past it. Moving it on forgets the entries it passes.
    void Rebase() {
        base_ += rebaseStep_;
        LowerEntries(head_, static_cast<uint16_t>(rebaseStep_));
        LowerEntries(head3_, static_cast<uint16_t>(rebaseStep_));
    }
    // Every entry less `step`, those at most `step` to 0: eight at a time
    // (the table sizes are multiples of eight).
    static void LowerEntries(std::vector<uint16_t>& table, uint16_t step) {
        typedef uint16_t Lanes __attribute__((vector_size(16)));
        const Lanes by = {step, step, step, step, step, step, step, step};
        uint16_t* entries = table.data();
        const size_t count = table.size();
        for (size_t i = 0; i < count; i += 8) {
            Lanes v;
            memcpy(&v, entries + i, sizeof v);
            v = v > by ? v - by : 0;
            memcpy(entries + i, &v, sizeof v);
        }
    }
    uint16_t HeadEntry(uint32_t p) const { return static_cast<uint16_t>(p - base_); }
    // How far back from `p` the position of a head entry lies (0: none).
    uint32_t HeadDistance(uint32_t p, uint16_t entry) const { return entry != 0 ? p - base_ - entry : 0; }

    // Enters `p` into the tables; `base_` must already be within reach of it.
    void Insert(uint32_t p, Hashes h) {
        uint16_t older = head_[h.four];
        prev_[p & linkMask_] = older != 0 ? static_cast<uint16_t>(p - base_ - older) : NO_LINK;
        head_[h.four] = HeadEntry(p);
        head3_[h.three] = HeadEntry(p);
    }

    // Enters the positions [from, to) of a match, at most MAX_MATCH of them,
    // each with MIN_MATCH bytes of input.
    void InsertRange(uint32_t from, uint32_t to) {
        if (from >= to) return;
        if (to - 1 - base_ >= HISTORY) Rebase();
        const uint8_t* data = data_;
        for (uint32_t p = from; p < to; ++p) Insert(p, HashesAt(data + p));
    }

    static uint32_t Load32(const uint8_t* p) {
        uint32_t v;
        memcpy(&v, p, 4);
        return v;
    }
    // How many bytes from `m` on equal those from `cur`, at most `avail`;
    // reads up to 8 bytes past that.
    static uint32_t MatchLength(const uint8_t* m, const uint8_t* cur, uint32_t avail) {
        uint32_t length = 0;
        while (length < avail) {
            uint64_t a, b;
            memcpy(&a, m + length, 8);
            memcpy(&b, cur + length, 8);
            if (a != b) {
                length += static_cast<uint32_t>(__builtin_ctzll(a ^ b)) >> 3;
                break;
            }
            length += 8;
        }
        return std::min(length, avail);
    }

    // The best match for `pos_` (already inserted) of at most `avail` bytes:
    // the one that saves most against literals, among candidates longer than
    // `atLeast`. Returns its length (0: none saves anything) and its gain.
    uint32_t FindMatch(uint32_t atLeast, uint32_t avail, uint32_t* offset, int32_t* gain) {
        const uint32_t pos = pos_;
        const uint8_t* data = data_;
        const uint8_t* cur = data + pos;
        // The furthest a candidate may lie back: the method's reach, within the buffer.
        const uint32_t reach = std::min(params_.maxOffset, pos);
        int chain = tuning_.maxChain;
        if (atLeast >= static_cast<uint32_t>(tuning_.goodLength)) chain >>= 2;
        uint32_t nice = std::min<uint32_t>(static_cast<uint32_t>(tuning_.niceLength), avail);
        uint32_t longest = std::max<uint32_t>(atLeast, MIN_MATCH - 1);
        uint32_t bestLength = 0;
        int32_t bestGain = 0;
        // The nearest three-byte match, which the four-byte chains miss.
        uint32_t distance = nearest3_;
        if (distance != 0 && distance <= reach && longest < MIN_MATCH) {
            const uint8_t* m = cur - distance;
            if (m[0] == cur[0] && m[1] == cur[1] && m[2] == cur[2]) {
                uint32_t length = MIN_MATCH;
                while (length < avail && m[length] == cur[length]) ++length;
                int32_t g = Gain(length, distance);
                if (g > bestGain) {
                    bestGain = g;
                    bestLength = length;
                    *offset = distance;
                }
            }
        }
        // The four bytes that end a match one longer than `longest` (from
        // the start while that is shorter than four: then three of them): a
        // candidate that differs there cannot win.
        uint32_t tailAt = longest >= 3 ? longest - 3 : 0;
        uint32_t mask = longest >= 3 ? 0xFFFFFFFF : 0xFFFFFF;
        uint32_t tail = Load32(cur + tailAt) & mask;
        // The walk goes by candidate position, down to `lowest`.
        const uint16_t* links = prev_.data();
        const uint32_t linkMask = linkMask_;
        const int32_t lowest = static_cast<int32_t>(pos - reach);
        uint32_t first = prev_[pos & linkMask_];
        int32_t candidate = static_cast<int32_t>(pos) - static_cast<int32_t>(first == NO_LINK ? HISTORY : first);
        for (;;) {
            // The walk itself: the next candidate that agrees at the tail.
            for (;;) {
                if (candidate < lowest || chain-- <= 0) {
                    *gain = bestGain;
                    return bestLength;
                }
                if ((Load32(data + candidate + tailAt) & mask) == tail) break;
                candidate -= links[candidate & linkMask];
            }
            const uint8_t* m = data + candidate;
            distance = pos - static_cast<uint32_t>(candidate);
            if (tailAt == 0 || (m[0] == cur[0] && m[1] == cur[1])) {
                uint32_t length = MatchLength(m, cur, avail);
                if (length > longest) {
                    // Candidates come nearest first: a later one wins only by length.
                    longest = length;
                    tailAt = longest - 3;
                    mask = 0xFFFFFFFF;
                    tail = Load32(cur + tailAt);
                    int32_t g = Gain(length, distance);
                    if (g > bestGain) {
                        bestGain = g;
                        bestLength = length;
                        *offset = distance;
                    }
                    if (length >= nice) break;
                }
            }
            candidate -= links[candidate & linkMask];
        }
        *gain = bestGain;
        return bestLength;
    }
};

// Takes tokens in order and writes them as blocks. Blocks grow by segments
// of tokens; a segment either joins the open block or starts the next one,
// whichever costs fewer bits.
class BlockCoder {
public:
    BlockCoder(const MethodParameters& params, ByteSink sink) : params_(params), sink_(std::move(sink)) {
        block_.Clear();
        segment_.Clear();
        symbols_.reserve(MAX_BLOCK_TOKENS + SEGMENT_TOKENS);
        distances_.reserve(MAX_BLOCK_TOKENS + SEGMENT_TOKENS);
    }

    void Take(const TokenList& tokens) {
        if (!tokens.blockEnds.empty()) return TakeBlocks(tokens);
        for (uint32_t i = 0; i < tokens.literalCount; ++i) {
            Append(tokens.literals[i], nullptr, segment_);
            if (segment_.tokens == SEGMENT_TOKENS) CloseSegment();
        }
        const uint16_t* distance = tokens.distances.data();
        for (uint16_t symbol : tokens.symbols) {
            distance = Append(symbol, distance, segment_);
            if (segment_.tokens == SEGMENT_TOKENS) CloseSegment();
        }
    }

    // Writes the tokens as the blocks they come cut into, after what is open.
    void TakeBlocks(const TokenList& tokens) {
        CloseSegment();
        if (block_.tokens != 0) WriteBlock(block_.tokens, block_.matches);
        const uint16_t* distance = tokens.distances.data();
        uint32_t token = 0;
        for (uint32_t end : tokens.blockEnds) {
            for (; token < end; ++token) distance = Append(tokens.symbols[token], distance, block_);
            WriteBlock(block_.tokens, block_.matches);
        }
    }

    // Holds one token (its distance at `distance` if it is a match) and
    // counts it in `stats`; returns where the next distance is.
    const uint16_t* Append(uint16_t symbol, const uint16_t* distance, Statistics& stats) {
        symbols_.push_back(symbol);
        ++stats.symbols[symbol];
        ++stats.tokens;
        if (symbol < LITERAL_COUNT) return distance;
        distances_.push_back(*distance);
        ++stats.distances[DistanceCode(*distance)];
        ++stats.matches;
        return distance + 1;
    }

    // Writes what is left and pads the last byte.
    void Finish() {
        CloseSegment();
        if (block_.tokens != 0) WriteBlock(block_.tokens, block_.matches);
        bits_.Flush();
        Drain();
    }

    uint64_t written() const { return written_; }

    // After Finish: the next stream goes to `sink`, in the memory of this one.
    void Restart(ByteSink sink) {
        sink_ = std::move(sink);
        symbols_.clear();
        distances_.clear();
        block_.Clear();
        segment_.Clear();
        blockBits_ = 0;
        written_ = 0;
    }

private:
    MethodParameters params_;
    ByteSink sink_;
    // Tokens of the open block and of the segment being collected.
    std::vector<uint16_t> symbols_;
    std::vector<uint16_t> distances_;
    Statistics block_;
    Statistics segment_;
    BlockPlan plan_;
    uint64_t blockBits_ = 0;  // price of the open block alone
    BitWriter bits_;
    uint64_t written_ = 0;

    // The segment joins the open block, or the block is written and the
    // segment opens the next one.
    void CloseSegment() {
        if (segment_.tokens == 0) return;
        if (block_.tokens != 0) {
            bool split = block_.tokens + segment_.tokens > MAX_BLOCK_TOKENS;
            uint64_t joinedBits = 0;
            if (!split) {
                Statistics joined = block_;
                joined.Add(segment_);
                PlanBlock(joined.symbols, joined.distances, joined.tokens, params_, plan_);
                joinedBits = plan_.bits;
                PlanBlock(segment_.symbols, segment_.distances, segment_.tokens, params_, plan_);
                split = blockBits_ + plan_.bits < joinedBits;
            }
            if (split) {
                WriteBlock(block_.tokens, block_.matches);
                block_ = segment_;
                PlanBlock(block_.symbols, block_.distances, block_.tokens, params_, plan_);
                blockBits_ = plan_.bits;
            } else {
                block_.Add(segment_);
                blockBits_ = joinedBits;
            }
        } else {
            block_ = segment_;
            PlanBlock(block_.symbols, block_.distances, block_.tokens, params_, plan_);
            blockBits_ = plan_.bits;
        }
        segment_.Clear();
    }

    // Writes the first `tokenCount` tokens (holding `matchCount` matches)
    // as one block with the codes of `block_`.
    void WriteBlock(uint32_t tokenCount, uint32_t matchCount) {
        PlanBlock(block_.symbols, block_.distances, block_.tokens, params_, plan_);
        // A header takes under 2 KiB; a token at most 16 + 16 + 15 bits.
        bits_.Reserve(2048 + 6 * static_cast<size_t>(tokenCount));
        PutBlockHeader(bits_, plan_, tokenCount, params_);
        const bool oneSymbol = plan_.symbolSingle >= 0;
        const bool oneDistance = plan_.distanceSingle >= 0;
        size_t match = 0;
        for (uint32_t i = 0; i < tokenCount; ++i) {
            uint16_t symbol = symbols_[i];
            if (!oneSymbol) bits_.Put(plan_.symbolCodes[symbol], plan_.symbolLengths[symbol]);
            if (symbol < LITERAL_COUNT) continue;
            uint16_t d = distances_[match++];
            int code = DistanceCode(d);
            if (!oneDistance) bits_.Put(plan_.distanceCodes[code], plan_.distanceLengths[code]);
            if (code > 1) bits_.Put(d - (1u << (code - 1)), code - 1);
        }
        symbols_.erase(symbols_.begin(), symbols_.begin() + tokenCount);
        distances_.erase(distances_.begin(), distances_.begin() + matchCount);
        block_.Clear();
        Drain();
    }

    // Hands the whole bytes written so far to the sink.
    void Drain() {
        if (bits_.size() == 0) return;
        sink_(bits_.data(), bits_.size());
        written_ += bits_.size();
        bits_.Clear();
    }
};

// One chunk of input with the window before it, the tokens found in it and
// the thread that finds them.
struct Chunk {
    // The buffer and the token lists get their largest size as capacity at
    // once: pages are then touched only as they fill, and never twice by a
    // vector growing and copying (a first touch is costly on some systems).
    Chunk(const MethodParameters& params, const EncoderTuning& tuning) : matcher(params, tuning) {
        buffer.reserve(HISTORY + CHUNK_SIZE + BUFFER_SLACK);
        tokens.symbols.reserve(CHUNK_SIZE);
        tokens.distances.reserve(CHUNK_SIZE / MIN_MATCH + 1);
    }

    std::vector<uint8_t> buffer;  // window, input, BUFFER_SLACK bytes
    uint32_t history = 0;         // bytes of window
    uint32_t end = 0;             // window and input
    TokenList tokens;
    ChunkMatcher matcher;
    WorkerThread thread;  // last, so that it is joined before the rest goes

    bool Full() const { return end - history == CHUNK_SIZE; }
    uint32_t InputSize() const { return end - history; }
    // Room for `bytes` of window and input, grown as input comes so that a
    // small file does not touch a whole chunk of memory.
    void Reserve(uint32_t bytes) {
        if (buffer.size() < static_cast<size_t>(bytes) + BUFFER_SLACK) buffer.resize(bytes + BUFFER_SLACK);
    }
    void FindTokens() {
        Reserve(end);  // an empty input has no buffer yet
        memset(buffer.data() + end, 0, BUFFER_SLACK);
        matcher.Run(buffer.data(), history, end, tokens);
    }
};

}  // namespace

char MethodLetter(Method method) {
    switch (method) {
    case Method::Lh5:
        return '5';
    case Method::Lh6:
        return '6';
    case Method::Lh7:
        return '7';
    default:
        return '0';
    }
}

bool ParseMethod(const std::string& text, Method* method) {
    std::string t = text;
    if (t.size() == 5 && t.front() == '-' && t.back() == '-') t = t.substr(1, 3);
    if (t == "lh0") *method = Method::Lh0;
    else if (t == "lh5") *method = Method::Lh5;
    else if (t == "lh6") *method = Method::Lh6;
    else if (t == "lh7") *method = Method::Lh7;
    else return false;
    return true;
}

EncoderTuning DefaultTuning(Method method) {
    switch (method) {
    case Method::Lh7:
        return EncoderTuning{48, 32, 128, 64};
    case Method::Lh6:
        return EncoderTuning{40, 32, 128, 64};
    default:
        return EncoderTuning{32, 32, 128, 64};
    }
}
EncoderTuning FastTuning() { return EncoderTuning{8, 8, 32, 16}; }
EncoderTuning BestTuning() { return EncoderTuning{1024, 256, MAX_MATCH, 256, 0, BEST_PASSES}; }

int ThreadCount(const EncoderTuning& tuning) {
    return tuning.threads > 0 ? tuning.threads : std::min(ProcessorCount(), MAX_THREADS);
}

// Chunks go from `filling` to `running` (their tokens being found, on a
// thread of their own when there are several) to the block coder, in order,
// and wait in `spare` for the next input.
struct Encoder::State {
    State(Method method, ByteSink sink, const EncoderTuning& tuning)
        : params(ParametersOf(method)), coder(params, std::move(sink)) {
        this->tuning = tuning;
        this->tuning.maxChain = std::max(1, tuning.maxChain);
        this->tuning.niceLength = std::min(std::max(MIN_MATCH, tuning.niceLength), MAX_MATCH);
        threads = searchEnded.Works() ? ThreadCount(tuning) : 1;
        window = params.maxOffset + 1;
        filling = NewChunk();
    }

    MethodParameters params;
    EncoderTuning tuning;
    int threads = 1;      // chunks searched at once
    uint32_t window = 0;  // input before a chunk that its matches may reach
    BlockCoder coder;
    // Posted by a chunk's thread when its search ends; before the chunks,
    // so that it outlives their threads.
    Semaphore searchEnded;
    int searching = 0;  // chunks started on a thread whose end is not taken yet
    std::unique_ptr<Chunk> filling;                // taking input
    std::deque<std::unique_ptr<Chunk>> running;    // oldest first
    std::vector<std::unique_ptr<Chunk>> spare;
    uint64_t held = 0;  // input taken whose tokens the coder has not had yet

    std::unique_ptr<Chunk> NewChunk() {
        if (spare.empty()) return std::unique_ptr<Chunk>(new Chunk(params, tuning));
        std::unique_ptr<Chunk> chunk = std::move(spare.back());
        spare.pop_back();
        chunk->history = chunk->end = 0;
        return chunk;
    }

    // Sends the full chunk off and opens the next with its window. The next
    // is taken after the full one starts, so that it can be one the start
    // has just coded: `threads` + 1 chunks are all the memory in use. The
    // full one's buffer stays as it is until it is taken again, so the
    // window is copied from it, even when it is the next one itself.
    void Dispatch() {
        Chunk* full = filling.get();
        const uint32_t fullEnd = full->end;
        Start(std::move(filling));
        filling = NewChunk();
        filling->Reserve(window);
        memmove(filling->buffer.data(), full->buffer.data() + fullEnd - window, window);
        filling->history = filling->end = window;
    }

    void Start(std::unique_ptr<Chunk> chunk) {
        if (threads <= 1) {
            chunk->FindTokens();
            Code(std::move(chunk));
            return;
        }
        // Waits for the end of any search, not just the oldest one's, and
        // starts the chunk on the searcher that is free before the oldest
        // chunks are coded.
        while (searching >= threads) {
            searchEnded.Wait();
            --searching;
        }
        Chunk* c = chunk.get();
        auto job = [this, c] {
            c->FindTokens();
            searchEnded.Post();
        };
        if (c->thread.Start(job)) {
            ++searching;
        } else {
            c->FindTokens();
        }
        running.push_back(std::move(chunk));
        // The oldest are coded, waited for if need be, until `threads` chunks
        // are left: which input is coded when does not depend on timing, so
        // neither does what the archive writer sees of the output so far.
        while (running.size() > static_cast<size_t>(threads)) CodeOldest();
    }

    // Codes every chunk still held, and takes the ends of their searches.
    void CodeAll() {
        while (!running.empty()) CodeOldest();
        for (; searching > 0; --searching) searchEnded.Wait();
    }

    void CodeOldest() {
        std::unique_ptr<Chunk> chunk = std::move(running.front());
        running.pop_front();
        chunk->thread.Join();
        Code(std::move(chunk));
    }

    void Code(std::unique_ptr<Chunk> chunk) {
        coder.Take(chunk->tokens);
        held -= chunk->InputSize();
        spare.push_back(std::move(chunk));
    }
};

Encoder::Encoder(Method method, ByteSink sink, const EncoderTuning& tuning)
    : state_(new State(method, std::move(sink), tuning)) {}

Encoder::~Encoder() = default;

void Encoder::Write(const uint8_t* data, size_t size) {
    State& s = *state_;
    while (size > 0) {
        if (s.filling->Full()) s.Dispatch();
        Chunk& c = *s.filling;
        uint32_t take = static_cast<uint32_t>(std::min<size_t>(size, CHUNK_SIZE - c.InputSize()));
        c.Reserve(c.end + take);
        memcpy(c.buffer.data() + c.end, data, take);
        c.end += take;
        s.held += take;
        data += take;
        size -= take;
    }
}

void Encoder::Finish() {
    State& s = *state_;
    if (s.running.empty()) {
        s.filling->FindTokens();
        s.Code(std::move(s.filling));
    } else {
        // The last chunk is searched on a thread too, so that the chunks
        // before it are coded while it is.
        s.Start(std::move(s.filling));
        s.CodeAll();
    }
    s.coder.Finish();
}

void Encoder::Restart(ByteSink sink) {
    State& s = *state_;
    s.coder.Restart(std::move(sink));
    s.held = 0;
    if (!s.filling) s.filling = s.NewChunk();
}

uint64_t Encoder::compressedSize() const { return state_->coder.written(); }

uint64_t Encoder::inputHeld() const { return state_->held; }

std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size) {
    return Compress(method, data, size, DefaultTuning(method));
}

std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size, const EncoderTuning& tuning) {
    std::vector<uint8_t> result;
    Encoder encoder(
        method, [&result](const uint8_t* bytes, size_t n) { result.insert(result.end(), bytes, bytes + n); },
        tuning);
    encoder.Write(data, size);
    encoder.Finish();
    return result;
}

}  // namespace lzh
