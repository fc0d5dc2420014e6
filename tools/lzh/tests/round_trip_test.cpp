// Compressed streams of every method, decoded by the stub's own decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "lzh/encoder.h"
#include "lzh/header.h"
#include "our_decoder.h"
#include "test_data.h"
#include "support/test_support.h"

namespace {

using lzh_test::Periodic;
using lzh_test::RandomBytes;
using lzh_test::Words;

struct Input {
    const char* label;
    std::string data;
};

std::vector<Input> Inputs() {
    return {
        {"empty", ""},
        {"one_byte", "x"},
        {"two_bytes", "xy"},
        {"three_same", "aaa"},
        {"zeros_300k", std::string(300000, '\0')},
        {"random_200k", RandomBytes(200000, 1)},
        {"small_alphabet_300k", RandomBytes(300000, 2, 5)},
        {"words_64k_minus_1", Words(65535, 3)},
        {"words_64k", Words(65536, 4)},
        {"words_64k_plus_1", Words(65537, 5)},
        {"words_1m", Words(1 << 20, 6)},
        {"period_8191", Periodic(8191, 100000, 7)},
        {"period_8192", Periodic(8192, 100000, 8)},
        {"period_32767", Periodic(32767, 200000, 9)},
        {"period_65535", Periodic(65535, 300000, 10)},
        {"period_65536", Periodic(65536, 300000, 11)},
        {"mixed", Words(100000, 12) + RandomBytes(50000, 13) + std::string(70000, 'z') + Words(90000, 14)},
    };
}

struct Case {
    lzh::Method method;
    const char* tuning;
    Input input;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (lzh::Method m : {lzh::Method::Lh5, lzh::Method::Lh6, lzh::Method::Lh7})
        for (const char* tuning : {"default", "best"})
            for (const Input& input : Inputs()) cases.push_back({m, tuning, input});
    for (const Input& input : Inputs()) cases.push_back({lzh::Method::Lh7, "fast", input});
    return cases;
}

lzh::EncoderTuning TuningNamed(const std::string& name, lzh::Method method) {
    return name == "fast" ? lzh::FastTuning() : name == "best" ? lzh::BestTuning() : lzh::DefaultTuning(method);
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, OurDecoderGivesTheInputBack) {
    const Case& c = GetParam();
    const std::string& data = c.input.data;
    std::vector<uint8_t> packed = lzh::Compress(c.method, reinterpret_cast<const uint8_t*>(data.data()),
                                                data.size(), TuningNamed(c.tuning, c.method));
    lzh::EntryHeader h;
    h.method = lzh::MethodLetter(c.method);
    h.compressedSize = packed.size();
    h.originalSize = data.size();
    h.dataCrc = lzh::Crc16(data.data(), data.size());
    h.file = "data.bin";
    std::string archive = lzh::BuildHeader(h) + std::string(packed.begin(), packed.end()) + std::string(1, '\0');

    support::ScratchFolder folder;
    lzhtest::WriteFileBytes(folder / "a.lzh", archive);
    std::vector<lzhtest::DecodedEntry> entries;
    std::string error;
    ASSERT_TRUE(lzhtest::DecodeWithOurs(folder / "a.lzh", folder.path(), &entries, &error)) << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].crcMatches);
    std::string out = lzhtest::ReadFileBytes(entries[0].outputPath);
    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(out == data) << "first difference at " << std::mismatch(out.begin(), out.end(), data.begin()).first - out.begin();
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string("lh") + lzh::MethodLetter(info.param.method) + "_" + info.param.tuning + "_" +
           info.param.input.label;
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTrip, ::testing::ValuesIn(Cases()), CaseName);

// What compression must achieve, so that a change that still decodes but
// compresses badly shows up.
struct SizeCase {
    const char* label;
    std::string data;
    lzh::Method method;
    double maxRatio;  // compressed / original
};

class CompressedSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(CompressedSize, StaysWithinBound) {
    const SizeCase& c = GetParam();
    std::vector<uint8_t> packed =
        lzh::Compress(c.method, reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size());
    EXPECT_LE(static_cast<double>(packed.size()), c.maxRatio * static_cast<double>(c.data.size()))
        << packed.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, CompressedSize,
    ::testing::Values(
        // 1 MiB of one byte: one literal, then matches of 256 under single-symbol codes.
        SizeCase{"zeros", std::string(1 << 20, '\0'), lzh::Method::Lh5, 0.001},
        // Random bytes cost a little more than themselves (headers, a few matches).
        SizeCase{"random", RandomBytes(1 << 20, 21), lzh::Method::Lh7, 1.01},
        // Four symbols of equal chance: two bits each at best; matches only
        // take code space from the literals (deflate at its best: 0.29).
        SizeCase{"alphabet4", RandomBytes(1 << 20, 22, 4), lzh::Method::Lh5, 0.31},
        // A period the lh5 window cannot reach, but lh7's can.
        SizeCase{"period_40000_lh7", Periodic(40000, 400000, 23), lzh::Method::Lh7, 0.12}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.label); });

// Input built from copies of its own past at random distances (up to the
// whole 64 KiB) and lengths, with literals between: matches cross block,
// segment and buffer boundaries everywhere. Fed in pieces of random size.
class Structured : public ::testing::TestWithParam<std::tuple<lzh::Method, uint32_t>> {};

TEST_P(Structured, RoundTrips) {
    lzh::Method method = std::get<0>(GetParam());
    std::mt19937 rng(std::get<1>(GetParam()));
    std::string data;
    while (data.size() < 600000) {
        if (data.size() < 16 || rng() % 4 == 0) {
            data += static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
            continue;
        }
        size_t distance = 1 + rng() % std::min<size_t>(data.size(), rng() % 2 ? 70000 : 300);
        size_t length = 3 + (rng() % 3 == 0 ? rng() % 400 : rng() % 12);
        size_t from = data.size() - distance;
        for (size_t i = 0; i < length; ++i) data += data[from + i];
    }
    std::vector<uint8_t> packed;
    lzh::Encoder encoder(method, [&](const uint8_t* p, size_t n) { packed.insert(packed.end(), p, p + n); });
    for (size_t at = 0; at < data.size();) {
        size_t n = std::min<size_t>(data.size() - at, 1 + rng() % 100000);
        encoder.Write(reinterpret_cast<const uint8_t*>(data.data()) + at, n);
        at += n;
    }
    encoder.Finish();

    lzh::EntryHeader h;
    h.method = lzh::MethodLetter(method);
    h.compressedSize = packed.size();
    h.originalSize = data.size();
    h.dataCrc = lzh::Crc16(data.data(), data.size());
    h.file = "s";
    support::ScratchFolder folder;
    lzhtest::WriteFileBytes(folder / "s.lzh", lzh::BuildHeader(h) + std::string(packed.begin(), packed.end()) + '\0');
    std::vector<lzhtest::DecodedEntry> entries;
    std::string error;
    ASSERT_TRUE(lzhtest::DecodeWithOurs(folder / "s.lzh", folder.path(), &entries, &error)) << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].crcMatches);
    EXPECT_TRUE(lzhtest::ReadFileBytes(entries[0].outputPath) == data);
    EXPECT_LT(packed.size(), data.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Structured,
                         ::testing::Combine(::testing::Values(lzh::Method::Lh5, lzh::Method::Lh6, lzh::Method::Lh7),
                                            ::testing::Range(1u, 7u)));

TEST(Encoder, PiecewiseInputGivesTheSameStream) {
    std::string data = Words(700000, 31) + RandomBytes(100000, 32);
    std::vector<uint8_t> whole = lzh::Compress(lzh::Method::Lh6, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    std::vector<uint8_t> pieces;
    lzh::Encoder encoder(lzh::Method::Lh6, [&](const uint8_t* p, size_t n) { pieces.insert(pieces.end(), p, p + n); });
    std::mt19937 rng(33);
    for (size_t at = 0; at < data.size();) {
        size_t n = std::min<size_t>(data.size() - at, rng() % 70000);
        encoder.Write(reinterpret_cast<const uint8_t*>(data.data()) + at, n);
        at += n;
    }
    encoder.Finish();
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(encoder.compressedSize(), whole.size());
}

// An encoder used again after Finish writes what a new one writes: nothing
// of the input before may lead its search, in either mode.
TEST(Encoder, RestartForgetsTheInputBefore) {
    const std::string first = Words(100000, 41) + RandomBytes(50000, 42, 6);
    const std::string second = RandomBytes(9000, 43, 6) + first.substr(70000, 9000) + Words(3000, 44);
    for (bool best : {false, true}) {
        for (lzh::Method method : {lzh::Method::Lh5, lzh::Method::Lh6, lzh::Method::Lh7}) {
            lzh::EncoderTuning tuning = best ? lzh::BestTuning() : lzh::DefaultTuning(method);
            std::vector<uint8_t> fresh =
                lzh::Compress(method, reinterpret_cast<const uint8_t*>(second.data()), second.size(), tuning);
            std::vector<uint8_t> out;
            lzh::Encoder encoder(method, [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }, tuning);
            encoder.Write(reinterpret_cast<const uint8_t*>(first.data()), first.size());
            encoder.Finish();
            out.clear();
            encoder.Restart([&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); });
            encoder.Write(reinterpret_cast<const uint8_t*>(second.data()), second.size());
            encoder.Finish();
            EXPECT_EQ(out, fresh) << "method " << lzh::MethodLetter(method) << (best ? " --best" : "");
        }
    }
}

}  // namespace
