// Whole extraction runs on the host layer: both passes, the extraction
// folder, every failure with its box, its subject and what stays on disk,
// cancels from every source, and temporary mode around the install command.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "common/run_state.h"
#include "common/text.h"
#include "extract/extraction.h"
#include "startup/startup.h"
#include "support/expected_texts.h"
#include "support/lzh_builder.h"
#include "support/test_support.h"

using support::BuildArchive;
using support::EntryPlan;
using support::Exists;
using support::ReadWholeFile;

namespace {

const std::string kTable = "\x95\x5c";  // Shift-JIS character whose trail byte is 0x5C

std::string Bytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<char>(seed >> 16);
    }
    return out;
}

EntryPlan File(const std::string& name, const std::string& data) {
    EntryPlan spec;
    spec.name = name;
    spec.data = data;
    return spec;
}

EntryPlan Folder(const std::string& name) {
    EntryPlan spec;
    spec.name = name;
    spec.method = 'd';
    spec.attributes = 0x10;
    return spec;
}

class Extraction : public support::ExtractingRunTest {
protected:
    // Packs the archive in folder mode into dest_ (or temporary mode), no question.
    void Pack(const std::vector<EntryPlan>& entries, bool folderMode = true,
              const std::string& command = "") {
        uint32_t flags = CFG_OS_ALL | CFG_NO_CONFIRM | (folderMode ? CFG_EXTRACT_TO_FOLDER : 0);
        InstallConfig config = support::MakeConfig(folderMode ? dest_ : command, flags);
        support::WritePacked(packedPath(), config, BuildArchive(entries));
    }
    void ExpectOneBox(const std::string& message, const std::string& subject) {
        ASSERT_EQ(host::Boxes().size(), 1u);
        EXPECT_EQ(host::Boxes()[0].text, "\"" + subject + "\" " + message);
        EXPECT_EQ(host::Boxes()[0].caption, "Sample");
        EXPECT_EQ(host::Boxes()[0].flags, static_cast<UINT>(MB_OK | MB_ICONERROR));
        EXPECT_NE(host::Boxes()[0].owner, nullptr);  // owned by the progress window
    }
    std::vector<std::string> TempContents() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temp_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
};

TEST_F(Extraction, FolderModeWritesEveryEntryWithTimeAndAttributes) {
    EntryPlan readOnly = File("docs/" + kTable + "/readme.txt", "read me\r\n");
    readOnly.attributes = 0x21;
    readOnly.time = 946684800;  // 2000-01-01
    EntryPlan hidden = File("hidden.dat", Bytes(70000, 1));
    hidden.attributes = 0x22;
    Pack({Folder("docs/"), readOnly, hidden, File("empty.txt", ""), Folder("docs/sub/")});
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_EQ(ReadWholeFile(dest_ + "/docs/" + host::ToUtf8(kTable) + "/readme.txt"), "read me\r\n");
    EXPECT_EQ(ReadWholeFile(dest_ + "/hidden.dat"), Bytes(70000, 1));
    EXPECT_TRUE(Exists(dest_ + "/empty.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(dest_ + "/docs/sub"));
    struct stat info;
    ASSERT_EQ(stat((dest_ + "/docs/" + host::ToUtf8(kTable) + "/readme.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 946684800);
    EXPECT_EQ(info.st_mode & 0222, 0u);  // read-only
    EXPECT_EQ(GetFileAttributesA((dest_ + "/hidden.dat").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_EQ(stat((dest_ + "/docs/sub").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000);  // folders get their time on the NT family

    const host::ProgressRecord& progress = host::Progress();
    EXPECT_TRUE(progress.created && progress.destroyed);
    EXPECT_EQ(progress.caption, "Sample");
    EXPECT_EQ(progress.labels, (std::vector<std::string>{expected::kChecking, expected::kExtracting}));
    EXPECT_EQ(progress.names.size(), 10u);  // every entry in both passes
    EXPECT_EQ(progress.names[1], "docs/" + kTable + "/readme.txt");
    EXPECT_EQ(progress.percents.back(), 100);
    EXPECT_TRUE(progress.bigIconSet);
    EXPECT_EQ(progress.x, (1024 - 287) / 2);
}

TEST_F(Extraction, OnlyTheEndMarkerSucceedsAndCreatesNothing) {
    Pack({});
    EXPECT_EQ(Run(), 1);
    EXPECT_FALSE(Exists(dest_));
    EXPECT_TRUE(host::Progress().percents.empty());  // no progress without data
}

TEST_F(Extraction, DamagedDataIsReportedWithTheOutputPathAndRemoved) {
    EntryPlan bad = File("b.txt", "bbbb");
    bad.overrideCrc = true;
    bad.dataCrc = 0x1234;
    Pack({File("a.txt", "aaaa"), bad, File("c.txt", "cccc")});
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kArchiveBroken, dest_ + "/b.txt");
    EXPECT_EQ(ReadWholeFile(dest_ + "/a.txt"), "aaaa");  // finished files stay in folder mode
    EXPECT_FALSE(Exists(dest_ + "/b.txt"));
    EXPECT_FALSE(Exists(dest_ + "/c.txt"));
}

TEST_F(Extraction, HeaderFailuresStopTheTestPassBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        std::string archive;
        std::string message;
        std::string english;  // the same message in the English texts
    };
    EntryPlan lz5 = File("x", "x");
    lz5.method = '1';
    std::string good = support::BuildEntry(File("a.txt", "a"));
    std::string corrupt = good;
    corrupt[30] ^= 0x01;  // inside the header: its CRC no longer matches
    // Found by fuzzing: ".." and a lead byte, then a '/' in the file part;
    // the lead byte has no trail, so fitting drops it and leaves "..".
    std::string fittedClimb = support::BuildEntry(File("..\x81Xevil.txt", "x"));
    fittedClimb[fittedClimb.find("\x81X") + 1] = '/';
    support::ResealHeader(&fittedClimb);
    const Case cases[] = {
        {"unsupported method", support::BuildEntry(lz5) + std::string(1, '\0'),
         expected::kUnsupportedMethod, expected::english::kUnsupportedMethod},
        {"header CRC", corrupt + std::string(1, '\0'), expected::kArchiveBroken,
         expected::english::kArchiveBroken},
        {"no end marker", good, expected::kArchiveBroken, expected::english::kArchiveBroken},
        {"climbing name", BuildArchive({File("../evil.txt", "x")}), expected::kArchiveBroken,
         expected::english::kArchiveBroken},
        {"deep climbing name", BuildArchive({File("a/../../evil.txt", "x")}),
         expected::kArchiveBroken, expected::english::kArchiveBroken},
        {"name that climbs once fitted", fittedClimb + std::string(1, '\0'), expected::kArchiveBroken,
         expected::english::kArchiveBroken},
        {"climbing name behind a trail byte 0x5C", BuildArchive({File(kTable + "/../../evil.txt", "x")}),
         expected::kArchiveBroken, expected::english::kArchiveBroken},
    };
    // Japanese Windows, and Windows of another code page with English texts.
    for (UINT codePage : {932u, 1252u})
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " in code page " + std::to_string(codePage));
        support::ResetRunState();
        host::SetModulePath(packedPath());
        host::SetCodePage(codePage);
        host::SetEnglishUi(codePage != 932);
        InstallConfig config = support::MakeConfig(dest_, CFG_OS_ALL | CFG_NO_CONFIRM | CFG_EXTRACT_TO_FOLDER);
        support::WritePacked(packedPath(), config, c.archive);
        EXPECT_EQ(Run(), 0);
        ExpectOneBox(codePage == 932 ? c.message : c.english, packedPath());
        EXPECT_FALSE(Exists(dest_));
        EXPECT_FALSE(Exists(folder_ / "evil.txt"));
        EXPECT_EQ(host::Progress().labels.size(), 1u);  // no extract pass
    }
}

TEST_F(Extraction, ClimbingNamesAreRefusedOnShortNameVolumesToo) {
    host::SetMaxComponentLength(12);
    Pack({File("ok.txt", "x"), File("a/.. /evil.txt", "x")});
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kArchiveBroken, packedPath());
    EXPECT_FALSE(Exists(dest_));
}

TEST_F(Extraction, ShortNameVolumesGetEightThreeNames) {
    host::SetMaxComponentLength(12);
    Pack({File("Long File Name.html", "x"), File("archive.tar.gz", "y")});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadWholeFile(dest_ + "/Long_Fil.htm"), "x");
    EXPECT_EQ(ReadWholeFile(dest_ + "/archive_.gz"), "y");
}

TEST_F(Extraction, OddEntriesKeepBothPassesInStep) {
    EntryPlan folderWithData = Folder("withdata/");
    folderWithData.packed = "JUNK";
    folderWithData.overrideSizes = true;
    folderWithData.compressedSize = 4;
    std::string archive = support::BuildEntry(folderWithData) + "JUNK" +
                          support::BuildEntry(Folder("noslash")) +
                          BuildArchive({File("after.txt", "after")});
    InstallConfig config = support::MakeConfig(dest_, CFG_OS_ALL | CFG_NO_CONFIRM | CFG_EXTRACT_TO_FOLDER);
    support::WritePacked(packedPath(), config, archive);
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(std::filesystem::is_directory(dest_ + "/withdata"));
    EXPECT_TRUE(std::filesystem::is_directory(dest_ + "/noslash"));
    EXPECT_EQ(ReadWholeFile(dest_ + "/after.txt"), "after");
}

TEST_F(Extraction, StoredEntryWithUnequalSizesIsDamaged) {
    EntryPlan odd = File("odd.bin", "12345678");
    odd.overrideSizes = true;
    odd.compressedSize = 8;
    odd.originalSize = 4;
    Pack({odd});
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kArchiveBroken, packedPath());
    EXPECT_FALSE(Exists(dest_));
}

TEST_F(Extraction, ReadOnlyFileInTheWayIsAWriteErrorAndStays) {
    std::filesystem::create_directories(dest_);
    support::WriteWholeFile(dest_ + "/locked.txt", "old");
    SetFileAttributesA((dest_ + "/locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    Pack({File("locked.txt", "new")});
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kWriteError, dest_ + "/locked.txt");
    EXPECT_EQ(ReadWholeFile(dest_ + "/locked.txt"), "old");
}

TEST_F(Extraction, ExistingFileIsReplaced) {
    std::filesystem::create_directories(dest_);
    support::WriteWholeFile(dest_ + "/a.txt", "old contents, longer");
    Pack({File("a.txt", "new")});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadWholeFile(dest_ + "/a.txt"), "new");
}

TEST_F(Extraction, InjectedFailuresEachRemoveThePartialFile) {
    struct Case {
        const char* what;
        void (*arm)();
        std::string message;
        bool ownPathSubject;
    };
    // Reads: config block 1, test pass two header reads 2-3 and end marker 4,
    // extract pass header reads 5-6, then the data.
    const Case cases[] = {
        {"write fails", [] { host::FailWrite(2); }, expected::kWriteError, false},
        {"write comes short", [] { host::FailWrite(1, host::Fault::Short); }, expected::kWriteError, false},
        {"data read fails", [] { host::FailRead(7); }, expected::kReadError, true},
        {"data read comes short", [] { host::FailRead(7, host::Fault::Short); }, expected::kReadError, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        support::ResetRunState();
        host::SetModulePath(packedPath());
        Pack({File("big.bin", Bytes(200000, 7))});
        c.arm();
        EXPECT_EQ(Run(), 0);
        ExpectOneBox(c.message, c.ownPathSubject ? packedPath() : dest_ + "/big.bin");
        EXPECT_FALSE(Exists(dest_ + "/big.bin"));
    }
}

// A full disk in temporary mode: the box names the file that could not be
// written, that file is gone, the installer never runs and the numbered
// folder is removed with what was finished before.
TEST_F(Extraction, FullDiskInTemporaryModeRemovesTheFolder) {
    struct Case {
        const char* what;
        rlim_t fileSizeLimit;  // a real limit from the system (0: none)
        void (*arm)(const std::string& folder);
    };
    const Case cases[] = {
        {"the file grows past what the system allows", 65536, [](const std::string&) {}},
        {"the first write of a file fails", 0, [](const std::string&) { host::FailWrite(2); }},
        {"the file cannot be created", 0,
         [](const std::string& folder) { host::RefusePath(folder + "/big.bin"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        support::ResetRunState();
        host::SetModulePath(packedPath());
        host::SetTempPath(temp_ + "/");
        Pack({File("small.txt", "done before"), File("big.bin", Bytes(200000, 9))}, false, "true");
        std::string folder = temp_ + "/valkrin.000";
        c.arm(folder);
        struct rlimit saved;
        getrlimit(RLIMIT_FSIZE, &saved);
        void (*savedHandler)(int) = signal(SIGXFSZ, SIG_IGN);
        if (c.fileSizeLimit != 0) {
            struct rlimit limit = {c.fileSizeLimit, saved.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        int result = Run();
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, savedHandler);
        EXPECT_EQ(result, 0);
        ExpectOneBox(expected::kWriteError, folder + "/big.bin");
        EXPECT_TRUE(host::Processes().empty());
        EXPECT_TRUE(TempContents().empty());
    }
}

// Before the first file, the volume must have room for the entries'
// original sizes, as far as GetDiskFreeSpaceEx tells; else the write error
// names the extraction folder and nothing is made. A destination not made
// yet is asked through its nearest existing parent.
TEST_F(Extraction, TooLittleFreeSpaceIsOneWriteErrorBeforeTheFirstFile) {
    struct Case {
        const char* what;
        const char* windows;
        bool folderMode;
        host::FreeSpace kind;
        uint64_t bytes;  // 4000 are needed
    };
    const Case cases[] = {
        {"room for exactly the original sizes", "winxp", true, host::FreeSpace::Fixed, 4000},
        {"one byte short", "winxp", true, host::FreeSpace::Fixed, 3999},
        {"one byte short on Windows 98", "win98", true, host::FreeSpace::Fixed, 3999},
        {"no GetDiskFreeSpaceEx", "winxp", true, host::FreeSpace::NoCall, 0},
        {"one byte short in temporary mode", "winxp", false, host::FreeSpace::Fixed, 3999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        support::ResetRunState();
        host::SetWindows(c.windows);
        host::SetModulePath(packedPath());
        host::SetTempPath(temp_ + "/");
        std::filesystem::remove_all(dest_);
        host::SetFreeSpace(c.kind, c.bytes);
        Pack({File("a.txt", Bytes(1000, 1)), Folder("sub/"), File("sub/b.bin", Bytes(3000, 2))}, c.folderMode, "true");
        bool room = c.kind == host::FreeSpace::NoCall || c.bytes == 4000;
        EXPECT_EQ(Run(), room ? 1 : 0);
        std::string folder = c.folderMode ? dest_ : temp_ + "/valkrin.000";
        if (!room) {
            ExpectOneBox(expected::kWriteError, folder);
            EXPECT_TRUE(host::WriteRequests().empty());
            EXPECT_TRUE(host::Processes().empty());
            EXPECT_FALSE(Exists(dest_) || Exists(folder));
        }
        std::vector<std::string> asked{folder + "/"};
        if (c.folderMode) asked.push_back(folder_.path() + "/");
        if (c.kind != host::FreeSpace::NoCall) {
            EXPECT_EQ(host::FreeSpaceQueries(), asked);
        }
    }
}

TEST_F(Extraction, FailedCloseIsAWriteError) {
    Pack({File("a.txt", "a")});
    // Closes: config file 1, archive after the test pass 2, then the output file.
    host::FailClose(3);
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kWriteError, dest_ + "/a.txt");
    EXPECT_FALSE(Exists(dest_ + "/a.txt"));
}

TEST_F(Extraction, HeaderBlockWithoutMemoryShowsThePlainMessage) {
    Pack({File("a.txt", "a")});
    host::FailAllocation(1);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(host::Boxes().size(), 1u);
    EXPECT_EQ(host::Boxes()[0].text, expected::kNoMemory);
    EXPECT_NE(host::Boxes()[0].owner, nullptr);
}

TEST_F(Extraction, NoWindowMeansNoPassAndNoBox) {
    Pack({File("a.txt", "a")});
    host::FailDialogCreation();
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_FALSE(Exists(dest_));
}

TEST_F(Extraction, ArchiveOffsetThatCannotBeReachedIsDamaged) {
    InstallConfig config = support::MakeConfig(dest_, CFG_OS_ALL | CFG_NO_CONFIRM | CFG_EXTRACT_TO_FOLDER);
    support::WritePacked(packedPath(), config, BuildArchive({}));
    std::string bytes = ReadWholeFile(packedPath());
    uint32_t offset = 0x80000000u;  // a negative distance for the seek
    memcpy(&bytes[512], &offset, 4);
    support::WriteWholeFile(packedPath(), bytes);
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kArchiveBroken, packedPath());
}

TEST_F(Extraction, CancelInTheTestPassStopsSilently) {
    Pack({File("a.txt", "a"), File("b.txt", "b")});
    host::CancelOnPump(1);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(host::Boxes().empty());
    EXPECT_FALSE(Exists(dest_));
}

TEST_F(Extraction, EveryCancelSourceStopsTheExtractPass) {
    const host::CancelBy sources[] = {host::CancelBy::Button, host::CancelBy::Escape,
                                      host::CancelBy::Close, host::CancelBy::EndSession};
    for (host::CancelBy how : sources) {
        SCOPED_TRACE(static_cast<int>(how));
        support::ResetRunState();
        host::SetModulePath(packedPath());
        std::filesystem::remove_all(dest_);
        Pack({File("a.txt", "a"), File("big.bin", Bytes(300000, 3))});
        // Pumps: one per entry in the test pass, then one per progress report.
        host::CancelOnPump(4, how);
        EXPECT_EQ(Run(), 0);
        EXPECT_TRUE(host::Boxes().empty());
        EXPECT_EQ(ReadWholeFile(dest_ + "/a.txt"), "a");
        EXPECT_FALSE(Exists(dest_ + "/big.bin"));
    }
}

TEST_F(Extraction, TemporaryModeRunsTheCommandInANumberedFolderAndRemovesIt) {
    Pack({File("setup.sh", "pwd > \"$1\"\n"), Folder("sub/"), File("sub/x.txt", "x")}, false,
         "sh %ExtractDir%/setup.sh " + folder_ / "ran.txt");
    support::WriteWholeFile(temp_ + "/valkrin.000", "a file takes number 000");
    EXPECT_EQ(Run(), 1);
    std::string expectedFolder = std::filesystem::canonical(temp_).string() + "/valkrin.001";
    EXPECT_EQ(ReadWholeFile(folder_ / "ran.txt"), expectedFolder + "\n");
    EXPECT_EQ(TempContents(), std::vector<std::string>{"valkrin.000"});  // 001 is gone again
    EXPECT_EQ(host::Progress().minimizeCount, 1);
    EXPECT_EQ(host::Progress().labels.back(), expected::kWatching);
}

TEST_F(Extraction, BaseFolderFromTheCommandLineQuotedWithoutBackslash) {
    std::string base = folder_ / "base";
    std::filesystem::create_directories(base);
    Pack({File("a.txt", "a")}, false, "true");
    EXPECT_EQ(Run("\"" + base + "\""), 1);
    ASSERT_EQ(host::Processes().size(), 1u);
    EXPECT_EQ(host::Processes()[0].directory, base + "\\valkrin.000");
    EXPECT_FALSE(Exists(base + "/valkrin.000"));
}

TEST_F(Extraction, MissingBaseFolderIsOneWriteError) {
    Pack({File("a.txt", "a")}, false, "true");
    std::string base = folder_ / "missing";
    EXPECT_EQ(Run("-n \"" + base + "\""), 0);  // a bare host path would read as a switch
    ExpectOneBox(expected::kWriteError, base + "\\valkrin.000");
    EXPECT_TRUE(host::Processes().empty());
}

TEST_F(Extraction, TemporaryPathTooLongForTheSystemIsOneWriteError) {
    host::SetTempPath("C:\\" + std::string(270, 't') + "\\");
    Pack({File("a.txt", "a")}, false, "true");
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kWriteError, "valkrin.000");
    EXPECT_FALSE(Exists("valkrin.000"));  // nothing made in the current folder
    EXPECT_TRUE(host::Processes().empty());
}

TEST_F(Extraction, AllThousandNamesTaken) {
    for (int n = 0; n < 1000; ++n) {
        char name[32];
        snprintf(name, sizeof name, "/valkrin.%03d", n);
        support::WriteWholeFile(temp_ + name, "");
    }
    Pack({File("a.txt", "a")}, false, "true");
    EXPECT_EQ(Run(), 0);
    ExpectOneBox(expected::kWriteError, temp_ + "/valkrin.999");
    EXPECT_TRUE(host::Processes().empty());
}

// Whatever holds a number already, or takes it between our look and our
// create, is passed over untouched; a create that fails for any other reason
// is the write error, and a base where no number can be had ends after 1000.
TEST_F(Extraction, NumbersTakenByOthersArePassedOverUntouched) {
    std::string canary = folder_ / "canary";
    struct Case {
        const char* what;
        std::function<void()> arrange;  // before the run
        int result;
        std::string folder;   // where the command ran, or the subject of the box
        size_t foldersTried;  // with folder creation simulated, else 0
    };
    auto number = [&](int n) {
        char name[32];
        snprintf(name, sizeof name, "/valkrin.%03d", n);
        return temp_ + name;
    };
    const Case cases[] = {
        {"a file", [&] { support::WriteWholeFile(number(0), "theirs"); }, 1, number(1), 0},
        {"a folder holding a file",
         [&] {
             std::filesystem::create_directories(number(0));
             support::WriteWholeFile(number(0) + "/a.txt", "theirs");
         },
         1, number(1), 0},
        {"a link to a folder",
         [&] { std::filesystem::create_directory_symlink(canary, number(0)); }, 1, number(1), 0},
        {"a link to nothing",
         [&] { std::filesystem::create_directory_symlink(folder_ / "nowhere", number(0)); }, 1,
         number(1), 0},
        {"taken between look and create", [&] { host::CreateFolderFirst(number(0)); }, 1,
         number(1), 0},
        {"two taken that way",
         [&] {
             host::CreateFolderFirst(number(0));
             host::CreateFolderFirst(number(1));
         },
         1, number(2), 0},
        {"refused", [&] { host::RefusePath(number(0)); }, 0, number(0), 0},
        {"every create finds one", [&] { host::SimulateFolders(true); }, 0, number(999), 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        support::ResetRunState();
        host::SetModulePath(packedPath());
        host::SetTempPath(temp_ + "/");
        std::filesystem::remove_all(temp_);
        std::filesystem::remove_all(canary);
        std::filesystem::create_directories(temp_);
        std::filesystem::create_directories(canary);
        support::WriteWholeFile(canary + "/keep.txt", "canary");
        c.arrange();
        Pack({File("a.txt", "ours")}, false, "true");
        EXPECT_EQ(Run(), c.result);
        if (c.result == 1) {
            EXPECT_TRUE(host::Boxes().empty());
            ASSERT_EQ(host::Processes().size(), 1u);
            EXPECT_EQ(host::Processes()[0].directory, c.folder);
            EXPECT_FALSE(Exists(c.folder));  // ours is removed again
        } else {
            ExpectOneBox(expected::kWriteError, c.folder);
            EXPECT_TRUE(host::Processes().empty());
        }
        EXPECT_EQ(host::FoldersTried().size(), c.foldersTried);
        // Nothing of another's was written or removed.
        std::vector<std::string> canaryContents;
        for (const auto& entry : std::filesystem::directory_iterator(canary)) {
            canaryContents.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(canaryContents, std::vector<std::string>{"keep.txt"});
        EXPECT_EQ(ReadWholeFile(canary + "/keep.txt"), "canary");
        std::filesystem::path first = number(0);
        if (std::filesystem::is_regular_file(first) || Exists(first / "a.txt")) {
            EXPECT_EQ(ReadWholeFile(std::filesystem::is_regular_file(first) ? first : first / "a.txt"),
                      "theirs");
        }
    }
}

// Every way the installer fails to start: no such program; one that needs
// an administrator's rights, when the user declines the prompt, when shell32
// lacks ShellExecuteExA or cannot be loaded, or the shell fails otherwise.
TEST_F(Extraction, LaunchFailureRestoresTheWindowFailsTheRunAndStillCleansUp) {
    struct Case {
        const char* what;
        bool elevation;
        host::ShellState shell;
        DWORD error;
    };
    const Case cases[] = {
        {"no such program", false, host::ShellState::Working, 0},
        {"prompt declined", true, host::ShellState::Fails, ERROR_CANCELLED},
        {"no ShellExecuteExA", true, host::ShellState::NoExport, 0},
        {"no shell32", true, host::ShellState::NoLibrary, 0},
        {"shell fails", true, host::ShellState::Fails, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        support::ResetRunState();
        host::SetModulePath(packedPath());
        host::SetTempPath(temp_ + "/");
        host::RequireElevation(c.elevation);
        host::SetShell(c.shell, c.error);
        Pack({File("a.txt", "a")}, false, c.elevation ? "true" : "%ExtractDir%/no-such-setup.exe");
        EXPECT_EQ(Run(), 0);  // nothing was installed
        ASSERT_EQ(host::Boxes().size(), 1u);
        EXPECT_EQ(host::Boxes()[0].text, expected::kLaunchFailed);
        EXPECT_NE(host::Boxes()[0].owner, nullptr);
        EXPECT_EQ(host::Progress().restoreCount, 1);
        EXPECT_EQ(host::ShellExecutions().size(), c.elevation && c.shell == host::ShellState::Fails ? 1u : 0u);
        EXPECT_TRUE(TempContents().empty());
    }
}

TEST_F(Extraction, FailedExtractionRunsNothingAndCleansUp) {
    EntryPlan bad = File("b.txt", "bbbb");
    bad.overrideCrc = true;
    bad.dataCrc = 1;
    Pack({File("a.txt", "a"), bad}, false, "true");
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(host::Processes().empty());
    EXPECT_TRUE(TempContents().empty());
}

TEST_F(Extraction, CancelInTemporaryModeRemovesEverything) {
    Pack({File("a.txt", "a"), File("big.bin", Bytes(300000, 3))}, false, "true");
    host::CancelOnPump(4);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(host::Processes().empty());
    EXPECT_TRUE(TempContents().empty());
}

}  // namespace

namespace {

TEST_F(Extraction, DataThatRunsOutIsDamagedBeforeAnythingIsWritten) {
    // A valid three-symbol block ("AAA") claiming far more output: the next
    // block header would come from beyond the data.
    const std::string aaa("\x00\x03\x00\x00\x04\x10\x00", 7);
    for (uint32_t claimed : {1u << 20, 0xFFFFFFFFu}) {
        SCOPED_TRACE(claimed);
        support::ResetRunState();
        host::SetModulePath(packedPath());
        EntryPlan entry = File("huge.bin", "AAA");
        entry.method = '5';
        entry.packed = aaa;
        entry.overrideSizes = true;
        entry.compressedSize = 7;
        entry.originalSize = claimed;
        Pack({entry});
        EXPECT_EQ(Run(), 0);
        ExpectOneBox(expected::kArchiveBroken, packedPath());
        EXPECT_TRUE(host::WriteRequests().empty());
        EXPECT_FALSE(Exists(dest_ + "/huge.bin"));
    }
    // The same stream with its true size decodes.
    support::ResetRunState();
    host::SetModulePath(packedPath());
    EntryPlan entry = File("aaa.txt", "AAA");
    entry.method = '5';
    entry.packed = aaa;
    Pack({entry});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ReadWholeFile(dest_ + "/aaa.txt"), "AAA");
}

}  // namespace
