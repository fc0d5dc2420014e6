// Decompression of one entry: compressed input, bit reader, Huffman tables,
// the block decoder for -lh4- to -lh7-, the output sink and stored copies.
#pragma once

#include <stdint.h>

#include "format/lzh_format.h"

// Bytes of the compressed-input buffer.
constexpr uint32_t INPUT_BUFFER_SIZE = 16384;
// Bytes of the sliding window; also the size of every full write and of the
// transfer buffer of stored entries (the window's memory).
constexpr uint32_t WINDOW_SIZE = 65536;
constexpr uint32_t STORED_CHUNK_SIZE = WINDOW_SIZE;
static_assert(WINDOW_SIZE == 1u << 16, "distances of 0 to 65535 reach the whole window");
// Room behind the chunk being filled (see DecoderState::window): the longest
// match that starts before the chunk's end, and what a copy in words writes
// past a match's end.
constexpr uint32_t WINDOW_SLACK = 264;

// Literal/length symbols and the code of their lengths, as the format has them.
using lzh_format::LENGTH_CODE_COUNT;
using lzh_format::SYMBOL_COUNT;
constexpr int SYMBOL_TABLE_BITS = 12;
// Index width of the direct tables of the length code and the distance code.
constexpr int SMALL_TABLE_BITS = 8;
// Entries of each tree node array: a complete code over 510 symbols has at
// most 509 internal nodes, numbered from 510 upward.
constexpr int NODE_CAPACITY = 2 * SYMBOL_COUNT - 1;
static_assert(NODE_CAPACITY == 1019, "node numbers of the 510-symbol code end at 1018");

// Begins an entry: the data CRC starts at 0, the compressed input is empty
// and `compressedSize` bytes of the entry's data are still to be read.
void BeginEntry(uint64_t compressedSize);

namespace BitReader {
// Starts the bit stream of an entry: the first 16 bits become the look-ahead
// (the first refill of the input is read here).
void Start();
// The next 16 bits, most significant first, without consuming them.
uint32_t Peek();
// Consumes n bits (0 to 17) and keeps the look-ahead full.
void Skip(uint32_t n);
// Returns the next n bits (0 to 16) as a number, first bit most significant,
// and consumes them.
uint32_t Take(uint32_t n);
}  // namespace BitReader

// Shows the damaged-archive box (subject: our own path) and raises
// AbortExtraction: compressed data that no valid stream holds.
[[noreturn]] void AbortDamagedData();

// Builds the direct table (2^tableBits cells) and the tree of a canonical
// code from its lengths (0: unused, 1 to 16). A set of lengths that is not a
// complete code shows the damaged-archive message (subject: our own path)
// and raises AbortExtraction before anything is written.
void BuildDecodeTable(int16_t symbolCount, const uint8_t* lengths, int tableBits, uint16_t* table);

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

// Produces the data of the current entry into g_run.outputFile. Begins the
// entry once (BeginEntry), then copies a stored entry ('0') or runs
// the block decoder. False when AbortExtraction ended it (its box has been
// shown).
bool DecodeEntryData(char method, uint64_t originalSize, uint64_t compressedSize);

// The data CRC: CRC-16/ARC of every byte written through OutputSink::Write
// since the entry began (or since Crc16Reset, for tests of the CRC alone).
void Crc16Reset();
uint16_t Crc16Update(const void* bytes, int32_t count);
uint16_t Crc16Value();

// Copies `size` bytes of a stored entry from the archive to the output file
// in pieces of 65536 bytes. Raises AbortExtraction on failure or cancel.
void CopyStoredEntry(uint64_t size);

// The progress report called right after every write of entry data:
// ReportProgress, unless a test puts its own recorder here (null: none put).
extern void (*g_progressReport)(uint64_t done, uint64_t total);
// Reports `done` of the run's total through it.
void ReportEntryProgress(uint64_t done);
