// Fuzz target: decoding one entry. The first byte picks the method (stored,
// -lh4- to -lh7-), the next three give the original size (below 128 KiB),
// the fifth how many of the last bytes stand for the next header rather than
// the entry's data; the rest is the archive. A compressed entry is decoded
// twice, by the product and by the plain reference, and every observable
// result must agree: refills, writes, progress reports, CRC, refusal.
#include <vector>

#include "common/abort.h"
#include "decode/decoder.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference_decoder.h"

namespace {

std::vector<uint64_t> g_reports;
void Record(uint64_t done, uint64_t) { g_reports.push_back(done); }

struct Job {
    char method;
    uint64_t originalSize;
};

template <typename A, typename B>
bool SameSequence(const std::vector<A>& a, const std::vector<B>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (static_cast<uint64_t>(a[i]) != static_cast<uint64_t>(b[i])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    static const char kMethods[] = {'0', '4', '5', '6', '7'};
    Job job{kMethods[data[0] % 5], (data[1] | data[2] << 8 | (data[3] & 0x01) << 16) & 0x1FFFFu};
    std::string archive(reinterpret_cast<const char*>(data) + 5, size - 5);
    size_t trailing = std::min<size_t>(archive.size(), data[4] & 0x0F);
    uint64_t compressedSize = archive.size() - trailing;

    fuzzing::OpenInput(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
    g_run.outputFile = CreateFileA("/dev/null", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    TextFromBytes(g_run.outputPath, OUTPUT_PATH_SIZE, "/dev/null");
    g_reports.clear();
    g_progressReport = Record;
    bool finished = DecodeEntryData(job.method, job.originalSize, compressedSize);

    if (job.method == '0') {
        // Stored: whole chunks until the archive runs out.
        bool enough = job.originalSize <= archive.size();
        if (finished != enough || host::Boxes().size() != (enough ? 0u : 1u)) __builtin_trap();
        if (finished && (g_run.done != job.originalSize || fuzzing::Position(g_run.archiveFile) != job.originalSize))
            __builtin_trap();
    } else {
        reference::Result expected =
            reference::Decoder(archive.substr(0, compressedSize), job.method, job.originalSize).Run();
        if (finished == expected.refused) __builtin_trap();
        if (host::Boxes().size() != (finished ? 0u : 1u)) __builtin_trap();
        if (!SameSequence(host::ReadRequests(), expected.reads)) __builtin_trap();
        if (!SameSequence(host::WriteRequests(), expected.writes)) __builtin_trap();
        if (!SameSequence(g_reports, expected.reports)) __builtin_trap();
        if (Crc16Value() != expected.crc) __builtin_trap();
        if (finished) {
            if (g_run.done != expected.done) __builtin_trap();
            if (g_run.done < job.originalSize || g_run.done > job.originalSize + 255) __builtin_trap();
            uint64_t drawn = 0;
            for (uint32_t r : expected.reads) drawn += r;
            if (fuzzing::Position(g_run.archiveFile) != drawn) __builtin_trap();
        }
    }
    fuzzing::CloseInput();
    return 0;
}
