// Test-side writers of the archive's formats, independent of the product
// code: a bit writer (most significant bit first), a block encoder for the
// -lh4- to -lh7- format that sends codes built from the symbols it is given;
// with them the level-2 header builder and the plain bitwise CRC-16/ARC.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <functional>
#include <map>
#include <queue>
#include <string>
#include <vector>

#include "support/lzh_header.h"
#include "support/reference_crc.h"

namespace lzh {

using support::ReferenceCrc16;

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1);
    }
    void PutBit(uint32_t bit) {
        acc_ = static_cast<uint8_t>((acc_ << 1) | bit);
        if (++used_ == 8) {
            out_ += static_cast<char>(acc_);
            acc_ = 0;
            used_ = 0;
        }
    }
    // The bytes so far, the last one padded with zero bits.
    std::string Finish() const {
        std::string out = out_;
        if (used_ != 0) out += static_cast<char>(acc_ << (8 - used_));
        return out;
    }

private:
    std::string out_;
    uint8_t acc_ = 0;
    int used_ = 0;
};

// Canonical codes of a length list: codes of one length are consecutive in
// symbol order, shorter lengths first.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == length) codes[s] = code++;
        }
        code <<= 1;
    }
    return codes;
}

// Huffman code lengths for the given symbol frequencies (0: unused), at most
// 16 bits; falls back to equal lengths when the tree would be deeper.
inline std::vector<int> CodeLengths(const std::vector<uint64_t>& freq) {
    std::vector<int> lengths(freq.size(), 0);
    using Node = std::pair<uint64_t, std::vector<size_t>>;
    auto later = [](const Node& a, const Node& b) { return a.first > b.first; };
    std::priority_queue<Node, std::vector<Node>, decltype(later)> queue(later);
    for (size_t s = 0; s < freq.size(); ++s) {
        if (freq[s] != 0) queue.push(Node{freq[s], {s}});
    }
    if (queue.size() < 2) return lengths;
    while (queue.size() > 1) {
        Node a = queue.top();
        queue.pop();
        Node b = queue.top();
        queue.pop();
        for (size_t s : a.second) ++lengths[s];
        for (size_t s : b.second) ++lengths[s];
        a.second.insert(a.second.end(), b.second.begin(), b.second.end());
        queue.push(Node{a.first + b.first, a.second});
    }
    if (*std::max_element(lengths.begin(), lengths.end()) > 16) {
        std::vector<size_t> used;
        for (size_t s = 0; s < freq.size(); ++s)
            if (freq[s] != 0) used.push_back(s);
        int top = 0;
        while ((size_t{1} << top) < used.size()) ++top;
        size_t shorter = (size_t{1} << top) - used.size();
        for (size_t i = 0; i < used.size(); ++i) lengths[used[i]] = i < shorter ? top - 1 : top;
    }
    return lengths;
}

// One decoded item: a literal byte, or a match of `length` (3 to 256) bytes
// at `distance` (0 is the byte just before).
struct Token {
    int literal;  // 0 to 255, or -1 for a match
    uint32_t length;
    uint32_t distance;
    static Token Byte(uint8_t b) { return Token{b, 0, 0}; }
    static Token Match(uint32_t length, uint32_t distance) { return Token{-1, length, distance}; }
};

inline int DistanceCode(uint32_t distance) {
    int code = 0;
    while (distance >> code) ++code;
    return code;  // 0 for distance 0, else its bit length
}

// Writes the lengths of the length code or the distance code.
inline void PutSmallLengths(BitWriter& out, const std::vector<int>& lengths, int countBits, bool zeroRun) {
    size_t n = lengths.size();
    while (n > 0 && lengths[n - 1] == 0) --n;
    out.Put(static_cast<uint32_t>(n), countBits);
    for (size_t i = 0; i < n; ++i) {
        int length = lengths[i];
        if (length < 7) {
            out.Put(static_cast<uint32_t>(length), 3);
        } else {
            out.Put(7, 3);
            for (int k = 7; k < length; ++k) out.PutBit(1);
            out.PutBit(0);
        }
        if (zeroRun && i == 2) {
            uint32_t zeros = 0;
            while (zeros < 3 && i + 1 + zeros < n && lengths[i + 1 + zeros] == 0) ++zeros;
            out.Put(zeros, 2);
            i += zeros;
        }
    }
}

struct Method {
    int distanceCount;
    int distanceBits;
};
inline Method MethodOf(char digit) {
    return digit == '6' || digit == '7' ? Method{17, 5} : Method{14, 4};
}

// Encodes one block of tokens (at most 65536) with codes built from them.
inline void PutBlock(BitWriter& out, const std::vector<Token>& tokens, char method) {
    Method m = MethodOf(method);
    std::vector<uint64_t> symbolFreq(510, 0), distanceFreq(m.distanceCount, 0);
    for (const Token& t : tokens) {
        if (t.literal >= 0) {
            ++symbolFreq[t.literal];
        } else {
            ++symbolFreq[t.length + 253];
            ++distanceFreq[DistanceCode(t.distance)];
        }
    }
    std::vector<int> symbolLengths = CodeLengths(symbolFreq);
    std::vector<int> distanceLengths = CodeLengths(distanceFreq);
    auto single = [](const std::vector<uint64_t>& freq) {
        int used = 0, which = 0;
        for (size_t s = 0; s < freq.size(); ++s)
            if (freq[s] != 0) ++used, which = static_cast<int>(s);
        return used <= 1 ? which : -1;
    };
    out.Put(static_cast<uint32_t>(tokens.size() & 0xFFFF), 16);

    int onlySymbol = single(symbolFreq);
    if (onlySymbol >= 0) {
        out.Put(0, 5);
        out.Put(0, 5);
        out.Put(0, 9);
        out.Put(static_cast<uint32_t>(onlySymbol), 9);
    } else {
        // The symbol code's lengths as length-code symbols.
        size_t n = 510;
        while (symbolLengths[n - 1] == 0) --n;
        std::vector<std::pair<int, std::pair<uint32_t, int>>> items;  // symbol, extra bits
        for (size_t i = 0; i < n;) {
            if (symbolLengths[i] != 0) {
                items.push_back({symbolLengths[i] + 2, {0, 0}});
                ++i;
                continue;
            }
            size_t run = 0;
            while (i + run < n && symbolLengths[i + run] == 0) ++run;
            i += run;
            while (run > 0) {
                if (run >= 20) {
                    size_t take = std::min<size_t>(run, 531);
                    items.push_back({2, {static_cast<uint32_t>(take - 20), 9}});
                    run -= take;
                } else if (run >= 3) {
                    size_t take = std::min<size_t>(run, 18);
                    items.push_back({1, {static_cast<uint32_t>(take - 3), 4}});
                    run -= take;
                } else {
                    items.push_back({0, {0, 0}});
                    --run;
                }
            }
        }
        std::vector<uint64_t> lengthFreq(19, 0);
        for (auto& item : items) ++lengthFreq[item.first];
        int onlyLength = single(lengthFreq);
        std::vector<int> lengthLengths = CodeLengths(lengthFreq);
        if (onlyLength >= 0) {
            out.Put(0, 5);
            out.Put(static_cast<uint32_t>(onlyLength), 5);
        } else {
            PutSmallLengths(out, lengthLengths, 5, true);
        }
        std::vector<uint32_t> lengthCodes = CanonicalCodes(lengthLengths);
        out.Put(static_cast<uint32_t>(n), 9);
        for (auto& item : items) {
            out.Put(lengthCodes[item.first], onlyLength >= 0 ? 0 : lengthLengths[item.first]);
            out.Put(item.second.first, item.second.second);
        }
    }

    int onlyDistance = single(distanceFreq);
    if (onlyDistance >= 0) {
        out.Put(0, m.distanceBits);
        out.Put(static_cast<uint32_t>(onlyDistance), m.distanceBits);
    } else {
        PutSmallLengths(out, distanceLengths, m.distanceBits, false);
    }

    std::vector<uint32_t> symbolCodes = CanonicalCodes(symbolLengths);
    std::vector<uint32_t> distanceCodes = CanonicalCodes(distanceLengths);
    for (const Token& t : tokens) {
        int symbol = t.literal >= 0 ? t.literal : static_cast<int>(t.length + 253);
        out.Put(symbolCodes[symbol], onlySymbol >= 0 ? 0 : symbolLengths[symbol]);
        if (t.literal >= 0) continue;
        int code = DistanceCode(t.distance);
        out.Put(distanceCodes[code], onlyDistance >= 0 ? 0 : distanceLengths[code]);
        if (code > 1) out.Put(t.distance - (1u << (code - 1)), code - 1);
    }
}

// Encodes tokens into blocks of at most `blockSize` tokens.
inline std::string Encode(const std::vector<Token>& tokens, char method, size_t blockSize = 65536) {
    BitWriter out;
    for (size_t i = 0; i < tokens.size(); i += blockSize) {
        std::vector<Token> block(tokens.begin() + i, tokens.begin() + std::min(tokens.size(), i + blockSize));
        PutBlock(out, block, method);
    }
    return out.Finish();
}

// What a token list decodes to, with a window that starts as spaces.
inline std::string Expand(const std::vector<Token>& tokens) {
    std::string window(65536, ' ');
    std::string out;
    uint32_t pos = 0;
    for (const Token& t : tokens) {
        if (t.literal >= 0) {
            window[pos] = static_cast<char>(t.literal);
            out += window[pos];
            pos = (pos + 1) & 0xFFFF;
            continue;
        }
        uint32_t from = (pos - t.distance - 1) & 0xFFFF;
        for (uint32_t i = 0; i < t.length; ++i) {
            window[pos] = window[(from + i) & 0xFFFF];
            out += window[pos];
            pos = (pos + 1) & 0xFFFF;
        }
    }
    return out;
}

inline std::vector<Token> Literals(const std::string& bytes) {
    std::vector<Token> tokens;
    for (unsigned char b : bytes) tokens.push_back(Token::Byte(b));
    return tokens;
}

}  // namespace lzh
