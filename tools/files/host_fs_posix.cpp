// The tools' host layer on POSIX systems: names are UTF-8 bytes already, and
// iconv converts between UTF-8 and code page 932.
#include "files/host_fs.h"

#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostfs {

namespace {

void FromStat(const struct stat& st, FileInfo* info) {
    *info = FileInfo();
    info->folder = S_ISDIR(st.st_mode);
    info->regular = S_ISREG(st.st_mode);
    info->readOnly = (st.st_mode & S_IWUSR) == 0;
    info->size = info->regular ? static_cast<uint64_t>(st.st_size) : 0;
    info->writeSeconds = st.st_mtim.tv_sec;
    info->writeNanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    info->accessSeconds = st.st_atim.tv_sec;
    info->accessNanoseconds = static_cast<uint32_t>(st.st_atim.tv_nsec);
}

// Iconv between two code pages; false when a byte sequence has no form in
// the target. `failedAt` receives the offset of the first bad input byte
// (SIZE_MAX when iconv lacks the code pages), `out` what was converted
// before it.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out, size_t* failedAt) {
    *failedAt = SIZE_MAX;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
    if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    *failedAt = in.size() - srcLeft;
    out->assign(buffer.data(), buffer.size() - dstLeft);
    return ok;
}

// The length of the UTF-8 sequence at the start of `text`, 0 when its bytes
// do not form one.
size_t Utf8SequenceLength(const char* text, size_t left) {
    unsigned char lead = static_cast<unsigned char>(text[0]);
    size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length > left) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

std::string SlashSeparated(std::string path) { return path; }

FILE* OpenFile(const std::string& path, const char* mode) { return fopen(path.c_str(), mode); }

bool RemoveFile(const std::string& path) { return remove(path.c_str()) == 0; }

FILE* OpenTemporaryFile() { return tmpfile(); }

bool IsTerminal(FILE* file) { return isatty(fileno(file)) != 0; }

bool Stat(const std::string& path, FileInfo* info, std::string* reason) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *reason = LastError();
        return false;
    }
    FromStat(st, info);
    return true;
}

bool Stat(FILE* file, FileInfo* info, std::string* reason) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0) {
        *reason = LastError();
        return false;
    }
    FromStat(st, info);
    return true;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, std::string* reason) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        *reason = LastError();
        return false;
    }
    names->clear();
    errno = 0;
    while (struct dirent* d = readdir(dir)) {
        if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) names->push_back(d->d_name);
    }
    bool ok = errno == 0;
    if (!ok) *reason = LastError();
    closedir(dir);
    return ok;
}

bool Seek(FILE* file, uint64_t offset) {
    return offset <= INT64_MAX && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t Tell(FILE* file) { return ftello(file); }

bool Truncate(FILE* file, uint64_t size) {
    return fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

std::string LastError() { return strerror(errno); }

bool Utf8ToShiftJis(const std::string& utf8, std::string* sjis, size_t* failedAt) {
    return Convert("CP932", "UTF-8", utf8, sjis, failedAt);
}

bool Utf8ToShiftJisReplacing(const std::string& utf8, char replacement, std::string* sjis, bool* replaced) {
    sjis->clear();
    *replaced = false;
    // Convert up to the next character that fails, put the replacement for
    // it, go on behind it.
    for (size_t at = 0;;) {
        std::string part;
        size_t failedAt;
        bool whole = Convert("CP932", "UTF-8", utf8.substr(at), &part, &failedAt);
        *sjis += part;
        if (whole) return true;
        if (failedAt == SIZE_MAX) return false;
        at += failedAt;
        size_t length = Utf8SequenceLength(utf8.data() + at, utf8.size() - at);
        if (length == 0) return false;
        *sjis += replacement;
        *replaced = true;
        at += length;
    }
}

bool ShiftJisToUtf8(const std::string& sjis, std::string* utf8) {
    size_t failedAt;
    return Convert("UTF-8", "CP932", sjis, utf8, &failedAt);
}

}  // namespace hostfs
