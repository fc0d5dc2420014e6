#include "extract/extraction.h"

#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "common/text.h"
#include "common/system_calls.h"
#include "decode/decoder.h"
#include "extract/output_paths.h"
#include "install/install_command.h"
#include "install/path_variables.h"
#include "res/resource.h"
#include "ui/progress.h"
#include "ui/progress_window.h"
#include "ui/run_log.h"
#include "ui/texts.h"

namespace {

// Test: headers and sizes; Extract: every entry written; Verify (test only):
// every entry decoded and its data CRC checked, nothing written.
enum class PassMode { Test, Extract, Verify };

bool g_longNames;                          // the extraction volume takes long names
WCHAR g_volumeRoot[EXTRACTION_FOLDER_SIZE];  // root of the extraction folder's volume

bool IsFolderMode() { return (g_config.flags & CFG_EXTRACT_TO_FOLDER) != 0; }

// Folder mode: the destination with its path variables expanded.
void TakeDestinationFolder() {
    WCHAR destination[PATH_SIZE];
    UnquotePath(destination, PATH_SIZE, g_run.command);
    ExpandPathVariables(destination, g_textBuffer, TEXT_BUFFER_SIZE, nullptr);
    TextCopy(g_run.extractionFolder, PATH_SIZE, g_textBuffer);
}

// Temporary mode: creates the first free base\valkrin.NNN. False after the
// write error has been shown. Another run may take a number between the look
// and the create; a folder that exists by then moves on to the next number,
// as a name seen taken does. Nothing found in the way is ever entered.
bool CreateTemporaryFolder() {
    WCHAR base[EXTRACTION_FOLDER_SIZE];
    WCHAR name[EXTRACTION_FOLDER_SIZE];
    if (g_run.tempBaseFolder[0] != 0) {
        UnquotePath(base, PATH_SIZE + 1, g_run.tempBaseFolder);
        AppendBackslash(base, EXTRACTION_FOLDER_SIZE);
    } else {
        // A temporary path the system cannot give in MAX_PATH units leaves the
        // buffer unwritten: no folder can be made then, and the box names the
        // first folder that was wanted.
        DWORD length = GetTempFolder(base, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            FormatText(name, EXTRACTION_FOLDER_SIZE, LoadText(IDS_TEMP_FOLDER_FORMAT), WIDE(""), 0);
            ErrorBox(IDS_WRITE_ERROR, name);
            return false;
        }
    }
    for (int n = 0; n < 1000; ++n) {
        FormatText(name, EXTRACTION_FOLDER_SIZE, LoadText(IDS_TEMP_FOLDER_FORMAT), base, n);
        if (AttributesOf(name) != INVALID_FILE_ATTRIBUTES) continue;
        if (!MakeFolder(name)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            ErrorBox(IDS_WRITE_ERROR, name);
            return false;
        }
        TextCopy(g_run.extractionFolder, EXTRACTION_FOLDER_SIZE, name);
        LogLine(IDS_LOG_TEMPORARY, name);
        return true;
    }
    ErrorBox(IDS_WRITE_ERROR, name);  // all 1000 names are taken: the last one tried
    return false;
}

// Opens our own file at the archive. False after the message has been shown.
bool OpenArchive() {
    g_run.archiveFile = OpenPath(g_run.ownPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (g_run.archiveFile == INVALID_HANDLE_VALUE) {
        g_run.archiveFile = nullptr;
        ErrorBox(IDS_READ_ERROR, g_run.ownPath);
        return false;
    }
    LONG offset = static_cast<LONG>(g_config.archiveOffset);
    if (SetFilePointer(g_run.archiveFile, offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        CloseHandle(g_run.archiveFile);
        g_run.archiveFile = nullptr;
        ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
        return false;
    }
    return true;
}

// Before the first file: the space free for this user on the extraction
// folder's volume holds the original sizes of all entries (g_run.total), or
// the system cannot tell. A destination not made yet is asked through its
// nearest existing parent. False after the write error naming the folder.
bool HasRoomForEntries() {
    WCHAR folder[EXTRACTION_FOLDER_SIZE + 1];
    TextCopy(folder, EXTRACTION_FOLDER_SIZE, g_run.extractionFolder);
    AppendBackslash(folder, EXTRACTION_FOLDER_SIZE + 1);
    uint64_t free;
    while (!FreeSpaceOf(folder, &free)) {
        // Up to the parent, its separator kept; none left (or only the
        // start of a UNC name): no answer. A cut behind a trail byte 0x5C
        // names no folder, and the walk goes on.
        uint32_t cut = TextLength(folder) - 1;
        while (cut > 0 && folder[cut - 1] != '\\' && folder[cut - 1] != '/') --cut;
        if (cut <= 1) return true;
        folder[cut] = 0;
    }
    if (free >= g_run.total) return true;
    ErrorBox(IDS_WRITE_ERROR, g_run.extractionFolder);
    return false;
}

// Long names are used when the volume reports exactly 255 (or cannot tell).
void ChooseNameRegime() {
    VolumeRoot(g_volumeRoot, EXTRACTION_FOLDER_SIZE, g_run.extractionFolder);
    DWORD maxComponentLength = 255;
    VolumeComponentLength(g_volumeRoot, &maxComponentLength);
    g_longNames = maxComponentLength == 255;
}

// Moves the archive past `size` bytes of entry data. False after the
// damaged-archive box.
bool SkipEntryData(uint64_t size) {
    LONG high = static_cast<LONG>(size >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(g_run.archiveFile, static_cast<LONG>(size & 0xFFFFFFFFu), &high,
                               FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
        return false;
    }
    return true;
}

// Entries that both passes refuse as damaged before anything is written: a
// name that could climb out of the extraction folder, and a stored entry
// whose two sizes differ (the copy would leave the archive off the next
// header).
bool IsEntrySound() {
    bool storedSizesDiffer =
        g_entry.method == '0' && g_entry.compressedSize != g_entry.originalSize;
    if (IsNameConfined(g_entry.name) && !storedSizesDiffer) return true;
    ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
    return false;
}

// Test pass: pump, honour a cancel, count the size, skip the data.
bool TestEntry() {
    PumpMessages(g_run.progressWindow);
    if (g_run.cancelFlag != 0) return false;
    g_run.total += g_entry.originalSize;
    return SkipEntryData(g_entry.compressedSize);
}

// A folder entry: its name ends with a separator, which is dropped. The
// time stamp is set only on the NT family, and nothing of it is reported.
bool ExtractFolder() {
    uint32_t length = TextLength(g_run.outputPath);
    if (length > 0 && g_run.outputPath[length - 1] == '/') g_run.outputPath[length - 1] = 0;
    MakeFolder(g_run.outputPath);
    if ((GetVersion() & 0x80000000u) == 0) {
        HANDLE folder = OpenPath(g_run.outputPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (folder != INVALID_HANDLE_VALUE) {
            SetFileTime(folder, nullptr, nullptr, &g_entry.lastWriteTime);
            CloseHandle(folder);
        }
    }
    // A folder entry carries no data; any it claims is skipped, as in the test pass.
    return g_entry.compressedSize == 0 || SkipEntryData(g_entry.compressedSize);
}

// A file entry: create, fill, stamp, close, check. Every failure removes the
// partial file; the message has been shown where it was detected.
bool ExtractFile() {
    g_run.outputFile = OpenPath(g_run.outputPath, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (g_run.outputFile == INVALID_HANDLE_VALUE) {
        g_run.outputFile = nullptr;
        ErrorBox(IDS_WRITE_ERROR, g_run.outputPath);
        return false;
    }
    bool completed = DecodeEntryData(g_entry.method, g_entry.originalSize, g_entry.compressedSize);
    HANDLE file = g_run.outputFile;
    g_run.outputFile = nullptr;
    if (!completed) {
        CloseHandle(file);
        DeletePath(g_run.outputPath);
        return false;
    }
    SetFileTime(file, nullptr, nullptr, &g_entry.lastWriteTime);
    if (!CloseHandle(file)) {
        ErrorBox(IDS_WRITE_ERROR, g_run.outputPath);
        DeletePath(g_run.outputPath);
        return false;
    }
    if (Crc16Value() != g_entry.dataCrc) {
        ErrorBox(IDS_ARCHIVE_BROKEN, g_run.outputPath);
        DeletePath(g_run.outputPath);
        return false;
    }
    return true;
}

// Verify pass: a file entry's data decoded to nowhere and checked.
bool VerifyEntry() {
    if (g_entry.method == 'd') return g_entry.compressedSize == 0 || SkipEntryData(g_entry.compressedSize);
    g_run.outputFile = nullptr;  // the sink writes nothing
    if (!DecodeEntryData(g_entry.method, g_entry.originalSize, g_entry.compressedSize)) return false;
    if (Crc16Value() == g_entry.dataCrc) return true;
    ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
    return false;
}

// Extract pass: one entry below the extraction folder.
bool ExtractEntry() {
    if (!BuildOutputPath(g_run.outputPath, OUTPUT_PATH_SIZE, g_run.extractionFolder, g_entry.name,
                         g_volumeRoot, g_longNames)) {
        ErrorBox(IDS_WRITE_ERROR, g_run.outputPath);  // too long for any path: cannot be created
        return false;
    }
    bool ok = g_entry.method == 'd' ? ExtractFolder() : ExtractFile();
    if (ok) SetPathAttributes(g_run.outputPath, g_entry.attributes);
    return ok;
}

}  // namespace

bool ShowEntryStatusBox(EntryStatus status) {
    switch (status) {
        case EntryStatus::Entry:
        case EntryStatus::End:
            return false;
        case EntryStatus::UnsupportedMethod:
            ErrorBox(IDS_UNSUPPORTED_METHOD, g_run.ownPath);
            return true;
        case EntryStatus::NoMemory:
            PlainErrorBox(IDS_NO_MEMORY, g_run.title, g_run.progressWindow);
            return true;
        case EntryStatus::Damaged:
        case EntryStatus::ReadError:
            // A header that cannot be read whole leaves the archive unusable:
            // it is reported as damaged.
            ErrorBox(IDS_ARCHIVE_BROKEN, g_run.ownPath);
            return true;
    }
    return false;
}

namespace {

// The entry loop of one pass; sets the error flag on the first failure.
void RunEntries(PassMode mode) {
    for (;;) {
        EntryStatus status = ReadNextEntry();
        if (status == EntryStatus::End) return;
        if (ShowEntryStatusBox(status)) {
            g_run.errorFlag = 1;
            return;
        }
        SendWindowCommand(CMD_SET_NAME, reinterpret_cast<LPARAM>(g_entry.name));
        bool ok = IsEntrySound() && (mode == PassMode::Test      ? TestEntry()
                                     : mode == PassMode::Extract ? ExtractEntry()
                                                                 : VerifyEntry());
        ReleaseEntry();
        if (!ok) {
            g_run.errorFlag = 1;
            return;
        }
    }
}

// Temporary mode, after the extract pass: run the installer if all went
// well, then remove the folder in every case. An installer that could not be
// started (no program, or the user declined the administrator prompt) makes
// the run fail: nothing was installed. False then.
bool InstallAndCleanUp() {
    if (g_run.errorFlag == 0) {
        CloseWindow(g_run.progressWindow);
        if (!RunInstallCommand()) {
            OpenIcon(g_run.progressWindow);
            PlainErrorBox(IDS_LAUNCH_FAILED, g_run.title, g_run.progressWindow);
            g_run.errorFlag = 1;
        }
    }
    // Room for the longest path an entry can have been written to, and for
    // the "\*.*" that lists a folder: whatever was extracted can be removed.
    static WCHAR folder[OUTPUT_PATH_SIZE + 4];  // deep trees recurse: not on the stack
    TextCopy(folder, OUTPUT_PATH_SIZE + 4, g_run.extractionFolder);
    RemoveFolderTree(folder, OUTPUT_PATH_SIZE + 4);
    LogLine(IDS_LOG_REMOVED, g_run.extractionFolder);
    return g_run.errorFlag == 0;
}

// One pass over the archive. 1 when it succeeded, else 0. `entriesWalked`
// is set once the pass got as far as the entry loop, or stopped for want of
// space with the extraction folder there.
int RunPass(PassMode mode, bool* entriesWalked) {
    g_run.errorFlag = 0;
    g_run.cancelFlag = 0;
    g_run.done = 0;
    g_run.shownPercent = -1;
    g_run.extractionFolder[0] = 0;
    UINT label = mode == PassMode::Extract ? IDS_EXTRACTING : IDS_CHECKING;
    SendWindowCommand(CMD_SET_LABEL, reinterpret_cast<LPARAM>(LoadText(label)));

    if (mode == PassMode::Extract) {
        if (IsFolderMode()) {
            TakeDestinationFolder();
        } else if (!CreateTemporaryFolder()) {
            return 0;
        }
        if (!HasRoomForEntries()) {
            g_run.errorFlag = 1;
            *entriesWalked = true;  // the numbered folder goes, as after any failure
            return 0;
        }
    }
    if (!OpenArchive()) return 0;
    if (mode == PassMode::Extract) {
        ChooseNameRegime();
        ForgetCreatedFolders();
    }

    RunEntries(mode);
    *entriesWalked = true;

    CloseHandle(g_run.archiveFile);
    g_run.archiveFile = nullptr;
    ReleaseEntry();
    return g_run.errorFlag == 0 ? 1 : 0;
}

}  // namespace

int RunExtraction() {
    // The record outlives the window, which is destroyed before the return.
    // A silent run has no window; nobody can cancel it.
    ProgressWindowParams params;
    MemFill(&params, 0, sizeof params);
    params.title = g_run.title;
    params.cancelFlag = &g_run.cancelFlag;
    if (g_run.silent == 0) {
        g_run.progressWindow = CreateProgressWindow(&params);
        if (g_run.progressWindow == nullptr) return 0;
    }
    g_run.total = 0;
    bool tested = false;
    bool extracted = false;
    int result = RunPass(PassMode::Test, &tested);
    // Test only: every entry's data is checked as well, and nothing written.
    if (result == 1) result = RunPass(g_run.testOnly != 0 ? PassMode::Verify : PassMode::Extract, &extracted);
    // Temporary mode: the installer runs (when all went well) and the folder
    // goes, whenever the extract pass walked the entries.
    if (extracted && g_run.testOnly == 0 && !IsFolderMode() && !InstallAndCleanUp()) result = 0;
    DestroyWindow(g_run.progressWindow);
    g_run.progressWindow = nullptr;
    return result;
}
