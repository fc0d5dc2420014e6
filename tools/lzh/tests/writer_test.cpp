// Whole archives from files and folders: order, names, attributes, stored
// fallback, errors, progress, listing; extracted by the stub's decoder.
#include "lzh/archive_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <random>

#include "lzh/archive_list.h"
#include "our_decoder.h"
#include "test_data.h"
#include "support/test_support.h"

namespace {

using lzh_test::Periodic;
using lzh_test::RandomBytes;

class Writer : public ::testing::Test {
protected:
    std::string Src(const std::string& name) const { return folder_ / ("src/" + name); }
    void File(const std::string& name, const std::string& bytes) { lzhtest::WriteFileBytes(Src(name), bytes); }
    void Folder(const std::string& name) { mkdir(Src(name).c_str(), 0755); }
    void SetUp() override { mkdir((folder_ / "src").c_str(), 0755); }

    // Writes the archive (behind `prefix` bytes already in the file) and
    // returns false with the writer's message.
    bool Write(const std::vector<lzh::InputPath>& inputs, lzh::Method method, std::string* error,
               const std::string& prefix = "", const lzh::ProgressFn& progress = nullptr) {
        FILE* out = fopen(archive().c_str(), "w+b");
        fwrite(prefix.data(), 1, prefix.size(), out);
        bool ok = lzh::WriteArchive(out, inputs, method, *error, progress);
        fclose(out);
        return ok;
    }
    std::vector<lzhtest::DecodedEntry> Decode() {
        std::vector<lzhtest::DecodedEntry> entries;
        std::string error;
        mkdir((folder_ / "out").c_str(), 0755);
        EXPECT_TRUE(lzhtest::DecodeWithOurs(archive(), folder_ / "out", &entries, &error)) << error;
        return entries;
    }
    std::string archive() const { return folder_ / "a.lzh"; }

    support::ScratchFolder folder_;
};

TEST_F(Writer, NestedFoldersInSortedOrderWithTheirBytes) {
    Folder("top");
    Folder("top/b");
    Folder("top/a");
    Folder("top/a/deep");
    File("top/z.txt", std::string(5000, 'z'));
    File("top/b/empty", "");
    File("top/a/one", "1");
    File("top/a/deep/random", RandomBytes(3000, 1));
    File("top/a/deep/text", "hello hello hello hello hello hello hello\n");
    File("loose.bin", std::string(70000, 'q') + RandomBytes(10, 2));

    for (lzh::Method method : {lzh::Method::Lh0, lzh::Method::Lh5, lzh::Method::Lh6, lzh::Method::Lh7}) {
        SCOPED_TRACE(lzh::MethodLetter(method));
        std::string error;
        ASSERT_TRUE(Write({{Src("top"), ""}, {Src("loose.bin"), "renamed/loose.bin"}}, method, &error)) << error;
        std::vector<lzhtest::DecodedEntry> entries = Decode();
        struct Expected {
            const char* name;
            char method;  // '*': the method asked for
            const char* source;
        };
        const Expected expected[] = {
            {"top/", 'd', nullptr},
            {"top/a/", 'd', nullptr},
            {"top/a/deep/", 'd', nullptr},
            {"top/a/deep/random", '0', "top/a/deep/random"},  // does not compress
            {"top/a/deep/text", '*', "top/a/deep/text"},
            {"top/a/one", '0', "top/a/one"},
            {"top/b/", 'd', nullptr},
            {"top/b/empty", '0', "top/b/empty"},
            {"top/z.txt", '*', "top/z.txt"},
            {"renamed/loose.bin", '*', "loose.bin"},
        };
        ASSERT_EQ(entries.size(), std::size(expected));
        for (size_t i = 0; i < entries.size(); ++i) {
            const lzhtest::DecodedEntry& e = entries[i];
            EXPECT_EQ(e.name, expected[i].name);
            char letter = expected[i].method == '*' ? lzh::MethodLetter(method) : expected[i].method;
            EXPECT_EQ(e.method, letter) << e.name;
            if (expected[i].source == nullptr) {
                EXPECT_EQ(e.attributes, 0x10) << e.name;
                continue;
            }
            EXPECT_EQ(e.attributes, 0x20) << e.name;
            EXPECT_TRUE(e.crcMatches) << e.name;
            EXPECT_EQ(lzhtest::ReadFileBytes(e.outputPath), lzhtest::ReadFileBytes(Src(expected[i].source))) << e.name;
        }
    }
}

TEST_F(Writer, ShiftJisNamesReadOnlyFilesAndTimes) {
    File("表示.txt", "0x5C is the second byte of the first character");
    File("ﾃｽﾄ", "half-width");
    chmod(Src("ﾃｽﾄ").c_str(), 0444);
    struct timeval times[2] = {{1500000000, 0}, {1500000000, 250000}};  // access, write
    utimes(Src("表示.txt").c_str(), times);

    std::string error;
    ASSERT_TRUE(Write({{Src("表示.txt"), "フォルダ/表示.txt"}, {Src("ﾃｽﾄ"), ""}}, lzh::Method::Lh5, &error)) << error;
    std::vector<lzhtest::DecodedEntry> entries = Decode();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "\x83\x74\x83\x48\x83\x8b\x83\x5f/\x95\x5c\x8e\xa6.txt");
    EXPECT_EQ(entries[0].fileTime, 116444736000000000ULL + 1500000000ULL * 10000000 + 2500000);
    EXPECT_EQ(entries[1].name, "\xc3\xbd\xc4");
    EXPECT_EQ(entries[1].attributes, 0x21);
    EXPECT_EQ(lzhtest::ReadFileBytes(entries[0].outputPath), "0x5C is the second byte of the first character");
}

TEST_F(Writer, WholeSecondsOnRequest) {
    File("f", "x");
    struct timeval times[2] = {{1500000000, 0}, {1500000000, 999999}};
    utimes(Src("f").c_str(), times);
    for (bool fractions : {true, false}) {
        lzh::WriteOptions options;
        options.subsecondTimes = fractions;
        FILE* out = fopen(archive().c_str(), "wb");
        std::string error;
        ASSERT_TRUE(lzh::WriteArchive(out, {{Src("f"), ""}}, options, error)) << error;
        fclose(out);
        std::vector<lzhtest::DecodedEntry> entries = Decode();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].fileTime, 116444736000000000ULL + 1500000000ULL * 10000000 + (fractions ? 9999990 : 0));
        // Without fractions no EXT_WINDOWS_TIME is needed: 27 bytes less.
        EXPECT_EQ(lzhtest::ReadFileBytes(archive()).size(), fractions ? 26u + 5 + 4 + 27 + 1 + 1 : 26u + 5 + 4 + 1 + 1);
    }
}

// `count` characters beyond the Basic Multilingual Plane: two UTF-16 units
// and one Shift-JIS byte ('_') each.
std::string Emoji(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "\xf0\x9f\x98\x80";
    return text;
}

TEST_F(Writer, RefusesWithAClearMessage) {
    File("caf\xe9", "x");  // Latin-1, not UTF-8
    File("a:b", "x");
    File("Same", "x");
    File("same", "x");
    File("Über", "x");
    File("über", "x");
    struct Case {
        std::vector<lzh::InputPath> inputs;
        const char* message;
    };
    const Case cases[] = {
        {{{Src("caf\xe9"), ""}}, "does not read as UTF-8"},  // was: café without a Shift-JIS form
        {{{Src("a:b"), ""}}, "character ':'"},
        {{{Src("missing"), ""}}, "cannot read"},
        {{{Src("Same"), ""}, {Src("same"), ""}}, "packed twice"},
        {{{Src("Same"), "../up"}}, "\"..\""},
        {{{Src("Same"), std::string(260, 'n')}}, "at most 259"},
        {{{Src("Über"), ""}, {Src("über"), ""}}, "packed twice"},
        {{{Src("Same"), Emoji(130)}}, "260 UTF-16 units; at most 259"},
        {{{"/dev/null", "null"}}, "neither a file nor a folder"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Write(c.inputs, lzh::Method::Lh5, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

// Names without a Shift-JIS form get '_' there and their real name in the
// UTF-16 records, which --list shows; a record that libarchive would refuse
// is left out with a warning, and so are names that Windows 95 to Me would
// take as one.
TEST_F(Writer, NamesWithoutAShiftJisForm) {
    Folder("Āb");
    File("Āb/x.txt", "1");
    // ア's second byte in Shift-JIS is 'A': it is no duplicate of ヂ.
    const char* files[] = {"一.txt", "résumé.pdf", "résumè.pdf", "ア", "ヂ"};
    std::vector<lzh::InputPath> inputs = {{Src("Āb"), ""}, {Src("ア"), Emoji(129) + "a"}};  // 259 UTF-16 units
    for (const char* name : files) {
        File(name, name);
        inputs.push_back({Src(name), ""});
    }
    std::vector<std::string> warnings;
    lzh::WriteOptions options;
    options.warn = [&](const std::string& message) { warnings.push_back(message); };
    FILE* out = fopen(archive().c_str(), "wb");
    std::string error;
    ASSERT_TRUE(lzh::WriteArchive(out, inputs, options, error)) << error;
    fclose(out);

    std::vector<lzh::ListedEntry> entries;
    ASSERT_TRUE(lzh::ReadEntries(archive(), &entries, &error)) << error;
    std::vector<std::string> names;
    for (const lzh::ListedEntry& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"_b/", "_b/x.txt", Emoji(129) + "a", "一.txt", "résumé.pdf",
                                               "résumè.pdf", "ア", "ヂ"}));
    EXPECT_EQ(Decode()[2].utf8Name, Emoji(129) + "a");  // the stub on the NT family reads the UTF-16 name
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0], "\"Āb/\": its UTF-16 folder name would begin with a zero byte (the low byte of \"Ā\"), "
                           "which libarchive (bsdtar) refuses; the folder part of every entry in \"Āb/\" is stored "
                           "in Shift-JIS only, \"Āb\" as \"_b\"");
    EXPECT_EQ(warnings[1], "\"一.txt\": its UTF-16 file name would begin with a zero byte (the low byte of \"一\"), "
                           "which libarchive (bsdtar) refuses; the file name is stored in Shift-JIS only, as \"一.txt\"");
    EXPECT_EQ(warnings[2], "\"résumé.pdf\" and \"résumè.pdf\" are both \"r_sum_.pdf\" in Shift-JIS: Windows 95 to Me, "
                           "which read only the Shift-JIS name, would extract them as one file");
}

TEST_F(Writer, GivesUpOnAFileThatSavesNothing) {
    // 5 MiB of noise, then 3 MiB of one byte: with the give-up rule the file
    // is stored after the first 4 MiB; without it the tail pays for the whole.
    // The file after it is compressed by a new encoder, not the one given up on.
    File("noisy", RandomBytes(5 << 20, 4) + std::string(3 << 20, 'z'));
    File("after", Periodic(3000, 2 << 20, 5));
    for (uint64_t giveUpAfter : {uint64_t{4} << 20, uint64_t{0}}) {
        lzh::WriteOptions options;
        options.method = lzh::Method::Lh6;
        options.giveUpAfter = giveUpAfter;
        FILE* out = fopen(archive().c_str(), "wb");
        std::string error;
        uint64_t lastDone = 0, lastTotal = 1;
        ASSERT_TRUE(lzh::WriteArchive(out, {{Src("noisy"), ""}, {Src("after"), ""}}, options, error,
                                      [&](uint64_t done, uint64_t total, const std::string&) {
                                          EXPECT_GE(done, lastDone);
                                          lastDone = done;
                                          lastTotal = total;
                                      }))
            << error;
        fclose(out);
        EXPECT_EQ(lastDone, lastTotal);
        std::vector<lzhtest::DecodedEntry> entries = Decode();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].method, giveUpAfter != 0 ? '0' : '6');
        EXPECT_EQ(entries[1].method, '6');
        for (const lzhtest::DecodedEntry& e : entries) {
            EXPECT_TRUE(e.crcMatches) << e.name;
            EXPECT_TRUE(lzhtest::SameFileBytes(e.outputPath, Src(e.name))) << e.name;
        }
    }
}

TEST_F(Writer, ProgressRisesToTheTotal) {
    File("a", std::string(3 << 20, 'a'));
    File("b", RandomBytes(100000, 3));
    std::vector<uint64_t> done;
    uint64_t total = 0;
    std::string error;
    ASSERT_TRUE(Write({{Src("a"), ""}, {Src("b"), ""}}, lzh::Method::Lh7, &error, "",
                      [&](uint64_t d, uint64_t t, const std::string&) {
                          done.push_back(d);
                          total = t;
                      }))
        << error;
    EXPECT_EQ(total, (3u << 20) + 100000u);
    ASSERT_GE(done.size(), 4u);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(done.back(), total);
}

TEST_F(Writer, StartsAtTheFilePositionAndCutsWhatFollows) {
    File("t", std::string(1000, 't'));
    // An older, longer file in the way: the new archive must end the file.
    lzhtest::WriteFileBytes(archive(), std::string(100000, '\x55'));
    FILE* out = fopen(archive().c_str(), "r+b");
    fseek(out, 700, SEEK_SET);
    std::string error;
    ASSERT_TRUE(lzh::WriteArchive(out, {{Src("t"), ""}}, lzh::Method::Lh5, error));
    long end = ftell(out);
    fclose(out);
    std::string bytes = lzhtest::ReadFileBytes(archive());
    EXPECT_EQ(bytes.size(), static_cast<size_t>(end));
    EXPECT_EQ(bytes.substr(0, 700), std::string(700, '\x55'));
    EXPECT_EQ(bytes.back(), '\0');
    lzhtest::WriteFileBytes(archive(), bytes.substr(700));
    std::vector<lzhtest::DecodedEntry> entries = Decode();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].crcMatches);
}

TEST_F(Writer, ListsPlainAndPackedFiles) {
    Folder("d");
    File("d/表.txt", std::string(4000, 'x'));
    std::string error;
    ASSERT_TRUE(Write({{Src("d"), ""}}, lzh::Method::Lh7, &error)) << error;
    std::string plain = lzhtest::ReadFileBytes(archive());

    // A packed file: "MZ", the marker at 0x24, the archive offset at 512.
    std::string packed(0xAA00, '\0');
    packed[0] = 'M';
    packed[1] = 'Z';
    packed.replace(0x24, 10, "LHA's SFX ");
    packed[512] = '\x00';
    packed[513] = '\xAA';
    lzhtest::WriteFileBytes(folder_ / "setup.exe", packed + plain);

    for (const std::string& path : {archive(), folder_ / "setup.exe"}) {
        std::vector<lzh::ListedEntry> entries;
        ASSERT_TRUE(lzh::ReadEntries(path, &entries, &error)) << error;
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].name, "d/");
        EXPECT_EQ(entries[0].method, "-lhd-");
        EXPECT_EQ(entries[1].name, "d/表.txt");
        EXPECT_EQ(entries[1].method, "-lh7-");
        EXPECT_EQ(entries[1].originalSize, 4000u);
        EXPECT_LT(entries[1].compressedSize, 100u);

        char text[4096] = {};
        FILE* out = fmemopen(text, sizeof text - 1, "w");
        ASSERT_TRUE(lzh::ListArchive(path, out, error)) << error;
        fclose(out);
        EXPECT_NE(std::string(text).find("-lh7-"), std::string::npos) << text;
        EXPECT_NE(std::string(text).find("d/表.txt"), std::string::npos) << text;
        EXPECT_NE(std::string(text).find("1 file, 2 entries"), std::string::npos) << text;
    }

    lzhtest::WriteFileBytes(archive(), plain.substr(0, plain.size() - 1));  // no end marker
    std::vector<lzh::ListedEntry> entries;
    EXPECT_FALSE(lzh::ReadEntries(archive(), &entries, &error));
    EXPECT_NE(error.find("no end marker"), std::string::npos) << error;
}

}  // namespace

namespace {

// Small files are compressed several at once, a large one in chunks on
// threads: the archive is the same for any thread count, in both parses.
TEST_F(Writer, SameArchiveForAnyThreadCount) {
    Folder("t");
    Folder("t/sub");
    for (int i = 0; i < 9; ++i) {
        File("t/words" + std::to_string(i), Periodic(300 + 97 * i, 20000 + 5000 * i, 40 + i));
    }
    File("t/noise", RandomBytes(50000, 50));  // stored: compression does not pay
    File("t/sub/empty", "");
    File("t/sub/chunk_plus_1", Periodic(5000, lzh::ENCODER_CHUNK_SIZE + 1, 51));
    File("t/sub/zeros", std::string(lzh::ENCODER_CHUNK_SIZE, '\0'));
    // More small files than go to a thread at once.
    Folder("t/many");
    std::vector<std::string> many;
    for (int i = 0; i < 70; ++i) {
        many.push_back("many/" + std::to_string(100 + i));
        File("t/" + many.back(), Periodic(100 + i, 2000, 60 + i));
    }
    // The archive keeps each file's last access time, which the first read
    // of a new file may move: every file is read once before the first run.
    for (const char* name : {"words0", "words1", "words2", "words3", "words4", "words5", "words6", "words7",
                             "words8", "noise", "sub/empty", "sub/chunk_plus_1", "sub/zeros"}) {
        lzhtest::ReadFileBytes(Src(std::string("t/") + name));
    }
    for (const std::string& name : many) lzhtest::ReadFileBytes(Src("t/" + name));
    for (bool best : {false, true}) {
        std::string first;
        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(threads) + (best ? " threads, --best" : " threads"));
            lzh::WriteOptions options;
            options.method = lzh::Method::Lh6;
            options.tuning = best ? lzh::BestTuning() : lzh::DefaultTuning(options.method);
            options.tuning->threads = threads;
            uint64_t reported = 0;
            std::string error;
            FILE* out = fopen(archive().c_str(), "w+b");
            ASSERT_TRUE(lzh::WriteArchive(out, {{Src("t"), ""}}, options, error,
                                          [&](uint64_t done, uint64_t, const std::string&) {
                                              EXPECT_GE(done, reported);
                                              reported = done;
                                          }))
                << error;
            fclose(out);
            EXPECT_EQ(reported, 9 * 20000u + 5000u * 36 + 50000 + 2 * lzh::ENCODER_CHUNK_SIZE + 1 + 70 * 2000);
            std::string bytes = lzhtest::ReadFileBytes(archive());
            if (first.empty()) {
                first = bytes;
                std::vector<lzhtest::DecodedEntry> entries = Decode();
                ASSERT_EQ(entries.size(), 86u);
                for (const lzhtest::DecodedEntry& e : entries) {
                    if (e.method == 'd') continue;
                    EXPECT_TRUE(e.crcMatches) << e.name;
                    EXPECT_EQ(e.method, e.name == "t/noise" || e.name == "t/sub/empty" ? '0' : '6') << e.name;
                    EXPECT_TRUE(lzhtest::SameFileBytes(e.outputPath, Src(e.name))) << e.name;
                }
            } else {
                EXPECT_TRUE(bytes == first);
            }
        }
    }
}

}  // namespace
