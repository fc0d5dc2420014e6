// Fuzz target: the output-name rules. The first byte picks the name regime
// (bit 0: long names) and the kind of extraction folder (bits 1-2: drive,
// UNC, relative, leading backslash); it and the second byte give the folder's
// length (up to the 271 bytes of a temporary-mode folder). The rest is an
// entry name as the header reader delivers it. The folder is made of 8.3-safe
// components, so it survives both regimes unchanged and the entry's part of
// the output path can be told apart. Names are texts of bytes, as Windows
// 95 to Me hold them, so that every byte rule is seen.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_entry.h"
#include "common/run_state.h"
#include "common/text.h"
#include "extract/output_paths.h"
#include "fuzz/fuzz_support.h"
#include "platform/posix/host_controls.h"

namespace {

using fuzzing::ClimbsOut;

const char kLongSet[] = "\"*/:<>?\\|";
const char kShortSet[] = "\"*+,./:;<=>?[\\]|\xff";

bool InSet(const char* set, char c) { return c != 0 && strchr(set, c) != nullptr; }

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// A text of exactly `size` units on the heap, one byte a unit, so that the
// address sanitizer sees every write past it.
std::unique_ptr<WCHAR[]> Exact(const std::string& text, size_t size) {
    std::unique_ptr<WCHAR[]> buffer(new WCHAR[size]);
    for (size_t i = 0; i < size; ++i) buffer[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
    return buffer;
}

std::string Bytes(const WCHAR* units) {
    std::string bytes;
    for (; *units != 0; ++units) bytes += static_cast<char>(*units);
    return bytes;
}

std::u16string Units(const std::string& bytes) {
    std::u16string units;
    for (unsigned char c : bytes) units += c;
    return units;
}

// The root, then 8.3-safe components up to `extra` bytes; never empty.
std::string MakeFolder(int kind, size_t extra, std::string* root) {
    static const char* const kRoots[] = {"C:\\", "\\\\srv\\share\\", "", "\\"};
    *root = kind <= 1 ? kRoots[kind] : "";
    std::string body;
    while (body.size() < extra) body += "ABCDEFGH\\";
    body.resize(extra);
    std::string folder = kRoots[kind] + body;
    return folder.empty() ? "F" : folder;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '/') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// Walks a component by characters; false when a lead byte lacks its trail.
bool WholeCharacters(const std::string& component) {
    for (size_t i = 0; i < component.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(component[i]))) {
            if (i + 1 >= component.size()) return false;
            ++i;
        }
    }
    return true;
}

// Bytes outside double-byte characters that the regime replaces.
bool HoldsReplaced(const std::string& component, bool longNames) {
    for (size_t i = 0; i < component.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(component[i]);
        if (IsDBCSLeadByte(c)) {
            ++i;
            continue;
        }
        if (longNames ? InSet(kLongSet, c) : (InSet(kShortSet, c) && c != '.') || c <= 0x20) return true;
    }
    return false;
}

void CheckComponent(const std::string& in, const std::string& out, bool longNames) {
    Check(WholeCharacters(out));
    Check(!HoldsReplaced(out, longNames));
    if (longNames) {
        Check(out.size() <= 255);
        // The component cut to 255 bytes at most one byte short of it (a
        // character left whole, or a lead byte without its trail), each byte
        // kept or replaced by `_`.
        Check(out.size() <= in.size());
        Check(out.size() + 1 >= std::min<size_t>(in.size(), 255));
        for (size_t i = 0; i < out.size(); ++i) {
            Check(out[i] == in[i] || (out[i] == '_' && InSet(kLongSet, in[i])));
        }
        return;
    }
    // 8.3: one dot at most, base of 8 and extension of 3 bytes. (A byte
    // behind a lead byte is part of its character, even a dot.)
    std::vector<size_t> dots;
    for (size_t i = 0; i < out.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(out[i]))) {
            ++i;
        } else if (out[i] == '.') {
            dots.push_back(i);
        }
    }
    Check(dots.size() <= 1);
    if (dots.empty()) {
        Check(out.size() <= 8);
    } else {
        Check(dots[0] <= 8 && out.size() - dots[0] - 1 <= 3);
        Check(in.find('.') != std::string::npos);
    }
}

void CheckOutputPath(const std::string& folder, const std::string& root, const char* name,
                     bool longNames) {
    std::unique_ptr<WCHAR[]> dest(new WCHAR[OUTPUT_PATH_SIZE]);
    for (size_t i = 0; i < OUTPUT_PATH_SIZE; ++i) dest[i] = 0x5A;
    host::Reset();
    host::SimulateFolders(true);
    ForgetCreatedFolders();
    bool built = BuildOutputPath(dest.get(), OUTPUT_PATH_SIZE, Units(folder).c_str(), Units(name).c_str(),
                                 Units(root).c_str(), longNames);

    bool endsInBackslash = folder.back() == '\\';
    size_t joined = folder.size() + (endsInBackslash ? 0 : 1) + strlen(name);
    Check(built == (joined < OUTPUT_PATH_SIZE));
    Check(std::find(dest.get(), dest.get() + OUTPUT_PATH_SIZE, 0) != dest.get() + OUTPUT_PATH_SIZE);
    if (!built) return;

    std::string out = Bytes(dest.get());
    Check(out.size() <= joined);
    // The extraction folder comes first, its separators behind the root as `/`.
    std::string prefix = folder;
    for (size_t i = root.size(); i < prefix.size(); ++i) {
        if (prefix[i] == '\\') prefix[i] = '/';
    }
    if (!endsInBackslash) prefix += '/';
    Check(out.compare(0, prefix.size(), prefix) == 0);

    std::vector<std::string> in = Split(name);
    std::vector<std::string> fitted = Split(out.substr(prefix.size()));
    Check(in.size() == fitted.size());
    bool confined = IsNameConfined(Units(name).c_str());
    for (size_t i = 0; i < in.size(); ++i) {
        CheckComponent(in[i], fitted[i], longNames);
        // A name the rules accept never climbs out of the extraction folder.
        if (confined) Check(!ClimbsOut(fitted[i]));
    }

    // Every parent folder is tried: the path up to each `/`.
    const std::vector<std::string>& tried = host::FoldersTried();
    size_t next = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] != '/') continue;
        Check(next < tried.size() && tried[next].size() == i);
        ++next;
    }
    Check(next == tried.size());
}

// The building blocks on buffers of exactly the text's size.
void CheckPieces(const std::string& text, uint8_t control) {
    bool longNames = (control & 1) != 0;
    std::string piece = text.substr(0, OUTPUT_PATH_SIZE - 1);
    piece = piece.substr(0, strlen(piece.c_str()));

    auto component = Exact(piece, piece.size() + 1);
    FitComponent(component.get(), longNames);
    Check(TextLength(component.get()) <= piece.size());

    auto path = Exact(piece, piece.size() + 1);
    FitPathComponents(path.get(), longNames);
    Check(TextLength(path.get()) <= piece.size());

    uint32_t limit = control;
    auto sanitized = Exact(piece, piece.size() + 1);
    WCHAR* end = SanitizeName(sanitized.get(), limit, longNames);
    Check(*end == 0 && static_cast<uint32_t>(end - sanitized.get()) <= limit);
    Check(WholeCharacters(Bytes(sanitized.get())));

    uint32_t capacity = control % 64 + 1;
    auto root = Exact("", capacity);
    VolumeRoot(root.get(), capacity, Units(piece).c_str());
    Check(std::find(root.get(), root.get() + capacity, 0) != root.get() + capacity);
    Check(piece.compare(0, TextLength(root.get()), Bytes(root.get())) == 0);

    auto joined = Exact("", capacity);
    bool fits = JoinPath(joined.get(), capacity, u"C:\\A", Units(piece).c_str());
    Check(std::find(joined.get(), joined.get() + capacity, 0) != joined.get() + capacity);
    size_t nameLength = piece.size() - (piece[0] == '\\' ? 1 : 0);
    Check(fits == (5 + nameLength < capacity));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    bool longNames = (data[0] & 1) != 0;
    int kind = (data[0] >> 1) & 3;
    size_t rootLength = kind == 0 ? 3 : kind == 1 ? 12 : kind == 3 ? 1 : 0;
    size_t extra = (data[1] | (data[0] & 0x08) << 5) % (EXTRACTION_FOLDER_SIZE - rootLength);
    std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);

    SetTextsUtf16(false);
    CheckPieces(rest, data[1]);

    char name[ENTRY_NAME_SIZE];
    size_t nameLength = std::min<size_t>(strnlen(rest.c_str(), rest.size()), ENTRY_NAME_SIZE - 1);
    memcpy(name, rest.data(), nameLength);
    name[nameLength] = 0;
    NormalizeSeparators(name);

    std::string root;
    std::string folder = MakeFolder(kind, extra, &root);
    WCHAR volumeRoot[EXTRACTION_FOLDER_SIZE];
    VolumeRoot(volumeRoot, EXTRACTION_FOLDER_SIZE, Units(folder).c_str());
    Check(root == Bytes(volumeRoot));
    CheckOutputPath(folder, root, name, longNames);
    return 0;
}
