// A plain reference of the entry decoder for differential checks: a 16-bit
// look-ahead fed one byte at a time from 16384-byte refills of an in-memory
// archive, tables and trees built symbol by symbol, the window written in
// 65536-byte pieces. It refuses damaged data at the same points as the
// product (and for the same reasons), so the two must agree on everything
// observable: the refills asked for, the writes, the progress counts, the
// CRC of the output and whether the entry was refused.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "support/reference_crc.h"

namespace reference {

struct Result {
    bool refused = false;             // damaged data: the product shows message 4
    std::vector<uint32_t> reads;      // sizes of the refills, in order
    std::vector<uint32_t> writes;     // sizes of the writes, in order
    std::vector<uint64_t> reports;    // `done` of every progress report
    uint16_t crc = 0;                 // CRC-16/ARC of the written bytes
    uint64_t done = 0;
};

class Decoder {
public:
    Decoder(const std::string& data, char method, uint64_t originalSize)
        : data_(data), remaining_(data.size()), originalSize_(originalSize) {
        wide_ = method == '6' || method == '7';
    }

    Result Run() {
        try {
            Decode();
        } catch (const Refusal&) {
            result_.refused = true;
        }
        result_.done = done_;
        return result_;
    }

private:
    struct Refusal {};

    // Input: refills of up to 16384 bytes, one byte drawn at a time.
    int NextByte() {
        if (position_ >= 16384) {
            uint64_t size = remaining_ < 16384 ? remaining_ : 16384;
            result_.reads.push_back(static_cast<uint32_t>(size));
            buffer_ = data_.substr(fileAt_, size);
            fileAt_ += size;
            position_ = 0;
        }
        return static_cast<uint8_t>(buffer_[position_++]);
    }
    // The decoder has used bits beyond the entry's data: the look-ahead holds
    // 16 bits that are not used yet.
    void CheckOverrun() const {
        if (skipped_ > data_.size() * 8 + 16) throw Refusal();
    }
    void Skip(int n) {
        skipped_ += static_cast<uint64_t>(n);
        while (n > pendingBits_) {
            n -= pendingBits_;
            bitBuffer_ = static_cast<uint16_t>((bitBuffer_ << pendingBits_) + (pendingByte_ >> (8 - pendingBits_)));
            if (remaining_ != 0) {
                pendingByte_ = static_cast<uint8_t>(NextByte());
                --remaining_;
            } else {
                pendingByte_ = 0;
            }
            pendingBits_ = 8;
        }
        pendingBits_ -= n;
        bitBuffer_ = static_cast<uint16_t>((bitBuffer_ << n) + (pendingByte_ >> (8 - n)));
        pendingByte_ = static_cast<uint8_t>(pendingByte_ << n);
    }
    uint32_t Take(int n) {
        uint32_t v = n == 0 ? 0 : bitBuffer_ >> (16 - n);
        Skip(n);
        return v;
    }

    void Build(int count, const uint8_t* lengths, int tableBits, uint16_t* table) {
        uint32_t lengthCount[17] = {};
        for (int s = 0; s < count; ++s) {
            if (lengths[s] > 16) throw Refusal();
            ++lengthCount[lengths[s]];
        }
        uint32_t start[18], weight[17];
        start[1] = 0;
        for (int l = 1; l <= 16; ++l) {
            weight[l] = 1u << (16 - l);
            start[l + 1] = start[l] + lengthCount[l] * weight[l];
        }
        if (start[17] != 65536) throw Refusal();
        int shift = 16 - tableBits;
        for (int l = 1; l <= tableBits; ++l) {
            start[l] >>= shift;
            weight[l] >>= shift;
        }
        for (uint32_t i = start[tableBits + 1] >> shift; i < (1u << tableBits); ++i) table[i] = 0;
        uint32_t node = static_cast<uint32_t>(count);
        for (int s = 0; s < count; ++s) {
            int l = lengths[s];
            if (l == 0) continue;
            uint32_t k = start[l], next = k + weight[l];
            if (l <= tableBits) {
                for (uint32_t i = k; i < next; ++i) table[i] = static_cast<uint16_t>(s);
            } else {
                uint16_t* cell = &table[k >> shift];
                uint32_t bits = k << tableBits;
                for (int r = l - tableBits; r > 0; --r) {
                    if (*cell == 0) {
                        zero_[node] = one_[node] = 0;
                        *cell = static_cast<uint16_t>(node++);
                    }
                    cell = (bits & 0x8000) ? &one_[*cell] : &zero_[*cell];
                    bits <<= 1;
                }
                *cell = static_cast<uint16_t>(s);
            }
            start[l] = next;
        }
    }

    void ReadSmall(int count, int countBits, int zeroRunAfter) {
        int n = static_cast<int>(Take(countBits));
        if (n == 0) {
            uint32_t v = Take(countBits);
            if (v >= static_cast<uint32_t>(count)) throw Refusal();
            for (int i = 0; i < count; ++i) smallLengths_[i] = 0;
            for (auto& cell : smallTable_) cell = static_cast<uint16_t>(v);
            return;
        }
        int i = 0;
        while (i < n) {
            int c = bitBuffer_ >> 13;
            if (c == 7) {
                for (uint16_t mask = 1u << 12; mask != 0 && (bitBuffer_ & mask); mask >>= 1) ++c;
            }
            Skip(c < 7 ? 3 : c - 3);
            smallLengths_[i++] = static_cast<uint8_t>(c);
            if (i == zeroRunAfter) {
                int z = static_cast<int>(Take(2));
                while (z-- > 0) smallLengths_[i++] = 0;
            }
        }
        for (; i < count; ++i) smallLengths_[i] = 0;
        Build(count, smallLengths_, 8, smallTable_);
    }

    void ReadSymbols() {
        int n = static_cast<int>(Take(9));
        if (n == 0) {
            uint32_t v = Take(9);
            if (v >= 510) throw Refusal();
            for (auto& l : symbolLengths_) l = 0;
            for (auto& cell : symbolTable_) cell = static_cast<uint16_t>(v);
            return;
        }
        if (n > 510) throw Refusal();
        int i = 0;
        while (i < n) {
            uint32_t c = smallTable_[bitBuffer_ >> 8];
            for (uint16_t mask = 0x80; c >= 19; mask >>= 1) {
                if (mask == 0) throw Refusal();
                c = (bitBuffer_ & mask) ? one_[c] : zero_[c];
            }
            Skip(smallLengths_[c]);
            int zeros;
            if (c == 0) {
                zeros = 1;
            } else if (c == 1) {
                zeros = static_cast<int>(Take(4)) + 3;
            } else if (c == 2) {
                zeros = static_cast<int>(Take(9)) + 20;
            } else {
                symbolLengths_[i++] = static_cast<uint8_t>(c - 2);
                continue;
            }
            if (zeros > 510 - i) throw Refusal();
            while (zeros-- > 0) symbolLengths_[i++] = 0;
        }
        for (; i < 510; ++i) symbolLengths_[i] = 0;
        Build(510, symbolLengths_, 12, symbolTable_);
    }

    uint32_t NextSymbol() {
        if (blockLeft_ == 0) {
            CheckOverrun();
            blockLeft_ = Take(16);
            ReadSmall(19, 5, 3);
            ReadSymbols();
            ReadSmall(wide_ ? 17 : 14, wide_ ? 5 : 4, -1);
        }
        blockLeft_ = (blockLeft_ - 1) & 0xFFFF;
        uint32_t j = symbolTable_[bitBuffer_ >> 4];
        if (j < 510) {
            Skip(symbolLengths_[j]);
        } else {
            Skip(12);
            for (uint16_t mask = 0x8000; j >= 510; mask >>= 1) {
                if (mask == 0) throw Refusal();
                j = (bitBuffer_ & mask) ? one_[j] : zero_[j];
            }
            Skip(symbolLengths_[j] - 12);
        }
        return j;
    }

    uint32_t NextDistance() {
        uint32_t count = wide_ ? 17 : 14;
        uint32_t j = smallTable_[bitBuffer_ >> 8];
        if (j < count) {
            Skip(smallLengths_[j]);
        } else {
            Skip(8);
            for (uint16_t mask = 0x8000; j >= count; mask >>= 1) {
                if (mask == 0) throw Refusal();
                j = (bitBuffer_ & mask) ? one_[j] : zero_[j];
            }
            Skip(smallLengths_[j] - 8);
        }
        return j == 0 ? 0 : (1u << (j - 1)) + Take(static_cast<int>(j - 1));
    }

    void Write(uint32_t length) {
        result_.writes.push_back(length);
        result_.crc = support::ReferenceCrc16(window_.data(), length, result_.crc);
    }

    void Decode() {
        window_.assign(65536, ' ');
        Skip(16);
        uint64_t produced = 0;
        uint32_t pos = 0;
        while (produced < originalSize_) {
            uint32_t c = NextSymbol();
            if (c <= 255) {
                window_[pos++] = static_cast<uint8_t>(c);
                if (pos == 65536) {
                    CheckOverrun();
                    Write(65536);
                    result_.reports.push_back(done_ + 1);
                    pos = 0;
                }
                ++produced;
                ++done_;
            } else {
                uint32_t length = c - 253;
                uint32_t d = NextDistance();
                uint32_t source = (pos - d - 1) & 0xFFFF;
                produced += length;
                done_ += length;
                for (uint32_t i = 0; i < length; ++i) {
                    window_[pos++] = window_[(source + i) & 0xFFFF];
                    if (pos == 65536) {
                        CheckOverrun();
                        Write(65536);
                        result_.reports.push_back(done_);
                        pos = 0;
                    }
                }
            }
        }
        CheckOverrun();
        if (pos != 0) {
            Write(pos);
            result_.reports.push_back(done_);
        }
    }

    const std::string& data_;
    uint64_t fileAt_ = 0;
    uint64_t remaining_;
    uint64_t originalSize_;
    bool wide_;
    std::string buffer_;
    uint32_t position_ = 0xFFFFFFFF;
    uint16_t bitBuffer_ = 0;
    uint8_t pendingByte_ = 0;
    int pendingBits_ = 0;
    uint32_t blockLeft_ = 0;
    uint64_t skipped_ = 0;
    uint8_t symbolLengths_[510] = {};
    uint16_t symbolTable_[4096] = {};
    uint8_t smallLengths_[128] = {};
    uint16_t smallTable_[256] = {};
    uint16_t zero_[1019] = {};
    uint16_t one_[1019] = {};
    std::vector<uint8_t> window_;
    uint64_t done_ = 0;
    Result result_;
};

}  // namespace reference
