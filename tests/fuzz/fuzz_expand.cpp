// Fuzz target: path-variable expansion with a bounded output. The first two
// bytes give the output's capacity (0 to 1099 bytes), bit 0 of the third
// whether an extraction folder is given; the rest is the text (at most 259
// bytes, as every caller holds it), and behind its first NUL byte the
// extraction folder. The system folders and registry
// values hold double-byte characters, one of them exactly 259 bytes long.
// Every cut result must be the start of the whole expansion, ending between
// two characters of it, and as long as the capacity allows.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/system_calls.h"
#include "install/path_variables.h"
#include "platform/posix/host_controls.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// "表示" repeated: double-byte characters whose trail bytes are 0x5C and 0xA6.
std::string DoubleBytes(size_t bytes) {
    std::string text;
    while (text.size() + 2 <= bytes) text += text.size() % 4 == 0 ? "\x95\x5c" : "\x8e\xa6";
    return text;
}

// Windows 98 in code page 932: texts of bytes, double-byte characters in
// the system's values (which the host keeps in UTF-8).
void SetUpMachine() {
    host::Reset();
    host::SetWindows("win98");
    ChooseSystemCalls();
    auto utf8 = [](const std::string& bytes) { return host::ToUtf8(bytes); };
    host::SetSystemFolders(utf8("C:\\" + DoubleBytes(6) + "\\SYSTEM32"), utf8("C:\\W" + DoubleBytes(8)));
    host::SetTempPath(utf8("C:\\TEMP\\" + DoubleBytes(4) + "\\"));
    const std::string current = "Software\\Microsoft\\Windows\\CurrentVersion";
    // 259 bytes: the longest value taken.
    host::SetRegistryValue(HKEY_LOCAL_MACHINE, current, "ProgramFilesDir", utf8("D:" + DoubleBytes(256) + "x"));
    host::SetRegistryValue(HKEY_LOCAL_MACHINE, current, "CommonFilesDir", utf8("E:\\c" + DoubleBytes(60)));
    // Too long: the default stays.
    host::SetRegistryValue(HKEY_CURRENT_USER, current + "\\Explorer\\Shell Folders", "Personal",
                           utf8(DoubleBytes(300)));
}

std::u16string Units(const std::string& bytes) {
    std::u16string units;
    for (unsigned char c : bytes) units += c;
    return units;
}

std::string Bytes(const WCHAR* units) {
    std::string bytes;
    for (; *units != 0; ++units) bytes += static_cast<char>(*units);
    return bytes;
}

// Offsets at which a character of `text` starts, and its end.
std::vector<bool> CharacterStarts(const std::string& text) {
    std::vector<bool> starts(text.size() + 1, false);
    for (const char* p = text.c_str();; p = CharNextA(p)) {
        starts[p - text.c_str()] = true;
        if (*p == 0) break;
    }
    return starts;
}

// The folder as a caller holds it: at most 259 bytes, no lead byte left
// without its trail.
std::string TakeFolder(const std::string& bytes) {
    std::string folder = bytes.substr(0, strnlen(bytes.c_str(), bytes.size())).substr(0, 259);
    if (folder.empty()) return folder;
    size_t last = folder.size() - 1;
    if (CharacterStarts(folder)[last] && IsDBCSLeadByte(static_cast<BYTE>(folder[last]))) folder.pop_back();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool machine = (SetUpMachine(), true);
    (void)machine;
    if (size < 3) return 0;
    uint32_t capacity = (data[0] | data[1] << 8) % 1100;
    std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    size_t textLength = strnlen(rest.c_str(), rest.size());
    std::string text = rest.substr(0, std::min<size_t>(textLength, 259));
    std::string folder = textLength < rest.size() ? TakeFolder(rest.substr(textLength + 1)) : "";
    std::u16string folderUnits = Units(folder), textUnits = Units(text);
    const WCHAR* extractionFolder = (data[2] & 1) != 0 ? folderUnits.c_str() : nullptr;

    // The whole expansion: no value is longer than 259 bytes, no name shorter than 6.
    static WCHAR whole[259 * 44 + 1];
    const uint32_t wholeSize = sizeof whole / sizeof whole[0];
    ExpandPathVariables(textUnits.c_str(), whole, wholeSize, extractionFolder);
    std::string full = Bytes(whole);
    Check(full.size() + 1 < wholeSize);

    std::unique_ptr<WCHAR[]> out(new WCHAR[capacity]);
    for (uint32_t i = 0; i < capacity; ++i) out[i] = 0xBE;
    ExpandPathVariables(textUnits.c_str(), out.get(), capacity, extractionFolder);
    if (capacity == 0) return 0;
    Check(std::find(out.get(), out.get() + capacity, 0) != out.get() + capacity);
    std::string got = Bytes(out.get());
    if (full.size() < capacity) {
        Check(got == full);
        return 0;
    }
    // Cut: the start of the whole result, between two of its characters, at
    // most one byte short of the capacity's last usable byte.
    Check(full.compare(0, got.size(), got) == 0);
    Check(CharacterStarts(full)[got.size()]);
    Check(got.size() + 2 >= capacity);
    return 0;
}
