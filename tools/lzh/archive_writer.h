// Writing an LZH archive of files and folders for the stub: level-2 headers,
// our own compressor, stored entries where compression does not pay.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lzh/encoder.h"

namespace lzh {

// One path given by the caller. A folder is packed with everything below it.
struct InputPath {
    std::string path;         // on disk, UTF-8
    std::string archiveName;  // its name in the archive ('/' separators); empty: the last part of `path`
};

// Called at the start of every entry, after every piece of input (at most
// 1 MiB) and once at the end: bytes of file data done so far and in all, and
// the entry's name (UTF-8). `done` never falls and ends equal to `total`.
using ProgressFn = std::function<void(uint64_t done, uint64_t total, const std::string& name)>;
// Called with each warning about the inputs: one message in UTF-8.
using WarnFn = std::function<void(const std::string& message)>;

struct WriteOptions {
    Method method = Method::Lh5;
    std::optional<EncoderTuning> tuning;  // none: the default of the method
    // Stop compressing a file that has saved nothing after this many bytes
    // and store it (0: compress every file to its end).
    uint64_t giveUpAfter = 4 << 20;
    // Keep fractions of a second of the last-write time (EXT_WINDOWS_TIME,
    // 27 bytes more per entry); false rounds them down.
    bool subsecondTimes = true;
    // No stored time is later than this (seconds since 1970-01-01 UTC):
    // later ones become it. Set from SOURCE_DATE_EPOCH for reproducible
    // archives.
    std::optional<int64_t> latestTime;
    // Receives the warnings about names; none: they are dropped.
    WarnFn warn;
};

// One entry as planned from the inputs, before anything is written.
struct PlannedEntry {
    std::string diskPath;  // empty for a folder given by name only
    std::string name;      // UTF-8, '/' separators, no trailing '/'
    std::string sjisName;  // the same in Shift-JIS, '_' for each character it has not
    // The UTF-16 records of a name that is not plain ASCII: the folder part
    // (a folder entry's whole name) and the file part, each empty when it
    // is not written.
    std::u16string unicodeDirectory;
    std::u16string unicodeFile;
    bool folder = false;
    uint64_t size = 0;
};

// Walks the inputs: files as they are, folders first as a folder entry and
// then their contents, sorted by name (bytewise) at every level. False with a
// message when a path cannot be read, is neither file nor folder, has a name
// that is not UTF-8 or one that the stub cannot extract. Names that Windows
// 95 to Me would take as one, and UTF-16 records left out, go to `warn`.
bool PlanEntries(const std::vector<InputPath>& inputs, std::vector<PlannedEntry>* entries, std::string* error,
                 const WarnFn& warn = nullptr);

// Writes the archive of `inputs` to `out` at its current position, ending
// with the end marker, and leaves `out` positioned behind it. `out` must be
// seekable (each header is written again once its data is known); when it is
// a regular file, anything behind the archive is cut off. False with a
// message for the user; the file then holds a partial archive.
bool WriteArchive(FILE* out, const std::vector<InputPath>& inputs, const WriteOptions& options,
                  std::string& error, const ProgressFn& progress = nullptr);

// The same with the default tuning.
bool WriteArchive(FILE* out, const std::vector<InputPath>& inputs, Method method, std::string& error,
                  const ProgressFn& progress = nullptr);

}  // namespace lzh
