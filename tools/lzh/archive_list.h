// Listing the entries of a plain .lzh archive or of a packed executable, as
// an archiver does.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace lzh {

struct ListedEntry {
    std::string method;  // "-lh5-"
    uint64_t compressedSize = 0;
    uint64_t originalSize = 0;
    uint16_t dataCrc = 0;
    uint16_t attributes = 0;
    uint64_t fileTime = 0;  // last write as a Windows FILETIME
    std::string name;       // UTF-8, '/' separators; a folder ends with '/'
};

// Reads the entry headers of `path`: a packed executable (the archive starts
// at the offset its block names) or a plain archive starting at offset 0.
// Only level-2 headers are read. False with a message.
bool ReadEntries(const std::string& path, std::vector<ListedEntry>* entries, std::string* error);

// Prints the entries in columns: sizes, ratio, method, time (UTC), CRC,
// name; then a total line.
void PrintListing(const std::vector<ListedEntry>& entries, FILE* out);

// ReadEntries then PrintListing, for `--list`.
bool ListArchive(const std::string& path, FILE* out, std::string& error);

}  // namespace lzh
