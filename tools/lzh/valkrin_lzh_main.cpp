// valkrin-lzh: packs files and folders into a plain .lzh archive with our
// own writer, or lists one. For measurements and for trying archives out;
// valkrin-pack is the tool users run.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "lzh/archive_list.h"
#include "lzh/archive_writer.h"

namespace {

int Usage() {
    fprintf(stderr,
            "usage: valkrin-lzh [-m lh0|lh5|lh6|lh7] [--fast|--best] [--chain N] [--nice N] [--lazy N] [--good N]\n"
            "                   [--threads N] [--whole-seconds] [-v] -o OUT.lzh PATH...\n"
            "       valkrin-lzh --list FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    lzh::WriteOptions options;
    std::string output;
    std::vector<lzh::InputPath> inputs;
    bool verbose = false;
    lzh::EncoderTuning overrides{0, 0, 0, 0};  // 0: keep the method's value
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--list" && i + 1 < argc) {
            std::string error;
            if (!lzh::ListArchive(argv[i + 1], stdout, error)) {
                fprintf(stderr, "valkrin-lzh: %s\n", error.c_str());
                return 1;
            }
            return 0;
        } else if (arg == "-m" && i + 1 < argc) {
            if (!lzh::ParseMethod(argv[++i], &options.method)) return Usage();
        } else if (arg == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (arg == "--fast") {
            options.tuning = lzh::FastTuning();
        } else if (arg == "--best") {
            options.tuning = lzh::BestTuning();
        } else if ((arg == "--chain" || arg == "--nice" || arg == "--lazy" || arg == "--good") && i + 1 < argc) {
            int value = atoi(argv[++i]);
            int& field = arg == "--chain" ? overrides.maxChain
                         : arg == "--nice" ? overrides.niceLength
                         : arg == "--lazy" ? overrides.lazyLength
                                           : overrides.goodLength;
            field = value;
        } else if (arg == "--threads" && i + 1 < argc) {
            overrides.threads = atoi(argv[++i]);
        } else if (arg == "--whole-seconds") {
            options.subsecondTimes = false;
        } else if (arg == "-v") {
            verbose = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else {
            inputs.push_back(lzh::InputPath{arg, ""});
        }
    }
    if (output.empty() || inputs.empty()) return Usage();
    lzh::EncoderTuning tuning = options.tuning ? *options.tuning : lzh::DefaultTuning(options.method);
    if (overrides.maxChain) tuning.maxChain = overrides.maxChain;
    if (overrides.niceLength) tuning.niceLength = overrides.niceLength;
    if (overrides.lazyLength) tuning.lazyLength = overrides.lazyLength;
    if (overrides.goodLength) tuning.goodLength = overrides.goodLength;
    if (overrides.threads) tuning.threads = overrides.threads;
    options.tuning = tuning;
    options.warn = [](const std::string& message) { fprintf(stderr, "valkrin-lzh: warning: %s\n", message.c_str()); };
    FILE* out = fopen(output.c_str(), "wb");
    if (out == nullptr) {
        fprintf(stderr, "valkrin-lzh: \"%s\": cannot create: %s\n", output.c_str(), strerror(errno));
        return 1;
    }
    std::string error;
    lzh::ProgressFn progress;
    if (verbose) {
        progress = [](uint64_t done, uint64_t total, const std::string& name) {
            fprintf(stderr, "\r%3d%% %s\033[K", total ? static_cast<int>(done * 100 / total) : 100, name.c_str());
        };
    }
    bool ok = lzh::WriteArchive(out, inputs, options, error, progress);
    if (verbose) fprintf(stderr, "\n");
    if (fclose(out) != 0 && ok) {
        error = "cannot write the archive: " + std::string(strerror(errno));
        ok = false;
    }
    if (!ok) {
        fprintf(stderr, "valkrin-lzh: %s\n", error.c_str());
        remove(output.c_str());
        return 1;
    }
    return 0;
}
