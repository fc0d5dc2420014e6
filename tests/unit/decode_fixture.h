// A fixture for reading and decoding entries on the host layer: the archive
// is a scratch file standing for our own executable, the output a scratch
// file, and every progress report is recorded.
#pragma once

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder.h"
#include "startup/install_config.h"
#include "support/expected_texts.h"
#include "support/test_support.h"
#include "ui/progress.h"

namespace decodetest {

using Report = std::pair<uint64_t, uint64_t>;
inline std::vector<Report>& Reports() {
    static std::vector<Report> reports;
    return reports;
}
inline void RecordReport(uint64_t done, uint64_t total) { Reports().push_back({done, total}); }

class DecodeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        support::ResetRunState();
        archivePath_ = folder_ / "setup.exe";
        outputPath_ = folder_ / "out.bin";
        support::SetText(g_run.ownPath, PATH_SIZE, archivePath_);
        support::SetText(g_run.title, TITLE_SIZE, "Sample");
        Reports().clear();
        g_progressReport = RecordReport;
        g_run.archiveFile = INVALID_HANDLE_VALUE;
        g_run.outputFile = INVALID_HANDLE_VALUE;
    }
    void TearDown() override {
        ReleaseEntry();
        CloseArchive();
        CloseOutput();
        g_progressReport = ReportProgress;
    }

    // Writes `bytes` as the archive file and opens it for reading.
    void OpenArchive(const std::string& bytes) {
        CloseArchive();
        support::WriteWholeFile(archivePath_, bytes);
        g_run.archiveFile = CreateFileA(archivePath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(g_run.archiveFile, INVALID_HANDLE_VALUE);
    }
    void CloseArchive() {
        if (g_run.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(g_run.archiveFile);
        g_run.archiveFile = INVALID_HANDLE_VALUE;
    }
    uint64_t ArchivePosition() const {
        LONG high = 0;
        DWORD low = SetFilePointer(g_run.archiveFile, 0, &high, FILE_CURRENT);
        return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
    }

    void CreateOutput() {
        CloseOutput();
        support::SetText(g_run.outputPath, OUTPUT_PATH_SIZE, outputPath_);
        g_run.outputFile = CreateFileA(outputPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(g_run.outputFile, INVALID_HANDLE_VALUE);
    }
    void CloseOutput() {
        if (g_run.outputFile != INVALID_HANDLE_VALUE) CloseHandle(g_run.outputFile);
        g_run.outputFile = INVALID_HANDLE_VALUE;
    }
    // Closes the output file and returns what was written.
    std::string Output() {
        CloseOutput();
        return support::ReadWholeFile(outputPath_);
    }

    // Prepares the input of an entry of `compressedSize` bytes at the
    // archive's current position, as the extraction driver does, and runs
    // the data step under the abort catcher. False: AbortExtraction arrived.
    bool DecodeEntry(char method, uint64_t originalSize, uint64_t compressedSize) {
        return DecodeEntryData(method, originalSize, compressedSize);
    }

    // Writes `data` as the whole archive, then decodes it as one entry.
    bool DecodeBytes(const std::string& data, char method, uint64_t originalSize) {
        OpenArchive(data);
        CreateOutput();
        return DecodeEntry(method, originalSize, data.size());
    }

    // The box text of ErrorBox with that subject and message.
    static std::string Box(const std::string& subject, const std::string& message) {
        return "\"" + subject + "\" " + message;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const host::BoxRecord& box : host::Boxes()) texts.push_back(box.text);
        return texts;
    }

    support::ScratchFolder folder_;
    std::string archivePath_;
    std::string outputPath_;
};

}  // namespace decodetest
