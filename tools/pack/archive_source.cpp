#include "pack/archive_source.h"

#include <stdio.h>

#include "files/host_fs.h"
#include "lzh/archive_writer.h"

namespace {

using lzh::InputPath;
using lzh::Method;
using lzh::ProgressFn;

// Packs the given files and folders with our own writer, through a
// temporary file (the writer goes back to finish each header).
bool WriteOwnArchive(const PackOptions& options, pe::Bytes* archive, std::string* error) {
    Method method;
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
    bool ok = lzh::WriteArchive(out, inputs, method, writeError, progress);
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
