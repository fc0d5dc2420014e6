// What the tools need from the machine they run on, in one small layer with
// a POSIX and a Win32 implementation: opening files and walking folders by
// UTF-8 names, file times, the command line in UTF-8, and conversion between
// UTF-8 and Shift-JIS (code page 932). Everything above this layer speaks
// UTF-8 and never calls the system by a file name itself.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace hostfs {

// The program's arguments (without its name) in UTF-8. On Windows they are
// taken as UTF-16 from the system, so that any name on the command line
// arrives whole, whatever the ANSI code page; argc and argv are then unused.
// Also makes a Windows console show UTF-8 output for the program's lifetime.
std::vector<std::string> Arguments(int argc, char** argv);

// A path with '/' between its folders, as the archive writer takes it. On
// Windows a backslash separates folders too (it is never part of a name
// there), so "C:\dist\data" becomes "C:/dist/data"; elsewhere the path is
// returned as it is.
std::string SlashSeparated(std::string path);

// fopen by a UTF-8 name. Null with errno set on failure.
FILE* OpenFile(const std::string& path, const char* mode);
// Deletes a file; false when it could not.
bool RemoveFile(const std::string& path);

// A new, empty, read-write binary file in the system's temporary folder,
// deleted when it is closed (or the program ends). Null on failure.
FILE* OpenTemporaryFile();

// True when `file` is a terminal (or a Windows console).
bool IsTerminal(FILE* file);

// What the tools use of a file or folder.
struct FileInfo {
    bool folder = false;
    bool regular = false;  // an ordinary file (not a device, pipe or link to nothing)
    bool readOnly = false;
    uint64_t size = 0;     // files only
    int64_t writeSeconds = 0;  // last write, seconds since 1970-01-01 UTC
    uint32_t writeNanoseconds = 0;
    int64_t accessSeconds = 0;  // last access
    uint32_t accessNanoseconds = 0;
};

// Looks up a path (links followed). False with the system's reason.
bool Stat(const std::string& path, FileInfo* info, std::string* reason);
// The same for an open file.
bool Stat(FILE* file, FileInfo* info, std::string* reason);

// The names inside a folder (without "." and ".."), in UTF-8, in no
// particular order. False with the system's reason.
bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* reason);

// 64-bit positions in a stdio file. Seek returns false on failure, Tell -1.
bool Seek(FILE* file, uint64_t offset);
int64_t Tell(FILE* file);
// Cuts an open file to `size` bytes (after fflush). False on failure.
bool Truncate(FILE* file, uint64_t size);

// The reason of the last failed C library call (errno), for messages.
std::string LastError();

// UTF-8 to Shift-JIS (code page 932). False when the text is not valid UTF-8
// or a character has no Shift-JIS form; `failedAt` then receives the offset
// of the first such character in `utf8`.
bool Utf8ToShiftJis(const std::string& utf8, std::string* sjis, size_t* failedAt);
// The same, but each character without a Shift-JIS form becomes the single
// byte `replacement` and sets `replaced`. False only when the text is not
// UTF-8.
bool Utf8ToShiftJisReplacing(const std::string& utf8, char replacement, std::string* sjis, bool* replaced);
// Shift-JIS to UTF-8. False when the bytes are not valid Shift-JIS.
bool ShiftJisToUtf8(const std::string& sjis, std::string* utf8);

}  // namespace hostfs
