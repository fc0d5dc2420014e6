// Fuzz target: compression round trips. The first byte picks the method
// (-lh5- to -lh7-), the parse (bit 2: the near-optimal one of --best) and the
// thread count (bit 3: two); the second byte, when its top bit is set, makes
// the input the rest repeated to (byte & 0x7F) KiB, so that long matches,
// several blocks and the window's edges come up from short inputs. The
// stream is decoded by the product's decoder and must give the input back.
#include <stdio.h>

#include <string>
#include <vector>

#include "common/abort.h"
#include "decode/decoder.h"
#include "fuzz/fuzz_support.h"
#include "lzh/encoder.h"

namespace {

struct Job {
    char method;
    uint64_t originalSize;
};

void Decode(void* context) {
    Job* job = static_cast<Job*>(context);
    BlockDecoder::DecodeEntry(job->method, job->originalSize);
}

const std::string& OutputPath() {
    static const std::string path = fuzzing::ArchivePath() + ".out";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const lzh::Method kMethods[] = {lzh::Method::Lh5, lzh::Method::Lh6, lzh::Method::Lh7};
    const lzh::Method method = kMethods[data[0] % 3];
    lzh::EncoderTuning tuning = (data[0] & 4) != 0 ? lzh::BestTuning() : lzh::DefaultTuning(method);
    tuning.threads = (data[0] & 8) != 0 ? 2 : 1;
    std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
    if ((data[1] & 0x80) != 0) {
        const size_t want = static_cast<size_t>(data[1] & 0x7F) << 10;
        const std::string unit = input;
        while (input.size() < want) input += unit;
    }

    std::vector<uint8_t> packed =
        lzh::Compress(method, reinterpret_cast<const uint8_t*>(input.data()), input.size(), tuning);

    fuzzing::OpenInput(packed.data(), packed.size());
    g_run.outputFile = CreateFileA(OutputPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_run.outputFile == INVALID_HANDLE_VALUE) __builtin_trap();
    BeginEntry(packed.size());
    Job job{lzh::MethodLetter(method), input.size()};
    if (!RunGuarded(Decode, &job)) __builtin_trap();  // our own stream refused as damaged
    if (g_run.done != input.size()) __builtin_trap();
    fuzzing::CloseInput();

    FILE* in = fopen(OutputPath().c_str(), "rb");
    if (in == nullptr) __builtin_trap();
    std::string output(input.size() + 1, '\0');
    output.resize(fread(&output[0], 1, output.size(), in));
    fclose(in);
    if (output != input) __builtin_trap();
    return 0;
}
