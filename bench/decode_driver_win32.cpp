// valkrin-decode-bench.exe ARCHIVE [ROUNDS]: the stub's decoder, compiled
// with the stub's compiler and flags, decoding every entry of a level-2 LZH
// archive from memory to memory. The archive is read into memory once before
// the clock starts; ReadFile and WriteFile of the decoder are bound here to
// copies from and to memory (the decoder's objects call them through their
// import pointers, which this file defines), so no file I/O and no Wine
// server call is timed. Prints the best round's output bytes, seconds and
// MB/s; exit code 0 when every entry decoded with a matching CRC, 2 with no
// archive (which also serves as a trivial program for Wine's start-up).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder.h"
#include "ui/progress.h"
#include "ui/texts.h"

namespace {

const uint8_t* g_archive;
uint32_t g_archiveSize;
uint32_t g_readAt;
uint8_t* g_output;
uint32_t g_outputSize;
uint32_t g_writeAt;

// The stub's own memcpy (src/common/freestanding.cpp) is linked in, as the
// decoder gets it in the stub; the stand-ins of the system's calls copy with
// the string instruction instead, as the system does.
void CopyBytes(void* to, const void* from, DWORD size) {
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(size) : : "memory");
}

BOOL WINAPI MemoryRead(HANDLE, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED) {
    DWORD n = g_archiveSize - g_readAt < size ? g_archiveSize - g_readAt : size;
    CopyBytes(buffer, g_archive + g_readAt, n);
    g_readAt += n;
    *got = n;
    return TRUE;
}

BOOL WINAPI MemoryWrite(HANDLE, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
    if (g_outputSize - g_writeAt < size) return FALSE;
    CopyBytes(g_output + g_writeAt, data, size);
    g_writeAt += size;
    *written = size;
    return TRUE;
}

uint32_t Le(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void Quiet(uint64_t, uint64_t) {}

// One pass over the archive's level-2 headers; the bytes produced, or -1.
int64_t DecodeArchive() {
    int64_t produced = 0;
    uint32_t at = 0;
    g_writeAt = 0;
    g_run.done = 0;
    while (at < g_archiveSize) {
        // The archive ends with a zero byte where the next header's size would be.
        const uint8_t* h = g_archive + at;
        if (h[0] == 0) return produced;
        uint32_t headerSize = Le(h, 2);
        if (headerSize < 26 || at + headerSize > g_archiveSize || h[20] != 2) return -1;
        uint32_t packed = Le(h + 7, 4);
        uint32_t original = Le(h + 11, 4);
        char method = static_cast<char>(h[5]);
        g_readAt = at + headerSize;
        if (method != 'd') {
            g_writeAt = 0;
            if (!DecodeEntryData(method, original, packed) || Crc16Value() != Le(h + 21, 2)) return -1;
            produced += original;
        }
        at += headerSize + packed;
    }
    return -1;
}

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

// The decoder's calls of ReadFile and WriteFile go through these pointers.
extern "C" {
void* g_readImport __asm__("__imp__ReadFile@20") = reinterpret_cast<void*>(&MemoryRead);
void* g_writeImport __asm__("__imp__WriteFile@20") = reinterpret_cast<void*>(&MemoryWrite);
}

// What the decoder needs of the rest of the stub.
void ErrorBox(UINT messageId, const WCHAR* subject) { fprintf(stderr, "error box %u: %ls\n", messageId, subject); }
void ReportProgress(uint64_t, uint64_t) {}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s ARCHIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 1;
    FILE* file = fopen(argv[1], "rb");
    if (file == nullptr) return 2;
    fseek(file, 0, SEEK_END);
    g_archiveSize = static_cast<uint32_t>(ftell(file));
    fseek(file, 0, SEEK_SET);
    uint8_t* archive = static_cast<uint8_t*>(malloc(g_archiveSize));
    if (archive == nullptr || fread(archive, 1, g_archiveSize, file) != g_archiveSize) return 2;
    fclose(file);
    g_archive = archive;
    // Room for the largest entry: a level-2 header holds its original size.
    g_outputSize = 0;
    for (uint32_t at = 0; at + 26 <= g_archiveSize && archive[at] != 0;) {
        uint32_t headerSize = Le(archive + at, 2);
        uint32_t original = Le(archive + at + 11, 4);
        if (original > g_outputSize) g_outputSize = original;
        at += headerSize + Le(archive + at + 7, 4);
    }
    g_output = static_cast<uint8_t*>(malloc(g_outputSize + 1));
    for (uint32_t i = 0; argv[1][i] != 0 && i + 1 < PATH_SIZE; ++i) g_run.ownPath[i] = static_cast<uint8_t>(argv[1][i]);
    g_progressReport = Quiet;

    double best = 0;
    int64_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = Seconds();
        bytes = DecodeArchive();
        double seconds = Seconds() - start;
        if (bytes < 0) {
            fprintf(stderr, "%s: decoding failed\n", argv[1]);
            return 1;
        }
        if (round == 0 || seconds < best) best = seconds;
    }
    printf("%lld bytes %.6f s %.1f MB/s\n", static_cast<long long>(bytes), best, static_cast<double>(bytes) / best / 1e6);
    return 0;
}
