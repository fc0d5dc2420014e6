// The command line of valkrin-pack.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/manifest_level.h"
#include "pe/version_info.h"

enum class PackMode { Pack, Inspect, List, Help, Version };

struct PackOptions {
    PackMode mode = PackMode::Pack;
    std::string output;         // -o
    std::string title;          // --title, UTF-8
    bool hasTitle = false;
    std::string command;        // --run or --folder, UTF-8, as it goes into the block
    bool folderMode = false;    // --folder
    bool hasCommand = false;
    bool keepBareCommand = false;  // --keep-bare-command
    bool commandPrefixed = false;  // %ExtractDir%\ was put in front of a bare program
    std::string givenCommand;      // the command as given, when it was prefixed
    std::string windowClass;    // --wait-class, UTF-8
    bool waitForClass = false;
    uint32_t graceSeconds = 0;  // --grace
    bool confirm = true;        // --confirm (default) or --no-confirm
    bool installerExitCodes = false;  // --exit-codes installer (default classic)
    bool extendedSwitches = false;    // --switches extended (default classic)
    uint32_t osFlags = 0;       // --os, as CFG_OS_* bits; all seven by default
    std::string stub;           // --stub; empty: the default stub
    std::string archive;        // --archive: an existing .lzh file
    std::vector<std::string> inputs;  // files and folders to pack ourselves
    std::string method = "lh5";       // --method for the inputs: lh0, lh5, lh6, lh7
    bool best = false;                // --best: the near-optimal parse (smaller, much slower)
    int threads = 0;                  // --threads: 0 one per processor (at most 4)
    std::string inspect;        // --inspect FILE.exe, or the file of --list
    std::string icon;           // --icon FILE.ico: replaces the stub's icon
    pe::VersionFields version;  // --product-name and the other version fields, UTF-8
    bool hasVersion = false;    // any of them given: the stub's version information is replaced
    // --elevation; without it requireAdministrator in temporary mode (an
    // installer named setup.exe was elevated by Windows without a manifest),
    // asInvoker in folder mode (a protected destination then fails visibly
    // instead of being redirected into the user's VirtualStore).
    ExecutionLevel elevation = ExecutionLevel::RequireAdministrator;
    bool hasElevation = false;
};

// The version options and the field each one fills.
struct VersionOption {
    const char* name;
    std::string pe::VersionFields::*field;
};
extern const VersionOption VERSION_OPTIONS[6];

// True when a folder-mode destination lies in a folder that only an
// administrator may write to: it begins with %ProgramFilesDir%,
// %CommonFilesDir%, %SystemDir% or %windir% (or the environment's
// %ProgramFiles%, %ProgramFiles(x86)%, %CommonProgramFiles%, %SystemRoot%),
// in quotes or not, in any case.
bool IsProtectedDestination(const std::string& folder);

// Names accepted by --os and their permission bits.
struct OsName {
    const char* name;
    uint32_t flag;
};
extern const OsName OS_NAMES[7];

// Parses argv (without the program name). False with a message for the user.
// In temporary mode a program without a folder gets %ExtractDir%\ in front
// (commandPrefixed) unless --keep-bare-command is given.
bool ParsePackOptions(const std::vector<std::string>& args, PackOptions* options, std::string* error);

// Parses a comma-separated list of OS names into permission bits.
bool ParseOsList(const std::string& list, uint32_t* flags, std::string* error);
