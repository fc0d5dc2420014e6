#include "lzh/huffman.h"

#include <assert.h>

#include <algorithm>

namespace lzh {

namespace {

// The most symbols a code may have (the symbol code has 510).
constexpr int MAX_SYMBOLS = 512;

// Sorts keys of a weight (high half) and an index below MAX_SYMBOLS (low
// half): by radix, a byte of the weight at a time after the index, as many
// bytes as the heaviest weight has. Codes are built for every block and
// every block the coder weighs, so this runs often.
void SortKeys(uint64_t* keys, int n, uint32_t heaviest) {
    uint64_t spare[MAX_SYMBOLS];
    uint64_t* from = keys;
    uint64_t* to = spare;
    auto pass = [&](int shift, int buckets) {
        uint32_t start[MAX_SYMBOLS] = {};
        for (int i = 0; i < n; ++i) ++start[(from[i] >> shift) & (buckets - 1)];
        uint32_t sum = 0;
        for (int b = 0; b < buckets; ++b) {
            uint32_t count = start[b];
            start[b] = sum;
            sum += count;
        }
        for (int i = 0; i < n; ++i) to[start[(from[i] >> shift) & (buckets - 1)]++] = from[i];
        std::swap(from, to);
    };
    static_assert(MAX_SYMBOLS == 512, "the index takes one pass of 512 buckets");
    pass(0, MAX_SYMBOLS);
    for (int shift = 32; shift < 64 && (heaviest >> (shift - 32)) != 0; shift += 8) pass(shift, 256);
    if (from != keys) std::copy(from, from + n, keys);
}

// One Huffman build over the used symbols; returns the deepest length.
int HuffmanDepths(const uint32_t* weights, const int* symbols, int n, uint8_t* lengths) {
    // Leaves sorted by weight (ties in symbol order), then the two-queue
    // merge: internal nodes are made in non-decreasing weight order, so a
    // second queue stays sorted.
    uint64_t keys[MAX_SYMBOLS];
    uint32_t heaviest = 0;
    for (int i = 0; i < n; ++i) {
        keys[i] = (static_cast<uint64_t>(weights[i]) << 32) | static_cast<uint32_t>(i);
        heaviest = std::max(heaviest, weights[i]);
    }
    SortKeys(keys, n, heaviest);
    uint64_t nodeWeight[2 * MAX_SYMBOLS];
    int parent[2 * MAX_SYMBOLS];
    for (int i = 0; i < n; ++i) nodeWeight[i] = keys[i] >> 32;
    int leaf = 0, inner = n, made = n;
    auto takeLightest = [&]() {
        if (leaf < n && (inner >= made || nodeWeight[leaf] <= nodeWeight[inner])) return leaf++;
        return inner++;
    };
    while (made < 2 * n - 1) {
        int a = takeLightest();
        int b = takeLightest();
        nodeWeight[made] = nodeWeight[a] + nodeWeight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    // Depths top-down: every parent has a higher index than its children.
    uint8_t depth[2 * MAX_SYMBOLS];
    depth[made - 1] = 0;
    int deepest = 0;
    for (int i = made - 1; i-- > 0;) {
        depth[i] = static_cast<uint8_t>(std::min(255, depth[parent[i]] + 1));
        if (i < n) deepest = std::max<int>(deepest, depth[i]);
    }
    for (int i = 0; i < n; ++i) lengths[symbols[static_cast<uint32_t>(keys[i])]] = depth[i];
    return deepest;
}

}  // namespace

int BuildCodeLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths) {
    assert(count <= MAX_SYMBOLS);
    int symbols[MAX_SYMBOLS];
    uint32_t weights[MAX_SYMBOLS];
    int n = 0;
    for (int s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (freq[s] != 0) {
            symbols[n] = s;
            weights[n++] = freq[s];
        }
    }
    if (n < 2) return n;
    // Too deep a tree: flatten the weights and build again. Halving keeps
    // every weight at least 1 and converges to equal weights, whose tree
    // depth is the bit length of the symbol count (at most 9 here).
    while (HuffmanDepths(weights, symbols, n, lengths) > maxLength) {
        for (int i = 0; i < n; ++i) weights[i] = (weights[i] >> 1) | 1;
    }
    return n;
}

void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    uint32_t lengthCount[MAX_CODE_LENGTH + 1] = {};
    for (int s = 0; s < count; ++s) ++lengthCount[lengths[s]];
    lengthCount[0] = 0;
    uint32_t next[MAX_CODE_LENGTH + 2] = {};
    uint32_t code = 0;
    for (int length = 1; length <= MAX_CODE_LENGTH; ++length) {
        code = (code + lengthCount[length - 1]) << 1;
        next[length] = code;
    }
    for (int s = 0; s < count; ++s) {
        codes[s] = lengths[s] != 0 ? static_cast<uint16_t>(next[lengths[s]]++) : 0;
    }
}

}  // namespace lzh
