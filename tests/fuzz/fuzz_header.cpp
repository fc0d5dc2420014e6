// Fuzz target: walking the entry headers of an archive as the test pass does
// (read a header, release it, skip the entry's data), up to 64 entries.
#include "extract/extraction.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::OpenInput(data, size);
    for (int i = 0; i < 64; ++i) {
        EntryStatus status = ReadNextEntry();
        if (!host::Boxes().empty()) __builtin_trap();  // the reader shows nothing itself
        if (status != EntryStatus::Entry) {
            // Every refusal shows exactly one box; the end marker none.
            ShowEntryStatusBox(status);
            if (host::Boxes().size() != (status != EntryStatus::End ? 1u : 0u)) __builtin_trap();
            break;
        }
        const char m = g_entry.method;
        if (m != '0' && m != '4' && m != '5' && m != '6' && m != '7' && m != 'd') __builtin_trap();
        if (TextLength(g_entry.name) >= ENTRY_NAME_SIZE) __builtin_trap();
        if (!host::Boxes().empty()) __builtin_trap();
        ReleaseEntry();
        LONG high = static_cast<LONG>(g_entry.compressedSize >> 32);
        DWORD low = SetFilePointer(g_run.archiveFile, static_cast<LONG>(g_entry.compressedSize), &high, FILE_CURRENT);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) break;
    }
    ReleaseEntry();
    fuzzing::CloseInput();
    return 0;
}
