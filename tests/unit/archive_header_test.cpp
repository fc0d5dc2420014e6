// Entry headers, the CRC-16 engine, time stamps and the separator rule.
#include "unit/decode_fixture.h"
#include "unit/decode_stream_writer.h"
#include "common/system_calls.h"
#include "extract/extraction.h"
#include "support/damaged_headers.h"
#include "support/lzh_builder.h"

using decodetest::DecodeFixture;
using lzh::Extension;
using lzh::Header;

namespace {

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kEpochSeconds = 11644473600ull;  // 1601-01-01 to 1970-01-01

uint64_t Ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }


TEST(Crc16, MatchesTheArcCheckValueAndTheBitwiseReference) {
    Crc16Reset();
    EXPECT_EQ(Crc16Update("123456789", 9), 0xBB3D);

    std::string bytes;
    for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 131 + 7);
    // In pieces of every size and alignment, as the output side folds writes.
    for (int32_t piece = 1; piece <= 40; ++piece) {
        Crc16Reset();
        for (int32_t at = 0; at < 1000; at += piece) Crc16Update(bytes.data() + at, std::min(piece, 1000 - at));
        EXPECT_EQ(Crc16Value(), lzh::ReferenceCrc16(bytes)) << piece;
    }

    // A count of 0 or less changes nothing and returns the running value.
    uint16_t before = Crc16Value();
    EXPECT_EQ(Crc16Update("x", 0), before);
    EXPECT_EQ(Crc16Update("x", -5), before);
    Crc16Reset();
    EXPECT_EQ(Crc16Value(), 0);
}

TEST(HeaderTime, StampsConvertThroughTheUtcCalendar) {
    // 1970-01-01, a leap day, the last second of a leap year, the largest stamp.
    for (uint32_t stamp : {0u, 951782400u, 1009843199u, 1234567890u, 0x7FFFFFFFu}) {
        EXPECT_EQ(Ticks(HeaderTimeToFileTime(stamp)), (stamp + kEpochSeconds) * kTicksPerSecond) << stamp;
    }
}

TEST(HeaderTime, NegativeStampGivesTheTimeOfReading) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME nowTime;
    SystemTimeToFileTime(&now, &nowTime);
    uint64_t got = Ticks(HeaderTimeToFileTime(0x80000000u));
    EXPECT_GE(got, Ticks(nowTime));
    EXPECT_LT(got - Ticks(nowTime), 60 * kTicksPerSecond);
}

TEST(NormalizeSeparators, TurnsSeparatorsOutsideDoubleByteCharacters) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a\xFF" "b\xFF" "c.txt", "a/b/c.txt"},
        {"a\\b/c", "a/b/c"},
        {"\x95\x5C\\x", "\x95\x5C/x"},        // 表: trail byte 0x5C kept
        {"\x83\x2F/y", "\x83\x2F/y"},         // a trail byte equal to '/'
        {"\x81\xFF", "\x81\xFF"},             // a trail byte 0xFF
        {"end\x95", "end\x95"},               // a lead byte before the terminator
        {"\xB1\\", "\xB1/"},                  // half-width katakana is single-byte
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        NormalizeSeparators(&text[0]);
        EXPECT_EQ(text, c.out) << c.in;
    }
    // In units: 0xFFFF ends a folder of a UTF-16 name; U+00FF is a letter there.
    std::u16string units = u"a\uFFFFb\\c/\u00FFd";
    NormalizeSeparators(&units[0], [](WCHAR) { return false; });
    EXPECT_EQ(units, u"a/b/c/\u00FFd");
}

class HeaderReading : public DecodeFixture {
protected:
    // Reads one header and shows its box as the extraction driver does.
    EntryStatus Read(const std::string& archive) {
        OpenArchive(archive);
        EntryStatus status = ReadNextEntry();
        ShowEntryStatusBox(status);
        return status;
    }
    std::string Broken() const { return Box(archivePath_, expected::kArchiveBroken); }
    std::string Unsupported() const { return Box(archivePath_, expected::kUnsupportedMethod); }
};

Header Plain(const std::string& name = "a.txt") { return support::PlainHeader(name); }

TEST_F(HeaderReading, RefusalsAndEndMarkers) {
    auto withMethod = [](const char* method) {
        Header h = Plain();
        h.method = method;
        return h;
    };
    Header badBoth = withMethod("-lh1-");
    badBoth.crcDelta = 1;
    ASSERT_EQ(Plain(std::string(256 - 34, 'n')).Bytes().size(), 256u);

    struct Case {
        std::string what;
        std::string archive;
        EntryStatus status;
        std::string box;  // empty: none
    };
    // The headers that the listing judges alike, then the stub's own refusals:
    // methods it cannot decode and names that fit no path.
    std::vector<Case> cases;
    for (const support::DamagedHeaderCase& c : support::DamagedHeaderCases()) {
        bool end = c.judgement == support::HeaderJudgement::End;
        cases.push_back({c.what, c.archive, end ? EntryStatus::End : EntryStatus::Damaged, end ? "" : Broken()});
    }
    std::vector<Case> stubOnly = {
        {"-lh1-", withMethod("-lh1-").Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"-lh2-", withMethod("-lh2-").Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"-lh3-", withMethod("-lh3-").Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"-lhx-", withMethod("-lhx-").Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"-lz5-", withMethod("-lz5-").Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"-lh5_", withMethod("-lh5_").Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"unsupported and wrong CRC", badBoth.Bytes(), EntryStatus::UnsupportedMethod, Unsupported()},
        {"name over 259 bytes", Plain(std::string(260, 'x')).Bytes(), EntryStatus::Damaged, Broken()},
    };
    cases.insert(cases.end(), stubOnly.begin(), stubOnly.end());
    for (const Case& c : cases) {
        host::Reset();
        ReleaseEntry();
        EXPECT_EQ(Read(c.archive), c.status) << c.what;
        std::vector<std::string> expectedBoxes;
        if (!c.box.empty()) expectedBoxes.push_back(c.box);
        EXPECT_EQ(BoxTexts(), expectedBoxes) << c.what;
    }
}

TEST_F(HeaderReading, TakenExtensionsThatAreTooShortAreRefused) {
    for (uint8_t type : {0x00, 0x40, 0x41, 0x42}) {
        Header h = Plain();
        h.osId = 'M';
        h.extensions.push_back(Extension{type, std::string(1, '\x11')});
        host::Reset();
        ReleaseEntry();
        EXPECT_EQ(Read(h.Bytes()), EntryStatus::Damaged) << int(type);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{Broken()}) << int(type);
    }
}

TEST_F(HeaderReading, NoMemoryShowsItsTextAlone) {
    g_run.progressWindow = reinterpret_cast<HWND>(0x1234);
    host::FailAllocation(1);
    EXPECT_EQ(Read(Plain().Bytes()), EntryStatus::NoMemory);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text, expected::kNoMemory);
    EXPECT_EQ(host::Boxes()[0].caption, "Sample");
    EXPECT_EQ(host::Boxes()[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(host::Boxes()[0].owner, g_run.progressWindow);
}

TEST_F(HeaderReading, TypicalLayoutOfOurArchives) {
    // Attribute byte 0x20, OS id M, an unknown 0x46 extension, the name, the
    // Windows time, and EXT_COMMON last with one extra byte.
    Header h;
    h.method = "-lh7-";
    h.compressedSize = 1234;
    h.originalSize = 5678;
    h.dataCrc = 0xBEEF;
    h.stamp = 1000000000;
    std::string windowsTime;
    lzh::PutU64(windowsTime, 111);
    lzh::PutU64(windowsTime, 0x01D0000012345678ull);
    lzh::PutU64(windowsTime, 333);
    h.extensions = {Extension{0x46, std::string(4, '\x7F')}, lzh::FileName("setup.exe"), Extension{0x41, windowsTime}};
    h.commonExtra = std::string(1, '\x01');
    std::string header = h.Bytes();
    ASSERT_EQ(Read(header + "DATA"), EntryStatus::Entry);
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_EQ(g_entry.method, '7');
    EXPECT_EQ(g_entry.compressedSize, 1234u);
    EXPECT_EQ(g_entry.originalSize, 5678u);
    EXPECT_EQ(g_entry.dataCrc, 0xBEEF);
    EXPECT_EQ(g_entry.attributes, 0x20);
    EXPECT_EQ(Ticks(g_entry.lastWriteTime), 0x01D0000012345678ull);
    EXPECT_EQ(support::Utf8Of(g_entry.name), "setup.exe");
    EXPECT_EQ(support::ReadWholeFile(archivePath_).substr(0, header.size()), header);
    EXPECT_EQ(ArchivePosition(), header.size());  // at the first data byte
    EXPECT_EQ(host::ReadRequests(), (std::vector<DWORD>{26, static_cast<DWORD>(header.size() - 26)}));
}

TEST_F(HeaderReading, ExtensionsOverrideTheBaseFields) {
    std::string attribute;
    lzh::PutU16(attribute, 0x0021);
    std::string large;
    lzh::PutU64(large, 0x123456789ull);
    lzh::PutU64(large, 0x200000000ull);
    std::string creationAndLastWrite;  // the last-access time left out
    lzh::PutU64(creationAndLastWrite, 111);
    lzh::PutU64(creationAndLastWrite, 0x01D0000012345678ull);

    struct Case {
        const char* what;
        char osId;
        std::vector<Extension> extensions;
        uint32_t stamp;
        uint16_t attributes;
        uint64_t compressed, original;
        uint64_t ticks;
    } cases[] = {
        {"attribute from an MS-DOS header", 'M', {Extension{0x40, attribute}}, 0, 0x21, 7, 9, kEpochSeconds * kTicksPerSecond},
        {"attribute ignored elsewhere", 'U', {Extension{0x40, attribute}}, 0, 0x20, 7, 9, kEpochSeconds * kTicksPerSecond},
        {"sizes over 4 GiB", 'M', {Extension{0x42, large}}, 86400, 0x20, 0x123456789ull, 0x200000000ull,
         (86400 + kEpochSeconds) * kTicksPerSecond},
        {"short attribute ignored elsewhere", 'U', {Extension{0x40, std::string(1, '\x11')}}, 0, 0x20, 7, 9,
         kEpochSeconds * kTicksPerSecond},
        {"Windows time without the last-access part", 'M', {Extension{0x41, creationAndLastWrite}}, 0, 0x20, 7,
         9, 0x01D0000012345678ull},
        {"the later of two wins", 'M', {Extension{0x40, std::string("\x01\x00", 2)}, Extension{0x40, attribute}}, 0,
         0x21, 7, 9, kEpochSeconds * kTicksPerSecond},
    };
    for (const Case& c : cases) {
        Header h = Plain();
        h.osId = c.osId;
        h.compressedSize = 7;
        h.originalSize = 9;
        h.stamp = c.stamp;
        h.extensions.insert(h.extensions.end(), c.extensions.begin(), c.extensions.end());
        ReleaseEntry();
        ASSERT_EQ(Read(h.Bytes()), EntryStatus::Entry) << c.what;
        EXPECT_EQ(g_entry.attributes, c.attributes) << c.what;
        EXPECT_EQ(g_entry.compressedSize, c.compressed) << c.what;
        EXPECT_EQ(g_entry.originalSize, c.original) << c.what;
        EXPECT_EQ(Ticks(g_entry.lastWriteTime), c.ticks) << c.what;
    }
}

TEST_F(HeaderReading, NamesFromDirectoryAndFileParts) {
    struct Case {
        const char* what;
        std::vector<Extension> parts;
        std::string name;
    } cases[] = {
        {"directory and file", {lzh::DirName("a\xFF" "b\xFF"), lzh::FileName("c.txt")}, "a/b/c.txt"},
        {"file before directory in the chain", {lzh::FileName("c.txt"), lzh::DirName("a\xFF")}, "a/c.txt"},
        {"folder entry", {lzh::DirName("docs\xFF")}, "docs/"},
        {"no name at all", {}, ""},
        {"Shift-JIS trail byte 0x5C", {lzh::DirName("\x95\x5C\xFF"), lzh::FileName("\x83\x5C.txt")},
         "\x95\x5C/\x83\x5C.txt"},
        {"backslashes in the file part", {lzh::FileName("x\\y")}, "x/y"},
        {"a zero byte ends the name", {lzh::DirName(std::string("ab\0c\xFF", 5)), lzh::FileName("d")}, "ab"},
        {"259 bytes fit", {lzh::DirName(std::string(200, 'd')), lzh::FileName(std::string(59, 'f'))},
         std::string(200, 'd') + std::string(59, 'f')},
    };
    for (const Case& c : cases) {
        Header h;
        h.extensions = c.parts;
        ReleaseEntry();
        ASSERT_EQ(Read(h.Bytes()), EntryStatus::Entry) << c.what;
        EXPECT_EQ(support::ShiftJisOf(g_entry.name), c.name) << c.what;
    }
}

using support::Utf16Le;

TEST_F(HeaderReading, UnicodeNamesWinWithTheWideCallsAndMustBeWellFormed) {
    const Extension sjisDir = lzh::DirName("__\xFF"), sjisFile = lzh::FileName("_.txt");
    const Extension uniDir{0x45, Utf16Le(u"\uD55C\uAD6D\uFFFF")}, uniFile{0x44, Utf16Le(u"\u00DC.txt")};
    struct Case {
        const char* what;
        std::vector<Extension> parts;
        std::string name;  // UTF-8; empty: damaged
    } cases[] = {
        {"both parts", {sjisDir, sjisFile, uniDir, uniFile}, "\xED\x95\x9C\xEA\xB5\xAD/\xC3\x9C.txt"},
        {"the Unicode header before the Shift-JIS one", {uniFile, sjisFile}, "\xC3\x9C.txt"},
        {"a folder part alone", {sjisDir, sjisFile, uniDir}, "\xED\x95\x9C\xEA\xB5\xAD/_.txt"},
        {"a file part alone", {sjisDir, sjisFile, uniFile}, "__/\xC3\x9C.txt"},
        {"a surrogate pair", {Extension{0x44, Utf16Le(u"\U0001F600")}}, "\xF0\x9F\x98\x80"},
        {"a backslash inside", {Extension{0x44, Utf16Le(u"a\\b")}}, "a/b"},
        {"odd length", {Extension{0x44, "a\0b"}}, ""},
        {"a high surrogate alone", {Extension{0x44, Utf16Le(u"a\xD800" u"b")}}, ""},
        {"a low surrogate alone", {Extension{0x44, Utf16Le(u"\xDC00")}}, ""},
        {"a surrogate at the end", {Extension{0x44, Utf16Le(u"a\xD83D")}}, ""},
        {"a unit 0", {Extension{0x44, Utf16Le(std::u16string(u"a\0b", 3))}}, ""},
        {"260 units", {Extension{0x44, Utf16Le(std::u16string(260, u'x'))}}, ""},
    };
    for (const Case& c : cases) {
        Header h;
        h.extensions = c.parts;
        ReleaseEntry();
        EntryStatus status = Read(h.Bytes());
        if (c.name.empty()) {
            EXPECT_EQ(status, EntryStatus::Damaged) << c.what;
            continue;
        }
        ASSERT_EQ(status, EntryStatus::Entry) << c.what;
        EXPECT_EQ(support::Utf8Of(g_entry.name), c.name) << c.what;
    }
    // Windows 95 to Me read the Shift-JIS name and never judge the Unicode one.
    host::SetWindows("win98");
    ChooseSystemCalls();
    Header h;
    h.extensions = {sjisDir, sjisFile, Extension{0x44, "odd"}};
    ReleaseEntry();
    ASSERT_EQ(Read(h.Bytes()), EntryStatus::Entry);
    EXPECT_EQ(support::Utf8Of(g_entry.name), "__/_.txt");
}

TEST_F(HeaderReading, EntriesFollowOneAnother) {
    Header first = Plain("one");
    first.compressedSize = 3;
    first.method = "-lh0-";
    Header second = Plain("two");
    second.method = "-lhd-";
    OpenArchive(first.Bytes() + "xyz" + second.Bytes() + std::string(1, '\0'));
    ASSERT_EQ(ReadNextEntry(), EntryStatus::Entry);
    EXPECT_EQ(g_entry.method, '0');
    ReleaseEntry();
    SetFilePointer(g_run.archiveFile, 3, nullptr, FILE_CURRENT);
    ASSERT_EQ(ReadNextEntry(), EntryStatus::Entry);
    EXPECT_EQ(g_entry.method, 'd');
    EXPECT_EQ(support::Utf8Of(g_entry.name), "two");
    ReleaseEntry();
    EXPECT_EQ(ReadNextEntry(), EntryStatus::End);
}

}  // namespace
