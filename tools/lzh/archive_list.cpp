#include "lzh/archive_list.h"

#include <inttypes.h>
#include <string.h>
#include <time.h>

#include <memory>

#include "common/host_fs.h"
#include "lzh/header.h"

namespace lzh {

namespace {

// The packed executable: "LHA's SFX " at 0x24, the block at 512 whose
// first field is the archive's file offset.
constexpr long MARKER_OFFSET = 0x24;
constexpr long BLOCK_OFFSET = 512;
constexpr size_t BASE_HEADER_SIZE = 26;

uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

std::string Broken(const std::string& path, uint64_t at, const std::string& why) {
    return "\"" + path + "\": damaged archive at offset " + std::to_string(at) + ": " + why;
}

// Parses one level-2 header (all `size` bytes).
bool ParseHeader(const std::vector<uint8_t>& h, ListedEntry* entry, std::string* why) {
    entry->method.assign(reinterpret_cast<const char*>(&h[2]), 5);
    entry->compressedSize = Get32(&h[7]);
    entry->originalSize = Get32(&h[11]);
    int32_t stamp = static_cast<int32_t>(Get32(&h[15]));
    entry->fileTime = static_cast<uint64_t>((static_cast<int64_t>(stamp) + 11644473600LL) * 10000000LL);
    entry->attributes = h[19];
    entry->dataCrc = static_cast<uint16_t>(Get16(&h[21]));
    bool msdos = h[23] == 'M';
    std::string directory, file;
    bool common = false;
    size_t crcAt = 0;
    size_t at = 24;
    for (;;) {
        if (at + 2 > h.size()) {
            *why = "extended header chain runs past the header";
            return false;
        }
        uint32_t size = Get16(&h[at]);
        if (size == 0) break;
        if (size < 3 || at + 2 + size > h.size()) {
            *why = "extended header of size " + std::to_string(size) + " does not fit";
            return false;
        }
        const uint8_t* data = &h[at + 3];
        size_t length = size - 3;
        switch (h[at + 2]) {
        case 0x00:
            if (length >= 2) {
                common = true;
                crcAt = at + 3;
            }
            break;
        case 0x01:
            file.assign(reinterpret_cast<const char*>(data), length);
            break;
        case 0x02:
            directory.assign(reinterpret_cast<const char*>(data), length);
            break;
        case 0x40:
            if (msdos && length >= 2) entry->attributes = static_cast<uint16_t>(Get16(data));
            break;
        case 0x41:
            if (length >= 24) entry->fileTime = Get64(data + 8);
            break;
        case 0x42:
            if (length >= 16) {
                entry->compressedSize = Get64(data);
                entry->originalSize = Get64(data + 8);
            }
            break;
        default:
            break;
        }
        at += size;
    }
    if (!common) {
        *why = "no header CRC";
        return false;
    }
    std::vector<uint8_t> copy = h;
    uint16_t stored = static_cast<uint16_t>(Get16(&copy[crcAt]));
    copy[crcAt] = copy[crcAt + 1] = 0;
    if (Crc16(copy.data(), copy.size()) != stored) {
        *why = "header CRC does not match";
        return false;
    }
    // Separators: 0xFF and '\' outside double-byte characters, and '/'.
    std::string name = directory + file;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ++i;
        } else if (c == 0xFF || c == '\\') {
            name[i] = '/';
        }
    }
    entry->name = ShiftJisToUtf8(name);
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
        offset = Get32(head + BLOCK_OFFSET);
    }
    for (;;) {
        if (!hostfs::Seek(in.get(), offset)) {
            *error = Broken(path, offset, "cannot seek there");
            return false;
        }
        std::vector<uint8_t> header(BASE_HEADER_SIZE);
        size_t n = fread(header.data(), 1, header.size(), in.get());
        if (n == 0) {
            *error = Broken(path, offset, "no end marker");
            return false;
        }
        if (header[0] == 0) return true;
        if (n < BASE_HEADER_SIZE) {
            *error = Broken(path, offset, "header cut short");
            return false;
        }
        if (header[20] != 2) {
            *error = Broken(path, offset, "header level " + std::to_string(header[20]) + " (only level 2 is read)");
            return false;
        }
        uint32_t size = Get16(&header[0]);
        if (size < BASE_HEADER_SIZE) {
            *error = Broken(path, offset, "header size " + std::to_string(size));
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
        int64_t seconds = static_cast<int64_t>(e.fileTime / 10000000u) - 11644473600LL;
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
