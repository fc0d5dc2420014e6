#include "lzh/header.h"

#include <stdio.h>

#include <vector>

#include "files/host_fs.h"
#include "format/lzh_format.h"

namespace lzh {

namespace {

using namespace lzh_format;

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put64(std::string& out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

// UTF-16LE bytes of `units`.
std::string Utf16Le(const std::u16string& units) {
    std::string out;
    for (char16_t unit : units) Put16(out, unit);
    return out;
}

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t FILETIME_EPOCH_SECONDS = 11644473600LL;

// Strict UTF-8 (no overlong forms, no surrogates, nothing beyond U+10FFFF) to
// UTF-16. False with the offset of the first sequence that does not decode.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16, size_t* failedAt) {
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    utf16->clear();
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
        uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        bool sound = length != 0 && i + length <= utf8.size();
        for (size_t k = 1; sound && k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            sound = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!sound || c < LEAST[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            *failedAt = i;
            return false;
        }
        if (c >= 0x10000) {
            utf16->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        utf16->push_back(static_cast<char16_t>(c));
        i += length;
    }
    return true;
}

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
        return;
    }
    int continuation = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    *out += static_cast<char>(((0xFF00 >> (continuation + 1)) & 0xFF) | (c >> (6 * continuation)));
    while (continuation-- > 0) *out += static_cast<char>(0x80 | ((c >> (6 * continuation)) & 0x3F));
}

}  // namespace

uint64_t ToFileTime(const EntryTime& time) {
    return static_cast<uint64_t>(time.seconds + FILETIME_EPOCH_SECONDS) * 10000000u + time.nanoseconds / 100;
}

std::string BuildHeader(const EntryHeader& entry) {
    // The base time stamp is read as a signed 32-bit count of seconds; a
    // time it cannot hold exactly goes into EXT_WINDOWS_TIME as well.
    bool stampExact = entry.lastWrite.seconds >= 0 && entry.lastWrite.seconds <= 0x7FFFFFFF &&
                      entry.lastWrite.nanoseconds / 100 == 0;
    uint32_t stamp = entry.lastWrite.seconds < 0 ? 0
                     : entry.lastWrite.seconds > 0x7FFFFFFF ? 0x7FFFFFFFu
                                                            : static_cast<uint32_t>(entry.lastWrite.seconds);
    bool large = entry.largeSizes || NeedsLargeSize(entry.compressedSize) || NeedsLargeSize(entry.originalSize);

    struct Extension {
        uint8_t type;
        std::string data;
    };
    std::vector<Extension> extensions;
    extensions.push_back({EXT_COMMON, std::string(2, '\0')});  // the header CRC, filled in last
    if (!entry.file.empty()) extensions.push_back({EXT_FILE_NAME, entry.file});
    if (!entry.directory.empty()) {
        std::string dir = entry.directory + '/';
        for (char& c : dir) {
            if (c == '/') c = '\xff';
        }
        extensions.push_back({EXT_DIR_NAME, dir});
    }
    if (!entry.unicodeFile.empty()) extensions.push_back({EXT_UNICODE_FILE_NAME, Utf16Le(entry.unicodeFile)});
    if (!entry.unicodeDirectory.empty()) {
        // 0xFFFF after every folder, the last one included.
        std::u16string dir = entry.unicodeDirectory + u'/';
        for (char16_t& c : dir) {
            if (c == u'/') c = 0xFFFF;
        }
        extensions.push_back({EXT_UNICODE_DIR_NAME, Utf16Le(dir)});
    }
    // The base byte is 0x20 (the archive bit) in every entry: libarchive takes
    // no other value there in a level-2 header. Any other attributes go into
    // EXT_ATTRIBUTE, which readers of an MS-DOS header take over the base byte.
    if (entry.attributes != ATTRIBUTE_ARCHIVE) {
        std::string word;
        Put16(word, entry.attributes);
        extensions.push_back({EXT_ATTRIBUTE, word});
    }
    if (!stampExact) {
        std::string times;
        uint64_t written = ToFileTime(entry.lastWrite);
        Put64(times, written);  // creation: not kept on Linux; the last write stands in
        Put64(times, written);
        Put64(times, ToFileTime(entry.lastAccess));
        extensions.push_back({EXT_WINDOWS_TIME, times});
    }
    if (large) {
        std::string sizes;
        Put64(sizes, entry.compressedSize);
        Put64(sizes, entry.originalSize);
        extensions.push_back({EXT_LARGE_SIZE, sizes});
    }
    size_t total = BASE_HEADER_SIZE;
    for (const Extension& e : extensions) total += e.data.size() + EXTENSION_OVERHEAD;
    if (total % 256 == 0) extensions[0].data += '\0';

    std::string h;
    Put16(h, 0);  // total size, below
    h += "-lh";
    h += entry.method;
    h += '-';
    Put32(h, large ? 0xFFFFFFFFu : static_cast<uint32_t>(entry.compressedSize));
    Put32(h, large ? 0xFFFFFFFFu : static_cast<uint32_t>(entry.originalSize));
    Put32(h, stamp);
    h += static_cast<char>(ATTRIBUTE_ARCHIVE);
    h += static_cast<char>(HEADER_LEVEL);
    Put16(h, entry.dataCrc);
    h += static_cast<char>(OS_ID_MSDOS);  // attributes are Windows attributes
    for (const Extension& e : extensions) {
        Put16(h, static_cast<uint32_t>(e.data.size() + EXTENSION_OVERHEAD));
        h += static_cast<char>(e.type);
        h += e.data;
    }
    Put16(h, 0);
    h[0] = static_cast<char>(h.size() & 0xFF);
    h[1] = static_cast<char>(h.size() >> 8);
    uint16_t crc = Crc16(h.data(), h.size());
    // EXT_COMMON comes first: its size word ends the base header, its type
    // follows, then the CRC.
    constexpr size_t crcAt = BASE_HEADER_SIZE + 1;
    h[crcAt] = static_cast<char>(crc & 0xFF);
    h[crcAt + 1] = static_cast<char>(crc >> 8);
    return h;
}

bool ConvertName(const std::string& utf8, ArchiveName* name, std::string* error) {
    size_t failedAt = 0;
    if (!Utf8ToUtf16(utf8, &name->utf16, &failedAt) ||
        !hostfs::Utf8ToShiftJisReplacing(utf8, '_', &name->sjis, &name->substituted)) {
        char byte[8];
        snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(utf8[failedAt]));
        *error = "\"" + utf8 + "\": the byte " + byte + " at offset " + std::to_string(failedAt) +
                 " does not read as UTF-8; rename it to pack it";
        return false;
    }
    return true;
}

std::string NameToUtf8(const std::string& sjis) {
    std::string out;
    if (hostfs::ShiftJisToUtf8(sjis, &out)) return out;
    out.clear();
    for (char c : sjis) out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
    return out;
}

bool UnicodeNameToUtf8(const uint8_t* data, size_t size, std::string* utf8) {
    utf8->clear();
    if (size % 2 != 0) return false;
    for (size_t i = 0; i < size; i += 2) {
        uint32_t c = ReadU16(data + i);
        if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF)) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            uint32_t low = i + 4 <= size ? ReadU16(data + i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(c == 0xFFFF || c == '\\' ? '/' : c, utf8);
    }
    return true;
}

}  // namespace lzh
