// valkrin-decode-bench ARCHIVE [ROUNDS]: decodes every entry of ARCHIVE
// (level-2 headers) through the header reader, the block decoder and the
// stored copier into the null device, checks each CRC, and prints the best
// round's output bytes, seconds and MB/s. Exit code 0 when every entry
// decoded with a matching CRC.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "decode/decoder.h"
#include "extract/extraction.h"
#include "platform/posix/host_controls.h"
#include "startup/install_config.h"

namespace {

void Quiet(uint64_t, uint64_t) {}

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One pass over the archive; returns the bytes produced, or -1 on a failure.
int64_t DecodeArchive(const char* path) {
    g_run.archiveFile = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (g_run.archiveFile == INVALID_HANDLE_VALUE) return -1;
    g_run.done = 0;
    int64_t produced = 0;
    EntryStatus status;
    while ((status = ReadNextEntry()) == EntryStatus::Entry) {
        if (g_entry.method != 'd') {
            g_run.outputFile = CreateFileA("/dev/null", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                           nullptr);
            bool ok = DecodeEntryData(g_entry.method, g_entry.originalSize, g_entry.compressedSize);
            CloseHandle(g_run.outputFile);
            if (!ok || Crc16Value() != g_entry.dataCrc) {
                char name[PATH_SIZE * 3];
                TextToUtf8(g_entry.name, name, sizeof name);
                fprintf(stderr, "%s: entry %s failed\n", path, name);
                ReleaseEntry();
                CloseHandle(g_run.archiveFile);
                return -1;
            }
            produced += static_cast<int64_t>(g_entry.originalSize);
        }
        ReleaseEntry();
    }
    CloseHandle(g_run.archiveFile);
    ShowEntryStatusBox(status);
    return status == EntryStatus::End ? produced : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s ARCHIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 1;
    host::Reset();
    host::SetInteractive(true);  // a failure prints its box
    TextFromBytes(g_run.ownPath, PATH_SIZE, argv[1]);
    TextFromBytes(g_run.title, TITLE_SIZE, "bench");
    g_progressReport = Quiet;
    double best = 0;
    int64_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = Now();
        bytes = DecodeArchive(argv[1]);
        double seconds = Now() - start;
        if (bytes < 0) return 1;
        if (round == 0 || seconds < best) best = seconds;
    }
    printf("%lld bytes %.6f s %.1f MB/s\n", static_cast<long long>(bytes), best, static_cast<double>(bytes) / best / 1e6);
    return 0;
}
