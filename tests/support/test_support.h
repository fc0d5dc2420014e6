// Helpers shared by the host tests: a fresh run state, a scratch folder, and
// packed files written byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

#include "platform/posix/host_controls.h"
#include "startup/install_config.h"

namespace support {

// A scratch folder, removed with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Texts in the product's form (common/text.h). With UTF-16 texts (the NT
// family, the host's default) a UTF-8 text is converted; with byte texts
// each byte of the ANSI code page becomes a unit.
std::u16string ProductText(const std::string& utf8);
// Each byte one unit, as Windows 95 to Me hold texts.
std::u16string ByteUnits(const std::string& bytes);
// A product text in UTF-8 (UTF-16 texts) or as its bytes (byte texts).
std::string Utf8Of(const WCHAR* text);
// A product text as Shift-JIS bytes: UTF-16 converted, bytes as they are.
std::string ShiftJisOf(const WCHAR* text);
// Copies ProductText(utf8) into a field of `capacity` units.
void SetText(WCHAR* field, size_t capacity, const std::string& utf8);

// A block with every permission bit, temporary mode, the given command.
InstallConfig MakeConfig(const std::string& command, uint32_t flags = CFG_OS_ALL);

// Writes a packed executable: 512 bytes of header, the block, padding up to
// `config.archiveOffset` (1024 when it is 0), then `archive`.
void WritePacked(const std::string& path, InstallConfig config, const std::string& archive);

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// Clears the process-wide state of a run and the host layer's controls.
void ResetRunState();

// Every test of a whole run: fresh state, a scratch folder holding the
// packed file "setup.exe" that stands for our own executable.
class RunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Runs WinMain with the given command line (the part behind the name).
    int Run(const std::string& commandLine = "");
    std::string packedPath() const { return folder_ / "setup.exe"; }

    ScratchFolder folder_;
};

// A whole run that extracts: beside the packed file, "dest" for folder mode
// (not created) and "temp", created and given to the host layer as the
// temporary folder.
class ExtractingRunTest : public RunTest {
protected:
    void SetUp() override;

    std::string dest_;
    std::string temp_;
};

}  // namespace support
