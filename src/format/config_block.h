// The configuration block: the contract between the archive builder and the
// stub. The builder writes it at file offset 512 of the executable; start-up
// reads it back from there. All integers are little-endian and the fields
// follow one another with no gaps.
#pragma once

#include <stddef.h>
#include <stdint.h>

// File offset of the block inside the executable.
constexpr uint32_t CONFIG_FILE_OFFSET = 512;

#pragma pack(push, 1)
struct InstallConfig {
    uint32_t archiveOffset;  // file offset of the archive's first header byte (below 0x80000000)
    char title[51];          // caption of every box and of the window; empty: the default title
    char command[260];       // install command (temporary mode) or destination folder (folder mode)
    char windowClass[41];    // class whose top-level windows are awaited after the installer
    uint32_t flags;          // CFG_* bits
    uint32_t graceSeconds;   // seconds to wait after the installer, and after its windows
};
#pragma pack(pop)

static_assert(sizeof(InstallConfig) == 364, "the block is 364 bytes");
static_assert(offsetof(InstallConfig, archiveOffset) == 0, "archiveOffset at 0");
static_assert(offsetof(InstallConfig, title) == 4, "title at 4");
static_assert(offsetof(InstallConfig, command) == 55, "command at 55");
static_assert(offsetof(InstallConfig, windowClass) == 315, "windowClass at 315");
static_assert(offsetof(InstallConfig, flags) == 356, "flags at 356");
static_assert(offsetof(InstallConfig, graceSeconds) == 360, "graceSeconds at 360");

constexpr uint32_t CFG_EXTRACT_TO_FOLDER = 0x00000001;  // folder mode; clear: temporary mode
constexpr uint32_t CFG_WAIT_FOR_CLASS = 0x00000002;     // await windows of windowClass
constexpr uint32_t CFG_NO_CONFIRM = 0x00000004;         // do not ask the question
// Chosen per package; a block without them behaves as blocks always did.
constexpr uint32_t CFG_INSTALLER_EXIT_CODES = 0x00000100;  // exit codes of Windows Installer, the installer's own
constexpr uint32_t CFG_EXTENDED_SWITCHES = 0x00000200;     // -s, -x, -t, -l, -?, -- and several switches
constexpr uint32_t CFG_OS_WIN95 = 0x00100000;
constexpr uint32_t CFG_OS_WIN98 = 0x00200000;
constexpr uint32_t CFG_OS_WINME = 0x00400000;
constexpr uint32_t CFG_OS_NT351 = 0x01000000;
constexpr uint32_t CFG_OS_NT4 = 0x02000000;
constexpr uint32_t CFG_OS_WIN2000 = 0x04000000;
constexpr uint32_t CFG_OS_WINXP = 0x08000000;  // Windows XP and every later NT version
constexpr uint32_t CFG_OS_ALL = CFG_OS_WIN95 | CFG_OS_WIN98 | CFG_OS_WINME | CFG_OS_NT351 |
                                CFG_OS_NT4 | CFG_OS_WIN2000 | CFG_OS_WINXP;
