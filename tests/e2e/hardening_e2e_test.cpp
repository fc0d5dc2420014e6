// The real executable in a hostile neighbourhood and with hostile archives,
// under Wine. DLLs planted beside the packed file (and in the current
// folder) must never be loaded: not in folder mode, not in temporary mode
// with its install command, not when a box is shown. Archives made to climb
// out of the extraction folder, to break the header bounds or to claim
// huge sizes end with the damaged-archive box and leave nothing anywhere;
// one that claims more than the volume holds ends sooner, with the write
// error.
#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "e2e_fixture.h"
#include "support/lzh_builder.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string Noise(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(random());
    return out;
}

// The names under which the windows build made a marker DLL.
std::vector<std::string> MarkerNames() {
    std::ifstream in(WindowsBuildDir() + "/markers/names.txt");
    std::vector<std::string> names;
    std::string name;
    while (std::getline(in, name)) {
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

// One damaged-archive box about the packed file, owned by the progress
// window, after the window itself; the run failed.
void ExpectDamagedArchiveBox(const RunResult& run, const std::string& exe) {
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_TRUE(run.boxes[0].text.empty()) << "the progress window first";
    const Box& box = run.boxes[1];
    EXPECT_EQ(box.text, "\"" + WindowsPath(exe) + "\" " + expected::kArchiveBroken);
    EXPECT_EQ(box.caption, kTitleSjis);
    EXPECT_TRUE(box.hasOwner);
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(box.buttons, std::vector<int>{1});  // IDOK
    EXPECT_EQ(run.exitCode, 0u);
}

// A folder holding a marker DLL under every planted name; the packed file
// is run from there, with that folder current and Wine told to take those
// names from beside the program before its own.
class PlantedFolder : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped()) return;
        names_ = MarkerNames();
        ASSERT_FALSE(names_.empty()) << "no marker DLLs in " << WindowsBuildDir() << "/markers";
        folder_ = WorkDir() + "/planted-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder_);
        fs::create_directories(folder_ + "/out");
        for (const std::string& name : names_) {
            fs::copy_file(WindowsBuildDir() + "/markers/" + name + ".dll", folder_ + "/" + name + ".dll");
        }
    }
    // Packs into the planted folder.
    std::string PackHere(const std::string& name, const std::string& options, const std::string& archive) {
        std::string packed = Pack(name, options, archive);
        std::string here = folder_ + "/" + name + ".exe";
        fs::rename(packed, here);
        return here;
    }
    std::string FolderOptions(const std::string& more = "--no-confirm") {
        return "--title " + Quote(kTitleUtf8) + " " + more + " --folder " + Quote(WindowsPath(folder_ + "/out"));
    }
    RunOptions Planted() {
        RunOptions options;
        options.workingFolder = folder_;
        options.nativeDlls = names_;
        return options;
    }
    // The markers written so far: which DLL, loaded by which program.
    std::vector<std::string> Markers() {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            if (entry.path().extension() == ".loaded") {
                found.push_back(entry.path().filename().string() + ": " + ReadAll(entry.path()));
            }
        }
        return found;
    }

    std::vector<std::string> names_;
    std::string folder_;
};

// The counter-check: a program that loads by bare name gets every marker,
// so the tests below would see a planted DLL that the stub loaded.
TEST_F(PlantedFolder, AProgramLoadingByBareNameGetsEveryMarker) {
    std::string probe = folder_ + "/marker-probe.exe";
    fs::copy_file(WindowsBuildDir() + "/marker-probe.exe", probe);
    RunOptions options = Planted();
    for (const std::string& name : names_) options.arguments += name + ".dll ";
    RunResult run = Run(probe, options);
    EXPECT_EQ(run.exitCode, 0u) << "names that could not be loaded";
    for (const std::string& name : names_) {
        EXPECT_TRUE(fs::exists(folder_ + "/" + name + ".dll.loaded")) << name;
    }
}

TEST_F(PlantedFolder, FolderModeLoadsNoneOfThem) {
    std::string exe = PackHere("planted-folder", FolderOptions(),
                               support::BuildArchive({{"readme.txt", '0', "read me"}}));
    RunResult run = Run(exe, Planted());
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(ReadAll(folder_ + "/out/readme.txt"), "read me");
    EXPECT_EQ(Markers(), std::vector<std::string>{});
}

TEST_F(PlantedFolder, TemporaryModeAndItsInstallCommandLoadNoneOfThem) {
    std::string log = folder_ + "/out/log.txt";
    std::string installer = ReadAll(WindowsBuildDir() + "/sample-installer.exe");
    std::string exe = PackHere(
        "planted-install",
        "--title " + Quote(kTitleUtf8) + " --no-confirm --run " +
            Quote("%ExtractDir%\\sample-installer.exe --log " + WindowsPath(log)),
        support::BuildArchive({{"sample-installer.exe", '0', installer}}));
    RunResult run = Run(exe, Planted());
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(ReadAll(log).find("working folder: "), std::string::npos) << "the installer ran";
    EXPECT_EQ(Markers(), std::vector<std::string>{});
}

TEST_F(PlantedFolder, TheQuestionAndTheDamagedArchiveBoxLoadNoneOfThem) {
    std::string ask = PackHere("planted-ask", FolderOptions("--confirm"),
                               support::BuildArchive({{"readme.txt", '0', "read me"}}));
    RunOptions no = Planted();
    no.answers = {"no"};
    RunResult asked = Run(ask, no);
    ASSERT_EQ(asked.boxes.size(), 1u);
    EXPECT_EQ(asked.boxes[0].icon, "question");
    EXPECT_EQ(asked.exitCode, 0u);
    EXPECT_EQ(Markers(), std::vector<std::string>{});

    support::EntryPlan bad{"bad.txt", '0', "bad data"};
    bad.overrideCrc = true;
    bad.dataCrc = 1;
    std::string damaged = PackHere("planted-damaged", FolderOptions(), support::BuildArchive({bad}));
    RunResult run = Run(damaged, Planted());
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[1].icon, "error");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Markers(), std::vector<std::string>{});
}

// Hostile archives. Each is packed in folder mode into a destination two
// levels below the test's own folder, beside a canary file.
struct Hostile {
    const char* name;
    std::string (*archive)();
    uint64_t claimed = 0;  // bytes the entries claim, where more than the data holds
};

void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.name; }

support::EntryPlan File(const std::string& name, const std::string& data = "escaped") {
    return {name, '0', data};
}

// A well-formed first entry, then the hostile one.
std::string AfterAGoodEntry(const std::string& hostile) {
    return support::BuildEntry(File("good.txt", "good")) + hostile + std::string(1, '\0');
}

// A header whose chain runs from EXT_COMMON on to a size word of `next`,
// with the header CRC made right again.
std::string WithNextExtensionSize(uint16_t next) {
    std::string entry = support::BuildEntry(File("a.txt"));
    entry[29] = static_cast<char>(next & 0xFF);  // EXT_COMMON: type 26, CRC 27-28, next size 29-30
    entry[30] = static_cast<char>(next >> 8);
    support::ResealHeader(&entry);
    return entry;
}

// Random bytes claiming to be `method` data of `original` bytes.
std::string NoiseEntry(char method, uint64_t original) {
    support::EntryPlan spec{"noise.bin", method};
    spec.packed = Noise(4096, method);
    spec.overrideSizes = true;
    spec.compressedSize = 4096;
    spec.originalSize = static_cast<uint32_t>(original);
    if (original > 0xFFFFFFFFu) {
        spec.largeSize = true;
        spec.largeCompressedSize = 4096;
        spec.largeOriginalSize = original;
    }
    return support::BuildEntry(spec);
}

// A stored entry whose sizes claim far more than the few bytes that follow.
std::string StoredPastTheEnd(uint64_t claimed) {
    support::EntryPlan spec = File("short.bin", "short");
    spec.overrideSizes = true;
    spec.compressedSize = spec.originalSize = static_cast<uint32_t>(claimed);
    if (claimed > 0xFFFFFFFFu) {
        spec.largeSize = true;
        spec.largeCompressedSize = spec.largeOriginalSize = claimed;
    }
    return support::BuildEntry(spec);
}

constexpr uint64_t MiB = 1ull << 20, TiB = 1ull << 40;

const Hostile kHostile[] = {
    {"ClimbToTheParent", [] { return AfterAGoodEntry(support::BuildEntry(File("../escape.txt"))); }},
    {"ClimbFromASubfolder", [] { return AfterAGoodEntry(support::BuildEntry(File("docs/../../escape.txt"))); }},
    {"ClimbWithBackslashes", [] { return AfterAGoodEntry(support::BuildEntry(File("..\\..\\escape.txt"))); }},
    {"ClimbWithATrailingBlank", [] { return AfterAGoodEntry(support::BuildEntry(File(".. /escape.txt"))); }},
    {"HeaderSizeBelow26", [] {
         std::string entry = support::BuildEntry(File("a.txt"));
         entry[0] = 20;
         entry[1] = 0;
         return AfterAGoodEntry(entry);
     }},
    {"ExtendedHeaderSizeBelow3", [] { return AfterAGoodEntry(WithNextExtensionSize(2)); }},
    {"ExtendedHeaderChainPastTheHeader", [] { return AfterAGoodEntry(WithNextExtensionSize(0xF0)); }},
    {"NameOver259Bytes", [] {
         return AfterAGoodEntry(support::BuildEntry(File(std::string(200, 'd') + "/" + std::string(100, 'f'))));
     }},
    {"Lh5NoiseClaiming1MiB", [] { return AfterAGoodEntry(NoiseEntry('5', MiB)); }},
    {"Lh7NoiseClaiming1MiB", [] { return AfterAGoodEntry(NoiseEntry('7', MiB)); }},
    {"Lh5NoiseClaiming1TiB", [] { return AfterAGoodEntry(NoiseEntry('5', TiB)); }, TiB},
    {"Lh7NoiseClaiming1TiB", [] { return AfterAGoodEntry(NoiseEntry('7', TiB)); }, TiB},
    {"StoredClaiming1MiBMoreThanTheFileHolds", [] { return AfterAGoodEntry(StoredPastTheEnd(MiB)); }},
    {"StoredClaiming1TiBMoreThanTheFileHolds", [] { return AfterAGoodEntry(StoredPastTheEnd(TiB)); }},
};

class HostileArchive : public WineTest, public ::testing::WithParamInterface<Hostile> {
protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped()) return;
        root_ = WorkDir() + "/hostile-" + GetParam().name;
        fs::remove_all(root_);
        fs::create_directories(root_ + "/parent");
        std::ofstream(root_ + "/canary.txt") << "canary";
        std::ofstream(root_ + "/parent/canary.txt") << "canary";
    }
    std::string root_;
};

TEST_P(HostileArchive, EndsWithTheDamagedArchiveBoxAndWritesNothing) {
    std::string exe = Pack(std::string("hostile-") + GetParam().name,
                           "--title " + Quote(kTitleUtf8) + " --no-confirm --folder " +
                               Quote(WindowsPath(root_ + "/parent/out")),
                           GetParam().archive());
    auto before = Snapshot(root_);
    RunResult run = Run(exe, {});
    struct statvfs disk;
    ASSERT_EQ(statvfs(root_.c_str(), &disk), 0);
    if (GetParam().claimed > uint64_t{disk.f_bavail} * disk.f_frsize) {
        // No room for the claim: the write error names the destination
        // before the first file is made.
        ASSERT_EQ(run.boxes.size(), 2u);
        EXPECT_EQ(run.boxes[1].text, "\"" + WindowsPath(root_ + "/parent/out") + "\" " + expected::kWriteError);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(Snapshot(root_), before);
        return;
    }
    ExpectDamagedArchiveBox(run, exe);
    // Entries that fail in the extract pass have had their folder made and
    // their partial file removed; the good entry before them stays.
    auto after = Snapshot(root_);
    after.erase("parent/out");
    after.erase("parent/out/good.txt");
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(Wine, HostileArchive, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
