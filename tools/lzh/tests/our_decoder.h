// Extracts an archive with the stub's own reader and decoder (valkrin_core
// on the host layer), entry by entry, into files of a folder.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace lzhtest {

struct DecodedEntry {
    std::string name;      // as the stub sees it, in Shift-JIS, '/' separators
    std::string utf8Name;  // the same in UTF-8: a UTF-16 name where the header has one
    char method = 0;
    uint64_t compressedSize = 0;
    uint64_t originalSize = 0;
    uint16_t attributes = 0;
    uint64_t fileTime = 0;
    std::string outputPath;  // the extracted bytes (empty for a folder)
    bool crcMatches = false;
};

// Reads every entry of the archive at `archivePath` (a plain archive at
// offset 0) and decodes each file entry into `folder`/<index>. False with a
// message when the reader or the decoder gives up.
bool DecodeWithOurs(const std::string& archivePath, const std::string& folder, std::vector<DecodedEntry>* entries,
                    std::string* error);

// The whole content of a file ("" when it cannot be read).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// True when both files hold the same bytes (read piecewise).
bool SameFileBytes(const std::string& a, const std::string& b);

}  // namespace lzhtest

namespace lzhtest {
// Reads only the first header of the archive at `archivePath` with the
// stub's reader. False with the message it showed.
bool ReadFirstHeader(const std::string& archivePath, DecodedEntry* entry, std::string* error);
}  // namespace lzhtest
