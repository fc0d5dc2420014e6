// Inputs of several chunks: the same stream whatever the number of threads
// and however the input is cut, decoded back by the stub's own decoder.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "lzh/encoder.h"
#include "lzh/header.h"
#include "lzh/worker_thread.h"
#include "our_decoder.h"
#include "test_data.h"
#include "support/test_support.h"

namespace {

using lzh_test::Periodic;
using lzh_test::RandomBytes;
using lzh_test::Words;

constexpr size_t CHUNK = lzh::ENCODER_CHUNK_SIZE;
constexpr size_t WINDOW = 65536;

std::vector<uint8_t> Compress(lzh::Method method, const std::string& data, int threads, bool best = false) {
    lzh::EncoderTuning tuning = best ? lzh::BestTuning() : lzh::DefaultTuning(method);
    tuning.threads = threads;
    return lzh::Compress(method, reinterpret_cast<const uint8_t*>(data.data()), data.size(), tuning);
}

// Decodes `packed` as one entry with our decoder; the bytes it gives.
std::string Decode(lzh::Method method, const std::vector<uint8_t>& packed, const std::string& original) {
    lzh::EntryHeader h;
    h.method = lzh::MethodLetter(method);
    h.compressedSize = packed.size();
    h.originalSize = original.size();
    h.dataCrc = lzh::Crc16(original.data(), original.size());
    h.file = "c";
    support::ScratchFolder folder;
    lzhtest::WriteFileBytes(folder / "c.lzh", lzh::BuildHeader(h) + std::string(packed.begin(), packed.end()) + '\0');
    std::vector<lzhtest::DecodedEntry> entries;
    std::string error;
    EXPECT_TRUE(lzhtest::DecodeWithOurs(folder / "c.lzh", folder.path(), &entries, &error)) << error;
    if (entries.size() != 1) return "";
    EXPECT_TRUE(entries[0].crcMatches);
    return lzhtest::ReadFileBytes(entries[0].outputPath);
}

struct ChunkCase {
    const char* label;
    lzh::Method method;
    std::string data;
    bool best = false;  // the near-optimal parse, which cuts its own blocks in each chunk
};

class Chunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(Chunks, OneAndTwoThreadsGiveTheSameStreamThatDecodes) {
    const ChunkCase& c = GetParam();
    std::vector<uint8_t> one = Compress(c.method, c.data, 1, c.best);
    std::vector<uint8_t> two = Compress(c.method, c.data, 2, c.best);
    EXPECT_TRUE(one == two) << one.size() << " against " << two.size() << " bytes";
    std::string out = Decode(c.method, two, c.data);
    ASSERT_EQ(out.size(), c.data.size());
    EXPECT_TRUE(out == c.data) << "first difference at "
                               << std::mismatch(out.begin(), out.end(), c.data.begin()).first - out.begin();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Chunks,
    ::testing::Values(ChunkCase{"words_chunk_minus_1_lh5", lzh::Method::Lh5, Words(CHUNK - 1, 1)},
                      ChunkCase{"words_chunk_lh7", lzh::Method::Lh7, Words(CHUNK, 2)},
                      ChunkCase{"words_chunk_plus_1_lh6", lzh::Method::Lh6, Words(CHUNK + 1, 3)},
                      ChunkCase{"random_chunk_plus_1_lh7", lzh::Method::Lh7, RandomBytes(CHUNK + 1, 4)},
                      ChunkCase{"period_1000_chunks_plus_window_minus_1_lh5", lzh::Method::Lh5,
                                Periodic(1000, 2 * CHUNK + WINDOW - 1, 5)},
                      ChunkCase{"period_65535_chunks_plus_window_lh7", lzh::Method::Lh7,
                                Periodic(65535, 2 * CHUNK + WINDOW, 6)},
                      ChunkCase{"mixed_chunks_plus_window_plus_1_lh7", lzh::Method::Lh7,
                                Words(CHUNK - 100, 7) + RandomBytes(300, 8) + std::string(CHUNK, 'z') +
                                    Words(WINDOW + 1 - 200, 9)},
                      ChunkCase{"best_words_chunk_plus_1_lh7", lzh::Method::Lh7, Words(CHUNK + 1, 12), true},
                      ChunkCase{"best_period_1000_chunks_plus_window_minus_1_lh5", lzh::Method::Lh5,
                                Periodic(1000, 2 * CHUNK + WINDOW - 1, 13), true},
                      // A random chunk goes as literals without the parse, then
                      // a parsed chunk has it for its window.
                      ChunkCase{"best_random_chunk_then_words_lh6", lzh::Method::Lh6,
                                RandomBytes(CHUNK, 14) + Words(CHUNK / 2, 15), true}),
    [](const ::testing::TestParamInfo<ChunkCase>& info) { return std::string(info.param.label); });

// More threads than chunks, input in pieces of random size: the stream of
// one thread with the whole input at once.
TEST(Chunks, PiecesAndThreadCountsDoNotChangeTheStream) {
    std::string data = Words(3 * CHUNK + 17, 10);
    std::vector<uint8_t> expected = Compress(lzh::Method::Lh7, data, 1);
    for (int threads : {3, 8}) {
        lzh::EncoderTuning tuning = lzh::DefaultTuning(lzh::Method::Lh7);
        tuning.threads = threads;
        std::vector<uint8_t> packed;
        lzh::Encoder encoder(
            lzh::Method::Lh7, [&](const uint8_t* p, size_t n) { packed.insert(packed.end(), p, p + n); }, tuning);
        std::mt19937 rng(threads);
        for (size_t at = 0; at < data.size();) {
            size_t n = std::min<size_t>(data.size() - at, rng() % 300000);
            encoder.Write(reinterpret_cast<const uint8_t*>(data.data()) + at, n);
            at += n;
            EXPECT_LE(encoder.inputHeld(), at);
        }
        encoder.Finish();
        EXPECT_EQ(encoder.inputHeld(), 0u);
        EXPECT_TRUE(packed == expected) << threads << " threads";
    }
}

// A chunk finds its matches in the window before it: a period that repeats
// across every boundary costs no more literals after the first.
TEST(Chunks, MatchesReachIntoTheWindowBeforeAChunk) {
    std::string data = Periodic(40000, 3 * CHUNK, 11);
    std::vector<uint8_t> packed = Compress(lzh::Method::Lh7, data, 2);
    // The first period as literals (40000 bytes), then matches of 256 bytes
    // at a few bits each; a chunk that started without its window would
    // send another 40000 literals.
    EXPECT_LT(packed.size(), 40000u + 40000u);
    EXPECT_TRUE(Decode(lzh::Method::Lh7, packed, data) == data);
}

// One thread takes job after job: each job sees what the job before it
// wrote, the caller sees every write once joined, and a job still running
// when the worker goes is waited for.
TEST(WorkerThread, RunsJobAfterJobOnOneThread) {
    std::vector<int> sums(201, 0);
    {
        lzh::WorkerThread worker;
        for (int i = 1; i <= 200; ++i) {
            // The odd jobs are slow and not joined: the next Start waits for them.
            ASSERT_TRUE(worker.Start([&sums, i] {
                if (i % 2 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                sums[i] = sums[i - 1] + i;
            }));
            if (i % 2 == 0) worker.Join();
        }
        worker.Join();
        for (int i = 1; i <= 200; ++i) ASSERT_EQ(sums[i], i * (i + 1) / 2) << i;
        ASSERT_TRUE(worker.Start([&sums] { sums[0] = -1; }));
    }
    EXPECT_EQ(sums[0], -1);
}

}  // namespace
