// valkrin-pack: makes a self-extracting installer out of the stub it carries
// (or another one) and the files to pack, shows the block of one (--inspect)
// or lists its entries (--list).
#include <stdio.h>
#include <stdlib.h>

#include "files/host_fs.h"
#include "lzh/archive_list.h"
#include "pack/archive_source.h"
#include "pack/config_block.h"
#include "pack/embedded_stub.h"
#include "pack/manifest_level.h"
#include "pack/packer.h"
#include "pack/stub_resources.h"

#ifndef VALKRIN_VERSION
#error "VALKRIN_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

// Exit statuses.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;     // no partial output is left
constexpr int EXIT_BAD_USAGE = 2;  // the command line was refused

const char USAGE[] =
    "usage: valkrin-pack -o OUT.exe [--title TEXT] (--run COMMAND | --folder DIR)\n"
    "                    [--wait-class CLASS] [--grace SECONDS] [--confirm | --no-confirm]\n"
    "                    [--os LIST] [--exit-codes classic|installer] [--switches classic|extended]\n"
    "                    [--keep-bare-command] [--elevation LEVEL] [--stub STUB.exe]\n"
    "                    [--icon FILE.ico]\n"
    "                    [--product-name TEXT] [--product-version TEXT] [--file-version A.B.C.D]\n"
    "                    [--company TEXT] [--description TEXT] [--copyright TEXT]\n"
    "                    (--archive FILE.lzh | [--method M] [--best] [--threads N] PATH...)\n"
    "       valkrin-pack --inspect FILE.exe\n"
    "       valkrin-pack --list FILE.exe|FILE.lzh\n"
    "       valkrin-pack --help | --version\n";

const char HELP[] =
    "\n"
    "Makes OUT.exe, a self-extracting installer for 32-bit Windows: the Valkrin stub with its\n"
    "configuration block and an LZH archive behind it. Texts are given in UTF-8 and stored in\n"
    "Shift-JIS (code page 932); a text without a Shift-JIS form, or too long for its field, is\n"
    "refused.\n"
    "\n"
    "  -o OUT.exe           the file to write (written whole, or not at all)\n"
    "  --title TEXT         caption and question title, at most 50 bytes (default: the stub's)\n"
    "  --run COMMAND        temporary mode: extract into a fresh temporary folder, run COMMAND\n"
    "                       there, wait for it, remove the folder. At most 259 bytes; folder\n"
    "                       variables such as %ExtractDir% are expanded by the stub. A program\n"
    "                       named without a folder (setup.exe) gets %ExtractDir%\\ in front, with\n"
    "                       a warning: Windows would not look for it in the extraction folder\n"
    "  --keep-bare-command  keep such a program as written (for system programs: msiexec ...)\n"
    "  --folder DIR         folder mode: extract into DIR (may hold folder variables); empty:\n"
    "                       the current folder\n"
    "  --wait-class CLASS   with --run: afterwards wait until no window of CLASS is left\n"
    "  --grace SECONDS      wait this long after the installer has ended (default 0)\n"
    "  --confirm            ask before installing (default); --no-confirm: do not ask\n"
    "  --os LIST            where it may run, comma-separated: win95,win98,winme,nt351,nt4,\n"
    "                       win2000,winxp (XP and every later NT); default: all\n"
    "  --exit-codes installer\n"
    "                       the package exits as Windows Installer does: 0 success (temporary\n"
    "                       mode: the installer's own exit code, passed on unchanged), 1602\n"
    "                       the answer No, Cancel or a declined administrator prompt, 1603 damage,\n"
    "                       a read or write error, an installer that cannot start or any other\n"
    "                       failure, 1633 a Windows it may not run on. Default classic: 1 when\n"
    "                       both passes succeeded, else 0\n"
    "  --switches extended  setup.exe takes -n, -q, -s (silent: no window, no box), -t (test\n"
    "                       only), -x DIR (extract only, into DIR), -l FILE (append a log), -?\n"
    "                       (list them), in any order, and -- ARGUMENTS for the installer;\n"
    "                       an unknown switch is refused. Default classic: one of -n, -q\n"
    "  --elevation LEVEL    the execution level in the manifest: asInvoker (the user's rights),\n"
    "                       highestAvailable (an administrator's when the user is one), or\n"
    "                       requireAdministrator (Windows asks for an administrator);\n"
    "                       default: requireAdministrator with --run, asInvoker with --folder\n"
    "  --stub STUB.exe      another stub; default: $VALKRIN_STUB if set, else the stub built\n"
    "                       into valkrin-pack (see --version); a signed stub is refused\n"
    "  --icon FILE.ico      the installer's icon: every image of FILE.ico (PNG ones included)\n"
    "                       replaces the stub's icon\n"
    "  --product-name TEXT, --product-version TEXT, --file-version A.B.C.D, --company TEXT,\n"
    "  --description TEXT, --copyright TEXT\n"
    "                       version information (Japanese, code page 932) in place of the stub's;\n"
    "                       the description defaults to the title, the numeric product version to\n"
    "                       the file version\n"
    "  PATH...              files and folders to pack (folders with everything below them);\n"
    "                       names are stored in Shift-JIS, '_' for each character it lacks,\n"
    "                       and, when not plain ASCII, also in UTF-16\n"
    "  --method M           for PATH...: lh5 (default), lh6, lh7, or lh0 (stored)\n"
    "  --best               for PATH...: 4-18% smaller archives, compressed 20-40 times slower\n"
    "  --threads N          compress on N threads (default: one per processor, at most 4);\n"
    "                       the archive is the same for any N\n"
    "  --archive FILE.lzh   append an existing archive as it is, instead of PATH...\n"
    "  --inspect FILE.exe   show the configuration block of a packed file\n"
    "  --list FILE          list the entries of a packed file or of a .lzh archive\n"
    "\n"
    "Exit status: 0 done; 1 failed (a message says why; no partial OUT.exe is left);\n"
    "2 the command line was refused.\n"
    "\n"
    "With SOURCE_DATE_EPOCH set (seconds since 1970), no time stored in OUT.exe is later than it:\n"
    "the same inputs give the same bytes whenever and wherever they are packed.\n";

int Fail(const std::string& message) {
    fprintf(stderr, "valkrin-pack: %s\n", message.c_str());
    return EXIT_FAILED;
}

int Inspect(const std::string& path) {
    pe::Bytes packed;
    std::string error;
    InstallConfig block;
    if (!pe::ReadFile(path, &packed, &error)) return Fail(error);
    if (!ReadPackedBlock(packed, &block, &error)) return Fail(path + ": " + error);
    printf("%s", DescribeConfigBlock(block).c_str());
    std::string level;
    printf("elevation      %s\n", ReadManifestLevel(packed, &level) ? level.c_str() : "none (the stub has no manifest)");
    printf("archive        %zu bytes from offset %u\n", packed.size() - block.archiveOffset, block.archiveOffset);
    printf("%s", DescribeStubResources(packed).c_str());
    return EXIT_DONE;
}

// The stub to pack: --stub, else $VALKRIN_STUB, else the one carried inside.
// `name` receives how messages refer to it.
bool LoadStub(const PackOptions& options, pe::Bytes* stub, std::string* name, std::string* error) {
    std::string path = options.stub;
    *name = "--stub " + path;
    if (path.empty() && getenv("VALKRIN_STUB") != nullptr) {
        path = getenv("VALKRIN_STUB");
        *name = "$VALKRIN_STUB " + path;
    }
    if (path.empty()) {
        *name = "the embedded stub";
        if (EMBEDDED_STUB_SIZE == 0) {
            *error = "no stub embedded; pass --stub STUB.exe (this valkrin-pack was built before the windows build)";
            return false;
        }
        stub->assign(EMBEDDED_STUB, EMBEDDED_STUB + EMBEDDED_STUB_SIZE);
        return true;
    }
    if (!pe::ReadFile(path, stub, error)) {
        *error = *name + ": " + *error;
        return false;
    }
    return true;
}

void WarnAboutBareProgram(const PackOptions& options) {
    fprintf(stderr,
            "valkrin-pack: warning: the install command \"%s\" names its program without a folder, and\n"
            "  Windows would look for it beside the installer and along the PATH, not in the extraction\n"
            "  folder; it is written as \"%s\" (--keep-bare-command keeps it as given)\n",
            options.givenCommand.c_str(), options.command.c_str());
}

void WarnAboutProtectedDestination(const PackOptions& options) {
    fprintf(stderr,
            "valkrin-pack: warning: the destination \"%s\" is a folder that only an administrator may\n"
            "  write to, and the installer runs with the user's rights (asInvoker): a user who is not\n"
            "  an administrator gets a write error; --elevation requireAdministrator asks for the rights\n",
            options.command.c_str());
}

// The level goes into the manifest of the stub's copy. A stub without a
// manifest (one made before it had one) is packed as it is, unless a level
// was asked for.
bool ApplyElevation(const PackOptions& options, pe::Bytes* stub, const std::string& stubName, std::string* error) {
    size_t field;
    if (!options.hasElevation && !FindManifestLevel(*stub, &field)) return true;
    if (SetManifestLevel(stub, options.elevation, error)) return true;
    *error = stubName + ": " + *error;
    return false;
}

int Pack(const PackOptions& options) {
    if (options.commandPrefixed) WarnAboutBareProgram(options);
    if (options.folderMode && options.elevation == ExecutionLevel::AsInvoker && IsProtectedDestination(options.command)) {
        WarnAboutProtectedDestination(options);
    }
    std::string error, stubName;
    InstallConfig block;
    if (!MakeConfigBlock(options, &block, &error)) return Fail(error);
    pe::Bytes stub, archive, packed;
    pe::Image image;
    if (!LoadStub(options, &stub, &stubName, &error)) return Fail(error);
    if (!CheckStub(stub, &image, &error)) return Fail(stubName + ": " + error);
    if (!ApplyStubResources(options, stubName, &stub, &error)) return Fail(error);
    if (!ApplyElevation(options, &stub, stubName, &error)) return Fail(error);
    if (!LoadArchive(options, &archive, &error)) return Fail(error);
    if (!PackExecutable(stub, block, archive, &packed, &error)) return Fail(error);
    if (!pe::WriteFile(options.output, packed, &error)) return Fail(error);
    return EXIT_DONE;
}

int Version() {
    printf("valkrin-pack %s\n", VALKRIN_VERSION);
    if (EMBEDDED_STUB_SIZE == 0) {
        printf("embedded stub: none (pass --stub STUB.exe)\n");
    } else {
        printf("embedded stub: valkrin.exe, %zu bytes\n", EMBEDDED_STUB_SIZE);
    }
    return EXIT_DONE;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = hostfs::Arguments(argc, argv);
    if (args.empty()) {
        fputs(USAGE, stderr);
        fputs("Try valkrin-pack --help.\n", stderr);
        return EXIT_BAD_USAGE;
    }
    PackOptions options;
    std::string error;
    if (!ParsePackOptions(args, &options, &error)) {
        fprintf(stderr, "valkrin-pack: %s\n%s", error.c_str(), USAGE);
        return EXIT_BAD_USAGE;
    }
    switch (options.mode) {
    case PackMode::Help:
        printf("%s%s", USAGE, HELP);
        return EXIT_DONE;
    case PackMode::Version:
        return Version();
    case PackMode::List:
        return lzh::ListArchive(options.inspect, stdout, error) ? EXIT_DONE : Fail(error);
    case PackMode::Inspect:
        return Inspect(options.inspect);
    case PackMode::Pack:
        break;
    }
    return Pack(options);
}
