// valkrin-pack: makes a self-extracting installer out of the stub and an
// LZH archive, or shows the block of one (--inspect).
#include <stdio.h>
#include <stdlib.h>

#include "lzh/archive_list.h"
#include "pack/archive_source.h"
#include "pack/config_block.h"
#include "pack/packer.h"

#ifndef VALKRIN_DEFAULT_STUB
#define VALKRIN_DEFAULT_STUB "valkrin.exe"
#endif

namespace {

const char USAGE[] =
    "usage: valkrin-pack -o OUT.exe [--title TEXT] (--run COMMAND | --folder DIR)\n"
    "                    [--wait-class CLASS] [--grace SECONDS] [--confirm | --no-confirm]\n"
    "                    [--os LIST] [--stub STUB.exe] (--archive FILE.lzh | [--method M] PATH...)\n"
    "       valkrin-pack --inspect FILE.exe\n"
    "       valkrin-pack --list FILE.exe|FILE.lzh\n"
    "  PATH...    files and folders packed by valkrin-pack itself (folders recursively)\n"
    "  --method   lh5 (default), lh6, lh7 or lh0 (stored)\n"
    "  --os LIST  comma-separated: win95,win98,winme,nt351,nt4,win2000,winxp (default: all)\n"
    "  --stub     default: $VALKRIN_STUB, else " VALKRIN_DEFAULT_STUB "\n";

int Fail(const std::string& message) {
    fprintf(stderr, "valkrin-pack: %s\n", message.c_str());
    return 1;
}

int Inspect(const std::string& path) {
    pe::Bytes packed;
    std::string error;
    InstallConfig block;
    if (!pe::ReadFile(path, &packed, &error)) return Fail(error);
    if (!ReadPackedBlock(packed, &block, &error)) return Fail(path + ": " + error);
    printf("%s", DescribeConfigBlock(block).c_str());
    printf("archive        %zu bytes from offset %u\n", packed.size() - block.archiveOffset, block.archiveOffset);
    return 0;
}

int Pack(const PackOptions& options) {
    std::string error;
    InstallConfig block;
    if (!MakeConfigBlock(options, &block, &error)) return Fail(error);
    std::string stubPath = options.stub;
    if (stubPath.empty()) stubPath = getenv("VALKRIN_STUB") != nullptr ? getenv("VALKRIN_STUB") : VALKRIN_DEFAULT_STUB;
    pe::Bytes stub, archive, packed;
    if (!pe::ReadFile(stubPath, &stub, &error)) return Fail("--stub: " + error);
    if (!LoadArchive(options, &archive, &error)) return Fail(error);
    if (!PackExecutable(stub, block, archive, &packed, &error)) return Fail(error);
    if (!pe::WriteFile(options.output, packed, &error)) return Fail(error);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        fputs(USAGE, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    PackOptions options;
    std::string error;
    if (!ParsePackOptions(args, &options, &error)) {
        fprintf(stderr, "valkrin-pack: %s\n%s", error.c_str(), USAGE);
        return 2;
    }
    if (options.mode == PackMode::List) {
        if (!lzh::ListArchive(options.inspect, stdout, error)) return Fail(error);
        return 0;
    }
    return options.mode == PackMode::Inspect ? Inspect(options.inspect) : Pack(options);
}
