// The block decoder: hand-made streams, streams from the test-side encoder,
// window writes and progress reports, refills, damaged streams and failures.
#include <random>

#include "unit/decode_fixture.h"
#include "unit/decode_stream_writer.h"

using decodetest::DecodeFixture;
using decodetest::Report;
using decodetest::Reports;
using lzh::Token;

namespace {

std::string Hex(std::initializer_list<uint8_t> list) { return std::string(list.begin(), list.end()); }

class BlockDecoding : public DecodeFixture {
protected:
    // Encodes tokens, decodes them and checks the bytes and the CRC.
    void RoundTrip(const std::vector<Token>& tokens, char method, size_t blockSize = 65536) {
        std::string expected = lzh::Expand(tokens);
        std::string data = lzh::Encode(tokens, method, blockSize);
        host::Reset();
        Reports().clear();
        ASSERT_TRUE(DecodeBytes(data, method, expected.size())) << method;
        EXPECT_TRUE(Output() == expected) << method;
        EXPECT_EQ(Crc16Value(), lzh::ReferenceCrc16(expected)) << method;
        EXPECT_EQ(ArchivePosition(), data.size()) << method;
    }
    std::string Broken() const { return Box(archivePath_, expected::kArchiveBroken); }
};

TEST_F(BlockDecoding, HandMadeStreamsGiveTheirBytes) {
    ASSERT_TRUE(DecodeBytes(Hex({0x00, 0x03, 0x00, 0x00, 0x04, 0x10, 0x00}), '5', 3));
    EXPECT_EQ(Output(), "AAA");

    std::string sixA = Hex({0x00, 0x02, 0x20, 0x04, 0x30, 0x30, 0xB6, 0x56, 0x40, 0x10});
    g_run.done = 0;
    ASSERT_TRUE(DecodeBytes(sixA, '5', 6));
    EXPECT_EQ(Output(), "AAAAAA");
    EXPECT_EQ(g_run.done, 6u);

    // -lh7- reads the distance code's fields with 5 bits: the same bytes
    // decode to something else, or are refused.
    host::Reset();
    g_run.done = 0;
    bool decoded = DecodeBytes(sixA, '7', 6);
    EXPECT_NE(decoded ? Output() : std::string("refused"), "AAAAAA");
}

TEST_F(BlockDecoding, EncodedStreamsRoundTripForEveryMethod) {
    std::mt19937 random(7);
    std::vector<Token> text, binary, far;
    std::string words[] = {"the ", "archive ", "window ", "code ", "of ", "\x82\xa0", "\r\n"};
    for (int i = 0; i < 6000; ++i) {
        if (i > 20 && random() % 3 == 0) {
            text.push_back(Token::Match(3 + random() % 60, random() % 400));
        } else {
            for (char c : words[random() % 7]) text.push_back(Token::Byte(static_cast<uint8_t>(c)));
        }
    }
    for (int i = 0; i < 30000; ++i) binary.push_back(Token::Byte(static_cast<uint8_t>(random())));
    for (int i = 0; i < 3000; ++i) {
        far.push_back(Token::Byte(static_cast<uint8_t>(random() % 5)));
        far.push_back(Token::Match(3 + random() % 254, random() % 8192));  // every lh5 distance code
    }
    for (char method : {'4', '5', '6', '7'}) {
        RoundTrip(text, method);
        RoundTrip(binary, method);
        RoundTrip(far, method, 1000);  // many blocks, codes sent anew each time
    }
    // Distances up to 65535 with the 17-code distance field of -lh6- and -lh7-.
    std::vector<Token> wide;
    for (int i = 0; i < 70000; ++i) wide.push_back(Token::Byte(static_cast<uint8_t>(random())));
    for (uint32_t d : {32768u, 40000u, 65534u, 65535u, 16384u}) wide.push_back(Token::Match(200, d));
    RoundTrip(wide, '6');
    RoundTrip(wide, '7');
}

TEST_F(BlockDecoding, WindowEdgesGiveTheWritesAndReports) {
    g_run.total = 1000000;
    struct Case {
        const char* what;
        std::vector<Token> tokens;
        std::vector<DWORD> writes;
        std::vector<Report> reports;
    };
    std::vector<Token> full = lzh::Literals(std::string(65536, 'x'));
    std::vector<Token> oneMore = lzh::Literals(std::string(65537, 'y'));
    // A match that fills the window counts in full at the write.
    std::vector<Token> matchFill = lzh::Literals(std::string(65530, 'z'));
    matchFill.push_back(Token::Match(10, 0));
    Case cases[] = {
        {"exactly one window", full, {65536}, {{65536, 1000000}}},
        {"one byte more", oneMore, {65536, 1}, {{65536, 1000000}, {65537, 1000000}}},
        {"window filled in a match", matchFill, {65536, 4}, {{65540, 1000000}, {65540, 1000000}}},
    };
    for (const Case& c : cases) {
        std::string data = lzh::Encode(c.tokens, '4');
        host::Reset();
        Reports().clear();
        g_run.done = 0;
        ASSERT_TRUE(DecodeBytes(data, '4', lzh::Expand(c.tokens).size())) << c.what;
        EXPECT_EQ(host::WriteRequests(), c.writes) << c.what;
        EXPECT_EQ(Reports(), c.reports) << c.what;
        EXPECT_TRUE(Output() == lzh::Expand(c.tokens)) << c.what;
    }
}

TEST_F(BlockDecoding, MatchesBeforeTheStartAndRuns) {
    std::vector<std::vector<Token>> cases = {
        {Token::Byte('A'), Token::Match(256, 0)},                      // 257 bytes of A
        {Token::Byte('B'), Token::Match(10, 300)},                     // spaces from before the start
        {Token::Match(100, 65535), Token::Byte('C'), Token::Match(5, 1)},
    };
    for (const auto& tokens : cases) RoundTrip(tokens, '7');
    EXPECT_EQ(lzh::Expand(cases[0]), std::string(257, 'A'));
}

TEST_F(BlockDecoding, LastMatchMayRunPastTheOriginalSize) {
    std::vector<Token> tokens = {Token::Byte('Q'), Token::Match(256, 0)};
    ASSERT_TRUE(DecodeBytes(lzh::Encode(tokens, '5'), '5', 2));
    EXPECT_EQ(Output(), std::string(257, 'Q'));  // the whole match is written
    EXPECT_EQ(g_run.done, 257u);
    EXPECT_EQ(Reports(), (std::vector<Report>{{257, 0}}));
}

TEST_F(BlockDecoding, EmptyEntryReadsTheFirstRefillOnly) {
    std::string data = lzh::Encode(lzh::Literals("ignored"), '5') + std::string(30000, 'p');
    ASSERT_TRUE(DecodeBytes(data, '5', 0));
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(host::ReadRequests(), std::vector<DWORD>{16384});
    EXPECT_TRUE(host::WriteRequests().empty());
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(Crc16Value(), 0);
}

TEST_F(BlockDecoding, BlockCountZeroServes65536Symbols) {
    std::mt19937 random(5);
    std::vector<Token> tokens;
    for (int i = 0; i < 65536 + 300; ++i) tokens.push_back(Token::Byte(static_cast<uint8_t>(random() % 7)));
    std::string data = lzh::Encode(tokens, '5');
    ASSERT_EQ(data.substr(0, 2), std::string(2, '\0'));  // the first block's count field
    RoundTrip(tokens, '5');
}

TEST_F(BlockDecoding, SingleSymbolCodeConsumesNoBits) {
    // Count 0 with symbol 65: every symbol is A and takes no bits; the
    // stream ends after the header, so the rest reads as zeros.
    lzh::BitWriter out;
    out.Put(0, 16);  // 65536 symbols
    out.Put(0, 5);
    out.Put(0, 5);
    out.Put(0, 9);
    out.Put(65, 9);
    out.Put(0, 4);
    out.Put(0, 4);
    ASSERT_TRUE(DecodeBytes(out.Finish(), '5', 60000));
    EXPECT_TRUE(Output() == std::string(60000, 'A'));
}

TEST_F(BlockDecoding, RefillsFollowTheEntryAndStopAtItsEnd) {
    std::mt19937 random(11);
    std::vector<Token> tokens;
    for (int i = 0; i < 50000; ++i) tokens.push_back(Token::Byte(static_cast<uint8_t>(random())));
    std::string data = lzh::Encode(tokens, '6');
    ASSERT_GT(data.size(), 3 * 16384u);
    OpenArchive(data + "NEXT");
    CreateOutput();
    ASSERT_TRUE(DecodeEntry('6', 50000, data.size()));
    std::vector<DWORD> refills(data.size() / 16384, 16384);
    refills.push_back(static_cast<DWORD>(data.size() % 16384));
    EXPECT_EQ(host::ReadRequests(), refills);
    EXPECT_EQ(ArchivePosition(), data.size());  // exactly at the next header
    EXPECT_EQ(host::WriteRequests(), std::vector<DWORD>{50000});
}

TEST_F(BlockDecoding, FailuresShowTheirBoxAndAbort) {
    std::mt19937 random(13);
    std::vector<Token> tokens;
    for (int i = 0; i < 140000; ++i) tokens.push_back(Token::Byte(static_cast<uint8_t>(random() % 3 ? 'a' : random())));
    std::string data = lzh::Encode(tokens, '5');
    ASSERT_GT(data.size(), 16384u);
    struct Case {
        const char* what;
        int failRead, failWrite;
        host::Fault fault;
        std::string box;
    } cases[] = {
        {"second refill fails", 2, 0, host::Fault::Fail, Box(archivePath_, expected::kReadError)},
        {"first refill short", 1, 0, host::Fault::Short, Box(archivePath_, expected::kReadError)},
        {"first write fails", 0, 1, host::Fault::Fail, Box(outputPath_, expected::kWriteError)},
        {"final write short", 0, 3, host::Fault::Short, Box(outputPath_, expected::kWriteError)},
    };
    for (const Case& c : cases) {
        host::Reset();
        OpenArchive(data);
        CreateOutput();
        if (c.failRead) host::FailRead(c.failRead, c.fault);
        if (c.failWrite) host::FailWrite(c.failWrite, c.fault);
        EXPECT_FALSE(DecodeEntry('5', tokens.size(), data.size())) << c.what;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.box}) << c.what;
    }
    // A cancel takes effect at the first report, after the first full window.
    host::Reset();
    g_progressReport = ReportProgress;
    g_run.cancelFlag = 1;
    OpenArchive(data);
    CreateOutput();
    EXPECT_FALSE(DecodeEntry('5', tokens.size(), data.size()));
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_EQ(host::WriteRequests(), std::vector<DWORD>{65536});
}

TEST_F(BlockDecoding, DamagedHeadersAreRefused) {
    // Each stream starts a block and then breaks one rule of the format.
    auto stream = [](const std::function<void(lzh::BitWriter&)>& body) {
        lzh::BitWriter out;
        out.Put(1, 16);
        body(out);
        return out.Finish() + std::string(8, '\0');
    };
    auto singleLengthCode = [](lzh::BitWriter& out) {
        out.Put(0, 5);
        out.Put(0, 5);  // the length code: only symbol 0 (a zero length)
    };
    struct Case {
        const char* what;
        char method;
        std::string data;
    } cases[] = {
        {"length code single symbol 19", '5', stream([](lzh::BitWriter& o) { o.Put(0, 5); o.Put(19, 5); })},
        {"symbol code single symbol 510", '5', stream([&](lzh::BitWriter& o) { singleLengthCode(o); o.Put(0, 9); o.Put(510, 9); })},
        {"symbol code single symbol 511", '5', stream([&](lzh::BitWriter& o) { singleLengthCode(o); o.Put(0, 9); o.Put(511, 9); })},
        {"distance code single symbol 14 in lh5", '5', stream([&](lzh::BitWriter& o) {
             singleLengthCode(o); o.Put(0, 9); o.Put(65, 9); o.Put(0, 4); o.Put(14, 4); })},
        {"distance code single symbol 17 in lh7", '7', stream([&](lzh::BitWriter& o) {
             singleLengthCode(o); o.Put(0, 9); o.Put(65, 9); o.Put(0, 5); o.Put(17, 5); })},
        {"511 symbol code lengths", '5', stream([&](lzh::BitWriter& o) { singleLengthCode(o); o.Put(511, 9); })},
        {"zero run past the last symbol", '5', stream([](lzh::BitWriter& o) {
             // Length code: symbols 2 and 3 with one bit each (2 = long zero run).
             o.Put(4, 5); o.Put(0, 3); o.Put(0, 3); o.Put(1, 3); o.Put(0, 2); o.Put(1, 3);
             o.Put(510, 9);
             o.Put(1, 1); o.Put(0, 1);   // length 1 for symbol 0
             o.Put(0, 1); o.Put(511, 9); // then 531 zeros
         })},
        {"length code length above 16", '5', stream([](lzh::BitWriter& o) {
             // Lengths 1, 2 and 17 (111 + ten 1 bits + 0) for the length code.
             o.Put(3, 5); o.Put(1, 3); o.Put(2, 3); o.Put(7, 3); o.Put(0x3FF, 10); o.Put(0, 1); o.Put(0, 2);
         })},
        {"incomplete length code", '5', stream([](lzh::BitWriter& o) { o.Put(1, 5); o.Put(1, 3); })},
    };
    for (const Case& c : cases) {
        host::Reset();
        EXPECT_FALSE(DecodeBytes(c.data, c.method, 100)) << c.what;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{Broken()}) << c.what;
        EXPECT_TRUE(host::WriteRequests().empty()) << c.what;
    }
}

TEST_F(BlockDecoding, SmallCodeLengthsBeyondTheCountAreReadAndIgnored) {
    // A -lh5- distance code that sends 15 lengths (one more than its 14
    // symbols): the fifteenth is read and ignored. Literals only.
    lzh::BitWriter out;
    out.Put(2, 16);
    out.Put(0, 5);
    out.Put(0, 5);       // length code: single symbol 0...
    out.Put(0, 9);
    out.Put('K', 9);     // ...symbol code: single symbol K
    out.Put(15, 4);      // distance code: 15 lengths
    out.Put(1, 3);
    out.Put(1, 3);       // symbols 0 and 1 with one bit each
    for (int i = 2; i < 14; ++i) out.Put(0, 3);
    out.Put(7, 3);
    out.Put(0x3FF, 10);
    out.Put(0, 1);       // the fifteenth: a length of 17, outside the code
    ASSERT_TRUE(DecodeBytes(out.Finish(), '5', 2));
    EXPECT_EQ(Output(), "KK");
}

}  // namespace
