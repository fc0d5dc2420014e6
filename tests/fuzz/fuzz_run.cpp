// Fuzz target: a whole run of the stub on a packed file, as valkrin-host
// does it, with every box answered Yes. The first byte chooses the run:
// bit 0 folder mode (else temporary mode), bit 1 a volume without long
// names, bit 2 Windows 98, bit 3 the question asked, bit 4 the wait for a
// window class, bit 5 a package of the extended switches and the
// installer's exit codes (the switches of byte 3 come first). Without bit 7 the install command names a program that does
// not exist and the archive follows. With bit 7, four bytes follow first:
//   1: bits 0-1 the install command: that missing program, "setup /q",
//      "%ExtractDir%\setup.exe /q" or "\"setup.exe\" /s"; bits 2-4 the
//      installer needs an administrator and the shell (1) starts it, (2) is
//      declined, (3) lacks ShellExecuteExA, (4) cannot be loaded (else it
//      needs none); bit 5 names through the wide calls (code page 1252);
//      bit 6 a window of the awaited class for two looks; bit 7 a second of
//      grace time.
//   2: a cancel in the nth message pump (bits 0-5; 0 none), by the button,
//      Esc, closing the window or the end of the session (bits 6-7).
//   3: the command line and temporary folders (bits 0-2): none, "/N",
//      "-q", "/n FOLDER", the same with a folder name near the path limit, a
//      folder argument too long; a system temporary path longer than
//      MAX_PATH; every numbered folder taken. With bit 5 of the first byte,
//      bits 3-6 pick the extended switches in front (kSwitchLines).
//   4: a system failure (bits 0-2): none, a write fails, a write is short, a
//      read fails, an allocation fails, a close fails, the first numbered
//      folder is refused, another run takes it first; bits 3-7 say which call
//      of its kind (0 the next).
// Programs are never run: a start succeeds when the named file exists. The
// rest of the input is the archive behind the configuration block.
// Extraction goes to a private folder below /tmp, emptied after every input;
// every path the run created, changed or removed must lie inside the
// extraction folder, read the way Windows reads it (a component of dots and
// blanks with two or more dots is the parent folder), a temporary folder
// must be gone at the end, and a started installer must be the extracted one.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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

// The extended switches in front of the command line; X is an extract-only
// folder, L a log file, both in the private folder.
const char* const kSwitchLines[16] = {
    "-s", "-t", "-x X", "-s -l L", "-s -- /quiet /norestart", "-z", "/?", "-x", "-t -s -l L", "-n -x X -- /q",
    "-S /T", "-l", "-- %ExtractDir%", "-q -n", "-s -x X", "",
};

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

// The first word of a command line (quotes group), in host form.
std::string FirstWord(const std::string& line) {
    std::string word;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (!word.empty()) break;
        } else {
            word += c == '\\' ? '/' : c;
        }
    }
    return word;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The install commands the options byte can choose.
const char* const kCommands[] = {"/nonexistent-valkrin-fuzz/setup.exe /q", "setup /q",
                                 "%ExtractDir%\\setup.exe /q", "\"setup.exe\" /s"};

void ArmFault(uint8_t choice, const std::string& firstFolder) {
    int nth = (choice >> 3) + 1;
    switch (choice & 7) {
        case 1: host::FailWrite(nth); break;
        case 2: host::FailWrite(nth, host::Fault::Short); break;
        case 3: host::FailRead(nth); break;
        case 4: host::FailAllocation(nth); break;
        case 5: host::FailClose(nth); break;
        case 6: host::RefusePath(firstFolder); break;
        case 7: host::CreateFolderFirst(firstFolder); break;
        default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    const bool extended = (mode & 0x80) != 0;
    if (extended && size < 5) return 0;
    const uint8_t install = extended ? data[1] : 0;
    const uint8_t cancel = extended ? data[2] : 0;
    const uint8_t lineByte = extended ? data[3] : 0;
    const uint8_t line = lineByte % 8;
    const uint8_t fault = extended ? data[4] : 0;
    const size_t skipped = extended ? 5 : 1;
    const bool unattended = (mode & 0x20) != 0;
    std::string switches = unattended ? kSwitchLines[(lineByte >> 3) & 15] : "";
    const std::string& scratch = PrivateFolder();
    const std::string extractOnly = scratch + "/x", logFile = scratch + "/log.txt";
    for (size_t at; (at = switches.find(" X")) != std::string::npos || (at = switches.find(" L")) != std::string::npos;) {
        switches.replace(at + 1, 1, switches[at + 1] == 'X' ? extractOnly : logFile);
    }
    const bool toFolder = switches.find("-x ") != std::string::npos;
    const bool testOnly = switches.find("-t") != std::string::npos || switches.find("/T") != std::string::npos;
    const bool silent = switches.find("-s") != std::string::npos || switches.find("-S") != std::string::npos;
    const bool folderMode = (mode & 1) != 0 || toFolder;

    // Where the run may write: the destination, or the numbered folders of
    // the temporary base (the first one may belong to another run).
    // Behind "--" or a switch whose value is missing no folder argument is read.
    const bool valueMissing = switches == "-x" || switches == "-l";
    const bool argumentFolder = (line == 3 || line == 4) && !valueMissing && switches.find("--") == std::string::npos;
    // Near the limit: on a volume without long names, of 8.3 components, as
    // such a volume's folders are.
    std::string nearLimit = std::string(240, 'b');
    if ((mode & 2) != 0) {
        for (size_t at = 8; at < nearLimit.size(); at += 9) nearLimit[at] = '/';
    }
    const std::string base = !argumentFolder ? scratch : line == 3 ? scratch + "/b" : scratch + "/" + nearLimit;
    std::error_code made;
    if (argumentFolder) std::filesystem::create_directories(base, made);
    const std::string firstFolder = argumentFolder ? base + "\\valkrin.000" : base + "/valkrin.000";
    const bool takenFirst = (fault & 7) == 7 && !folderMode;
    const std::string extractionFolder =
        toFolder     ? extractOnly
        : folderMode ? base + (argumentFolder ? "" : "/d")
                     : base + (takenFirst ? "/valkrin.001" : "/valkrin.000");

    InstallConfig config;
    memset(&config, 0, sizeof config);
    config.archiveOffset = kArchiveOffset;
    strcpy(config.title, "Fuzz");
    strcpy(config.command, (mode & 1) != 0 ? (scratch + "/d").c_str() : kCommands[install & 3]);
    strcpy(config.windowClass, "FuzzSetup");
    config.graceSeconds = (install & 0x80) ? 1 : 0;
    config.flags = CFG_OS_ALL | ((mode & 1) ? CFG_EXTRACT_TO_FOLDER : 0) | ((mode & 8) ? 0 : CFG_NO_CONFIRM) |
                   ((mode & 16) ? CFG_WAIT_FOR_CLASS : 0) |
                   (unattended ? CFG_EXTENDED_SWITCHES | CFG_INSTALLER_EXIT_CODES : 0);
    WritePacked(fuzzing::ArchivePath(), config, data + skipped, size - skipped);

    memset(&g_run, 0, sizeof g_run);
    memset(&g_config, 0, sizeof g_config);
    memset(g_textBuffer, 0, sizeof g_textBuffer);
    host::Reset();
    host::SimulateProcesses(true);
    host::SetModulePath(fuzzing::ArchivePath());
    host::SetTempPath(scratch + "/");
    host::SetMaxComponentLength((mode & 2) ? 12 : 255);
    if ((mode & 4) != 0) host::SetWindows("win98");
    if (line == 6) host::SetTempPath(scratch + "/" + std::string(MAX_PATH, 't') + "/");
    if (line == 7) host::SimulateFolders(true);
    const int shell = (install >> 2) & 7;
    if (shell >= 1 && shell <= 4) {
        host::RequireElevation(true);
        if (shell == 2) host::SetShell(host::ShellState::Fails, ERROR_CANCELLED);
        if (shell == 3) host::SetShell(host::ShellState::NoExport);
        if (shell == 4) host::SetShell(host::ShellState::NoLibrary);
    }
    if ((install & 0x20) != 0) host::SetCodePage(1252);
    if ((install & 0x40) != 0) host::AddWindowClass("FuzzSetup", 2);
    if ((cancel & 0x3F) != 0) host::CancelOnPump(cancel & 0x3F, static_cast<host::CancelBy>(cancel >> 6));
    ArmFault(fault, firstFolder);
    std::string commandLine;
    if (line == 1) commandLine = "/N";
    if (line == 2) commandLine = "-q";
    if (argumentFolder) commandLine = "/n " + base;
    if ((line == 3 || line == 4) && !argumentFolder) commandLine = "/n";
    if (line == 5) commandLine = "/n " + std::string(300, 'x');
    // A switch whose value is missing stays at the end: the folder argument
    // would be taken as its value.
    if (!switches.empty()) commandLine = switches + (commandLine.empty() || valueMissing ? "" : " " + commandLine);
    host::SetCommandLine(commandLine);
    int result = WinMain(host::ModuleHandle(), nullptr, &commandLine[0], SW_SHOWDEFAULT);

    for (const std::string& path : host::ChangedPaths()) {
        Check(IsInside(path, extractionFolder) || path == logFile, "changed outside the extraction folder: " + path);
        Check(!testOnly || path == logFile, "a test-only run wrote " + path);
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch, ignored)) {
        const std::string& found = entry.path().string();
        Check(found == extractionFolder || (argumentFolder && base.compare(0, found.size(), found) == 0) ||
                  found == logFile ||
                  (takenFirst && found == scratch + "/valkrin.000"),
              "left beside the extraction folder: " + found);
    }
    // The temporary folder goes in every case. (Another run's folder is
    // outside the extraction folder: the run never changed it.)
    if (!folderMode) Check(!Exists(extractionFolder), "temporary folder left: " + extractionFolder);
    // Before the block is read the run cannot know that it is silent: a
    // failed first read still shows its box.
    const bool blockUnread = (fault & 7) == 3 && (fault >> 3) == 0 && result == 0;
    // Every failure shows exactly one box, a cancel at most one; a silent run
    // none. The installer's codes: 0 success, 1602 cancelled, 1603 failed.
    const bool succeeded = !blockUnread && (unattended ? result == 0 : result == 1);
    Check(unattended ? result == 0 || result == 1602 || result == 1603 : result == 0 || result == 1, "exit code");
    if (silent && !blockUnread) {
        Check(host::Boxes().empty(), "a box in a silent run: " + (host::Boxes().empty() ? "" : host::Boxes()[0].utf8Text));
    } else if (switches.find('?') == std::string::npos) {
        Check((cancel & 0x3F) != 0 ? ErrorBoxes() <= 1 : ErrorBoxes() == (succeeded ? 0 : 1), "error boxes");
    }
    // One installer at most, started once more through the shell when it
    // needs an administrator; a started one is the extracted program.
    const size_t created = host::Processes().size();
    const size_t shelled = host::ShellExecutions().size();
    const bool runsNothing = folderMode || testOnly || switches.find('?') != std::string::npos ||
                             switches.find("-z") != std::string::npos || switches == "-x" || switches == "-l";
    Check(runsNothing ? created + shelled == 0 : created <= 1 && shelled <= 1 && (!succeeded || created == 1),
          "installer starts");
    if (!runsNothing && succeeded && (install & 3) != 0) {
        std::string started = shelled != 0 ? FirstWord(host::ShellExecutions()[0].file)
                                           : FirstWord(host::Processes()[0].commandLine);
        Check(started == extractionFolder + "/setup.exe", "installer started: " + started);
    }
    Empty(scratch);
    return 0;
}
