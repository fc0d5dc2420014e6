#include "lzh/encoder.h"

#include <string.h>

#include <algorithm>

#include "lzh/huffman.h"

namespace lzh {

namespace {

// Format constants, the same the decoder reads with.
constexpr int SYMBOL_COUNT = 510;      // 0..255 bytes, 256..509 match lengths 3..256
constexpr int LENGTH_CODE_COUNT = 19;  // the code of the symbol code's lengths
constexpr int MIN_MATCH = 3;
constexpr int MAX_MATCH = 256;
constexpr int MAX_DISTANCE_CODES = 17;

// Match finder storage: 64 KiB of history for every method (the method
// limits how far a match may reach), in a buffer of four times that size
// that slides by whole multiples of the history.
constexpr uint32_t HISTORY = 65536;
constexpr uint32_t HISTORY_MASK = HISTORY - 1;
constexpr uint32_t BUFFER_SIZE = 4 * HISTORY;
constexpr uint32_t BUFFER_SLACK = MAX_MATCH + 8;  // compares read up to 8 bytes past the input
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
constexpr uint32_t MAX_BLOCK_TOKENS = 65535;
static_assert(MAX_BLOCK_TOKENS / SEGMENT_TOKENS * SEGMENT_TOKENS <= MAX_BLOCK_TOKENS, "segments fit a block");

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
EncoderTuning BestTuning() { return EncoderTuning{1024, 256, 256, 256}; }

struct Encoder::State {
    MethodParameters params;
    ByteSink sink;
    EncoderTuning tuning;

    std::vector<uint8_t> buffer;  // BUFFER_SIZE of input and BUFFER_SLACK of zeros
    uint32_t end = 0;             // bytes of input in the buffer
    uint32_t pos = 0;             // next byte to code
    std::vector<uint16_t> head;   // newest position of each four-byte hash, from `base`
    std::vector<uint16_t> head3;  // newest position of each three-byte hash, from `base`
    std::vector<uint16_t> prev;   // distance to the position before, by position modulo HISTORY
    uint32_t base = UINT32_MAX;   // buffer position of head entry 1, minus 1 (modulo 2^32)
    uint32_t rebaseStep = 0;      // how far `base` moves at a time

    // The lazy step: the byte before `pos` waits, with the match found there.
    bool pending = false;
    uint32_t pendingLength = 0;
    uint32_t pendingOffset = 0;
    int32_t pendingGain = 0;
    uint32_t nearest3 = 0;  // distance to the three-byte candidate of `pos`, read before inserting it

    // Tokens of the open block and the segment being collected: the symbol
    // of each token, and the distance (offset - 1) of each match.
    std::vector<uint16_t> symbols;
    std::vector<uint16_t> distances;
    Statistics block;
    Statistics segment;
    BlockPlan plan;
    uint64_t blockBits = 0;  // price of the open block alone

    BitWriter bits;
    uint64_t written = 0;

    // What a token is likely to cost, in sixteenths of a bit, from the codes
    // of the block written last: the match finder weighs length against
    // distance with them, and takes a match only where it beats literals.
    int32_t literalPrice = 0;                      // average literal
    int32_t lengthPrice[MAX_MATCH + 1] = {};       // match length symbol
    int32_t distancePrice[MAX_DISTANCE_CODES] = {};  // distance code and its extra bits

    void SetDefaultPrices() {
        literalPrice = 6 * 16;
        for (int length = MIN_MATCH; length <= MAX_MATCH; ++length) {
            lengthPrice[length] = (7 + std::min(length - MIN_MATCH, 12) / 2) * 16;
        }
        for (int c = 0; c < MAX_DISTANCE_CODES; ++c) distancePrice[c] = (4 + (c > 1 ? c - 1 : 0)) * 16;
    }

    // Prices from the codes of the block just written. Symbols the block did
    // not use get a little more than its longest code.
    void SetPrices(const Statistics& stats) {
        int longest = 0;
        for (int sym = 0; sym < SYMBOL_COUNT; ++sym) longest = std::max<int>(longest, plan.symbolLengths[sym]);
        auto symbolBits = [&](int sym) -> int32_t {
            if (plan.symbolSingle >= 0) return sym == plan.symbolSingle ? 1 : 12;
            return plan.symbolLengths[sym] != 0 ? plan.symbolLengths[sym] : longest + 2;
        };
        uint64_t literalBits = 0, literals = 0;
        for (int b = 0; b < 256; ++b) {
            literalBits += static_cast<uint64_t>(stats.symbols[b]) * symbolBits(b);
            literals += stats.symbols[b];
        }
        literalPrice = literals != 0 ? static_cast<int32_t>(literalBits * 16 / literals) : 8 * 16;
        for (int length = MIN_MATCH; length <= MAX_MATCH; ++length) lengthPrice[length] = symbolBits(length + 253) * 16;
        int longestDistance = 0;
        for (int c = 0; c < params.distanceCodes; ++c) longestDistance = std::max<int>(longestDistance, plan.distanceLengths[c]);
        for (int c = 0; c < MAX_DISTANCE_CODES; ++c) {
            int bits = plan.distanceSingle >= 0 ? (c == plan.distanceSingle ? 0 : 6)
                       : plan.distanceLengths[c] != 0 ? plan.distanceLengths[c] : longestDistance + 2;
            distancePrice[c] = (bits + (c > 1 ? c - 1 : 0)) * 16;
        }
    }

    // Bits saved by a match against sending its bytes as literals.
    int32_t Gain(uint32_t length, uint32_t offset) const {
        return static_cast<int32_t>(length) * literalPrice - lengthPrice[length] -
               distancePrice[DistanceCode(offset - 1)];
    }

    // The hashes of the four and of the three bytes at `p`, from one load.
    // Past the input the buffer holds zeros, so a hash may read up to one
    // byte beyond it; every candidate is compared before use.
    struct Hashes {
        uint32_t four, three;
    };
    static Hashes HashesAt(const uint8_t* p) {
        uint32_t v;
        memcpy(&v, p, 4);
        return {(v * 2654435761u) >> (32 - HASH_BITS), ((v << 8) * 2246822519u) >> (32 - HASH3_BITS)};
    }

    // Head entries count from `base`; positions reach at most HISTORY - 1
    // past it. Moving it on forgets the entries it passes.
    void Rebase() {
        base += rebaseStep;
        LowerEntries(head, static_cast<uint16_t>(rebaseStep));
        LowerEntries(head3, static_cast<uint16_t>(rebaseStep));
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
    uint16_t HeadEntry(uint32_t p) const { return static_cast<uint16_t>(p - base); }
    // How far back from `p` the position of a head entry lies (0: none).
    uint32_t HeadDistance(uint32_t p, uint16_t entry) const { return entry != 0 ? p - base - entry : 0; }

    // Enters `p` into the tables; `base` must already be within reach of it.
    void Insert(uint32_t p, Hashes h) {
        uint16_t older = head[h.four];
        prev[p & HISTORY_MASK] = older != 0 ? static_cast<uint16_t>(p - base - older) : NO_LINK;
        head[h.four] = HeadEntry(p);
        head3[h.three] = HeadEntry(p);
    }

    // Enters the positions [from, to) of a match, at most MAX_MATCH of them,
    // each with MIN_MATCH bytes of input.
    void InsertRange(uint32_t from, uint32_t to) {
        if (from >= to) return;
        if (to - 1 - base >= HISTORY) Rebase();
        const uint8_t* data = buffer.data();
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

    // The best match for `pos` (already inserted) of at most `avail` bytes:
    // the one that saves most against literals, among candidates longer than
    // `atLeast`. Returns its length (0: none saves anything) and its gain.
    uint32_t FindMatch(uint32_t atLeast, uint32_t avail, uint32_t* offset, int32_t* gain) {
        const uint8_t* cur = &buffer[pos];
        // The furthest a candidate may lie back: the method's reach, within the buffer.
        const uint32_t reach = std::min(params.maxOffset, pos);
        int chain = tuning.maxChain;
        if (atLeast >= static_cast<uint32_t>(tuning.goodLength)) chain >>= 2;
        uint32_t nice = std::min<uint32_t>(static_cast<uint32_t>(tuning.niceLength), avail);
        uint32_t longest = std::max<uint32_t>(atLeast, MIN_MATCH - 1);
        uint32_t bestLength = 0;
        int32_t bestGain = 0;
        // The nearest three-byte match, which the four-byte chains miss.
        uint32_t distance = nearest3;
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
        const uint16_t* links = prev.data();
        const uint8_t* data = buffer.data();
        const int32_t lowest = static_cast<int32_t>(pos - reach);
        uint32_t first = prev[pos & HISTORY_MASK];
        int32_t candidate = static_cast<int32_t>(pos) - static_cast<int32_t>(first == NO_LINK ? HISTORY : first);
        for (;;) {
            // The walk itself: the next candidate that agrees at the tail.
            for (;;) {
                if (candidate < lowest || chain-- <= 0) {
                    *gain = bestGain;
                    return bestLength;
                }
                if ((Load32(data + candidate + tailAt) & mask) == tail) break;
                candidate -= links[candidate & HISTORY_MASK];
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
            candidate -= links[candidate & HISTORY_MASK];
        }
        *gain = bestGain;
        return bestLength;
    }

    void AddLiteral(uint8_t byte) {
        symbols.push_back(byte);
        ++segment.symbols[byte];
        ++segment.tokens;
        if (segment.tokens == SEGMENT_TOKENS) CloseSegment();
    }

    void AddMatch(uint32_t length, uint32_t offset) {
        uint16_t symbol = static_cast<uint16_t>(length + 253);
        uint16_t d = static_cast<uint16_t>(offset - 1);
        symbols.push_back(symbol);
        distances.push_back(d);
        ++segment.symbols[symbol];
        ++segment.distances[DistanceCode(d)];
        ++segment.tokens;
        ++segment.matches;
        if (segment.tokens == SEGMENT_TOKENS) CloseSegment();
    }

    // The segment joins the open block, or the block is written and the
    // segment opens the next one.
    void CloseSegment() {
        if (segment.tokens == 0) return;
        if (block.tokens != 0) {
            bool split = block.tokens + segment.tokens > MAX_BLOCK_TOKENS;
            uint64_t joinedBits = 0;
            if (!split) {
                Statistics joined = block;
                joined.Add(segment);
                PlanBlock(joined.symbols, joined.distances, joined.tokens, params, plan);
                joinedBits = plan.bits;
                PlanBlock(segment.symbols, segment.distances, segment.tokens, params, plan);
                split = blockBits + plan.bits < joinedBits;
            }
            if (split) {
                WriteBlock(block.tokens, block.matches);
                block = segment;
                PlanBlock(block.symbols, block.distances, block.tokens, params, plan);
                blockBits = plan.bits;
            } else {
                block.Add(segment);
                blockBits = joinedBits;
            }
        } else {
            block = segment;
            PlanBlock(block.symbols, block.distances, block.tokens, params, plan);
            blockBits = plan.bits;
        }
        segment.Clear();
    }

    // Writes the first `tokenCount` tokens (holding `matchCount` matches)
    // as one block with the codes of `block`.
    void WriteBlock(uint32_t tokenCount, uint32_t matchCount) {
        PlanBlock(block.symbols, block.distances, block.tokens, params, plan);
        // A header takes under 2 KiB; a token at most 16 + 16 + 15 bits.
        bits.Reserve(2048 + 6 * static_cast<size_t>(tokenCount));
        PutBlockHeader(bits, plan, tokenCount, params);
        SetPrices(block);
        const bool oneSymbol = plan.symbolSingle >= 0;
        const bool oneDistance = plan.distanceSingle >= 0;
        size_t match = 0;
        for (uint32_t i = 0; i < tokenCount; ++i) {
            uint16_t symbol = symbols[i];
            if (!oneSymbol) bits.Put(plan.symbolCodes[symbol], plan.symbolLengths[symbol]);
            if (symbol < 256) continue;
            uint16_t d = distances[match++];
            int code = DistanceCode(d);
            if (!oneDistance) bits.Put(plan.distanceCodes[code], plan.distanceLengths[code]);
            if (code > 1) bits.Put(d - (1u << (code - 1)), code - 1);
        }
        symbols.erase(symbols.begin(), symbols.begin() + tokenCount);
        distances.erase(distances.begin(), distances.begin() + matchCount);
        block.Clear();
        Drain();
    }

    // Hands the whole bytes written so far to the sink.
    void Drain() {
        if (bits.size() == 0) return;
        sink(bits.data(), bits.size());
        written += bits.size();
        bits.Clear();
    }

    // Codes input up to `limit` (exclusive); the lazy step may leave the
    // byte before `pos` pending.
    void Process(bool finishing) {
        uint32_t limit = finishing ? end : (end > MAX_MATCH ? end - MAX_MATCH : 0);
        while (pos < limit) {
            uint32_t avail = std::min<uint32_t>(end - pos, MAX_MATCH);
            uint32_t length = 0, offset = 0;
            int32_t gain = 0;
            if (avail >= MIN_MATCH) {
                if (pos - base >= HISTORY) Rebase();
                Hashes h = HashesAt(&buffer[pos]);
                nearest3 = HeadDistance(pos, head3[h.three]);
                Insert(pos, h);
                if (!pending || pendingLength < static_cast<uint32_t>(tuning.lazyLength)) {
                    length = FindMatch(pending ? pendingLength : 0, avail, &offset, &gain);
                }
            }
            // The match waiting at pos - 1 against a literal there and the
            // match found here.
            if (pending && pendingLength >= MIN_MATCH && gain <= pendingGain) {
                AddMatch(pendingLength, pendingOffset);
                uint32_t stop = pos - 1 + pendingLength;
                InsertRange(pos + 1, std::min(stop, end - (MIN_MATCH - 1)));
                pos = stop;
                pending = false;
                pendingLength = 0;
            } else {
                if (pending) AddLiteral(buffer[pos - 1]);
                pending = true;
                pendingLength = length;
                pendingOffset = offset;
                pendingGain = gain;
                ++pos;
            }
        }
        if (finishing && pending) {
            // Only a literal can wait at the very end: a match there would
            // have reached past the input.
            AddLiteral(buffer[pos - 1]);
            pending = false;
        }
    }

    // Drops whole multiples of HISTORY from the front of the buffer, keeping
    // the history of `pos` and the pending byte.
    void Slide() {
        uint32_t keepFrom = pos > HISTORY + 1 ? pos - HISTORY - 1 : 0;
        uint32_t delta = keepFrom & ~HISTORY_MASK;
        if (delta == 0) return;
        memmove(buffer.data(), buffer.data() + delta, end - delta);
        end -= delta;
        pos -= delta;
        base -= delta;
    }
};

Encoder::Encoder(Method method, ByteSink sink, const EncoderTuning& tuning) : state_(new State) {
    State& s = *state_;
    s.params = ParametersOf(method);
    s.sink = std::move(sink);
    s.tuning = tuning;
    s.tuning.maxChain = std::max(1, s.tuning.maxChain);
    s.tuning.niceLength = std::min(std::max(MIN_MATCH, s.tuning.niceLength), MAX_MATCH);
    s.buffer.assign(BUFFER_SIZE + BUFFER_SLACK, 0);
    s.head.assign(size_t{1} << HASH_BITS, 0);
    s.head3.assign(size_t{1} << HASH3_BITS, 0);
    s.prev.assign(HISTORY, NO_LINK);
    // Short reaches let head entries age further before they are forgotten.
    s.rebaseStep = s.params.maxOffset + 1 < HISTORY ? (HISTORY - 1 - s.params.maxOffset) & ~4095u : 8192;
    s.block.Clear();
    s.segment.Clear();
    s.SetDefaultPrices();
    s.symbols.reserve(MAX_BLOCK_TOKENS + SEGMENT_TOKENS);
    s.distances.reserve(MAX_BLOCK_TOKENS + SEGMENT_TOKENS);
}

Encoder::~Encoder() = default;

void Encoder::Write(const uint8_t* data, size_t size) {
    State& s = *state_;
    while (size > 0) {
        if (s.end == BUFFER_SIZE) s.Slide();
        uint32_t take = static_cast<uint32_t>(std::min<size_t>(size, BUFFER_SIZE - s.end));
        memcpy(s.buffer.data() + s.end, data, take);
        s.end += take;
        // Hashes and comparisons may read this far past the input: zeros, so
        // that the output does not depend on how the input was cut.
        memset(s.buffer.data() + s.end, 0, BUFFER_SLACK);
        data += take;
        size -= take;
        s.Process(false);
    }
}

void Encoder::Finish() {
    State& s = *state_;
    s.Process(true);
    s.CloseSegment();
    if (s.block.tokens != 0) s.WriteBlock(s.block.tokens, s.block.matches);
    s.bits.Flush();
    s.Drain();
}

uint64_t Encoder::compressedSize() const { return state_->written; }

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
