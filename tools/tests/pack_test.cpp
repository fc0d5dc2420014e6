// valkrin-pack: its options, the block it writes, where the archive goes,
// and the command itself on bad input.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "layout/layout.h"
#include "pack/config_block.h"
#include "pack/embedded_stub.h"
#include "pack/manifest_level.h"
#include "pack/pack_options.h"
#include "pack/packer.h"
#include "synthetic_pe.h"

namespace {

bool Parse(std::vector<std::string> args, PackOptions* options, std::string* error) {
    return ParsePackOptions(args, options, error);
}

std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

TEST(PackOptions, DefaultsAndFlags) {
    PackOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", "setup.exe", "--archive", "a.lzh"}, &options, &error)) << error;
    InstallConfig block;
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(block.flags, CFG_OS_ALL);  // temporary mode, the question asked, every Windows
    EXPECT_EQ(block.graceSeconds, 0u);

    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", "setup.exe", "--wait-class", "Main", "--grace", "3",
                       "--no-confirm", "--os", "win95,nt4,winxp", "--archive", "a.lzh"},
                      &options, &error))
        << error;
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(block.flags, CFG_WAIT_FOR_CLASS | CFG_NO_CONFIRM | CFG_OS_WIN95 | CFG_OS_NT4 | CFG_OS_WINXP);
    EXPECT_EQ(block.graceSeconds, 3u);
    EXPECT_EQ(Field(block.windowClass, sizeof block.windowClass), "Main");

    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", "x", "--exit-codes", "installer", "--switches", "extended", "--archive",
                       "a.lzh"},
                      &options, &error))
        << error;
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(block.flags, CFG_OS_ALL | CFG_INSTALLER_EXIT_CODES | CFG_EXTENDED_SWITCHES);

    ASSERT_TRUE(Parse({"--folder", "", "-o", "a.exe", "--archive", "a.lzh", "--os", "win2000"}, &options, &error));
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(block.flags, CFG_EXTRACT_TO_FOLDER | CFG_OS_WIN2000);  // an empty folder is the current one
}

TEST(PackOptions, ElevationDefaultsByModeUnlessGiven) {
    struct Case {
        std::vector<std::string> args;
        ExecutionLevel level;
    };
    const Case cases[] = {
        {{"--run", "setup.exe"}, ExecutionLevel::RequireAdministrator},
        {{"--folder", "C:\\Tool"}, ExecutionLevel::AsInvoker},
        {{"--elevation", "asInvoker", "--run", "setup.exe"}, ExecutionLevel::AsInvoker},
        {{"--run", "setup.exe", "--elevation", "highestAvailable"}, ExecutionLevel::HighestAvailable},
        {{"--folder", "", "--elevation", "requireAdministrator"}, ExecutionLevel::RequireAdministrator},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "a.exe", "--archive", "a.lzh"});
        PackOptions options;
        std::string error;
        ASSERT_TRUE(Parse(args, &options, &error)) << error;
        EXPECT_EQ(options.elevation, c.level) << args[1];
    }
    PackOptions options;
    std::string error;
    for (const char* bad : {"asinvoker", "administrator", ""}) {
        EXPECT_FALSE(Parse({"-o", "a.exe", "--run", "x", "--elevation", bad, "--archive", "a.lzh"}, &options, &error));
        EXPECT_NE(error.find("highestAvailable"), std::string::npos) << error;
    }
    EXPECT_FALSE(Parse({"-o", "a.exe", "--run", "x", "--elevation", "asInvoker", "--elevation", "asInvoker",
                        "--archive", "a.lzh"},
                       &options, &error));
}

TEST(PackOptions, ProtectedDestinationsAreTheSystemsFolders) {
    for (const char* folder : {"%ProgramFilesDir%\\Tool", "\"%programfilesdir%\\My Tool\"", " %CommonFilesDir%\\x",
                               "%SystemDir%", "%WINDIR%\\Fonts", "%ProgramFiles%\\Tool", "%ProgramFiles(x86)%\\T",
                               "%CommonProgramFiles%\\T", "%SystemRoot%\\T"}) {
        EXPECT_TRUE(IsProtectedDestination(folder)) << folder;
    }
    for (const char* folder : {"", "D:\\Tools", "%MyDocuments%\\Tool", "%TEMP%\\x", "%ExtractDir%", "%Program",
                               "C:\\Tools\\%ProgramFilesDir%", "\"\""}) {
        EXPECT_FALSE(IsProtectedDestination(folder)) << folder;
    }
}

TEST(PackOptions, RefusesBadCommandLines) {
    PackOptions options;
    std::string error;
    const std::vector<std::vector<std::string>> bad = {
        {"--run", "x", "--archive", "a.lzh"},                                   // no -o
        {"-o", "a.exe", "--archive", "a.lzh"},                                  // no command
        {"-o", "a.exe", "--run", "x"},                                          // no archive
        {"-o", "a.exe", "--run", "", "--archive", "a.lzh"},                     // empty command
        {"-o", "a.exe", "--run", "x", "--folder", "d", "--archive", "a.lzh"},   // both modes
        {"-o", "a.exe", "--folder", "d", "--wait-class", "C", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--os", "win95,win31", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--os", "", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--grace", "-1", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--grace", "1s", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--confirm", "--no-confirm", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--archive"},
        {"-o", "a.exe", "--run", "x", "--archive", "a.lzh", "--bogus"},
        {"--inspect", "a.exe", "-o", "b.exe"},
        {"-o", "a.exe", "--run", "x", "--archive", "a.lzh", "payload"},  // both sources
        {"-o", "a.exe", "--run", "x", "--method", "lh9", "payload"},
        {"--list", "a.exe", "payload"},
        {"-o", "a.exe", "--run", "x", "--threads", "0", "payload"},
        {"-o", "a.exe", "--run", "x", "--threads", "2x", "payload"},
        {"-o", "a.exe", "--run", "x", "--threads"},
        {"-o", "a.exe", "--run", "x", "--exit-codes", "msi", "--archive", "a.lzh"},
        {"-o", "a.exe", "--run", "x", "--switches", "classic", "--switches", "extended", "--archive", "a.lzh"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        EXPECT_FALSE(Parse(args, &options, &error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    EXPECT_FALSE(Parse({"-o", "a.exe", "--run", "x", "--os", "win95,win31", "--archive", "a.lzh"}, &options, &error));
    EXPECT_NE(error.find("win31"), std::string::npos) << error;
}

TEST(ConfigBlock, StoresShiftJisAndChecksFieldLengthsInBytes) {
    PackOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", "C:\\セットアップ.exe", "--archive", "a.lzh"}, &options, &error));
    options.title = "ﾃｽﾄ製品";
    InstallConfig block;
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(Field(block.title, sizeof block.title), "\xC3\xBD\xC4\x90\xBB\x95\x69");
    EXPECT_EQ(Field(block.command, sizeof block.command),
              "C:\\\x83\x5A\x83\x62\x83\x67\x83\x41\x83\x62\x83\x76.exe");

    // 25 double-byte characters fill the 50 bytes of the title; one more does not fit.
    std::string kanji;
    for (int i = 0; i < 25; ++i) kanji += "漢";
    options.title = kanji;
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(Field(block.title, sizeof block.title).size(), 50u);
    options.title = kanji + "a";
    EXPECT_FALSE(MakeConfigBlock(options, &block, &error));
    EXPECT_NE(error.find("--title"), std::string::npos) << error;

    options.title = "";
    options.command = std::string(260, 'c');
    EXPECT_FALSE(MakeConfigBlock(options, &block, &error));
    options.command = std::string(259, 'c');
    EXPECT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    options.windowClass = std::string(41, 'w');
    EXPECT_FALSE(MakeConfigBlock(options, &block, &error));
    options.windowClass = std::string(40, 'w');
    EXPECT_TRUE(MakeConfigBlock(options, &block, &error)) << error;

    options.title = "Ⅻ🙂";  // the emoji has no Shift-JIS form
    EXPECT_FALSE(MakeConfigBlock(options, &block, &error));
}

// A program without a folder would be looked for beside the installer and
// along the PATH: valkrin-pack writes %ExtractDir%\ in front of it.
TEST(InstallCommand, PrefixesOnlyProgramsWithoutAFolder) {
    struct Case {
        const char* given;
        const char* written;
    };
    const Case cases[] = {
        {"setup.exe /q", "\"%ExtractDir%\\setup.exe\" /q"},
        {"\"setup.exe\" /q", "\"%ExtractDir%\\setup.exe\" /q"},
        {"\"my setup.exe\" /log C:\\x.log", "\"%ExtractDir%\\my setup.exe\" /log C:\\x.log"},
        {" \tsetup", " \t\"%ExtractDir%\\setup\""},
        {"\"setup.exe", "\"%ExtractDir%\\setup.exe"},  // no closing quote: the rest is the program
        {"%odd.exe a%b", "\"%ExtractDir%\\%odd.exe\" a%b"},  // one '%' is no variable
        {"セットアップ.exe", "\"%ExtractDir%\\セットアップ.exe\""},
        // These name where the program is and stay as they are.
        {"%ExtractDir%\\setup.exe /q", nullptr},
        {"\"%ExtractDirX%\\a b.exe\"", nullptr},
        {"%SystemDir%\\msiexec.exe /i x.msi", nullptr},
        {"%windir%notepad.exe", nullptr},
        {"\"C:\\Program Files\\a.exe\" /s", nullptr},
        {"sub/setup.exe", nullptr},
        {"D:setup.exe", nullptr},
    };
    for (const Case& c : cases) {
        PackOptions options;
        std::string error;
        ASSERT_TRUE(Parse({"-o", "a.exe", "--run", c.given, "--archive", "a.lzh"}, &options, &error)) << error;
        std::string expected = c.written != nullptr ? c.written : c.given;
        EXPECT_EQ(options.command, expected) << c.given;
        EXPECT_EQ(options.commandPrefixed, c.written != nullptr) << c.given;
        if (c.written != nullptr) {
            EXPECT_EQ(options.givenCommand, c.given);
        }

        ASSERT_TRUE(Parse({"-o", "a.exe", "--run", c.given, "--keep-bare-command", "--archive", "a.lzh"}, &options,
                          &error));
        EXPECT_EQ(options.command, c.given) << "kept as written";
        EXPECT_FALSE(options.commandPrefixed);
    }

    PackOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"-o", "a.exe", "--folder", "Apps", "--archive", "a.lzh"}, &options, &error));
    EXPECT_EQ(options.command, "Apps") << "a destination folder is not a program";
    EXPECT_FALSE(Parse({"-o", "a.exe", "--folder", "Apps", "--keep-bare-command", "--archive", "a.lzh"}, &options,
                       &error));
    for (const char* empty : {"  ", "\"\" /q", "\t"}) {
        EXPECT_FALSE(Parse({"-o", "a.exe", "--run", empty, "--archive", "a.lzh"}, &options, &error)) << empty;
        EXPECT_NE(error.find("names no program"), std::string::npos) << error;
    }
}

TEST(InstallCommand, ThePrefixedCommandMustFitItsField) {
    PackOptions options;
    std::string error;
    InstallConfig block;
    const std::string longest(259, 'c');  // fits as given, not with 15 more bytes around it
    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", longest, "--archive", "a.lzh"}, &options, &error));
    EXPECT_FALSE(MakeConfigBlock(options, &block, &error));
    EXPECT_NE(error.find("--keep-bare-command"), std::string::npos) << error;
    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", std::string(244, 'c'), "--archive", "a.lzh"}, &options, &error));
    ASSERT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
    EXPECT_EQ(Field(block.command, sizeof block.command), "\"%ExtractDir%\\" + std::string(244, 'c') + "\"");
    ASSERT_TRUE(Parse({"-o", "a.exe", "--run", longest, "--keep-bare-command", "--archive", "a.lzh"}, &options,
                      &error));
    EXPECT_TRUE(MakeConfigBlock(options, &block, &error)) << error;
}

class Packing : public ::testing::Test {
protected:
    void SetUp() override {
        stub_ = synthetic::LinkedImage();
        std::string error;
        ASSERT_TRUE(layout::Apply(stub_, &error)) << error;
        memset(&block_, 0, sizeof block_);
        memcpy(block_.title, "Title", 5);
        block_.flags = CFG_OS_ALL;
    }
    pe::Bytes stub_;
    InstallConfig block_;
    const pe::Bytes archive_ = {'-', 'l', 'h', '5', '-', 0x00, 0x01, 0x02};
};

TEST_F(Packing, PutsTheBlockAt512AndTheArchiveBehindTheLastSection) {
    pe::Bytes packed;
    std::string error;
    ASSERT_TRUE(PackExecutable(stub_, block_, archive_, &packed, &error)) << error;
    ASSERT_EQ(packed.size(), stub_.size() + archive_.size());
    EXPECT_EQ(pe::Bytes(packed.begin() + stub_.size(), packed.end()), archive_);

    InstallConfig back;
    ASSERT_TRUE(ReadPackedBlock(packed, &back, &error)) << error;
    EXPECT_EQ(back.archiveOffset, stub_.size());
    EXPECT_EQ(Field(back.title, sizeof back.title), "Title");
    EXPECT_EQ(back.flags, CFG_OS_ALL);
    // Everything but the block area and the checksum is the stub's.
    pe::Image image;
    ASSERT_TRUE(pe::Parse(packed, &image, &error));
    for (size_t i = 0; i < stub_.size(); ++i) {
        if (i >= 0x200 && i < 0x200 + sizeof(InstallConfig)) continue;
        if (i >= image.checksumOffset() && i < image.checksumOffset() + 4) continue;
        ASSERT_EQ(packed[i], stub_[i]) << "offset " << i;
    }
    EXPECT_EQ(pe::Get32(packed, image.checksumOffset()), pe::Checksum(packed, image.checksumOffset()));
}

TEST_F(Packing, RefusesStubsItCannotUse) {
    pe::Bytes packed, again;
    std::string error;
    ASSERT_TRUE(PackExecutable(stub_, block_, archive_, &packed, &error));
    EXPECT_FALSE(PackExecutable(packed, block_, archive_, &again, &error));  // already packed

    EXPECT_FALSE(PackExecutable(synthetic::LinkedImage(), block_, archive_, &again, &error));  // no layout

    pe::Bytes trailing = stub_;
    trailing.push_back(0);
    EXPECT_FALSE(PackExecutable(trailing, block_, archive_, &again, &error));
}

TEST(Inspect, RefusesFilesWithoutAUsableBlock) {
    InstallConfig block;
    std::string error;
    EXPECT_FALSE(ReadPackedBlock(pe::Bytes(875, 0), &block, &error));
    pe::Bytes file(1024, 0);
    pe::Put32(file, 512, 1024);  // the archive would start at the end
    EXPECT_FALSE(ReadPackedBlock(file, &block, &error));
    pe::Put32(file, 512, 1000);
    EXPECT_TRUE(ReadPackedBlock(file, &block, &error)) << error;
}

TEST(Inspect, DescribesEveryField) {
    InstallConfig block;
    memset(&block, 0, sizeof block);
    block.archiveOffset = 0xAA00;
    memcpy(block.title, "\x83\x65\x83\x58\x83\x67", 6);  // テスト
    memcpy(block.command, "%ExtractDir%\\setup.exe", 22);
    memcpy(block.windowClass, "\x81", 1);  // a lone lead byte
    block.flags = 0x0F700004;
    block.graceSeconds = 1;
    std::string text = DescribeConfigBlock(block);
    EXPECT_NE(text.find("0x0000AA00 (43520)"), std::string::npos) << text;
    EXPECT_NE(text.find("\"テスト\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"%ExtractDir%\\setup.exe\""), std::string::npos) << text;
    EXPECT_NE(text.find("\\x81"), std::string::npos) << text;
    EXPECT_NE(text.find("temporary no-confirm exit-codes=classic switches=classic os=win95,win98,winme,nt351,nt4,"
                        "win2000,winxp"),
              std::string::npos)
        << text;
    block.flags |= CFG_INSTALLER_EXIT_CODES | CFG_EXTENDED_SWITCHES;
    text = DescribeConfigBlock(block);
    EXPECT_NE(text.find("exit-codes=installer switches=extended"), std::string::npos) << text;
}

// The command itself: exit status and message for the user.
struct Outcome {
    int status;
    std::string output;
};

// A shell command's status and output, stderr included.
Outcome Shell(const std::string& shellCommand) {
    std::string command = shellCommand + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    Outcome outcome{-1, ""};
    if (pipe == nullptr) return outcome;
    char buffer[512];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) != 0) outcome.output.append(buffer, got);
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

Outcome RunPack(const std::string& arguments) {
    return Shell("env -u VALKRIN_STUB " + std::string(VALKRIN_PACK) + " " + arguments);
}

// A scratch folder holding a laid-out stub, stub.exe.
class PackCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/valkrin-pack-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir_ = folder;
        stub_ = synthetic::LinkedImage();
        std::string error;
        ASSERT_TRUE(layout::Apply(stub_, &error)) << error;
        ASSERT_TRUE(pe::WriteFile(dir_ + "/stub.exe", stub_, &error)) << error;
    }
    void TearDown() override {
        std::string cleanup = "rm -rf " + dir_;
        EXPECT_EQ(system(cleanup.c_str()), 0);
    }

    std::string dir_;
    pe::Bytes stub_;
};

TEST_F(PackCommand, PacksAndInspects) {
    const std::string& dir = dir_;
    const pe::Bytes& stub = stub_;
    std::string error;
    ASSERT_TRUE(pe::WriteFile(dir + "/a.lzh", pe::Bytes{1, 2, 3}, &error));

    Outcome packed = RunPack("-o " + dir + "/out.exe --title 'テスト' --folder 'C:\\Apps' --stub " + dir +
                             "/stub.exe --archive " + dir + "/a.lzh");
    EXPECT_EQ(packed.status, 0) << packed.output;
    Outcome shown = RunPack("--inspect " + dir + "/out.exe");
    EXPECT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("title          \"テスト\""), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("3 bytes from offset " + std::to_string(stub.size())), std::string::npos)
        << shown.output;

    Outcome missing = RunPack("-o " + dir + "/out2.exe --run x --stub " + dir + "/stub.exe --archive " + dir +
                              "/none.lzh");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("none.lzh"), std::string::npos) << missing.output;
    EXPECT_NE(access((dir + "/out2.exe").c_str(), F_OK), 0) << "no output on failure";

    Outcome unknown = RunPack("-o " + dir + "/out3.exe --run x --os win7 --archive " + dir + "/a.lzh");
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.output.find("win7"), std::string::npos) << unknown.output;
}

TEST_F(PackCommand, PacksFilesAndFoldersItselfAndListsThem) {
    const std::string& dir = dir_;
    std::string make = "mkdir -p " + dir + "/payload/docs/表示 && seq 1 20000 > " + dir +
                       "/payload/docs/numbers.txt && printf hi > " + dir + "/payload/docs/表示/テスト.txt";
    ASSERT_EQ(system(make.c_str()), 0);

    Outcome packed = RunPack("-o " + dir + "/out.exe --run setup.exe --method lh7 --stub " + dir + "/stub.exe " +
                             dir + "/payload/docs");
    ASSERT_EQ(packed.status, 0) << packed.output;
    Outcome listed = RunPack("--list " + dir + "/out.exe");
    EXPECT_EQ(listed.status, 0) << listed.output;
    for (const char* name : {"docs/", "docs/numbers.txt", "docs/表示/テスト.txt", "-lh7-"}) {
        EXPECT_NE(listed.output.find(name), std::string::npos) << name << "\n" << listed.output;
    }

    // --best gives a smaller file, the same with one thread or three.
    pe::Bytes best[2], plain;
    std::string error;
    for (int i = 0; i < 2; ++i) {
        std::string out = dir + "/best" + std::to_string(i) + ".exe";
        Outcome made = RunPack("-o " + out + " --run setup.exe --method lh7 --best --threads " + (i ? "3" : "1") +
                               " --stub " + dir + "/stub.exe " + dir + "/payload/docs");
        ASSERT_EQ(made.status, 0) << made.output;
        ASSERT_TRUE(pe::ReadFile(out, &best[i], &error)) << error;
    }
    ASSERT_TRUE(pe::ReadFile(dir + "/out.exe", &plain, &error)) << error;
    EXPECT_TRUE(best[0] == best[1]);
    EXPECT_LT(best[0].size(), plain.size());

    // Was: café refused for want of a Shift-JIS form. Now a name that is
    // not UTF-8 is the one refused.
    ASSERT_EQ(system(("printf x > '" + dir + "/payload/café' && printf x > '" + dir + "/payload/caf\xe9'").c_str()), 0);
    Outcome accented = RunPack("-o " + dir + "/café.exe --run setup.exe --stub " + dir + "/stub.exe " + dir +
                               "/payload/café");
    EXPECT_EQ(accented.status, 0) << accented.output;
    EXPECT_NE(RunPack("--list " + dir + "/café.exe").output.find(" café\n"), std::string::npos);
    Outcome refused = RunPack("-o " + dir + "/bad.exe --run setup.exe --stub " + dir + "/stub.exe " + dir +
                              "/payload/caf\xe9");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("does not read as UTF-8"), std::string::npos) << refused.output;
    EXPECT_NE(access((dir + "/bad.exe").c_str(), F_OK), 0) << "no output on failure";
}

// Names without a Shift-JIS form, as libarchive (bsdtar), lhasa, 7z and
// --list read them; a name whose UTF-16 record libarchive would refuse is
// written without it, with a warning, and bsdtar still lists the archive.
TEST_F(PackCommand, NamesWithoutAShiftJisFormForOtherArchivers) {
    ASSERT_EQ(system("command -v bsdtar >/dev/null"), 0) << "bsdtar (libarchive-tools) is missing";
    const std::string& dir = dir_;
    const std::string mixed = "Über_中文简体_한국어_日本語.txt";
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> listed;  // by bsdtar and --list, in archive order
        const char* warning;
    };
    const Case cases[] = {
        {{"Über.txt", "résumé.pdf", "中文简体/说明.txt", "한국어.txt", mixed},
         {"résumé.pdf", "Über.txt", mixed, "中文简体/", "中文简体/说明.txt", "한국어.txt"}, nullptr},
        {{"Ābc.txt", "résumé.pdf"}, {"résumé.pdf", "_bc.txt"},
         "warning: \"Ābc.txt\": its UTF-16 file name would begin with a zero byte"},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::string tree = dir + "/tree" + std::to_string(++index);
        for (const std::string& file : c.files) {
            ASSERT_EQ(system(("mkdir -p \"$(dirname '" + tree + "/" + file + "')\" && printf x > '" + tree + "/" + file +
                              "'").c_str()),
                      0);
        }
        std::string exe = tree + ".exe", lzh = tree + ".lzh";
        Outcome packed = Shell("cd " + tree + " && env -u VALKRIN_STUB " + VALKRIN_PACK + " -o " + exe +
                               " --folder x --stub " + dir + "/stub.exe .");
        ASSERT_EQ(packed.status, 0) << packed.output;
        EXPECT_EQ(packed.output.find("warning"), c.warning ? packed.output.find(c.warning) : std::string::npos)
            << packed.output;
        pe::Bytes bytes;
        InstallConfig block;
        std::string error;
        ASSERT_TRUE(pe::ReadFile(exe, &bytes, &error)) << error;
        ASSERT_TRUE(ReadPackedBlock(bytes, &block, &error)) << error;
        ASSERT_TRUE(pe::WriteFile(lzh, pe::Bytes(bytes.begin() + block.archiveOffset, bytes.end()), &error));

        Outcome bsdtar = Shell("LC_ALL=C.UTF-8 bsdtar -tf " + lzh);
        EXPECT_EQ(Shell("lhasa t " + lzh).status, 0);
        EXPECT_EQ(Shell("7z t " + lzh).status, 0);
        Outcome ours = RunPack("--list " + exe);
        std::string expected;
        for (const std::string& name : c.listed) {
            expected += name + "\n";
            EXPECT_NE(ours.output.find(" " + name + "\n"), std::string::npos) << name << "\n" << ours.output;
        }
        EXPECT_EQ(bsdtar.status, 0);
        EXPECT_EQ(bsdtar.output, expected);
    }
}

TEST_F(PackCommand, UsesTheStubItCarriesUnlessToldOtherwise) {
    const std::string& dir = dir_;
    std::string error;
    ASSERT_TRUE(pe::WriteFile(dir + "/a.lzh", pe::Bytes{1, 2, 3}, &error));
    Outcome packed = RunPack("-o " + dir + "/out.exe --folder x --archive " + dir + "/a.lzh");
    pe::Bytes out;
    if (EMBEDDED_STUB_SIZE == 0) {  // a builder made before the windows build
        EXPECT_EQ(packed.status, 1);
        EXPECT_NE(packed.output.find("no stub embedded; pass --stub"), std::string::npos) << packed.output;
        EXPECT_NE(access((dir + "/out.exe").c_str(), F_OK), 0) << "no output on failure";
    } else {
        ASSERT_EQ(packed.status, 0) << packed.output;
        ASSERT_TRUE(pe::ReadFile(dir + "/out.exe", &out, &error)) << error;
        ASSERT_EQ(out.size(), EMBEDDED_STUB_SIZE + 3);
        pe::Image image;
        ASSERT_TRUE(pe::Parse(out, &image, &error)) << error;
        // The stub's, but for the block, the checksum and the manifest's
        // level field, which says asInvoker, folder mode's default.
        size_t level = 0;
        ASSERT_TRUE(FindManifestLevel(out, &level));
        std::string written;
        ASSERT_TRUE(ReadManifestLevel(out, &written));
        EXPECT_EQ(written, "asInvoker");
        for (size_t i = 0; i < EMBEDDED_STUB_SIZE; ++i) {
            if (i >= CONFIG_FILE_OFFSET && i < CONFIG_FILE_OFFSET + sizeof(InstallConfig)) continue;
            if (i >= image.checksumOffset() && i < image.checksumOffset() + 4) continue;
            if (i >= level && i < level + 21) continue;
            ASSERT_EQ(out[i], EMBEDDED_STUB[i]) << "offset " << i;
        }
    }
    // --stub wins over the embedded stub.
    packed = RunPack("-o " + dir + "/own.exe --folder x --stub " + dir + "/stub.exe --archive " + dir + "/a.lzh");
    ASSERT_EQ(packed.status, 0) << packed.output;
    ASSERT_TRUE(pe::ReadFile(dir + "/own.exe", &out, &error)) << error;
    EXPECT_EQ(out.size(), stub_.size() + 3);
    EXPECT_TRUE(std::equal(stub_.begin(), stub_.begin() + CONFIG_FILE_OFFSET, out.begin()));

    Outcome bad = RunPack("-o " + dir + "/bad.exe --folder x --stub " + dir + "/a.lzh --archive " + dir + "/a.lzh");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("--stub " + dir + "/a.lzh: not a PE image"), std::string::npos) << bad.output;
}

TEST_F(PackCommand, WarnsAboutABareProgramAndWritesItsFolder) {
    const std::string& dir = dir_;
    std::string error;
    ASSERT_TRUE(pe::WriteFile(dir + "/a.lzh", pe::Bytes{1, 2, 3}, &error));
    const std::string common = " --stub " + dir + "/stub.exe --archive " + dir + "/a.lzh";
    Outcome bare = RunPack("-o " + dir + "/bare.exe --run '\"setup.exe\" /q'" + common);
    ASSERT_EQ(bare.status, 0) << bare.output;
    EXPECT_NE(bare.output.find("warning"), std::string::npos) << bare.output;
    EXPECT_NE(RunPack("--inspect " + dir + "/bare.exe").output.find("command        \"\"%ExtractDir%\\setup.exe\" /q\""),
              std::string::npos);

    Outcome kept = RunPack("-o " + dir + "/kept.exe --run 'msiexec /i x.msi' --keep-bare-command" + common);
    ASSERT_EQ(kept.status, 0) << kept.output;
    EXPECT_EQ(kept.output.find("warning"), std::string::npos) << kept.output;
    EXPECT_NE(RunPack("--inspect " + dir + "/kept.exe").output.find("command        \"msiexec /i x.msi\""),
              std::string::npos);
}

TEST_F(PackCommand, ElevationWarningsAndStubsWithoutAManifest) {
    const std::string& dir = dir_;
    std::string error;
    ASSERT_TRUE(pe::WriteFile(dir + "/a.lzh", pe::Bytes{1, 2, 3}, &error));
    const std::string common = " --stub " + dir + "/stub.exe --archive " + dir + "/a.lzh";
    // Folder mode into a protected folder under asInvoker (its default): a warning.
    Outcome warned = RunPack("-o " + dir + "/pf.exe --folder '%ProgramFilesDir%\\Tool'" + common);
    ASSERT_EQ(warned.status, 0) << warned.output;
    EXPECT_NE(warned.output.find("warning: the destination \"%ProgramFilesDir%\\Tool\""), std::string::npos)
        << warned.output;
    Outcome quiet = RunPack("-o " + dir + "/d.exe --folder 'D:\\Tool'" + common);
    ASSERT_EQ(quiet.status, 0) << quiet.output;
    EXPECT_EQ(quiet.output.find("warning"), std::string::npos) << quiet.output;
    // This stub has no manifest: packed as it is without --elevation, shown
    // so by --inspect, and refused with it (no output left).
    EXPECT_NE(RunPack("--inspect " + dir + "/d.exe").output.find("elevation      none"), std::string::npos);
    Outcome refused = RunPack("-o " + dir + "/e.exe --folder '%windir%\\x' --elevation highestAvailable" + common);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output.find("warning"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("--stub " + dir + "/stub.exe: it has no manifest"), std::string::npos)
        << refused.output;
    EXPECT_NE(access((dir + "/e.exe").c_str(), F_OK), 0) << "no output on failure";
}

TEST(PackCommandLine, HelpVersionAndExitStatuses) {
    Outcome version = RunPack("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output.find(std::string("valkrin-pack ") + VALKRIN_VERSION + "\n"), 0u) << version.output;
    EXPECT_NE(version.output.find(EMBEDDED_STUB_SIZE == 0 ? "embedded stub: none"
                                                          : std::to_string(EMBEDDED_STUB_SIZE) + " bytes"),
              std::string::npos)
        << version.output;

    Outcome help = RunPack("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* topic : {"--run", "--folder", "--keep-bare-command", "--elevation", "--stub", "--method",
                              "--best", "--threads", "--list",
                              "--inspect", "--version", "Exit status: 0"}) {
        EXPECT_NE(help.output.find(topic), std::string::npos) << topic;
    }
    EXPECT_EQ(RunPack("").status, 2);
    EXPECT_EQ(RunPack("-o x.exe --run setup.exe --bogus").status, 2);
    EXPECT_EQ(RunPack("--inspect /nonexistent/x.exe").status, 1);
}

// A .ico file of one 32x32 bitmap image.
pe::Bytes SmallIcon() {
    pe::Bytes image(40 + 32 * 32 * 4 + 32 * 4, 0x5A);
    pe::Put32(image, 0, 40);
    pe::Bytes file(22, 0);
    pe::Put16(file, 2, 1);
    pe::Put16(file, 4, 1);
    file[6] = file[7] = 32;
    pe::Put16(file, 10, 1);
    pe::Put16(file, 12, 32);
    pe::Put32(file, 14, static_cast<uint32_t>(image.size()));
    pe::Put32(file, 18, 22);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

TEST_F(PackCommand, WritesTheIconAndVersionInformationOrNothing) {
    if (EMBEDDED_STUB_SIZE == 0) GTEST_SKIP() << "no stub embedded";
    const std::string& dir = dir_;
    std::string error;
    ASSERT_TRUE(pe::WriteFile(dir + "/a.lzh", pe::Bytes{1, 2, 3}, &error));
    ASSERT_TRUE(pe::WriteFile(dir + "/good.ico", SmallIcon(), &error));
    ASSERT_TRUE(pe::WriteFile(dir + "/bad.ico", pe::Bytes(100, 1), &error));
    pe::Bytes signedStub = stub_;
    pe::Image image;
    ASSERT_TRUE(pe::Parse(signedStub, &image, &error));
    pe::Put32(signedStub, image.peOffset + pe::OPT_DIRECTORIES + 8 * pe::DIR_SECURITY, signedStub.size());
    pe::Put32(signedStub, image.peOffset + pe::OPT_DIRECTORIES + 8 * pe::DIR_SECURITY + 4, 16);
    signedStub.resize(signedStub.size() + 16, 0);
    ASSERT_TRUE(pe::WriteFile(dir + "/signed.exe", signedStub, &error));

    const std::string common = " --folder x --archive " + dir + "/a.lzh";
    Outcome packed = RunPack("-o " + dir + "/out.exe --icon " + dir + "/good.ico --product-name 'テスト製品'" +
                             " --file-version 1.2.3.4 --company '株式会社テスト'" + common);
    ASSERT_EQ(packed.status, 0) << packed.output;
    Outcome shown = RunPack("--inspect " + dir + "/out.exe");
    for (const char* line : {"icon           32x32/32\n", "fileVersion    1.2.3.4\n", "productVersion 1.2.3.4\n",
                             "  ProductName: \"テスト製品\"\n", "  CompanyName: \"株式会社テスト\"\n",
                             "  FileDescription: \"Valkrin  Ver 2.1.0.0\"\n"}) {
        EXPECT_NE(shown.output.find(line), std::string::npos) << line << shown.output;
    }

    struct Case {
        std::string arguments;
        const char* message;
    } refused[] = {
        {"--icon " + dir + "/bad.ico", "bad.ico: not a usable .ico file: no icon header"},
        {"--icon " + dir + "/none.ico", "none.ico"},
        {"--copyright 'café'", "--copyright: \"café\" has characters without a Shift-JIS form"},
        {"--title 'ü' --product-name x", "--title"},
        {"--stub " + dir + "/signed.exe", "it is signed"},
        {"--stub " + dir + "/stub.exe --icon " + dir + "/good.ico", "stub.exe: the image has no resources"},
    };
    for (const Case& c : refused) {
        Outcome outcome = RunPack("-o " + dir + "/bad.exe " + c.arguments + common);
        EXPECT_EQ(outcome.status, 1) << c.arguments << "\n" << outcome.output;
        EXPECT_NE(outcome.output.find(c.message), std::string::npos) << c.arguments << "\n" << outcome.output;
        EXPECT_NE(access((dir + "/bad.exe").c_str(), F_OK), 0) << "no output on failure: " << c.arguments;
    }
    for (const char* usage : {"--file-version 1.2.3", "--file-version 1.2.3.99999", "--company ''",
                              "--company a --company b"}) {
        EXPECT_EQ(RunPack("-o " + dir + "/bad.exe " + usage + common).status, 2) << usage;
    }
}

TEST_F(PackCommand, SourceDateEpochGivesTheSameBytesAfterTouching) {
    const std::string& dir = dir_;
    ASSERT_EQ(system(("mkdir -p " + dir + "/tree/b && seq 1 5000 > " + dir + "/tree/b/n.txt && printf x > " + dir +
                      "/tree/a.txt").c_str()),
              0);
    const std::string pack = " --folder x --stub " + dir + "/stub.exe " + dir + "/tree";
    ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", "1600000000", 1), 0);
    Outcome first = RunPack("-o " + dir + "/first.exe" + pack);
    ASSERT_EQ(system(("sleep 0.01 && touch " + dir + "/tree " + dir + "/tree/b " + dir + "/tree/*.txt " + dir +
                      "/tree/b/*.txt").c_str()),
              0);
    Outcome second = RunPack("-o " + dir + "/second.exe" + pack);
    ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", "16e8", 1), 0);
    Outcome bad = RunPack("-o " + dir + "/bad.exe" + pack);
    ASSERT_EQ(unsetenv("SOURCE_DATE_EPOCH"), 0);
    Outcome unclamped = RunPack("-o " + dir + "/third.exe" + pack);
    ASSERT_EQ(first.status, 0) << first.output;
    ASSERT_EQ(second.status, 0) << second.output;
    ASSERT_EQ(unclamped.status, 0) << unclamped.output;
    pe::Bytes a, b, c;
    std::string error;
    ASSERT_TRUE(pe::ReadFile(dir + "/first.exe", &a, &error));
    ASSERT_TRUE(pe::ReadFile(dir + "/second.exe", &b, &error));
    ASSERT_TRUE(pe::ReadFile(dir + "/third.exe", &c, &error));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);  // the times of the files themselves are later
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("SOURCE_DATE_EPOCH: \"16e8\""), std::string::npos) << bad.output;
}

TEST_F(PackCommand, DotPacksTheCurrentFoldersContentsAtTheTop) {
    const std::string& dir = dir_;
    ASSERT_EQ(system(("mkdir -p " + dir + "/here/sub && seq 1 3000 > " + dir + "/here/sub/n.txt && printf x > " + dir +
                      "/here/b.txt && printf y > " + dir + "/here/a.txt").c_str()),
              0);
    const std::string pack = " --folder x --stub " + dir + "/stub.exe ";
    ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", "1600000000", 1), 0);
    std::string inHere = "cd " + dir + "/here && env -u VALKRIN_STUB " + std::string(VALKRIN_PACK);
    int dotStatus = system((inHere + " -o ../dot.exe" + pack + ". > ../dot.log 2>&1").c_str());
    int namedStatus = system((inHere + " -o ../named.exe" + pack + "a.txt b.txt sub > ../named.log 2>&1").c_str());
    int slashStatus = system((inHere + " -o ../slash.exe" + pack + "./ >/dev/null 2>&1").c_str());
    ASSERT_EQ(unsetenv("SOURCE_DATE_EPOCH"), 0);
    ASSERT_EQ(dotStatus, 0);
    ASSERT_EQ(namedStatus, 0);
    ASSERT_EQ(slashStatus, 0);
    pe::Bytes a, b, c;
    std::string error;
    ASSERT_TRUE(pe::ReadFile(dir + "/dot.exe", &a, &error)) << error;
    ASSERT_TRUE(pe::ReadFile(dir + "/named.exe", &b, &error)) << error;
    ASSERT_TRUE(pe::ReadFile(dir + "/slash.exe", &c, &error)) << error;
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    Outcome listed = RunPack("--list " + dir + "/dot.exe");
    EXPECT_NE(listed.output.find("sub/n.txt"), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find("here"), std::string::npos) << listed.output;

    for (const char* nameless : {"/", "..", "''"}) {
        Outcome refused = RunPack("-o " + dir + "/bad.exe" + pack + nameless);
        EXPECT_NE(refused.status, 0) << nameless << ": " << refused.output;
        EXPECT_NE(access((dir + "/bad.exe").c_str(), F_OK), 0) << nameless;
    }
}

}  // namespace
