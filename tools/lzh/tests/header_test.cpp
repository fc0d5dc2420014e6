// Headers as the stub's reader takes them, and names in Shift-JIS.
#include "lzh/header.h"

#include <gtest/gtest.h>

#include "lzh/archive_list.h"
#include "our_decoder.h"
#include "support/damaged_headers.h"
#include "support/reference_crc.h"
#include "support/test_support.h"

namespace {

constexpr uint64_t FILETIME_1970 = 116444736000000000ULL;

// The extended header types present, in chain order.
std::vector<int> ExtensionTypes(const std::string& h) {
    std::vector<int> types;
    size_t at = 24;
    while (at + 2 <= h.size()) {
        uint32_t size = static_cast<uint8_t>(h[at]) | (static_cast<uint8_t>(h[at + 1]) << 8);
        if (size == 0) break;
        types.push_back(static_cast<uint8_t>(h[at + 2]));
        at += size;
    }
    return types;
}

struct HeaderCase {
    const char* label;
    lzh::EntryHeader entry;
    std::vector<int> types;  // extended headers expected
    std::string name;        // as the reader builds it
    uint64_t fileTime;       // as the reader takes it
};

lzh::EntryHeader Entry(char method, const std::string& dir, const std::string& file, int64_t seconds,
                       uint32_t nanos = 0, uint64_t size = 10, uint16_t attributes = lzh::ATTRIBUTE_ARCHIVE) {
    lzh::EntryHeader e;
    e.method = method;
    e.directory = dir;
    e.file = file;
    e.lastWrite = {seconds, nanos};
    e.originalSize = e.compressedSize = method == 'd' ? 0 : size;
    e.attributes = attributes;
    return e;
}

std::vector<HeaderCase> HeaderCases() {
    return {
        {"plain", Entry('5', "", "a.txt", 1000000000), {0x00, 0x01}, "a.txt", FILETIME_1970 + 1000000000ULL * 10000000},
        {"nested", Entry('0', "a/b", "c.txt", 0), {0x00, 0x01, 0x02}, "a/b/c.txt", FILETIME_1970},
        {"folder", Entry('d', "a/b", "", 60), {0x00, 0x02}, "a/b/", FILETIME_1970 + 600000000ULL},
        {"sub_second", Entry('5', "", "f", 1000000000, 500000000), {0x00, 0x01, 0x41}, "f",
         FILETIME_1970 + 1000000000ULL * 10000000 + 5000000},
        {"before_1970", Entry('5', "", "f", -86400), {0x00, 0x01, 0x41}, "f", FILETIME_1970 - 864000000000ULL},
        {"after_2038", Entry('5', "", "f", 0x80000000LL + 5), {0x00, 0x01, 0x41}, "f",
         FILETIME_1970 + (0x80000000ULL + 5) * 10000000},
        {"large", Entry('0', "", "big", 0, 0, 5ULL << 30), {0x00, 0x01, 0x42}, "big", FILETIME_1970},
        {"attribute_word", Entry('0', "", "w", 0, 0, 10, 0x2021), {0x00, 0x01, 0x40}, "w", FILETIME_1970},
        // 26 base + 5 EXT_COMMON + 225 EXT_FILE_NAME = 256: one byte of padding.
        {"size_256", Entry('5', "", std::string(222, 'n'), 0), {0x00, 0x01}, std::string(222, 'n'), FILETIME_1970},
    };
}

class Header : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Header, ReadsBackThroughTheStubsReader) {
    const HeaderCase& c = GetParam();
    std::string h = lzh::BuildHeader(c.entry);
    EXPECT_NE(h.size() % 256, 0u);
    EXPECT_EQ(static_cast<uint8_t>(h[0]) | (static_cast<uint8_t>(h[1]) << 8), h.size());
    EXPECT_EQ(ExtensionTypes(h), c.types);

    support::ScratchFolder folder;
    lzhtest::WriteFileBytes(folder / "h.lzh", h + std::string(1, '\0'));
    lzhtest::DecodedEntry entry;
    std::string error;
    ASSERT_TRUE(lzhtest::ReadFirstHeader(folder / "h.lzh", &entry, &error)) << error;
    EXPECT_EQ(entry.method, c.entry.method);
    EXPECT_EQ(entry.name, c.name);
    EXPECT_EQ(entry.originalSize, c.entry.originalSize);
    EXPECT_EQ(entry.compressedSize, c.entry.compressedSize);
    EXPECT_EQ(entry.attributes, c.entry.attributes);
    EXPECT_EQ(entry.fileTime, c.fileTime);
}

INSTANTIATE_TEST_SUITE_P(Entries, Header, ::testing::ValuesIn(HeaderCases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.label); });

TEST(Header, NoSizeIsAMultipleOf256) {
    // Names of every length that fits: the padding must never land on 256 or 512.
    for (size_t length = 1; length <= 259; ++length) {
        for (bool dir : {false, true}) {
            if (dir && length < 3) continue;
            lzh::EntryHeader e = Entry('5', dir ? "d" : "", std::string(length - (dir ? 2 : 0), 'x'), 0);
            ASSERT_NE(lzh::BuildHeader(e).size() % 256, 0u) << length << (dir ? " with folder" : "");
        }
    }
}

TEST(Crc16, IsCrc16ArcAtEveryLengthAndSplit) {
    EXPECT_EQ(lzh::Crc16("123456789", 9), 0xBB3D);
    std::string bytes;
    for (int i = 0; i < 40; ++i) bytes += static_cast<char>(i * 73 + 5);
    for (size_t length = 0; length <= bytes.size(); ++length) {
        uint16_t bitwise = support::ReferenceCrc16(bytes.data(), length);
        ASSERT_EQ(lzh::Crc16(bytes.data(), length), bitwise) << length;
        size_t half = length / 3;
        ASSERT_EQ(lzh::Crc16(bytes.data() + half, length - half, lzh::Crc16(bytes.data(), half)), bitwise) << length;
    }
}

// The listing refuses every header that the stub's reader refuses as
// damaged, and stops at the same end markers.
TEST(Listing, JudgesDamagedHeadersAsTheStubsReaderDoes) {
    support::ScratchFolder folder;
    for (const support::DamagedHeaderCase& c : support::DamagedHeaderCases()) {
        lzhtest::WriteFileBytes(folder / "h.lzh", c.archive);
        std::vector<lzh::ListedEntry> entries;
        std::string error;
        bool listed = lzh::ReadEntries(folder / "h.lzh", &entries, &error);
        if (c.judgement == support::HeaderJudgement::End) {
            EXPECT_TRUE(listed) << c.what << ": " << error;
            EXPECT_TRUE(entries.empty()) << c.what;
        } else {
            EXPECT_FALSE(listed) << c.what;
            EXPECT_NE(error.find("damaged archive"), std::string::npos) << c.what << ": " << error;
        }
    }
}

struct NameCase {
    const char* utf8;
    const char* sjis;  // nullptr: no Shift-JIS form
};

class ShiftJis : public ::testing::TestWithParam<NameCase> {};

TEST_P(ShiftJis, ConvertsOrNamesTheCharacter) {
    std::string sjis, error;
    bool ok = lzh::NameToShiftJis(GetParam().utf8, &sjis, &error);
    if (GetParam().sjis != nullptr) {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(sjis, GetParam().sjis);
        EXPECT_EQ(lzh::NameToUtf8(sjis), GetParam().utf8);
    } else {
        ASSERT_FALSE(ok);
        EXPECT_NE(error.find("Shift-JIS"), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShiftJis,
    ::testing::Values(NameCase{"readme.txt", "readme.txt"},
                      NameCase{"テスト/表.txt", "\x83\x65\x83\x58\x83\x67/\x95\x5c.txt"},
                      NameCase{"ｱｲｳ", "\xb1\xb2\xb3"},
                      NameCase{"①", "\x87\x40"},  // a code page 932 extension
                      NameCase{"caf\xc3\xa9", nullptr},
                      NameCase{"smile\xf0\x9f\x98\x80", nullptr}));

TEST(ShiftJis, ErrorQuotesTheOffendingCharacter) {
    std::string sjis, error;
    ASSERT_FALSE(lzh::NameToShiftJis("ab\xf0\x9f\x98\x80.txt", &sjis, &error));
    EXPECT_NE(error.find("\"\xf0\x9f\x98\x80\""), std::string::npos) << error;
}

}  // namespace
