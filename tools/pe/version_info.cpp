#include "pe/version_info.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace pe {

namespace {

constexpr uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
constexpr uint32_t FIXED_STRUCTURE_VERSION = 0x00010000;
constexpr uint32_t FIXED_SIZE = 52;
constexpr uint32_t FILE_FLAGS_MASK = 0x3F;  // VS_FFI_FILEFLAGSMASK
constexpr uint32_t FILE_OS_WINDOWS32 = 4;   // VOS__WINDOWS32
constexpr uint32_t FILE_TYPE_APP = 1;       // VFT_APP
constexpr uint16_t BINARY = 0;
constexpr uint16_t TEXT = 1;

// UTF-8 to UTF-16; false on a malformed sequence.
bool ToUtf16(const std::string& utf8, std::u16string* out) {
    out->clear();
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + extra >= utf8.size()) return false;
        uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = utf8[i + k];
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        static const uint32_t LOWEST[] = {0, 0x80, 0x800, 0x10000};
        if (code < LOWEST[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
        if (code >= 0x10000) {
            out->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return true;
}

// UTF-16 to UTF-8, a lone surrogate as U+FFFD.
std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

void PadTo4(Bytes* out) { out->resize((out->size() + 3) & ~size_t(3), 0); }

void AppendUtf16(Bytes* out, const std::u16string& text) {
    for (char16_t unit : text) {
        out->push_back(static_cast<uint8_t>(unit));
        out->push_back(static_cast<uint8_t>(unit >> 8));
    }
    out->push_back(0);
    out->push_back(0);
}

// One node of the version tree: length, value length (in code units for
// text, bytes for binary), type, key, value, children, each 32-bit aligned.
Bytes Node(const std::u16string& key, uint16_t type, const Bytes& value, uint16_t valueLength,
           const std::vector<Bytes>& children) {
    Bytes out(6, 0);
    AppendUtf16(&out, key);
    PadTo4(&out);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        PadTo4(&out);
        out.insert(out.end(), child.begin(), child.end());
    }
    Put16(out, 0, static_cast<uint16_t>(out.size()));
    Put16(out, 2, valueLength);
    Put16(out, 4, type);
    return out;
}

Bytes FixedPart(const VersionNumber& file, const VersionNumber& product) {
    Bytes fixed(FIXED_SIZE, 0);
    auto high = [](const VersionNumber& v) { return uint32_t(v.parts[0]) << 16 | v.parts[1]; };
    auto low = [](const VersionNumber& v) { return uint32_t(v.parts[2]) << 16 | v.parts[3]; };
    Put32(fixed, 0, FIXED_SIGNATURE);
    Put32(fixed, 4, FIXED_STRUCTURE_VERSION);
    Put32(fixed, 8, high(file));
    Put32(fixed, 12, low(file));
    Put32(fixed, 16, high(product));
    Put32(fixed, 20, low(product));
    Put32(fixed, 24, FILE_FLAGS_MASK);
    Put32(fixed, 32, FILE_OS_WINDOWS32);
    Put32(fixed, 36, FILE_TYPE_APP);
    return fixed;  // flags, subtype and date stay 0
}

bool StringNode(const char* key, const std::string& value, std::vector<Bytes>* table, std::string* error) {
    if (value.empty()) return true;
    std::u16string text;
    if (!ToUtf16(value, &text)) {
        *error = std::string(key) + ": not valid UTF-8";
        return false;
    }
    Bytes bytes;
    AppendUtf16(&bytes, text);
    table->push_back(Node(std::u16string(key, key + strlen(key)), TEXT, bytes, static_cast<uint16_t>(text.size() + 1), {}));
    return true;
}

std::u16string Ascii16(const char* text) { return std::u16string(text, text + strlen(text)); }

std::string TranslationKey() {
    char key[9];
    snprintf(key, sizeof key, "%04X%04X", VERSION_LANGUAGE, VERSION_CODE_PAGE);
    return key;
}

// Reading: one node at `at` within `end`.
struct ReadNode {
    size_t end;           // behind the node
    std::u16string key;
    size_t value;         // offset of the value
    size_t valueBytes;
    size_t children;      // offset of the first child
};

bool ParseNode(const Bytes& data, size_t at, size_t end, ReadNode* node) {
    if (at + 6 > end) return false;
    size_t length = Get16(data, at);
    if (length < 6 || at + length > end) return false;
    node->end = at + length;
    node->key.clear();
    size_t p = at + 6;
    for (; p + 2 <= node->end && Get16(data, p) != 0; p += 2) node->key.push_back(static_cast<char16_t>(Get16(data, p)));
    p = (p + 2 + 3) & ~size_t(3);
    node->value = p;
    node->valueBytes = Get16(data, at + 2) * (Get16(data, at + 4) == TEXT ? 2u : 1u);
    if (p > node->end || node->valueBytes > node->end - p) return false;
    node->children = (p + node->valueBytes + 3) & ~size_t(3);
    return true;
}

// Calls `visit` for each child of `parent`; false when one is malformed.
template <class Visit>
bool EachChild(const Bytes& data, const ReadNode& parent, Visit visit) {
    for (size_t at = parent.children; at < parent.end; at = (at + 3) & ~size_t(3)) {
        ReadNode child;
        if (!ParseNode(data, at, parent.end, &child)) return false;
        if (!visit(child)) return false;
        at = child.end;
    }
    return true;
}

std::u16string TextValue(const Bytes& data, const ReadNode& node) {
    std::u16string text;
    for (size_t p = node.value; p + 2 <= node.value + node.valueBytes && Get16(data, p) != 0; p += 2) {
        text.push_back(static_cast<char16_t>(Get16(data, p)));
    }
    return text;
}

VersionNumber NumberAt(const Bytes& data, size_t at) {
    VersionNumber v;
    v.parts[0] = Get16(data, at + 2);
    v.parts[1] = Get16(data, at);
    v.parts[2] = Get16(data, at + 6);
    v.parts[3] = Get16(data, at + 4);
    return v;
}

bool ReadChildren(const Bytes& data, const ReadNode& root, VersionSummary* summary) {
    return EachChild(data, root, [&](const ReadNode& block) {
        if (block.key == Ascii16("StringFileInfo")) {
            return EachChild(data, block, [&](const ReadNode& table) {
                return EachChild(data, table, [&](const ReadNode& text) {
                    summary->strings.emplace_back(ToUtf8(text.key), ToUtf8(TextValue(data, text)));
                    return true;
                });
            });
        }
        if (block.key != Ascii16("VarFileInfo")) return true;
        return EachChild(data, block, [&](const ReadNode& var) {
            for (size_t p = var.value; p + 4 <= var.value + var.valueBytes; p += 4) {
                summary->translations.push_back(Get32(data, p));
            }
            return true;
        });
    });
}

}  // namespace

bool ParseVersionNumber(const std::string& text, bool allowShort, VersionNumber* number) {
    *number = VersionNumber();
    size_t start = 0;
    int count = 0;
    for (; count < 4; ++count) {
        size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return false;
        unsigned long value = strtoul(part.c_str(), nullptr, 10);
        if (value > 0xFFFF) return false;
        number->parts[count] = static_cast<uint16_t>(value);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (count == 4) return false;  // a fifth part
    return count == 3 || allowShort;
}

bool BuildVersionInfo(const VersionFields& fields, Bytes* data, std::string* error) {
    VersionNumber file, product;
    if (!fields.fileVersion.empty() && !ParseVersionNumber(fields.fileVersion, false, &file)) {
        *error = "--file-version: \"" + fields.fileVersion + "\" is not four numbers a.b.c.d, each 0 to 65535";
        return false;
    }
    if (fields.productVersion.empty() || !ParseVersionNumber(fields.productVersion, true, &product)) product = file;
    std::vector<Bytes> table;
    if (!StringNode("CompanyName", fields.companyName, &table, error) ||
        !StringNode("FileDescription", fields.fileDescription, &table, error) ||
        !StringNode("FileVersion", fields.fileVersion, &table, error) ||
        !StringNode("LegalCopyright", fields.legalCopyright, &table, error) ||
        !StringNode("ProductName", fields.productName, &table, error) ||
        !StringNode("ProductVersion", fields.productVersion, &table, error)) {
        return false;
    }
    Bytes translation(4, 0);
    Put16(translation, 0, VERSION_LANGUAGE);
    Put16(translation, 2, VERSION_CODE_PAGE);
    Bytes strings = Node(Ascii16("StringFileInfo"), TEXT, {}, 0,
                         {Node(Ascii16(TranslationKey().c_str()), TEXT, {}, 0, table)});
    Bytes vars = Node(Ascii16("VarFileInfo"), TEXT, {}, 0, {Node(Ascii16("Translation"), BINARY, translation, 4, {})});
    *data = Node(Ascii16("VS_VERSION_INFO"), BINARY, FixedPart(file, product), FIXED_SIZE, {strings, vars});
    if (data->size() > 0xFFFF) {  // every length in the tree is 16 bits
        *error = "the version texts take " + std::to_string(data->size()) + " bytes; at most 65535 fit";
        return false;
    }
    return true;
}

bool ReadVersionInfo(const Bytes& data, VersionSummary* summary, std::string* error) {
    *summary = VersionSummary();
    ReadNode root;
    if (!ParseNode(data, 0, data.size(), &root) || root.key != Ascii16("VS_VERSION_INFO") ||
        root.valueBytes < FIXED_SIZE || Get32(data, root.value) != FIXED_SIGNATURE) {
        *error = "no VS_VERSIONINFO with its fixed part";
        return false;
    }
    summary->fileVersion = NumberAt(data, root.value + 8);
    summary->productVersion = NumberAt(data, root.value + 16);
    if (!ReadChildren(data, root, summary)) {
        *error = "a block of the version information is malformed";
        return false;
    }
    return true;
}

void ReplaceVersionInfo(ResourceSet* set, const Bytes& data) {
    set->erase(std::remove_if(set->begin(), set->end(),
                              [](const Resource& r) { return !r.type.named() && r.type.id == RT_VERSION; }),
               set->end());
    Resource version;
    version.type = ResourceKey::Number(RT_VERSION);
    version.name = ResourceKey::Number(1);
    version.language = VERSION_LANGUAGE;
    version.data = data;
    set->push_back(std::move(version));
    SortResources(set);
}

std::string FindString(const ResourceSet& set, uint16_t id) {
    for (const Resource& r : set) {
        if (r.type.named() || r.type.id != RT_STRING || r.name.named() || r.name.id != id / 16 + 1) continue;
        // A block of 16 counted UTF-16 strings.
        size_t at = 0;
        for (int index = 0; at + 2 <= r.data.size(); ++index) {
            size_t length = Get16(r.data, at);
            if (at + 2 + 2 * length > r.data.size()) break;
            if (index == id % 16) {
                std::u16string text;
                for (size_t k = 0; k < length; ++k) text.push_back(static_cast<char16_t>(Get16(r.data, at + 2 + 2 * k)));
                return ToUtf8(text);
            }
            at += 2 + 2 * length;
        }
    }
    return "";
}

}  // namespace pe
