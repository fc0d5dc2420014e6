// Decompression of one entry: compressed input, bit reader, Huffman tables,
// the block decoder for -lh4- to -lh7-, the output sink and stored copies.
#pragma once

#include <stdint.h>

// Bytes of the compressed-input buffer.
constexpr uint32_t INPUT_BUFFER_SIZE = 16384;

namespace CompressedInput {
// Marks the buffer empty, so that the next byte is read from the archive.
void Reset();
}  // namespace CompressedInput

namespace BitReader {
// Compressed bytes of the current entry not yet drawn; set by the driver.
extern uint64_t compressedRemaining;
}  // namespace BitReader

namespace BlockDecoder {
// Decodes the current entry (method '4' to '7') from g_run.archiveFile into
// g_run.outputFile through OutputSink::Write. Raises AbortExtraction on a
// read error, damaged data, a write error or a cancel.
void DecodeEntry(char method, uint64_t originalSize);
}  // namespace BlockDecoder

namespace OutputSink {
// Writes all `length` bytes to g_run.outputFile and folds them into the
// running CRC-16; a failed or short write shows the write error (subject:
// g_run.outputPath) and raises AbortExtraction.
void Write(const void* data, uint32_t length);
}  // namespace OutputSink

// Copies `size` bytes of a stored entry from the archive to the output file
// in pieces of 65536 bytes. Raises AbortExtraction on failure or cancel.
void CopyStoredEntry(uint64_t size);
