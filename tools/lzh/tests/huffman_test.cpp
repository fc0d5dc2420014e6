#include "lzh/huffman.h"

#include <gtest/gtest.h>

#include <functional>
#include <queue>
#include <random>
#include <vector>

namespace {

// Kraft sum of the used lengths in units of 2^-16: a complete code sums to 65536.
uint32_t KraftSum(const std::vector<uint8_t>& lengths) {
    uint32_t sum = 0;
    for (uint8_t l : lengths) {
        if (l != 0) sum += 1u << (16 - l);
    }
    return sum;
}

struct LengthCase {
    const char* label;
    std::vector<uint32_t> freq;
    std::vector<uint8_t> expected;  // empty: only completeness and the limit are checked
};

class CodeLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(CodeLengths, AreCompleteAndWithinLimit) {
    const LengthCase& c = GetParam();
    std::vector<uint8_t> lengths(c.freq.size(), 0xEE);
    int used = lzh::BuildCodeLengths(c.freq.data(), static_cast<int>(c.freq.size()), 16, lengths.data());
    int occurring = 0;
    for (size_t s = 0; s < c.freq.size(); ++s) {
        if (c.freq[s] == 0) {
            EXPECT_EQ(lengths[s], 0) << "symbol " << s;
        }
        occurring += c.freq[s] != 0;
    }
    EXPECT_EQ(used, occurring);
    for (uint8_t l : lengths) {
        EXPECT_LE(l, 16);
    }
    if (occurring >= 2) {
        EXPECT_EQ(KraftSum(lengths), 65536u);
    }
    if (!c.expected.empty()) {
        EXPECT_EQ(lengths, c.expected);
    }
}

std::vector<uint32_t> Fibonacci(int n) {
    std::vector<uint32_t> f{1, 1};
    while (static_cast<int>(f.size()) < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Sets, CodeLengths,
    ::testing::Values(LengthCase{"skewed", {1, 1, 2, 4}, {3, 3, 2, 1}},
                      LengthCase{"two", {5, 0, 9}, {1, 0, 1}},
                      LengthCase{"equal", {7, 7, 7, 7}, {2, 2, 2, 2}},
                      LengthCase{"one symbol: single form, no length", {0, 0, 42, 0}, {0, 0, 0, 0}},
                      LengthCase{"none", {0, 0, 0}, {0, 0, 0}},
                      // Unlimited, these would need codes of up to 29 bits.
                      LengthCase{"fibonacci 30", Fibonacci(30), {}},
                      LengthCase{"fibonacci 40 among 510", [] {
                                     std::vector<uint32_t> f(510, 0);
                                     std::vector<uint32_t> fib = Fibonacci(40);
                                     for (int i = 0; i < 40; ++i) f[i * 12] = fib[i];
                                     return f;
                                 }(), {}}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::to_string(info.index); });

// Without the length limit in play, the code costs as few bits as any
// Huffman code: weights of one, two and three bytes, with ties.
TEST(CodeLengths, CostTheLeastBits) {
    for (uint32_t spread : {200u, 60000u, 1u << 18}) {
        std::mt19937 rng(spread);
        std::vector<uint32_t> freq(510, 0);
        for (size_t s = 0; s < freq.size(); s += 1 + rng() % 3) freq[s] = (spread >> 2) + rng() % (spread - (spread >> 2));
        for (size_t s = 7; s < freq.size(); s += 50) freq[s] = freq[3];
        std::vector<uint8_t> lengths(freq.size());
        lzh::BuildCodeLengths(freq.data(), static_cast<int>(freq.size()), 16, lengths.data());
        uint64_t bits = 0;
        std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> heap;
        for (size_t s = 0; s < freq.size(); ++s) {
            bits += uint64_t{freq[s]} * lengths[s];
            if (freq[s] != 0) heap.push(freq[s]);
        }
        uint64_t least = 0;  // every merge adds its weight once per level
        while (heap.size() > 1) {
            uint64_t a = heap.top();
            heap.pop();
            uint64_t b = heap.top();
            heap.pop();
            least += a + b;
            heap.push(a + b);
        }
        EXPECT_EQ(bits, least) << spread;
    }
}

TEST(CanonicalCodes, FollowTheDecodersOrder) {
    // Shorter codes first, one length's codes consecutive in symbol order.
    const uint8_t lengths[] = {2, 1, 3, 3, 0};
    uint16_t codes[5];
    lzh::BuildCanonicalCodes(lengths, 5, codes);
    EXPECT_EQ(codes[0], 0b10);
    EXPECT_EQ(codes[1], 0b0);
    EXPECT_EQ(codes[2], 0b110);
    EXPECT_EQ(codes[3], 0b111);
}

}  // namespace
