// Inputs for the compressor's tests, made from a seed so every run sees
// the same bytes.
#pragma once

#include <stdint.h>

#include <random>
#include <string>

namespace lzh_test {

// Bytes drawn from the first `alphabet` byte values.
inline std::string RandomBytes(size_t size, uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng() % alphabet);
    return s;
}

// A random block repeated: every match lies exactly `period` bytes back.
inline std::string Periodic(size_t period, size_t size, uint32_t seed) {
    std::string unit = RandomBytes(period, seed);
    std::string s;
    while (s.size() < size) s += unit;
    s.resize(size);
    return s;
}

// Text-like input: words from a small vocabulary, so matches of every
// length and distance occur.
inline std::string Words(size_t size, uint32_t seed) {
    static const char* words[] = {"valkrin ", "archive ", "window ", "block ", "huffman ", "the ", "of ",
                                  "install\n", "extract ", "folder ", "\t", "0123456789 ", "stub "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) s += words[rng() % 13];
    s.resize(size);
    return s;
}

}  // namespace lzh_test
