// Shared set-up of the fuzz targets: the input becomes the archive file (a
// file in shared memory standing for our own executable) and the host layer
// starts each run afresh.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "archive/archive_entry.h"
#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "platform/posix/host_controls.h"
#include "startup/install_config.h"

namespace fuzzing {

// A path component that Windows resolves to a parent folder: dots and
// blanks alone, with two or more dots.
inline bool ClimbsOut(const std::string& component) {
    int dots = 0;
    for (char c : component) {
        if (c == '.') {
            ++dots;
        } else if (c != ' ') {
            return false;
        }
    }
    return dots >= 2;
}


inline const std::string& ArchivePath() {
    static const std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/valkrin-fuzz-" + std::to_string(getpid());
    return path;
}

// Fresh run state, the input written as the archive and opened for reading.
inline void OpenInput(const uint8_t* data, size_t size) {
    memset(&g_run, 0, sizeof g_run);
    host::Reset();
    ChooseSystemCalls();
    g_run.instance = host::ModuleHandle();
    TextFromBytes(g_run.title, TITLE_SIZE, "Fuzz");
    TextFromBytes(g_run.ownPath, PATH_SIZE, ArchivePath().c_str());
    FILE* out = fopen(ArchivePath().c_str(), "wb");
    if (out == nullptr) __builtin_trap();
    if (size != 0 && fwrite(data, 1, size, out) != size) __builtin_trap();
    fclose(out);
    g_run.archiveFile = CreateFileA(ArchivePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_run.archiveFile == INVALID_HANDLE_VALUE) __builtin_trap();
    g_run.outputFile = INVALID_HANDLE_VALUE;
}

inline void CloseInput() {
    CloseHandle(g_run.archiveFile);
    if (g_run.outputFile != INVALID_HANDLE_VALUE) CloseHandle(g_run.outputFile);
}

inline uint64_t Position(HANDLE file) {
    LONG high = 0;
    DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
}

}  // namespace fuzzing
