#include "lzh/header.h"

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

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t FILETIME_EPOCH_SECONDS = 11644473600LL;

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
    if (entry.attributes > 0xFF) {
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
    h += static_cast<char>(entry.attributes & 0xFF);
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

bool NameToShiftJis(const std::string& utf8, std::string* sjis, std::string* error) {
    size_t failedAt = 0;
    if (hostfs::Utf8ToShiftJis(utf8, sjis, &failedAt)) return true;
    // Name the character that has no form: the UTF-8 sequence at failedAt.
    size_t length = 1;
    if (failedAt < utf8.size()) {
        unsigned char lead = static_cast<unsigned char>(utf8[failedAt]);
        length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    }
    *error = "\"" + utf8 + "\": the character \"" + utf8.substr(failedAt, length) +
             "\" has no Shift-JIS (code page 932) form; rename it to pack it";
    return false;
}

std::string NameToUtf8(const std::string& sjis) {
    std::string out;
    if (hostfs::ShiftJisToUtf8(sjis, &out)) return out;
    out.clear();
    for (char c : sjis) out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
    return out;
}

}  // namespace lzh
