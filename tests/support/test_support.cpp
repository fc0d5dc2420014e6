#include "support/test_support.h"

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/archive_entry.h"
#include "common/run_state.h"
#include "decode/decoder_state.h"
#include "common/system_calls.h"
#include "extract/extraction.h"
#include "startup/startup.h"

namespace support {

ScratchFolder::ScratchFolder() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vkXXXXXX";
    char* made = mkdtemp(&pattern[0]);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Read-only entries (our own tests make them) must not stop the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

InstallConfig MakeConfig(const std::string& command, uint32_t flags) {
    InstallConfig config;
    memset(&config, 0, sizeof config);
    config.archiveOffset = 1024;
    strncpy(config.title, "Sample", sizeof config.title - 1);
    strncpy(config.command, command.c_str(), sizeof config.command - 1);
    config.flags = flags;
    return config;
}

void WritePacked(const std::string& path, InstallConfig config, const std::string& archive) {
    if (config.archiveOffset == 0) config.archiveOffset = 1024;
    std::string bytes(config.archiveOffset, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    memcpy(&bytes[CONFIG_FILE_OFFSET], &config, sizeof config);
    WriteWholeFile(path, bytes + archive);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
}

void ResetRunState() {
    memset(&g_run, 0, sizeof g_run);
    memset(&g_config, 0, sizeof g_config);
    memset(g_textBuffer, 0, sizeof g_textBuffer);
    memset(&g_entry, 0, sizeof g_entry);
    memset(&g_decoder, 0, sizeof g_decoder);
    host::Reset();
    ChooseSystemCalls();  // as start-up does, for tests that call the product directly
    g_run.instance = host::ModuleHandle();
}

std::u16string ByteUnits(const std::string& bytes) {
    std::u16string units;
    for (unsigned char c : bytes) units += static_cast<char16_t>(c);
    return units;
}

std::u16string ProductText(const std::string& utf8) {
    return TextsAreUtf16() ? host::WideFromUtf8(utf8) : ByteUnits(host::AnsiFromUtf8(utf8));
}

std::string Utf8Of(const WCHAR* text) {
    if (TextsAreUtf16()) return host::Utf8FromWide(text);
    std::string bytes;
    for (; *text != 0; ++text) bytes += static_cast<char>(*text);
    return bytes;
}

std::string ShiftJisOf(const WCHAR* text) { return TextsAreUtf16() ? host::ToAnsi(Utf8Of(text)) : Utf8Of(text); }

void SetText(WCHAR* field, size_t capacity, const std::string& utf8) {
    std::u16string text = ProductText(utf8);
    size_t length = std::min(text.size(), capacity - 1);
    std::copy(text.begin(), text.begin() + static_cast<long>(length), field);
    field[length] = 0;
}

void RunTest::SetUp() {
    ResetRunState();
    host::SetModulePath(packedPath());
}

void ExtractingRunTest::SetUp() {
    RunTest::SetUp();
    dest_ = folder_ / "dest";
    temp_ = folder_ / "temp";
    std::filesystem::create_directories(temp_);
    host::SetTempPath(temp_ + "/");
}

void RunTest::TearDown() { g_extractionRun = RunExtraction; }

int RunTest::Run(const std::string& commandLine) {
    host::SetCommandLine(commandLine);
    std::string line = host::AnsiFromUtf8(commandLine);
    return WinMain(host::ModuleHandle(), nullptr, &line[0], SW_SHOWDEFAULT);
}

}  // namespace support
