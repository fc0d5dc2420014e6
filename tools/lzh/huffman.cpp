#include "lzh/huffman.h"

#include <algorithm>
#include <vector>

namespace lzh {

namespace {

// One Huffman build over the used symbols; returns the deepest length.
int HuffmanDepths(const std::vector<uint32_t>& weights, const std::vector<int>& symbols, uint8_t* lengths) {
    // Leaves sorted by weight, then the two-queue merge: internal nodes are
    // made in non-decreasing weight order, so a second queue stays sorted.
    size_t n = symbols.size();
    std::vector<int> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return weights[a] < weights[b]; });
    std::vector<uint64_t> nodeWeight(2 * n);
    std::vector<int> parent(2 * n, -1);
    for (size_t i = 0; i < n; ++i) nodeWeight[i] = weights[order[i]];
    size_t leaf = 0, inner = n, made = n;
    auto takeLightest = [&]() {
        if (leaf < n && (inner >= made || nodeWeight[leaf] <= nodeWeight[inner])) return leaf++;
        return inner++;
    };
    while (made < 2 * n - 1) {
        size_t a = takeLightest();
        size_t b = takeLightest();
        nodeWeight[made] = nodeWeight[a] + nodeWeight[b];
        parent[a] = parent[b] = static_cast<int>(made);
        ++made;
    }
    // Depths top-down: every parent has a higher index than its children.
    std::vector<uint8_t> depth(2 * n, 0);
    int deepest = 0;
    for (size_t i = made - 1; i-- > 0;) {
        depth[i] = static_cast<uint8_t>(std::min(255, depth[parent[i]] + 1));
        if (i < n) deepest = std::max<int>(deepest, depth[i]);
    }
    for (size_t i = 0; i < n; ++i) lengths[symbols[order[i]]] = depth[i];
    return deepest;
}

}  // namespace

int BuildCodeLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths) {
    std::vector<int> symbols;
    std::vector<uint32_t> weights;
    for (int s = 0; s < count; ++s) {
        lengths[s] = 0;
        if (freq[s] != 0) {
            symbols.push_back(s);
            weights.push_back(freq[s]);
        }
    }
    if (symbols.size() < 2) return static_cast<int>(symbols.size());
    // Too deep a tree: flatten the weights and build again. Halving keeps
    // every weight at least 1 and converges to equal weights, whose tree
    // depth is the bit length of the symbol count (at most 9 here).
    while (HuffmanDepths(weights, symbols, lengths) > maxLength) {
        for (uint32_t& w : weights) w = (w >> 1) | 1;
    }
    return static_cast<int>(symbols.size());
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
