#include "lzh/archive_list.h"

#include <inttypes.h>
#include <string.h>
#include <time.h>

#include <memory>

#include "files/host_fs.h"
#include "format/entry_header.h"
#include "format/lzh_format.h"
#include "lzh/header.h"

namespace lzh {

namespace {

using namespace lzh_format;

// The packed executable: "LHA's SFX " at 0x24, the block at 512 whose
// first field is the archive's file offset.
constexpr long MARKER_OFFSET = 0x24;
constexpr long BLOCK_OFFSET = 512;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t FILETIME_EPOCH_SECONDS = 11644473600LL;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

std::string Broken(const std::string& path, uint64_t at, const std::string& why) {
    return "\"" + path + "\": damaged archive at offset " + std::to_string(at) + ": " + why;
}

// Why a header that is not sound is refused, in the listing's words.
std::string Reason(HeaderVerdict verdict, const uint8_t* base) {
    switch (verdict) {
        case HeaderVerdict::Missing: return "no end marker";
        case HeaderVerdict::CutShort: return "header cut short";
        case HeaderVerdict::NotLevel2:
            return "header level " + std::to_string(base[AT_LEVEL]) + " (only level 2 is read)";
        case HeaderVerdict::SizeBelowBase: return "header size " + std::to_string(ReadU16(base + AT_HEADER_SIZE));
        case HeaderVerdict::ExtensionOutside: return "an extended header does not fit";
        case HeaderVerdict::ExtensionTooShort: return "an extended header is too short for its type";
        case HeaderVerdict::NoHeaderCrc: return "no header CRC";
        case HeaderVerdict::HeaderCrcMismatch: return "header CRC does not match";
        default: return "unreadable header";
    }
}

// A Shift-JIS name part in UTF-8, separators as '/': 0xFF and '\' outside
// double-byte characters, and '/'.
std::string ShiftJisPart(const std::vector<uint8_t>& h, HeaderSpan span) {
    std::string name(reinterpret_cast<const char*>(h.data() + span.offset), span.length);
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ++i;
        } else if (c == 0xFF || c == '\\') {
            name[i] = '/';
        }
    }
    return NameToUtf8(name);
}

// One part of the listed name: its UTF-16 record when there is one and it is
// well formed, else its Shift-JIS record.
std::string ListedPart(const std::vector<uint8_t>& h, HeaderSpan unicode, HeaderSpan sjis) {
    std::string utf8;
    if (unicode.length != 0 && UnicodeNameToUtf8(h.data() + unicode.offset, unicode.length, &utf8)) return utf8;
    return ShiftJisPart(h, sjis);
}

// The listed name in UTF-8: directory part then file part.
std::string ListedName(const std::vector<uint8_t>& h, const HeaderFields& fields) {
    return ListedPart(h, fields.unicodeDirectory, fields.directory) + ListedPart(h, fields.unicodeFile, fields.file);
}

// Parses one level-2 header (all of its bytes; the header CRC field is
// zeroed in the check).
bool ParseHeader(std::vector<uint8_t>& h, ListedEntry* entry, std::string* why) {
    HeaderFields fields;
    HeaderVerdict verdict = ReadHeaderFields(h.data(), static_cast<uint32_t>(h.size()), &fields);
    if (verdict != HeaderVerdict::Sound) {
        *why = Reason(verdict, h.data());
        return false;
    }
    entry->method.assign(reinterpret_cast<const char*>(&h[AT_METHOD]), 5);
    entry->compressedSize = fields.compressedSize;
    entry->originalSize = fields.originalSize;
    int32_t stamp = static_cast<int32_t>(fields.timeStamp);
    entry->fileTime = fields.hasWindowsTime
                          ? fields.lastWriteTime
                          : static_cast<uint64_t>((static_cast<int64_t>(stamp) + FILETIME_EPOCH_SECONDS) * 10000000LL);
    entry->attributes = fields.attributes;
    entry->dataCrc = fields.dataCrc;
    entry->name = ListedName(h, fields);
    return true;
}

}  // namespace

bool ReadEntries(const std::string& path, std::vector<ListedEntry>* entries, std::string* error) {
    std::unique_ptr<FILE, FileCloser> in(hostfs::OpenFile(path, "rb"));
    if (!in) {
        *error = "\"" + path + "\": cannot open: " + hostfs::LastError();
        return false;
    }
    uint64_t offset = 0;
    uint8_t head[BLOCK_OFFSET + 4];
    size_t got = fread(head, 1, sizeof head, in.get());
    if (got >= sizeof head && head[0] == 'M' && head[1] == 'Z' &&
        memcmp(head + MARKER_OFFSET, "LHA's SFX ", 10) == 0) {
        offset = ReadU32(head + BLOCK_OFFSET);
    }
    for (;;) {
        if (!hostfs::Seek(in.get(), offset)) {
            *error = Broken(path, offset, "cannot seek there");
            return false;
        }
        std::vector<uint8_t> header(BASE_HEADER_SIZE);
        size_t n = fread(header.data(), 1, header.size(), in.get());
        uint32_t size = 0;
        HeaderVerdict verdict = JudgeBaseHeader(header.data(), static_cast<uint32_t>(n), &size);
        if (verdict == HeaderVerdict::EndOfArchive) return true;
        if (verdict != HeaderVerdict::Sound) {
            *error = Broken(path, offset, Reason(verdict, header.data()));
            return false;
        }
        header.resize(size);
        if (fread(header.data() + BASE_HEADER_SIZE, 1, size - BASE_HEADER_SIZE, in.get()) != size - BASE_HEADER_SIZE) {
            *error = Broken(path, offset, "header cut short");
            return false;
        }
        ListedEntry entry;
        std::string why;
        if (!ParseHeader(header, &entry, &why)) {
            *error = Broken(path, offset, why);
            return false;
        }
        if (entry.method == "-lhd-" && (entry.name.empty() || entry.name.back() != '/')) entry.name += '/';
        offset += size + entry.compressedSize;
        entries->push_back(entry);
    }
}

void PrintListing(const std::vector<ListedEntry>& entries, FILE* out) {
    fprintf(out, "    Original       Packed  Ratio  Method  Date       Time      CRC   Name\n");
    fprintf(out, "------------ ------------ ------ ------- ---------- -------- ----- ----\n");
    uint64_t original = 0, packed = 0;
    size_t files = 0;
    auto ratio = [](uint64_t p, uint64_t o) -> std::string {
        if (o == 0) return "  ----";
        char text[16];
        snprintf(text, sizeof text, "%5.1f%%", 100.0 * static_cast<double>(p) / static_cast<double>(o));
        return text;
    };
    for (const ListedEntry& e : entries) {
        int64_t seconds = static_cast<int64_t>(e.fileTime / 10000000u) - FILETIME_EPOCH_SECONDS;
        time_t t = static_cast<time_t>(seconds);
        struct tm utc;
        char when[32] = "(time out of range) ";
        if (gmtime_r(&t, &utc) != nullptr) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &utc);
        fprintf(out, "%12" PRIu64 " %12" PRIu64 " %s %-7s %s %04X  %s\n", e.originalSize, e.compressedSize,
                ratio(e.compressedSize, e.originalSize).c_str(), e.method.c_str(), when, e.dataCrc, e.name.c_str());
        if (e.method != "-lhd-") ++files;
        original += e.originalSize;
        packed += e.compressedSize;
    }
    fprintf(out, "------------ ------------ ------ ------- ---------- -------- ----- ----\n");
    fprintf(out, "%12" PRIu64 " %12" PRIu64 " %s         %zu file%s, %zu entr%s\n", original, packed,
            ratio(packed, original).c_str(), files, files == 1 ? "" : "s", entries.size(),
            entries.size() == 1 ? "y" : "ies");
}

bool ListArchive(const std::string& path, FILE* out, std::string& error) {
    std::vector<ListedEntry> entries;
    if (!ReadEntries(path, &entries, &error)) return false;
    PrintListing(entries, out);
    return true;
}

}  // namespace lzh
