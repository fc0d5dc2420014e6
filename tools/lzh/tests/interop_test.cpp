// Archives of our writer checked and extracted by other archivers (lhasa,
// 7z, jlha) and by the stub's decoder, byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <tuple>

#include "lzh/archive_writer.h"
#include "lzh/header.h"
#include "our_decoder.h"
#include "test_data.h"
#include "support/test_support.h"

namespace {

using lzh_test::Periodic;
using lzh_test::RandomBytes;
using lzh_test::Words;

std::string ShiftJis(const std::string& utf8) {
    lzh::ArchiveName name;
    std::string error;
    EXPECT_TRUE(lzh::ConvertName(utf8, &name, &error)) << error;
    return name.sjis;
}

int Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Every file below `root`, as paths relative to it.
void Files(const std::string& root, const std::string& relative, std::vector<std::string>* out) {
    std::string command = "cd " + Quote(root) + " && find . -type f | sort";
    FILE* list = popen(command.c_str(), "r");
    char line[4096];
    while (fgets(line, sizeof line, list)) {
        std::string path = line;
        path.pop_back();
        out->push_back(relative + path.substr(2));
    }
    pclose(list);
}

// A method, and whether the near-optimal parse of --best packs it.
class Interop : public ::testing::TestWithParam<std::tuple<lzh::Method, bool>> {
protected:
    void Make(const std::string& name, const std::string& bytes) {
        std::string path = folder_ / ("src/" + name);
        std::string command = "mkdir -p \"$(dirname " + Quote(path) + ")\"";
        ASSERT_EQ(system(command.c_str()), 0);
        lzhtest::WriteFileBytes(path, bytes);
    }

    // Packs src/, then checks and extracts it with every peer and compares.
    // jlha (a Java program) is slow to start and slow on large files: only
    // the small cases ask for it.
    void PackAndCompare(lzh::Method method, bool best, bool withJlha) {
        std::string archive = folder_ / "a.lzh";
        FILE* out = fopen(archive.c_str(), "wb");
        std::string error;
        lzh::WriteOptions options;
        options.method = method;
        if (best) options.tuning = lzh::BestTuning();
        ASSERT_TRUE(lzh::WriteArchive(out, {{folder_ / "src", "src"}}, options, error)) << error;
        fclose(out);

        std::vector<std::string> sources;
        Files(folder_ / "src", "", &sources);
        ASSERT_FALSE(sources.empty());

        EXPECT_EQ(Shell("lhasa t " + Quote(archive)), 0);
        EXPECT_EQ(Shell("7z t " + Quote(archive)), 0);
        struct Peer {
            const char* name;
            std::string command;
            bool utf8Names;  // false: the names as they are in the archive (Shift-JIS)
        };
        std::vector<Peer> peers = {
            {"lhasa", "cd " + Quote(folder_ / "lhasa") + " && lhasa xq " + Quote(archive), false},
            {"7z", "7z x -y -o" + Quote(folder_ / "7z") + " " + Quote(archive), false},
        };
        // jlha's y switch turns the Shift-JIS names into the host's UTF-8.
        if (withJlha) peers.push_back({"jlha", "cd " + Quote(folder_ / "jlha") + " && jlha xqy " + Quote(archive), true});
        for (const Peer& peer : peers) {
            SCOPED_TRACE(peer.name);
            mkdir((folder_ / peer.name).c_str(), 0755);
            ASSERT_EQ(Shell(peer.command), 0);
            auto onDisk = [&](const std::string& file) { return peer.utf8Names ? file : ShiftJis(file); };
            std::vector<std::string> extracted;
            Files(folder_ / peer.name + "/src", "", &extracted);
            std::vector<std::string> expected;
            for (const std::string& file : sources) expected.push_back(onDisk(file));
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(extracted, expected);
            for (const std::string& file : sources) {
                EXPECT_TRUE(lzhtest::SameFileBytes(folder_ / ("src/" + file),
                                                   folder_ / (std::string(peer.name) + "/src/" + onDisk(file))))
                    << file;
            }
        }

        mkdir((folder_ / "ours").c_str(), 0755);
        std::vector<lzhtest::DecodedEntry> entries;
        ASSERT_TRUE(lzhtest::DecodeWithOurs(archive, folder_ / "ours", &entries, &error)) << error;
        size_t files = 0;
        for (const lzhtest::DecodedEntry& e : entries) {
            if (e.method == 'd') continue;
            ++files;
            EXPECT_TRUE(e.crcMatches) << e.name;
            EXPECT_TRUE(lzhtest::SameFileBytes(folder_ / lzh::NameToUtf8(e.name), e.outputPath)) << e.name;
        }
        EXPECT_EQ(files, sources.size());
    }

    support::ScratchFolder folder_;
};

TEST_P(Interop, SmallFilesExtractIdentically) {
    Make("empty", "");
    Make("one", "1");
    Make("repetitive", std::string(300000, 'a') + Words(1000, 1) + std::string(100000, 'b'));
    Make("random", RandomBytes(150000, 2));
    Make("words/64k-1", Words(65535, 3));
    Make("words/64k", Words(65536, 4));
    Make("words/64k+1", Words(65537, 5));
    Make("words/2m", Words(2 << 20, 6));
    // A period just inside and just beyond the lh5 window.
    std::string unit = RandomBytes(8191, 7);
    Make("period/8191", unit + unit + unit);
    unit = RandomBytes(8193, 8);
    Make("period/8193", unit + unit + unit);
    unit = RandomBytes(65535, 9);
    Make("period/65535", unit + unit + unit);
    Make("nested/a/b/c/d/deep.txt", Words(5000, 10));
    Make("nested/empty-folder/.keep", "");
    Make("日本語/テスト.txt", Words(20000, 11));
    Make("ｶﾀｶﾅ.txt", "half-width katakana");
    PackAndCompare(std::get<0>(GetParam()), std::get<1>(GetParam()), true);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, Interop,
    ::testing::Values(std::make_tuple(lzh::Method::Lh0, false), std::make_tuple(lzh::Method::Lh5, false),
                      std::make_tuple(lzh::Method::Lh6, false), std::make_tuple(lzh::Method::Lh7, false),
                      std::make_tuple(lzh::Method::Lh5, true), std::make_tuple(lzh::Method::Lh6, true),
                      std::make_tuple(lzh::Method::Lh7, true)),
    [](const ::testing::TestParamInfo<std::tuple<lzh::Method, bool>>& info) {
        return std::string("lh") + lzh::MethodLetter(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_best" : "");
    });

TEST(InteropHeaders, PaddedHeaderAndTheEntryBehindIt) {
    // A header that would be 256 bytes long gets one byte of padding; the
    // peers must read it and stay in step for the next entry.
    support::ScratchFolder folder;
    std::string archive;
    const std::string names[] = {std::string(222, 'n'), "after.txt"};
    for (const std::string& name : names) {
        lzh::EntryHeader h;
        h.method = '0';
        h.file = name;
        h.lastWrite.seconds = 1000000000;
        h.originalSize = h.compressedSize = name.size();
        h.dataCrc = lzh::Crc16(name.data(), name.size());
        std::string header = lzh::BuildHeader(h);
        if (&name == &names[0]) {
            ASSERT_EQ(header.size(), 257u);
        }
        archive += header + name;
    }
    archive += '\0';
    lzhtest::WriteFileBytes(folder / "p.lzh", archive);
    EXPECT_EQ(Shell("lhasa t " + Quote(folder / "p.lzh")), 0);
    EXPECT_EQ(Shell("7z t " + Quote(folder / "p.lzh")), 0);
    ASSERT_EQ(Shell("cd " + Quote(folder.path()) + " && lhasa xq p.lzh"), 0);
    ASSERT_EQ(Shell("7z x -y -o" + Quote(folder / "7z") + " " + Quote(folder / "p.lzh")), 0);
    for (const std::string& name : names) {
        EXPECT_EQ(lzhtest::ReadFileBytes(folder / name), name);
        EXPECT_EQ(lzhtest::ReadFileBytes(folder / ("7z/" + name)), name);
    }
}

class InteropLarge : public Interop {
protected:
    void LargeFile(int mebibytes, bool best) {
        // Text and random stretches, so both compressed blocks and
        // incompressible stretches occur in one entry.
        std::string path = folder_ / "src/big.bin";
        ASSERT_EQ(system(("mkdir -p " + Quote(folder_ / "src")).c_str()), 0);
        FILE* out = fopen(path.c_str(), "wb");
        std::string text = Words(1 << 20, 20);
        for (int i = 0; i < mebibytes; ++i) {
            std::string piece = i % 10 == 3 ? RandomBytes(1 << 20, 100 + i) : text.substr(i * 997) + text.substr(0, i * 997);
            fwrite(piece.data(), 1, piece.size(), out);
        }
        fclose(out);
        PackAndCompare(lzh::Method::Lh7, best, false);
    }
};

TEST_F(InteropLarge, HundredMebibyteFile) { LargeFile(100, false); }
// The near-optimal parse is some 30 times slower: 16 MiB still spans many
// chunks and blocks, and stays within the test time-out under the sanitizers.
TEST_F(InteropLarge, SixteenMebibyteFileBest) { LargeFile(16, true); }

}  // namespace
