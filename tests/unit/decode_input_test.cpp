// Compressed input, the bit reader, table building, the output sink and
// stored copies.
#include <random>

#include "unit/decode_fixture.h"
#include "unit/decode_stream_writer.h"
#include "decode/decoder_state.h"

using decodetest::DecodeFixture;
using decodetest::Report;
using decodetest::Reports;

namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

class BitInput : public DecodeFixture {
protected:
    // Opens `archive` whose first `entrySize` bytes are an entry's compressed
    // data (all of it by default) and starts the bit reader.
    void Start(const std::string& archive, size_t entrySize = std::string::npos) {
        OpenArchive(archive);
        BeginEntry(std::min(entrySize, archive.size()));
        ASSERT_TRUE(RunGuarded([](void*) { BitReader::Start(); }, nullptr));
    }
};

TEST_F(BitInput, ReadsInRefillsBoundedByTheEntry) {
    std::string data = RandomBytes(20000, 1);
    Start(data + "NEXT HEADER", data.size());
    EXPECT_EQ(host::ReadRequests(), std::vector<DWORD>{16384});
    // Draw every bit and compare with the bytes, most significant bit first.
    std::string back;
    for (size_t i = 0; i < data.size(); ++i) {
        uint32_t high = BitReader::Take(3);
        uint32_t low = BitReader::Take(5);
        back += static_cast<char>(high << 5 | low);
    }
    EXPECT_TRUE(back == data);
    EXPECT_EQ(host::ReadRequests(), (std::vector<DWORD>{16384, 3616}));
    EXPECT_EQ(ArchivePosition(), data.size());
    // Past the end: zero bits, without touching the file.
    EXPECT_EQ(BitReader::Peek(), 0u);
    EXPECT_EQ(BitReader::Take(16), 0u);
    EXPECT_EQ(host::ReadRequests().size(), 2u);
}

TEST_F(BitInput, SecondRefillIsReadWhenTheLookAheadNeedsIt) {
    std::string data = RandomBytes(16384 + 10, 2);
    Start(data);
    // 16382 bytes consumed: the look-ahead holds the last two of the first
    // refill, and nothing more has been read.
    for (int i = 0; i < 16382; ++i) BitReader::Skip(8);
    EXPECT_EQ(host::ReadRequests(), std::vector<DWORD>{16384});
    BitReader::Skip(1);  // now one bit of byte 16384 is needed
    EXPECT_EQ(host::ReadRequests(), (std::vector<DWORD>{16384, 10}));
}

TEST_F(BitInput, StartAndTakeSemantics) {
    Start("\xA5\x3C\x0F");
    EXPECT_EQ(BitReader::Peek(), 0xA53Cu);
    EXPECT_EQ(BitReader::Take(0), 0u);
    EXPECT_EQ(BitReader::Take(16), 0xA53Cu);  // the first two bytes, big-endian
    EXPECT_EQ(BitReader::Take(4), 0x0u);
    BitReader::Skip(17);                      // the widest skip: 4 data bits then zeros
    EXPECT_EQ(BitReader::Peek(), 0u);

    host::Reset();
    Start("");
    EXPECT_TRUE(host::ReadRequests().empty());  // compressed size 0 reads nothing
    EXPECT_EQ(BitReader::Peek(), 0u);
    EXPECT_EQ(BitReader::Take(9), 0u);
}

TEST_F(BitInput, FailedOrShortRefillShowsTheReadError) {
    for (host::Fault fault : {host::Fault::Fail, host::Fault::Short}) {
        host::Reset();
        OpenArchive(RandomBytes(100, 3));
        BeginEntry(100);
        host::FailRead(1, fault);
        EXPECT_FALSE(RunGuarded([](void*) { BitReader::Start(); }, nullptr));
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{Box(archivePath_, expected::kReadError)});
    }
}

// Decodes `code` (the bits of one symbol, MSB first, `length` bits) through a
// table built by BuildDecodeTable, as the block decoder walks it.
int Lookup(const uint16_t* table, int tableBits, int symbols, uint32_t code, int length) {
    uint32_t ahead = code << (16 - length);
    uint32_t cell = table[ahead >> (16 - tableBits)];
    for (int bit = 15 - tableBits; cell >= static_cast<uint32_t>(symbols); --bit) {
        if (bit < 0) return -1;
        cell = (ahead >> bit) & 1 ? g_decoder.branchOne[cell] : g_decoder.branchZero[cell];
    }
    return static_cast<int>(cell);
}

struct TableCase {
    const char* what;
    std::vector<int> lengths;
    int tableBits;
};

TEST_F(DecodeFixture, TablesDecodeEveryCanonicalCode) {
    // All 510 symbols, most of them with 15- and 16-bit codes behind a
    // 12-bit table: 1 to 7 bits for seven symbols, nine of 15, 494 of 16.
    std::vector<int> deep;
    for (int l = 1; l <= 7; ++l) deep.push_back(l);
    deep.insert(deep.end(), 9, 15);
    deep.insert(deep.end(), 494, 16);
    std::vector<int> wide(510, 9);  // 508 codes of 9 bits and two of 8, behind 8 bits
    wide[0] = 8;
    wide[1] = 8;

    TableCase cases[] = {
        {"2 1 3 3", {2, 1, 3, 3}, 8},
        {"1 1", {1, 1}, 8},
        {"deep 510", deep, 12},
        {"all long", wide, 8},
        {"length code shape", {2, 2, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16}, 8},
        {"distance 17", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16}, 8},
    };
    static uint16_t table[4096];
    for (const TableCase& c : cases) {
        std::vector<uint8_t> lengths(c.lengths.begin(), c.lengths.end());
        uint64_t sum = 0;
        for (int l : c.lengths) sum += l ? (65536u >> l) : 0;
        ASSERT_EQ(sum, 65536u) << c.what;
        struct Build {
            const std::vector<uint8_t>* lengths;
            int bits;
        } build{&lengths, c.tableBits};
        ASSERT_TRUE(RunGuarded(
            [](void* p) {
                Build* b = static_cast<Build*>(p);
                BuildDecodeTable(static_cast<int16_t>(b->lengths->size()), b->lengths->data(), b->bits, table);
            },
            &build))
            << c.what;
        std::vector<uint32_t> codes = lzh::CanonicalCodes(c.lengths);
        for (size_t s = 0; s < c.lengths.size(); ++s) {
            if (c.lengths[s] == 0) continue;
            EXPECT_EQ(Lookup(table, c.tableBits, static_cast<int>(c.lengths.size()), codes[s], c.lengths[s]),
                      static_cast<int>(s))
                << c.what << " symbol " << s;
        }
    }
    // Lengths 1 and 1 with 8 bits: cells 0-127 and 128-255.
    std::vector<uint8_t> two = {1, 1};
    ASSERT_TRUE(RunGuarded([](void* p) { BuildDecodeTable(2, static_cast<uint8_t*>(p), 8, table); }, two.data()));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(table[i], i < 128 ? 0 : 1) << i;
}

TEST_F(DecodeFixture, TablesRefuseSetsThatAreNotCompleteCodes) {
    struct Case {
        const char* what;
        std::vector<uint8_t> lengths;
    } cases[] = {
        {"one symbol of length 1", {1}},
        {"codes left unassigned", {1, 2, 3}},
        {"all zero", {0, 0, 0, 0}},
        {"over-full by a multiple of 65536", {1, 1, 1, 1}},
        {"a length above 16", {1, 2, 17, 3}},
    };
    static uint16_t table[256];
    for (const Case& c : cases) {
        host::Reset();
        for (uint16_t& cell : table) cell = 0xABCD;
        const std::vector<uint8_t>* lengths = &c.lengths;
        EXPECT_FALSE(RunGuarded(
            [](void* p) {
                auto* l = static_cast<const std::vector<uint8_t>*>(p);
                BuildDecodeTable(static_cast<int16_t>(l->size()), l->data(), 8, table);
            },
            const_cast<std::vector<uint8_t>*>(lengths)))
            << c.what;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{Box(archivePath_, expected::kArchiveBroken)}) << c.what;
        for (uint16_t cell : table) ASSERT_EQ(cell, 0xABCD) << c.what;  // nothing written
    }
}

// ---------------------------------------------------------------------------
// Stored entries and the output sink

TEST_F(DecodeFixture, StoredCopiesInChunksOf65536) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{65537}, size_t{200000}}) {
        host::Reset();
        Reports().clear();
        g_run.done = 0;
        g_run.total = 999999;
        std::string data = RandomBytes(size, static_cast<uint32_t>(size));
        ASSERT_TRUE(DecodeBytes(data + "after", '0', size)) << size;
        EXPECT_TRUE(Output() == data) << size;
        EXPECT_EQ(Crc16Value(), lzh::ReferenceCrc16(data)) << size;
        EXPECT_EQ(ArchivePosition(), size) << size;
        std::vector<DWORD> chunks;
        std::vector<Report> reports;
        for (size_t at = 0; at < size; at += 65536) {
            chunks.push_back(static_cast<DWORD>(std::min<size_t>(65536, size - at)));
            reports.push_back({at + chunks.back(), 999999});
        }
        EXPECT_EQ(host::ReadRequests(), chunks) << size;
        EXPECT_EQ(host::WriteRequests(), chunks) << size;
        EXPECT_EQ(Reports(), reports) << size;
    }
}

TEST_F(DecodeFixture, StoredCopyFailures) {
    std::string data = RandomBytes(150000, 9);
    struct Case {
        const char* what;
        std::string archive;
        int failRead, failWrite;
        host::Fault fault;
        std::string box;
        size_t written;  // bytes left in the output before the driver deletes it
    } cases[] = {
        {"archive ends inside the data", data.substr(0, 100000), 0, 0, host::Fault::Fail,
         Box(archivePath_, expected::kReadError), 65536},
        {"read fails", data, 2, 0, host::Fault::Fail, Box(archivePath_, expected::kReadError), 65536},
        {"write fails", data, 0, 1, host::Fault::Fail, Box(outputPath_, expected::kWriteError), 0},
        {"disk full", data, 0, 3, host::Fault::Short, Box(outputPath_, expected::kWriteError), 2 * 65536 + (150000 - 2 * 65536) / 2},
    };
    for (const Case& c : cases) {
        host::Reset();
        Reports().clear();
        OpenArchive(c.archive);
        CreateOutput();
        if (c.failRead) host::FailRead(c.failRead, c.fault);
        if (c.failWrite) host::FailWrite(c.failWrite, c.fault);
        EXPECT_FALSE(DecodeEntry('0', data.size(), data.size())) << c.what;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.box}) << c.what;
        EXPECT_EQ(Output().size(), c.written) << c.what;
    }
}

TEST_F(DecodeFixture, CancelStopsAfterTheChunkJustWritten) {
    g_progressReport = ReportProgress;
    g_run.cancelFlag = 1;
    EXPECT_FALSE(DecodeBytes(RandomBytes(70000, 4), '0', 70000));
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_EQ(host::WriteRequests(), std::vector<DWORD>{65536});
}

}  // namespace
