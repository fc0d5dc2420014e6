// The output side: every byte of an entry reaches the output file through
// OutputSink::Write, which also keeps the data CRC; stored entries are
// copied here.
#include "common/abort.h"
#include "common/run_state.h"
#include "decode/decoder_state.h"
#include "format/crc16.h"
#include "res/resource.h"
#include "ui/progress.h"
#include "ui/texts.h"

void (*g_progressReport)(uint64_t done, uint64_t total);

void ReportEntryProgress(uint64_t done) { (g_progressReport != nullptr ? g_progressReport : ReportProgress)(done, g_run.total); }

namespace {

struct EntryData {
    char method;
    uint64_t originalSize;
};

void ProduceEntryData(void* context) {
    const EntryData* entry = static_cast<const EntryData*>(context);
    if (entry->method == '0') {
        CopyStoredEntry(entry->originalSize);
    } else {
        BlockDecoder::DecodeEntry(entry->method, entry->originalSize);
    }
}

}  // namespace

void Crc16Reset() { g_decoder.dataCrc = 0; }

uint16_t Crc16Update(const void* bytes, int32_t count) {
    if (count > 0) g_decoder.dataCrc = lzh_format::Crc16(bytes, static_cast<size_t>(count), g_decoder.dataCrc);
    return g_decoder.dataCrc;
}

uint16_t Crc16Value() { return g_decoder.dataCrc; }

bool DecodeEntryData(char method, uint64_t originalSize, uint64_t compressedSize) {
    BeginEntry(compressedSize);
    EntryData entry{method, originalSize};
    return RunGuarded(ProduceEntryData, &entry);
}

namespace OutputSink {

void Write(const void* data, uint32_t length) {
    DWORD written = 0;
    bool toFile = g_run.outputFile != nullptr;  // none when the data is only checked
    if (toFile && (!WriteFile(g_run.outputFile, data, length, &written, nullptr) || written != length)) {
        ErrorBox(IDS_WRITE_ERROR, g_run.outputPath);
        AbortExtraction();
    }
    Crc16Update(data, static_cast<int32_t>(length));
}

}  // namespace OutputSink

void CopyStoredEntry(uint64_t size) {
    uint64_t remaining = size;
    while (remaining != 0) {
        DWORD chunk = remaining > STORED_CHUNK_SIZE ? STORED_CHUNK_SIZE : static_cast<DWORD>(remaining);
        DWORD got = 0;
        if (!ReadFile(g_run.archiveFile, g_decoder.window, chunk, &got, nullptr) || got != chunk) {
            ErrorBox(IDS_READ_ERROR, g_run.ownPath);
            AbortExtraction();
        }
        OutputSink::Write(g_decoder.window, chunk);
        g_run.done += chunk;
        ReportEntryProgress(g_run.done);
        remaining -= chunk;
    }
}
