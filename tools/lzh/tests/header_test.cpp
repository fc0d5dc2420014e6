// Headers as the stub's reader takes them, and names in Shift-JIS.
#include "lzh/header.h"

#include <gtest/gtest.h>

#include "lzh/archive_list.h"
#include "our_decoder.h"
#include "support/damaged_headers.h"
#include "support/lzh_header.h"
#include "support/reference_crc.h"
#include "support/test_support.h"

namespace {

constexpr uint64_t FILETIME_1970 = 116444736000000000ULL;

// The extended header types present, in chain order, and the data of the
// last one of type `wanted`.
std::vector<int> ExtensionTypes(const std::string& h, int wanted = -1, std::string* data = nullptr) {
    std::vector<int> types;
    size_t at = 24;
    while (at + 2 <= h.size()) {
        uint32_t size = static_cast<uint8_t>(h[at]) | (static_cast<uint8_t>(h[at + 1]) << 8);
        if (size == 0) break;
        types.push_back(static_cast<uint8_t>(h[at + 2]));
        if (types.back() == wanted) *data = h.substr(at + 3, size - 3);
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

lzh::EntryHeader Unicode(lzh::EntryHeader e, const std::u16string& dir, const std::u16string& file) {
    e.unicodeDirectory = dir;
    e.unicodeFile = file;
    return e;
}

std::vector<HeaderCase> HeaderCases() {
    return {
        {"plain", Entry('5', "", "a.txt", 1000000000), {0x00, 0x01}, "a.txt", FILETIME_1970 + 1000000000ULL * 10000000},
        {"nested", Entry('0', "a/b", "c.txt", 0), {0x00, 0x01, 0x02}, "a/b/c.txt", FILETIME_1970},
        {"folder", Entry('d', "a/b", "", 60), {0x00, 0x02}, "a/b/", FILETIME_1970 + 600000000ULL},
        {"folder_attribute", Entry('d', "a", "", 0, 0, 0, 0x10), {0x00, 0x02, 0x40}, "a/", FILETIME_1970},
        {"read_only", Entry('0', "", "r", 0, 0, 10, 0x21), {0x00, 0x01, 0x40}, "r", FILETIME_1970},
        // The UTF-16 records behind the Shift-JIS ones; the stub on the NT
        // family reads the former.
        {"unicode", Unicode(Entry('5', "caf_", "_.txt", 0), u"café", u"ü.txt"), {0x00, 0x01, 0x02, 0x44, 0x45},
         "café/ü.txt", FILETIME_1970},
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
    EXPECT_EQ(h[19], 0x20) << "libarchive takes no other attribute byte";

    support::ScratchFolder folder;
    lzhtest::WriteFileBytes(folder / "h.lzh", h + std::string(1, '\0'));
    lzhtest::DecodedEntry entry;
    std::string error;
    ASSERT_TRUE(lzhtest::ReadFirstHeader(folder / "h.lzh", &entry, &error)) << error;
    EXPECT_EQ(entry.method, c.entry.method);
    EXPECT_EQ(entry.utf8Name, c.name);
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

// --list takes each part of a name from its UTF-16 record when that is well
// formed, else from the Shift-JIS record.
TEST(Listing, NamesFromWellFormedUtf16Records) {
    auto built = [](char method, const std::string& dir, const std::string& file, const std::u16string& unicodeDir,
                    const std::u16string& unicodeFile) {
        return lzh::BuildHeader(Unicode(Entry(method, dir, file, 0, 0, 0), unicodeDir, unicodeFile));
    };
    lzh::Header oddLength;
    oddLength.method = "-lh0-";
    oddLength.extensions = {{0x01, "ab"}, {0x44, std::string("a\0b", 3)}};
    struct Case {
        const char* what;
        std::string header;
        std::string listed;
    };
    const Case cases[] = {
        {"both", built('0', "\x92\x86\x95\xb6_\x91\xcc", "_ber.txt", u"中文简体", u"Über.txt"), "中文简体/Über.txt"},
        {"folder", built('d', "a/b", "", u"ä/b", u""), "ä/b/"},
        {"folder record only", built('0', "r_sum_", "x", u"résumé", u""), "résumé/x"},
        {"surrogate pair", built('0', "", "_", u"", u"\U0001F600"), "\xf0\x9f\x98\x80"},
        {"unpaired surrogate", built('0', "", "_", u"", u"\xD800"), "_"},
        {"unpaired low surrogate", built('0', "", "_x", u"", u"\xDC00x"), "_x"},
        {"NUL unit", built('0', "", "a_", u"", std::u16string(u"a\0b", 3)), "a_"},
        {"odd length", oddLength.Bytes(), "ab"},
    };
    support::ScratchFolder folder;
    for (const Case& c : cases) {
        lzhtest::WriteFileBytes(folder / "h.lzh", c.header + std::string(1, '\0'));
        std::vector<lzh::ListedEntry> entries;
        std::string error;
        ASSERT_TRUE(lzh::ReadEntries(folder / "h.lzh", &entries, &error)) << c.what << ": " << error;
        ASSERT_EQ(entries.size(), 1u) << c.what;
        EXPECT_EQ(entries[0].name, c.listed) << c.what;
    }
    // No terminator, no byte-order mark; 0xFFFF after every folder.
    std::string data;
    ExtensionTypes(built('d', "a/b", "", u"a/b", u""), 0x45, &data);
    EXPECT_EQ(data, std::string("a\0\xff\xff" "b\0\xff\xff", 8));
    ExtensionTypes(built('0', "", "_", u"", u"\u00fc"), 0x44, &data);
    EXPECT_EQ(data, std::string("\xfc\0", 2));
}

struct NameCase {
    const char* utf8;
    const char* sjis;  // nullptr: refused (not UTF-8)
    const char16_t* utf16;
};

class ShiftJis : public ::testing::TestWithParam<NameCase> {};

TEST_P(ShiftJis, ConvertsWithUnderscoresForWhatItLacks) {
    lzh::ArchiveName name;
    std::string error;
    bool ok = lzh::ConvertName(GetParam().utf8, &name, &error);
    if (GetParam().sjis != nullptr) {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(name.sjis, GetParam().sjis);
        EXPECT_EQ(name.utf16, GetParam().utf16);
        EXPECT_EQ(name.substituted, name.sjis.find('_') != std::string::npos);
        if (!name.substituted) {
            EXPECT_EQ(lzh::NameToUtf8(name.sjis), GetParam().utf8);
        }
    } else {
        ASSERT_FALSE(ok);
        EXPECT_NE(error.find("does not read as UTF-8"), std::string::npos) << error;
    }
}

// Was: café and the emoji refused for want of a Shift-JIS form.
INSTANTIATE_TEST_SUITE_P(
    Names, ShiftJis,
    ::testing::Values(NameCase{"readme.txt", "readme.txt", u"readme.txt"},
                      NameCase{"テスト/表.txt", "\x83\x65\x83\x58\x83\x67/\x95\x5c.txt", u"テスト/表.txt"},
                      NameCase{"ｱｲｳ", "\xb1\xb2\xb3", u"ｱｲｳ"},
                      NameCase{"①", "\x87\x40", u"①"},  // a code page 932 extension
                      NameCase{"caf\xc3\xa9", "caf_", u"café"},
                      NameCase{"smile\xf0\x9f\x98\x80", "smile_", u"smile\U0001F600"},
                      NameCase{"한국어/Über表", "___/_ber\x95\x5c", u"한국어/Über表"},
                      NameCase{"ab\xff.txt", nullptr, nullptr}, NameCase{"\xc0\xaf", nullptr, nullptr},
                      NameCase{"\xed\xa0\x80", nullptr, nullptr}, NameCase{"cut\xe6\x97", nullptr, nullptr}));

TEST(ShiftJis, ErrorQuotesTheOffendingByte) {
    lzh::ArchiveName name;
    std::string error;
    ASSERT_FALSE(lzh::ConvertName("ab\xf0\x9f\x98.txt", &name, &error));
    EXPECT_NE(error.find("the byte 0xF0 at offset 2"), std::string::npos) << error;
}

}  // namespace
