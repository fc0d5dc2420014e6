// Fuzz target: a whole run of the stub on a packed file, as valkrin-host
// does it, with every box answered Yes. The first byte chooses the run:
// bit 0 folder mode (else temporary mode, whose install command names a
// program that does not exist), bit 1 a volume without long names, bit 2
// Windows 98, bit 3 the question asked, bit 4 the wait for a window class.
// The rest is the archive behind the configuration block. Extraction goes to
// a private folder below /tmp, emptied after every input; every path the run
// created, changed or removed must lie inside the extraction folder, read
// the way Windows reads it (a component of dots and blanks with two or more
// dots is the parent folder).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/run_state.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/host_controls.h"
#include "startup/install_config.h"
#include "startup/startup.h"

namespace {

using fuzzing::ClimbsOut;

constexpr uint32_t kArchiveOffset = 1024;

void Check(bool condition, const std::string& what = "") {
    if (condition) return;
    fprintf(stderr, "fuzz-run: %s\n", what.c_str());
    __builtin_trap();
}

// The private folder: "/tmp/vkXXXXXX", whose name survives the 8.3 rules.
const std::string& PrivateFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vkXXXXXX";
        if (mkdtemp(pattern) == nullptr) __builtin_trap();
        std::string made = pattern;
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(PrivateFolder(), ignored);
            unlink(fuzzing::ArchivePath().c_str());
        });
        return made;
    }();
    return folder;
}

void Empty(const std::string& folder) {
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

// The components of an absolute host path after resolving `.`, empty
// components and parent references.
std::vector<std::string> Resolve(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (ClimbsOut(part)) {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

bool IsInside(const std::string& path, const std::string& folder) {
    std::vector<std::string> inner = Resolve(path);
    std::vector<std::string> outer = Resolve(folder);
    return inner.size() >= outer.size() && std::equal(outer.begin(), outer.end(), inner.begin());
}

void WritePacked(const std::string& path, const InstallConfig& config, const uint8_t* archive, size_t size) {
    std::string bytes(kArchiveOffset, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    memcpy(&bytes[CONFIG_FILE_OFFSET], &config, sizeof config);
    bytes.append(reinterpret_cast<const char*>(archive), size);
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) __builtin_trap();
    fclose(out);
}

int ErrorBoxes() {
    int count = 0;
    for (const host::BoxRecord& box : host::Boxes()) {
        if ((box.flags & MB_ICONERROR) != 0) ++count;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    const bool folderMode = (mode & 1) != 0;
    const std::string& scratch = PrivateFolder();
    const std::string extractionFolder = scratch + (folderMode ? "/d" : "/valkrin.000");

    InstallConfig config;
    memset(&config, 0, sizeof config);
    config.archiveOffset = kArchiveOffset;
    strcpy(config.title, "Fuzz");
    std::string command = folderMode ? extractionFolder : "/nonexistent-valkrin-fuzz/setup.exe /q";
    strcpy(config.command, command.c_str());
    strcpy(config.windowClass, "FuzzSetup");
    config.flags = CFG_OS_ALL | (folderMode ? CFG_EXTRACT_TO_FOLDER : 0) | ((mode & 8) ? 0 : CFG_NO_CONFIRM) |
                   ((mode & 16) ? CFG_WAIT_FOR_CLASS : 0);
    WritePacked(fuzzing::ArchivePath(), config, data + 1, size - 1);

    memset(&g_run, 0, sizeof g_run);
    memset(&g_config, 0, sizeof g_config);
    memset(g_textBuffer, 0, sizeof g_textBuffer);
    host::Reset();
    host::SetModulePath(fuzzing::ArchivePath());
    host::SetTempPath(scratch + "/");
    host::SetMaxComponentLength((mode & 2) ? 12 : 255);
    if ((mode & 4) != 0) host::SetWindows("win98");
    char commandLine[] = "";
    int result = WinMain(host::ModuleHandle(), nullptr, commandLine, SW_SHOWDEFAULT);

    for (const std::string& path : host::ChangedPaths()) {
        Check(IsInside(path, extractionFolder), "changed outside the extraction folder: " + path);
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch, ignored)) {
        Check(entry.path().string() == extractionFolder, "left beside the extraction folder: " + entry.path().string());
    }
    // Every failure shows exactly one box; temporary mode adds the one of the
    // installer that cannot start.
    Check(result == 0 || result == 1, "exit code");
    Check(ErrorBoxes() == (result == 0 || !folderMode ? 1 : 0), "error boxes");
    Check(host::Processes().size() <= 1 && (folderMode || result == 0 || host::Processes().size() == 1),
          "installer starts");
    Empty(scratch);
    return 0;
}
