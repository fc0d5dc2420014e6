// Archives made by jlha (level-2 headers; -lh5-, -lh6-, -lh7- and stored;
// folders, empty files, files over 64 KiB and over 1 MiB, Shift-JIS names)
// are read and decoded entry by entry through the header reader, the block
// decoder and the stored copier, as the extract pass drives them: the bytes
// and CRCs must match the input files, the archive must stand at the next
// header after each entry, and `done` must advance as the progress table says.
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <random>

#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder.h"
#include "startup/install_config.h"
#include "support/test_support.h"
#include "ui/progress.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint64_t> g_reports;
void Record(uint64_t done, uint64_t) { g_reports.push_back(done); }

bool HaveJlha() { return system("command -v jlha >/dev/null 2>&1") == 0; }

std::string TextLike(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    const char* words[] = {"installer ", "archive ", "window ", "the ", "of ", "setup.exe ", "\x82\xa0\x82\xa2 ",
                           "Program Files ", "\r\n", "0x1F2E ", "version 2.1.0.0 "};
    std::string text;
    while (text.size() < size) text += words[random() % 11];
    text.resize(size);
    return text;
}

std::string BinaryLike(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        // Structured records with noise: compressible, but not text.
        bytes[i] = static_cast<char>(i % 64 < 16 ? (i / 64) & 0xFF : random() % (i % 7 == 0 ? 256 : 4));
    }
    return bytes;
}

class JlhaInterop : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!HaveJlha()) GTEST_SKIP() << "jlha is not installed";
        support::ResetRunState();
        TextFromBytes(g_run.title, TITLE_SIZE, "Interop");
        g_progressReport = Record;
        g_reports.clear();
        // The tree to pack, every name plain ASCII or Japanese (Shift-JIS in
        // the archive).
        root_ = folder_ / "tree";
        Write("tree/readme.txt", TextLike(3000, 1));
        Write("tree/empty.dat", "");
        Write("tree/big/text-1.5MiB.txt", TextLike(1536 * 1024 + 77, 2));
        Write("tree/big/binary-200KiB.bin", BinaryLike(200 * 1024 + 5, 3));
        Write("tree/big/exact-64KiB.txt", TextLike(65536, 4));
        Write("tree/big/runs-70KiB.txt", std::string(70 * 1024 + 1, 'n'));
        Write("tree/\xe8\xa1\xa8\xe7\xa4\xba/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.txt", TextLike(5000, 5));  // 表示/テスト.txt
        fs::create_directories(folder_ / "tree/empty-folder");
        std::mt19937 random(6);
        std::string noise(80 * 1024, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        Write("tree/big/random-80KiB.bin", noise);  // jlha stores what does not compress
    }
    void TearDown() override { g_progressReport = ReportProgress; }

    void Write(const std::string& relative, const std::string& bytes) {
        fs::create_directories(fs::path(folder_ / relative).parent_path());
        support::WriteWholeFile(folder_ / relative, bytes);
    }

    // Packs the tree with jlha and the given command letters.
    std::string Pack(const std::string& options) {
        std::string archive = folder_ / "test.lzh";
        std::string command = "cd '" + folder_.path() + "' && jlha " + options + " test.lzh tree >/dev/null 2>&1";
        EXPECT_EQ(system(command.c_str()), 0) << command;
        return archive;
    }

    support::ScratchFolder folder_;
    std::string root_;
};

uint64_t Position(HANDLE file) {
    LONG high = 0;
    DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
}

TEST_P(JlhaInterop, EveryEntryDecodesToTheInputFile) {
    std::string options = GetParam();
    std::string archive = Pack(options);
    TextFromBytes(g_run.ownPath, PATH_SIZE, archive.c_str());
    g_run.archiveFile = CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(g_run.archiveFile, INVALID_HANDLE_VALUE);
    std::string outputPath = folder_ / "out.bin";
    TextFromBytes(g_run.outputPath, OUTPUT_PATH_SIZE, outputPath.c_str());

    std::map<char, int> methods;
    std::vector<std::string> names;
    uint64_t produced = 0;  // bytes of all files so far: `done` must match
    EntryStatus status;
    while ((status = ReadNextEntry()) == EntryStatus::Entry) {
        std::string name = support::ShiftJisOf(g_entry.name);
        names.push_back(name);
        ++methods[g_entry.method];
        fs::path source = folder_ / host::ToUtf8(name);
        uint64_t dataStart = Position(g_run.archiveFile);
        if (g_entry.method == 'd') {
            EXPECT_EQ(name.back(), '/') << name;
            EXPECT_TRUE(fs::is_directory(source)) << name;
            EXPECT_EQ(g_entry.compressedSize, 0u) << name;
            ReleaseEntry();
            continue;
        }
        std::string expected = support::ReadWholeFile(source);
        ASSERT_TRUE(fs::is_regular_file(source)) << name;
        ASSERT_EQ(g_entry.originalSize, expected.size()) << name;

        g_run.outputFile = CreateFileA(outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(g_run.outputFile, INVALID_HANDLE_VALUE);
        host::Reset();  // fresh request logs for this entry
        g_reports.clear();
        ASSERT_TRUE(DecodeEntryData(g_entry.method, g_entry.originalSize, g_entry.compressedSize)) << name;
        CloseHandle(g_run.outputFile);
        g_run.outputFile = INVALID_HANDLE_VALUE;

        EXPECT_TRUE(support::ReadWholeFile(outputPath) == expected) << name << " (" << options << ")";
        EXPECT_EQ(Crc16Value(), g_entry.dataCrc) << name;
        EXPECT_EQ(Position(g_run.archiveFile), dataStart + g_entry.compressedSize) << name;
        EXPECT_TRUE(host::Boxes().empty()) << name;

        // Progress: every write is followed by one report; a stored chunk
        // reports exactly the bytes written so far, a window of the decoder
        // at most one match (255 bytes) more; the last report is the count.
        const std::vector<DWORD>& writes = host::WriteRequests();
        ASSERT_EQ(g_reports.size(), writes.size()) << name;
        uint64_t written = produced;
        for (size_t i = 0; i < writes.size(); ++i) {
            written += writes[i];
            if (g_entry.method == '0') {
                EXPECT_EQ(g_reports[i], written) << name << " report " << i;
            } else {
                EXPECT_GE(g_reports[i], written) << name << " report " << i;
                EXPECT_LE(g_reports[i], written + 255) << name << " report " << i;
            }
            if (i + 1 < writes.size()) {
                EXPECT_EQ(writes[i], 65536u) << name;
            }
        }
        produced += expected.size();
        EXPECT_EQ(g_run.done, produced) << name;
        if (!g_reports.empty()) {
            EXPECT_EQ(g_reports.back(), produced) << name;
        }

        // Refills: 16384 bytes each, the last one bounded by the entry.
        if (g_entry.method != '0') {
            uint64_t drawn = 0;
            for (DWORD r : host::ReadRequests()) {
                EXPECT_EQ(r, std::min<uint64_t>(16384, g_entry.compressedSize - drawn)) << name;
                drawn += r;
            }
            EXPECT_EQ(drawn, g_entry.compressedSize) << name;
        }
        ReleaseEntry();
    }
    EXPECT_EQ(status, EntryStatus::End);
    CloseHandle(g_run.archiveFile);

    // Every file and folder of the tree was seen.
    size_t inTree = 0;
    for (auto it = fs::recursive_directory_iterator(root_); it != fs::recursive_directory_iterator(); ++it) ++inTree;
    EXPECT_EQ(names.size(), inTree + 1);  // the tree folder itself is an entry too
    std::string sjisName = host::ToAnsi("tree/\xe8\xa1\xa8\xe7\xa4\xba/\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88.txt");
    EXPECT_NE(std::find(names.begin(), names.end(), sjisName), names.end());
    EXPECT_GT(methods['d'], 0);
    if (options.find('z') != std::string::npos) {
        EXPECT_EQ(methods['0'] + methods['d'], static_cast<int>(names.size()));
    } else {
        char expectedMethod = options[options.find('o') + 1];
        EXPECT_GE(methods[expectedMethod], 4) << options;
        EXPECT_GE(methods['0'], 1) << options;  // the random file is stored
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, JlhaInterop, ::testing::Values("a2qo5y", "a2qo6y", "a2qo7y", "a2qzy"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(3, name.size() - 4);
                         });

}  // namespace
