// lzh-decode-check ARCHIVE SOURCE_FOLDER SCRATCH_FOLDER: extracts every file
// of a plain archive with the stub's own reader and decoder (into
// SCRATCH_FOLDER, emptied as it goes) and compares it with the file of the
// same name below SOURCE_FOLDER. For the benchmarks: exit status 0 when
// every file decodes with a matching CRC to the same bytes.
#include <stdio.h>

#include <string>
#include <vector>

#include "lzh/header.h"
#include "our_decoder.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: lzh-decode-check ARCHIVE SOURCE_FOLDER SCRATCH_FOLDER\n");
        return 2;
    }
    std::vector<lzhtest::DecodedEntry> entries;
    std::string error;
    if (!lzhtest::DecodeWithOurs(argv[1], argv[3], &entries, &error)) {
        fprintf(stderr, "lzh-decode-check: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    int bad = 0, files = 0;
    for (const lzhtest::DecodedEntry& e : entries) {
        if (e.method == 'd') continue;
        ++files;
        std::string source = std::string(argv[2]) + "/" + lzh::NameToUtf8(e.name);
        if (!e.crcMatches || !lzhtest::SameFileBytes(e.outputPath, source)) {
            fprintf(stderr, "lzh-decode-check: %s differs\n", e.name.c_str());
            ++bad;
        }
        remove(e.outputPath.c_str());
    }
    printf("%d files, %d differ\n", files, bad);
    return bad == 0 && files > 0 ? 0 : 1;
}
