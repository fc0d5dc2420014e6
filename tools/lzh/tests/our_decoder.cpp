#include "our_decoder.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>

#include "archive/archive_entry.h"
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder.h"
#include "extract/extraction.h"
#include "platform/posix/host_controls.h"
#include "common/run_state.h"
#include "support/test_support.h"

namespace lzhtest {

namespace {

void IgnoreProgress(uint64_t, uint64_t) {}

std::string BoxText() {
    std::string text;
    for (const host::BoxRecord& box : host::Boxes()) text += box.text + "; ";
    return text;
}

uint64_t Position(HANDLE file) {
    LONG high = 0;
    DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
}

void Seek(HANDLE file, uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
}

}  // namespace

bool DecodeWithOurs(const std::string& archivePath, const std::string& folder, std::vector<DecodedEntry>* entries,
                    std::string* error) {
    support::ResetRunState();
    support::SetText(g_run.ownPath, PATH_SIZE, archivePath);
    support::SetText(g_run.title, TITLE_SIZE, "Test");
    g_progressReport = IgnoreProgress;
    g_run.archiveFile = CreateFileA(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    g_run.outputFile = INVALID_HANDLE_VALUE;
    if (g_run.archiveFile == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + archivePath;
        return false;
    }
    bool ok = true;
    for (size_t index = 0; ok; ++index) {
        EntryStatus status = ReadNextEntry();
        if (status == EntryStatus::End) break;
        if (ShowEntryStatusBox(status)) {
            *error = "reader: " + BoxText();
            ok = false;
            break;
        }
        DecodedEntry entry;
        entry.name = support::ShiftJisOf(g_entry.name);
        entry.utf8Name = support::Utf8Of(g_entry.name);
        entry.method = g_entry.method;
        entry.compressedSize = g_entry.compressedSize;
        entry.originalSize = g_entry.originalSize;
        entry.attributes = g_entry.attributes;
        entry.fileTime = (static_cast<uint64_t>(g_entry.lastWriteTime.dwHighDateTime) << 32) |
                         g_entry.lastWriteTime.dwLowDateTime;
        if (entry.method != 'd') {
            uint64_t dataStart = Position(g_run.archiveFile);
            entry.outputPath = folder + "/" + std::to_string(index);
            support::SetText(g_run.outputPath, OUTPUT_PATH_SIZE, entry.outputPath);
            g_run.outputFile = CreateFileA(entry.outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
            if (!DecodeEntryData(g_entry.method, g_entry.originalSize, g_entry.compressedSize)) {
                *error = "decoder, entry " + entry.name + ": " + BoxText();
                ok = false;
            }
            entry.crcMatches = Crc16Value() == g_entry.dataCrc;
            if (g_run.outputFile != INVALID_HANDLE_VALUE) CloseHandle(g_run.outputFile);
            g_run.outputFile = INVALID_HANDLE_VALUE;
            Seek(g_run.archiveFile, dataStart + g_entry.compressedSize);
        }
        ReleaseEntry();
        entries->push_back(entry);
    }
    CloseHandle(g_run.archiveFile);
    g_run.archiveFile = INVALID_HANDLE_VALUE;
    return ok;
}

bool ReadFirstHeader(const std::string& archivePath, DecodedEntry* entry, std::string* error) {
    support::ResetRunState();
    support::SetText(g_run.ownPath, PATH_SIZE, archivePath);
    g_run.archiveFile = CreateFileA(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_run.archiveFile == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + archivePath;
        return false;
    }
    EntryStatus status = ReadNextEntry();
    ShowEntryStatusBox(status);
    bool ok = status == EntryStatus::Entry;
    if (ok) {
        entry->name = support::ShiftJisOf(g_entry.name);
        entry->utf8Name = support::Utf8Of(g_entry.name);
        entry->method = g_entry.method;
        entry->compressedSize = g_entry.compressedSize;
        entry->originalSize = g_entry.originalSize;
        entry->attributes = g_entry.attributes;
        entry->fileTime = (static_cast<uint64_t>(g_entry.lastWriteTime.dwHighDateTime) << 32) |
                          g_entry.lastWriteTime.dwLowDateTime;
    } else {
        *error = status == EntryStatus::End ? "end marker" : "reader: " + BoxText();
    }
    ReleaseEntry();
    CloseHandle(g_run.archiveFile);
    g_run.archiveFile = INVALID_HANDLE_VALUE;
    return ok;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool SameFileBytes(const std::string& a, const std::string& b) {
    FILE* fa = fopen(a.c_str(), "rb");
    FILE* fb = fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        size_t na = fread(ba.data(), 1, ba.size(), fa);
        size_t nb = fread(bb.data(), 1, bb.size(), fb);
        if (na != nb || memcmp(ba.data(), bb.data(), na) != 0) same = false;
        if (na == 0) break;
    }
    if (fa) fclose(fa);
    if (fb) fclose(fb);
    return same;
}

}  // namespace lzhtest
