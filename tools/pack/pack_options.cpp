#include "pack/pack_options.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "pack/command_prefix.h"
#include "format/config_block.h"

const OsName OS_NAMES[7] = {
    {"win95", CFG_OS_WIN95}, {"win98", CFG_OS_WIN98},     {"winme", CFG_OS_WINME}, {"nt351", CFG_OS_NT351},
    {"nt4", CFG_OS_NT4},     {"win2000", CFG_OS_WIN2000}, {"winxp", CFG_OS_WINXP},
};

const VersionOption VERSION_OPTIONS[6] = {
    {"--product-name", &pe::VersionFields::productName},   {"--product-version", &pe::VersionFields::productVersion},
    {"--file-version", &pe::VersionFields::fileVersion},   {"--company", &pe::VersionFields::companyName},
    {"--description", &pe::VersionFields::fileDescription}, {"--copyright", &pe::VersionFields::legalCopyright},
};

bool ParseOsList(const std::string& list, uint32_t* flags, std::string* error) {
    *flags = 0;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (const OsName& os : OS_NAMES) {
            if (name == os.name) {
                *flags |= os.flag;
                known = true;
            }
        }
        if (!known) {
            *error = "--os: unknown Windows version \"" + name +
                     "\" (known: win95,win98,winme,nt351,nt4,win2000,winxp)";
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

namespace {

// The most compressing threads --threads takes.
constexpr long MAX_PACK_THREADS = 64;

bool ParseSeconds(const std::string& text, uint32_t* value, std::string* error) {
    char* end = nullptr;
    unsigned long long v = text.empty() || text[0] == '-' ? 0 : strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != 0 || v > 0xFFFFFFFFull) {
        *error = "--grace: \"" + text + "\" is not a number of seconds";
        return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

const VersionOption* FindVersionOption(const std::string& arg) {
    for (const VersionOption& option : VERSION_OPTIONS) {
        if (arg == option.name) return &option;
    }
    return nullptr;
}

// A version field: given once, not empty; the file version as a.b.c.d.
bool TakeVersionField(const VersionOption& option, const std::string& text, PackOptions* options, std::string* error) {
    std::string& field = options->version.*option.field;
    pe::VersionNumber number;
    if (!field.empty() || text.empty()) {
        *error = std::string(option.name) + (text.empty() ? " needs a text" : " given twice");
        return false;
    }
    if (option.field == &pe::VersionFields::fileVersion && !pe::ParseVersionNumber(text, false, &number)) {
        *error = "--file-version: \"" + text + "\" is not four numbers a.b.c.d, each 0 to 65535";
        return false;
    }
    field = text;
    options->hasVersion = true;
    return true;
}

// The program of a temporary-mode command: there must be one, and a bare
// one is looked for in the extraction folder unless the user said otherwise.
bool CheckProgram(PackOptions* options, std::string* error) {
    ProgramSpan program = FindProgram(options->command);
    if (program.length == 0) {
        *error = "--run: \"" + options->command + "\" names no program";
        return false;
    }
    if (options->keepBareCommand || NamesFolder(options->command.substr(program.begin, program.length))) return true;
    options->givenCommand = options->command;
    options->command = PrefixProgram(options->command);
    options->commandPrefixed = true;
    return true;
}

// --threads N: a count from 1 to MAX_PACK_THREADS.
bool ParseThreadCount(const std::string& text, int* threads, std::string* error) {
    char* rest = nullptr;
    long n = strtol(text.c_str(), &rest, 10);
    if (text.empty() || *rest != '\0' || n < 1 || n > MAX_PACK_THREADS) {
        *error = "--threads: \"" + text + "\" is not a count from 1 to " + std::to_string(MAX_PACK_THREADS);
        return false;
    }
    *threads = static_cast<int>(n);
    return true;
}

// Reads the value behind args[*i] into `out`, stepping over it. False with a
// message when there is none.
bool TakeValue(const std::vector<std::string>& args, size_t* i, std::string* out, std::string* error) {
    if (*i + 1 >= args.size()) {
        *error = args[*i] + " needs a value";
        return false;
    }
    *out = args[++*i];
    return true;
}

// The options that may be given only once, as far as seen.
struct GivenOnce {
    bool confirm = false;
    bool os = false;
    bool exitCodes = false;
    bool switches = false;
};

// --exit-codes classic|installer and --switches classic|extended, once each.
bool TakeChoice(const std::string& option, const std::string& text, const char* other, bool* given, bool* chosen,
                std::string* error) {
    if (*given) {
        *error = option + " given twice";
        return false;
    }
    if (text != "classic" && text != other) {
        *error = option + ": \"" + text + "\" is none of classic, " + other;
        return false;
    }
    *given = true;
    *chosen = text == other;
    return true;
}

enum class OptionResult {
    Taken,     // the option (and its value) is read
    Finished,  // --help or --version: nothing more is read
    Failed,    // `error` says why
    NotContent,  // not an option of what goes into the package
};

// Reads args[*i] when it is an option of what goes into the package and
// how: the stub and its resources, the archive or the compression.
// NotContent for any other option.
OptionResult TakeContentOption(const std::vector<std::string>& args, size_t* i, PackOptions* options,
                               std::string* error) {
    const std::string& arg = args[*i];
    auto value = [&](std::string* out) { return TakeValue(args, i, out, error); };
    std::string text;
    if (arg == "--elevation") {
        if (options->hasElevation) {
            *error = "--elevation given twice";
            return OptionResult::Failed;
        }
        if (!value(&text)) return OptionResult::Failed;
        if (!ParseExecutionLevel(text, &options->elevation)) {
            *error = "--elevation: \"" + text + "\" is none of asInvoker, highestAvailable, requireAdministrator";
            return OptionResult::Failed;
        }
        options->hasElevation = true;
    } else if (arg == "--stub") {
        if (!value(&options->stub)) return OptionResult::Failed;
    } else if (arg == "--icon") {
        if (!value(&options->icon)) return OptionResult::Failed;
    } else if (const VersionOption* version = FindVersionOption(arg)) {
        if (!value(&text) || !TakeVersionField(*version, text, options, error)) return OptionResult::Failed;
    } else if (arg == "--archive") {
        if (!value(&options->archive)) return OptionResult::Failed;
    } else if (arg == "--method") {
        if (!value(&options->method)) return OptionResult::Failed;
        if (options->method != "lh0" && options->method != "lh5" && options->method != "lh6" &&
            options->method != "lh7") {
            *error = "--method: \"" + options->method + "\" is none of lh0, lh5, lh6, lh7";
            return OptionResult::Failed;
        }
    } else if (arg == "--best") {
        options->best = true;
    } else if (arg == "--threads") {
        if (!value(&text) || !ParseThreadCount(text, &options->threads, error)) return OptionResult::Failed;
    } else {
        return OptionResult::NotContent;
    }
    return OptionResult::Taken;
}

// Reads args[*i], and its value when it takes one.
OptionResult TakeOption(const std::vector<std::string>& args, size_t* i, GivenOnce* given, PackOptions* options,
                        std::string* error) {
    const std::string& arg = args[*i];
    OptionResult content = TakeContentOption(args, i, options, error);
    if (content != OptionResult::NotContent) return content;
    auto value = [&](std::string* out) { return TakeValue(args, i, out, error); };
    std::string text;
    if (arg == "-o") {
        if (!value(&options->output)) return OptionResult::Failed;
    } else if (arg == "--title") {
        if (!value(&options->title)) return OptionResult::Failed;
        options->hasTitle = true;
    } else if (arg == "--run" || arg == "--folder") {
        if (options->hasCommand) {
            *error = "give one of --run and --folder, once";
            return OptionResult::Failed;
        }
        if (!value(&options->command)) return OptionResult::Failed;
        options->hasCommand = true;
        options->folderMode = arg == "--folder";
        if (!options->folderMode && options->command.empty()) {
            *error = "--run needs a command";
            return OptionResult::Failed;
        }
    } else if (arg == "--keep-bare-command") {
        options->keepBareCommand = true;
    } else if (arg == "--wait-class") {
        if (!value(&options->windowClass)) return OptionResult::Failed;
        if (options->windowClass.empty()) {
            *error = "--wait-class needs a class name";
            return OptionResult::Failed;
        }
        options->waitForClass = true;
    } else if (arg == "--grace") {
        if (!value(&text) || !ParseSeconds(text, &options->graceSeconds, error)) return OptionResult::Failed;
    } else if (arg == "--confirm" || arg == "--no-confirm") {
        if (given->confirm) {
            *error = "give one of --confirm and --no-confirm, once";
            return OptionResult::Failed;
        }
        given->confirm = true;
        options->confirm = arg == "--confirm";
    } else if (arg == "--exit-codes") {
        if (!value(&text) ||
            !TakeChoice(arg, text, "installer", &given->exitCodes, &options->installerExitCodes, error)) {
            return OptionResult::Failed;
        }
    } else if (arg == "--switches") {
        if (!value(&text) || !TakeChoice(arg, text, "extended", &given->switches, &options->extendedSwitches, error)) {
            return OptionResult::Failed;
        }
    } else if (arg == "--os") {
        if (given->os) {
            *error = "--os given twice";
            return OptionResult::Failed;
        }
        given->os = true;
        if (!value(&text) || !ParseOsList(text, &options->osFlags, error)) return OptionResult::Failed;
    } else if (arg == "--help" || arg == "-h" || arg == "--version") {
        options->mode = arg == "--version" ? PackMode::Version : PackMode::Help;
        return OptionResult::Finished;  // whatever else was given
    } else if (arg == "--inspect" || arg == "--list") {
        if (!value(&options->inspect)) return OptionResult::Failed;
        options->mode = arg == "--list" ? PackMode::List : PackMode::Inspect;
    } else if (!arg.empty() && arg[0] != '-') {
        options->inputs.push_back(arg);
    } else {
        *error = "unknown option \"" + arg + "\"";
        return OptionResult::Failed;
    }
    return OptionResult::Taken;
}

// The checks of the whole command once every argument is read.
bool CheckOptions(const std::vector<std::string>& args, PackOptions* options, std::string* error) {
    if (options->mode != PackMode::Pack) {
        if (args.size() != 2) {
            *error = args[0] + " takes the packed file and nothing else";
            return false;
        }
        return true;
    }
    if (options->output.empty()) {
        *error = "missing -o OUT.exe";
        return false;
    }
    if (!options->hasCommand) {
        *error = "missing --run COMMAND or --folder DIR";
        return false;
    }
    if (options->archive.empty() == options->inputs.empty()) {
        *error = options->archive.empty() ? "missing the files to pack (PATH... or --archive FILE.lzh)"
                                          : "give either --archive FILE.lzh or PATH..., not both";
        return false;
    }
    if (options->waitForClass && options->folderMode) {
        *error = "--wait-class only applies to --run";
        return false;
    }
    if (!options->hasElevation) {
        options->elevation = options->folderMode ? ExecutionLevel::AsInvoker : ExecutionLevel::RequireAdministrator;
    }
    if (options->keepBareCommand && options->folderMode) {
        *error = "--keep-bare-command only applies to --run";
        return false;
    }
    return options->folderMode || CheckProgram(options, error);
}

}  // namespace

bool IsProtectedDestination(const std::string& folder) {
    static const char* const PROTECTED[] = {"%ProgramFilesDir%", "%CommonFilesDir%", "%SystemDir%", "%windir%",
                                            "%ProgramFiles%", "%ProgramFiles(x86)%", "%CommonProgramFiles%",
                                            "%SystemRoot%"};
    size_t start = folder.find_first_not_of(" \t\"");
    if (start == std::string::npos) return false;
    for (const char* name : PROTECTED) {
        size_t length = strlen(name);
        if (folder.size() - start < length) continue;
        bool same = true;
        for (size_t i = 0; i < length && same; ++i) {
            same = tolower(static_cast<unsigned char>(folder[start + i])) == tolower(static_cast<unsigned char>(name[i]));
        }
        if (same) return true;
    }
    return false;
}

bool ParsePackOptions(const std::vector<std::string>& args, PackOptions* options, std::string* error) {
    *options = PackOptions();
    options->osFlags = CFG_OS_ALL;
    GivenOnce given;
    for (size_t i = 0; i < args.size(); ++i) {
        OptionResult result = TakeOption(args, &i, &given, options, error);
        if (result == OptionResult::Failed) return false;
        if (result == OptionResult::Finished) return true;
    }
    return CheckOptions(args, options, error);
}
