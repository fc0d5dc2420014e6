#include "pack/archive_source.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include "files/host_fs.h"
#include "lzh/archive_writer.h"

namespace {

using lzh::InputPath;
using lzh::Method;
using lzh::ProgressFn;

// SOURCE_DATE_EPOCH, when set: the latest time the archive may hold.
bool LatestTime(std::optional<int64_t>* latest, std::string* error) {
    const char* text = getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr) return true;
    char* end = nullptr;
    errno = 0;
    long long seconds = strtoll(text, &end, 10);
    if (*text == 0 || *end != 0 || errno != 0 || seconds < 0) {
        *error = "SOURCE_DATE_EPOCH: \"" + std::string(text) + "\" is not a number of seconds since 1970";
        return false;
    }
    *latest = seconds;
    return true;
}

// Packs the given files and folders with our own writer, through a
// temporary file (the writer goes back to finish each header).
bool WriteOwnArchive(const PackOptions& options, pe::Bytes* archive, std::string* error) {
    lzh::WriteOptions writeOptions;
    if (!LatestTime(&writeOptions.latestTime, error)) return false;
    Method& method = writeOptions.method;
    if (!lzh::ParseMethod(options.method, &method)) {
        *error = "--method: unknown method " + options.method;
        return false;
    }
    std::vector<InputPath> inputs;
    for (const std::string& path : options.inputs) inputs.push_back(InputPath{hostfs::SlashSeparated(path), ""});
    FILE* out = hostfs::OpenTemporaryFile();
    if (out == nullptr) {
        *error = "cannot create a temporary file for the archive";
        return false;
    }
    bool showProgress = hostfs::IsTerminal(stderr);
    ProgressFn progress = [&](uint64_t done, uint64_t total, const std::string&) {
        if (!showProgress || total < (8u << 20)) return;
        int width = 40;
        int filled = total == 0 ? width : static_cast<int>(done * width / total);
        fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                width - filled, "", total == 0 ? 100 : static_cast<int>(done * 100 / total));
        if (done == total) fprintf(stderr, "\n");
    };
    std::string writeError;
    lzh::EncoderTuning tuning = options.best ? lzh::BestTuning() : lzh::DefaultTuning(method);
    tuning.threads = options.threads;
    writeOptions.tuning = tuning;
    writeOptions.warn = [](const std::string& message) {
        fprintf(stderr, "valkrin-pack: warning: %s\n", message.c_str());
    };
    bool ok = lzh::WriteArchive(out, inputs, writeOptions, writeError, progress);
    if (!ok) {
        *error = writeError;
        fclose(out);
        return false;
    }
    fflush(out);
    int64_t size = hostfs::Tell(out);
    ok = size >= 0 && static_cast<uint64_t>(size) <= SIZE_MAX;
    if (ok) {
        archive->resize(static_cast<size_t>(size));
        rewind(out);
        ok = fread(archive->data(), 1, archive->size(), out) == archive->size();
    }
    fclose(out);
    if (!ok) *error = "cannot read back the written archive";
    return ok;
}

}  // namespace

bool LoadArchive(const PackOptions& options, pe::Bytes* archive, std::string* error) {
    if (!options.inputs.empty()) return WriteOwnArchive(options, archive, error);
    if (!pe::ReadFile(options.archive, archive, error)) {
        *error = "--archive: " + *error;
        return false;
    }
    if (archive->empty()) {
        *error = "--archive: " + options.archive + " is empty";
        return false;
    }
    return true;
}
