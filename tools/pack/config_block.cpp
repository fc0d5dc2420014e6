#include "pack/config_block.h"

#include <stdio.h>
#include <string.h>

#include "files/host_fs.h"

namespace {

// Stores `utf8` in Shift-JIS into a text field of `size` bytes (terminator
// included); the rest of the field is zero.
bool PutText(const char* option, const std::string& utf8, char* field, size_t size, std::string* error) {
    std::string sjis;
    size_t failedAt;
    if (!hostfs::Utf8ToShiftJis(utf8, &sjis, &failedAt)) {
        *error = std::string(option) + ": \"" + utf8 + "\" has characters without a Shift-JIS form";
        return false;
    }
    if (sjis.size() > size - 1) {
        *error = std::string(option) + ": " + std::to_string(sjis.size()) +
                 " bytes in Shift-JIS; the field holds at most " + std::to_string(size - 1);
        return false;
    }
    if (sjis.find('\0') != std::string::npos) {
        *error = std::string(option) + ": contains a NUL byte";
        return false;
    }
    memset(field, 0, size);
    memcpy(field, sjis.data(), sjis.size());
    return true;
}

// A text field for display: up to its terminator (or its end), in UTF-8
// when it converts, else with its bytes escaped.
std::string ShowText(const char* field, size_t size) {
    std::string raw(field, strnlen(field, size));
    std::string utf8;
    if (hostfs::ShiftJisToUtf8(raw, &utf8)) return "\"" + utf8 + "\"";
    std::string escaped = "\"";
    for (unsigned char c : raw) {
        char hex[8];
        snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
        escaped += hex;
    }
    return escaped + "\" (not valid Shift-JIS)";
}

}  // namespace


bool MakeConfigBlock(const PackOptions& options, InstallConfig* block, std::string* error) {
    memset(block, 0, sizeof *block);
    if (!PutText("--title", options.title, block->title, sizeof block->title, error)) return false;
    if (!PutText(options.folderMode ? "--folder" : "--run", options.command, block->command,
                 sizeof block->command, error)) {
        if (options.commandPrefixed) {
            *error += " (with %ExtractDir%\\ put in front of the program; pass --keep-bare-command to keep the "
                      "command as written)";
        }
        return false;
    }
    if (!PutText("--wait-class", options.windowClass, block->windowClass, sizeof block->windowClass, error)) {
        return false;
    }
    block->flags = options.osFlags;
    if (options.folderMode) block->flags |= CFG_EXTRACT_TO_FOLDER;
    if (options.waitForClass) block->flags |= CFG_WAIT_FOR_CLASS;
    if (!options.confirm) block->flags |= CFG_NO_CONFIRM;
    if (options.installerExitCodes) block->flags |= CFG_INSTALLER_EXIT_CODES;
    if (options.extendedSwitches) block->flags |= CFG_EXTENDED_SWITCHES;
    block->graceSeconds = options.graceSeconds;
    return true;
}

std::string DescribeConfigBlock(const InstallConfig& block) {
    char line[160];
    std::string out;
    snprintf(line, sizeof line, "archiveOffset  0x%08X (%u)\n", block.archiveOffset, block.archiveOffset);
    out += line;
    out += "title          " + ShowText(block.title, sizeof block.title) + "\n";
    out += "command        " + ShowText(block.command, sizeof block.command) + "\n";
    out += "windowClass    " + ShowText(block.windowClass, sizeof block.windowClass) + "\n";
    snprintf(line, sizeof line, "flags          0x%08X", block.flags);
    out += line;
    out += (block.flags & CFG_EXTRACT_TO_FOLDER) ? " folder" : " temporary";
    if (block.flags & CFG_WAIT_FOR_CLASS) out += " wait-class";
    out += (block.flags & CFG_NO_CONFIRM) ? " no-confirm" : " confirm";
    out += (block.flags & CFG_INSTALLER_EXIT_CODES) ? " exit-codes=installer" : " exit-codes=classic";
    out += (block.flags & CFG_EXTENDED_SWITCHES) ? " switches=extended" : " switches=classic";
    std::string os;
    for (const OsName& name : OS_NAMES) {
        if (block.flags & name.flag) os += (os.empty() ? "" : ",") + std::string(name.name);
    }
    out += " os=" + (os.empty() ? std::string("none") : os) + "\n";
    snprintf(line, sizeof line, "graceSeconds   %u\n", block.graceSeconds);
    out += line;
    return out;
}
