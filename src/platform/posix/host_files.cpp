// Host implementations of the file and folder calls, with Windows' rules
// where the product relies on them: a read-only file cannot be opened for
// writing or deleted (even by root), a short read or write is reported as
// the count it was, errors carry the real Windows codes.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/host_state.h"

using host::Current;
using host::HostPath;

namespace {

// One entry of a folder listing, its name in UTF-8.
struct ListedEntry {
    DWORD attributes;
    FILETIME lastWrite;
    uint64_t size;
    std::string name;
};

struct HostFile : HostHandle {
    ~HostFile() override {
        if (fd >= 0) close(fd);
    }
    int fd = -1;
    bool isFind = false;
    std::vector<ListedEntry> listing;  // a search: every match, handed out in order
    size_t next = 0;
};

// A path as the host uses it (UTF-8) and as the product named it: the bytes
// of an ANSI call, the UTF-8 of a wide one.
struct Name {
    std::string path;
    std::string named;
};
Name NameOf(LPCSTR name) { return Name{HostPath(name), name}; }
Name NameOf(LPCWSTR name) { return Name{HostPath(name), host::Utf8FromWide(name)}; }

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOSPC:
        case EFBIG: return ERROR_DISK_FULL;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        default: return ERROR_ACCESS_DENIED;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool Refused(const Name& name) { return Current().refusedPaths.count(name.named) != 0; }

BOOL Changed(const std::string& path) {
    host::Record(Current().changedPaths, path);
    return TRUE;
}

bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

DWORD AttributesOf(const std::string& hostPath, const struct stat& info) {
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(info.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (IsReadOnly(info) && !S_ISLNK(info.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
    auto extra = Current().extraAttributes.find(hostPath);
    if (extra != Current().extraAttributes.end()) attributes |= extra->second;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

FILETIME FileTimeOf(const struct timespec& t) {
    uint64_t value = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                     static_cast<uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}


HANDLE OpenFile(const Name& name, DWORD access, DWORD disposition, DWORD flags) {
    const std::string& path = name.path;
    if (Refused(name)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    bool exists = stat(path.c_str(), &info) == 0;
    bool writing = (access & GENERIC_WRITE) != 0;
    if (exists && S_ISDIR(info.st_mode) && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (exists && writing && !S_ISDIR(info.st_mode) && IsReadOnly(info)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int mode = O_RDONLY;
    if (exists && S_ISDIR(info.st_mode)) {
        mode = O_RDONLY | O_DIRECTORY;
    } else if (writing) {
        mode = (access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY;
        if (disposition == CREATE_ALWAYS) mode |= O_CREAT | O_TRUNC;
        if (disposition == CREATE_NEW) mode |= O_CREAT | O_EXCL;
        if (disposition == OPEN_ALWAYS) mode |= O_CREAT;
    }
    int fd = open(path.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(errno == ENOENT && !exists && path.find('/') != std::string::npos
                         ? ERROR_PATH_NOT_FOUND
                         : ErrorFromErrno(errno));
        if (errno == ENOENT && disposition == OPEN_EXISTING) SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (writing && disposition == CREATE_ALWAYS) Current().extraAttributes.erase(path);
    if (writing) Changed(path);
    SetLastError(exists && disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : 0);
    HostFile* file = new HostFile;
    file->fd = fd;
    return file;
}

DWORD FileAttributes(const Name& name) {
    struct stat info;
    if (lstat(name.path.c_str(), &info) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(name.path, info);
}

BOOL SetAttributes(const Name& name, DWORD attributes) {
    const std::string& path = name.path;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return Fail(ErrorFromErrno(errno));
    if (S_ISLNK(info.st_mode)) return TRUE;
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? (mode & ~0222) : (mode | 0200);
    if (chmod(path.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno));
    DWORD extra = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (extra != 0) {
        Current().extraAttributes[path] = extra;
    } else {
        Current().extraAttributes.erase(path);
    }
    return Changed(path);
}

BOOL MakeDirectory(const Name& name) {
    if (Refused(name)) return Fail(ERROR_ACCESS_DENIED);
    if (Current().simulateFolders) {
        Current().foldersTried.push_back(name.named);
        return Fail(ERROR_ALREADY_EXISTS);
    }
    const std::string& path = name.path;
    if (Current().foldersCreatedFirst.erase(name.named) != 0) mkdir(path.c_str(), 0777);
    return mkdir(path.c_str(), 0777) == 0 ? Changed(path) : Fail(ErrorFromErrno(errno));
}

BOOL RemoveDirectoryAt(const Name& name) {
    const std::string& path = name.path;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        return unlink(path.c_str()) == 0 ? Changed(path) : Fail(ErrorFromErrno(errno));
    }
    if (rmdir(path.c_str()) != 0) return Fail(ErrorFromErrno(errno));
    Current().extraAttributes.erase(path);
    return Changed(path);
}

BOOL DeleteFileAt(const Name& name) {
    const std::string& path = name.path;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return Fail(ErrorFromErrno(errno));
    if (S_ISDIR(info.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (!S_ISLNK(info.st_mode) && IsReadOnly(info)) return Fail(ERROR_ACCESS_DENIED);
    if (Current().heldFiles.count(path) != 0) return Fail(ERROR_SHARING_VIOLATION);
    if (unlink(path.c_str()) != 0) return Fail(ErrorFromErrno(errno));
    Current().extraAttributes.erase(path);
    return Changed(path);
}

// Lists a folder for a pattern "folder\*.*" (or "folder\*"); other patterns
// match names literally. The entries "." and ".." come first, as on an NTFS
// folder that is not a root.
HostFile* FindFirst(const Name& pattern) {
    const std::string& full = pattern.path;
    size_t slash = full.rfind('/');
    std::string folder = slash == std::string::npos ? "." : full.substr(0, slash);
    std::string mask = slash == std::string::npos ? full : full.substr(slash + 1);
    bool all = mask == "*.*" || mask == "*";
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    HostFile* find = new HostFile;
    find->isFind = true;
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        bool aDots = a == "." || a == "..";
        bool bDots = b == "." || b == "..";
        if (aDots != bDots) return aDots;
        return a < b;
    });
    for (const std::string& name : names) {
        if (!all && name != mask) continue;
        std::string path = folder + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || name.size() >= MAX_PATH) continue;
        find->listing.push_back(ListedEntry{AttributesOf(path, info), FileTimeOf(info.st_mtim),
                                            static_cast<uint64_t>(info.st_size), name});
    }
    if (find->listing.empty()) {
        delete find;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return find;
}

// The next entry of a listing, or null at its end.
const ListedEntry* FindNext(HANDLE handle) {
    HostFile* find = static_cast<HostFile*>(handle);
    if (find->next >= find->listing.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return nullptr;
    }
    return &find->listing[find->next++];
}

template <typename FindData>
void FillFindData(const ListedEntry& entry, FindData* data) {
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = entry.attributes;
    data->ftLastWriteTime = entry.lastWrite;
    data->nFileSizeLow = static_cast<DWORD>(entry.size);
    data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
}

void TakeName(const ListedEntry& entry, LPWIN32_FIND_DATAA data) {
    FillFindData(entry, data);
    std::string ansi = host::AnsiFromUtf8(entry.name);
    memcpy(data->cFileName, ansi.c_str(), std::min<size_t>(ansi.size(), MAX_PATH - 1));
}

void TakeName(const ListedEntry& entry, LPWIN32_FIND_DATAW data) {
    FillFindData(entry, data);
    std::u16string wide = host::WideFromUtf8(entry.name);
    memcpy(data->cFileName, wide.data(), std::min<size_t>(wide.size(), MAX_PATH - 1) * 2);
}

template <typename FindData>
HANDLE FindFirstInto(const Name& pattern, FindData* data) {
    HostFile* find = FindFirst(pattern);
    if (find == nullptr) return INVALID_HANDLE_VALUE;
    TakeName(*FindNext(find), data);
    return find;
}

template <typename FindData>
BOOL FindNextInto(HANDLE handle, FindData* data) {
    const ListedEntry* entry = FindNext(handle);
    if (entry == nullptr) return FALSE;
    TakeName(*entry, data);
    return TRUE;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE) {
    return OpenFile(NameOf(name), access, disposition, flags);
}

HANDLE WINAPI HostCreateFileW(LPCWSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                              DWORD disposition, DWORD flags, HANDLE) {
    return OpenFile(NameOf(name), access, disposition, flags);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    HostFile* file = static_cast<HostFile*>(handle);
    *read = 0;
    host::Record(Current().readRequests, toRead);
    if (Current().readFault.Hit()) {
        if (Current().readFault.fault == host::Fault::Fail) return Fail(ERROR_READ_FAULT);
        toRead /= 2;
    }
    DWORD total = 0;
    while (total < toRead) {
        ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + total, toRead - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(ErrorFromErrno(errno));
        if (got == 0) break;
        total += static_cast<DWORD>(got);
    }
    *read = total;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED) {
    HostFile* file = static_cast<HostFile*>(handle);
    *written = 0;
    host::Record(Current().writeRequests, toWrite);
    if (Current().writeFault.Hit()) {
        if (Current().writeFault.fault == host::Fault::Fail) return Fail(ERROR_WRITE_FAULT);
        toWrite /= 2;  // a disk that fills up part-way
    }
    DWORD total = 0;
    while (total < toWrite) {
        ssize_t put = ::write(file->fd, static_cast<const char*>(buffer) + total, toWrite - total);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) {
            *written = total;  // what reached the file before the disk filled
            return Fail(ErrorFromErrno(errno));
        }
        total += static_cast<DWORD>(put);
    }
    *written = total;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
    HostFile* file = static_cast<HostFile*>(handle);
    int64_t move = distanceHigh != nullptr
                       ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                              static_cast<uint32_t>(distance))
                       : static_cast<int64_t>(distance);
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t base = whence == SEEK_SET ? 0 : lseek(file->fd, 0, whence);
    if (base + move < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    off_t position = lseek(file->fd, base + move, SEEK_SET);
    if (position < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(position);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    delete static_cast<HostHandle*>(handle);
    if (Current().closeFault.Hit()) return Fail(ERROR_WRITE_FAULT);
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME*, const FILETIME*, const FILETIME* write) {
    HostFile* file = static_cast<HostFile*>(handle);
    if (write == nullptr) return TRUE;
    uint64_t value = (static_cast<uint64_t>(write->dwHighDateTime) << 32) | write->dwLowDateTime;
    int64_t seconds = static_cast<int64_t>(value / 10000000ull) - 11644473600ll;
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[0].tv_sec = 0;
    times[1].tv_sec = seconds;
    times[1].tv_nsec = static_cast<long>(value % 10000000ull) * 100;
    return futimens(file->fd, times) == 0 ? TRUE : Fail(ErrorFromErrno(errno));
}

DWORD WINAPI GetFileAttributesA(LPCSTR name) { return FileAttributes(NameOf(name)); }
DWORD WINAPI HostGetFileAttributesW(LPCWSTR name) { return FileAttributes(NameOf(name)); }
BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) { return SetAttributes(NameOf(name), attributes); }
BOOL WINAPI HostSetFileAttributesW(LPCWSTR name, DWORD attributes) {
    return SetAttributes(NameOf(name), attributes);
}
BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) { return MakeDirectory(NameOf(name)); }
BOOL WINAPI HostCreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) { return MakeDirectory(NameOf(name)); }
BOOL WINAPI RemoveDirectoryA(LPCSTR name) { return RemoveDirectoryAt(NameOf(name)); }
BOOL WINAPI HostRemoveDirectoryW(LPCWSTR name) { return RemoveDirectoryAt(NameOf(name)); }
BOOL WINAPI DeleteFileA(LPCSTR name) { return DeleteFileAt(NameOf(name)); }
BOOL WINAPI HostDeleteFileW(LPCWSTR name) { return DeleteFileAt(NameOf(name)); }

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    return FindFirstInto(NameOf(pattern), data);
}
HANDLE WINAPI HostFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    return FindFirstInto(NameOf(pattern), data);
}
BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) { return FindNextInto(handle, data); }
BOOL WINAPI HostFindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) { return FindNextInto(handle, data); }

BOOL WINAPI FindClose(HANDLE handle) {
    delete static_cast<HostHandle*>(handle);
    return TRUE;
}

template <typename Char>
static BOOL VolumeInformation(Char* volumeName, DWORD volumeNameSize, LPDWORD serial, LPDWORD maxComponentLength,
                              LPDWORD flags, Char* fileSystemName, DWORD fileSystemNameSize) {
    if (Current().volumeFails) return Fail(ERROR_PATH_NOT_FOUND);
    if (volumeName != nullptr && volumeNameSize > 0) volumeName[0] = 0;
    if (serial != nullptr) *serial = 0x12345678;
    if (maxComponentLength != nullptr) *maxComponentLength = Current().maxComponentLength;
    if (flags != nullptr) *flags = 0;
    if (fileSystemName != nullptr && fileSystemNameSize > 0) fileSystemName[0] = 0;
    return TRUE;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                                  LPDWORD maxComponentLength, LPDWORD flags, LPSTR fileSystemName,
                                  DWORD fileSystemNameSize) {
    return VolumeInformation(volumeName, volumeNameSize, serial, maxComponentLength, flags, fileSystemName,
                             fileSystemNameSize);
}

BOOL WINAPI HostGetVolumeInformationW(LPCWSTR, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                                      LPDWORD maxComponentLength, LPDWORD flags, LPWSTR fileSystemName,
                                      DWORD fileSystemNameSize) {
    return VolumeInformation(volumeName, volumeNameSize, serial, maxComponentLength, flags, fileSystemName,
                             fileSystemNameSize);
}

namespace host {

void HoldFile(const std::string& path) { Current().heldFiles.insert(path); }
void SetRestartRights(bool rights) { Current().restartRights = rights; }
const std::vector<std::string>& RestartRemovals() { return Current().restartRemovals; }
void SetFreeSpace(FreeSpace kind, uint64_t bytes) {
    Current().freeSpace = kind;
    Current().freeBytes = bytes;
}
const std::vector<std::string>& FreeSpaceQueries() { return Current().freeSpaceQueries; }

}  // namespace host

namespace {

// Only a deletion at the next restart (no target) is known here; it needs an
// administrator's rights and a path that exists.
BOOL MoveAtRestart(const Name& name, bool noTarget, DWORD flags) {
    if (!noTarget || flags != MOVEFILE_DELAY_UNTIL_REBOOT) return Fail(ERROR_INVALID_PARAMETER);
    if (!Current().restartRights) return Fail(ERROR_ACCESS_DENIED);
    struct stat info;
    if (lstat(name.path.c_str(), &info) != 0) return Fail(ErrorFromErrno(errno));
    host::Record(Current().restartRemovals, name.path);
    return TRUE;
}

BOOL WINAPI HostMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    return MoveAtRestart(NameOf(from), to == nullptr, flags);
}
BOOL WINAPI HostMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return MoveAtRestart(NameOf(from), to == nullptr, flags);
}

// The folder must exist, as on Windows.
BOOL FreeSpace(const Name& folder, uint64_t* available, uint64_t* total, uint64_t* free) {
    host::Record(Current().freeSpaceQueries, folder.path);
    struct stat info;
    if (stat(folder.path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
    uint64_t bytes = Current().freeSpace == host::FreeSpace::Fixed ? Current().freeBytes : ~uint64_t{0};
    for (uint64_t* out : {available, total, free}) {
        if (out != nullptr) *out = bytes;
    }
    return TRUE;
}

BOOL WINAPI HostGetDiskFreeSpaceExA(LPCSTR folder, uint64_t* available, uint64_t* total, uint64_t* free) {
    return FreeSpace(NameOf(folder), available, total, free);
}
BOOL WINAPI HostGetDiskFreeSpaceExW(LPCWSTR folder, uint64_t* available, uint64_t* total, uint64_t* free) {
    return FreeSpace(NameOf(folder), available, total, free);
}

template <typename Function>
FARPROC AsProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace

FARPROC host::FileFunction(const std::string& name) {
    if (name == "MoveFileExA") return AsProc(HostMoveFileExA);
    if (name == "MoveFileExW") return AsProc(HostMoveFileExW);
    if (Current().freeSpace == FreeSpace::NoCall) return nullptr;
    if (name == "GetDiskFreeSpaceExA") return AsProc(HostGetDiskFreeSpaceExA);
    if (name == "GetDiskFreeSpaceExW") return AsProc(HostGetDiskFreeSpaceExW);
    return nullptr;
}
