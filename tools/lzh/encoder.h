// Our compressor for the -lh5-, -lh6- and -lh7- methods: LZ77 over hash
// chains with one step of lazy matching, blocks split where the statistics
// change, and optimal static Huffman codes sent anew for every block.
// Input that looks random (compressed or encrypted) is sent as literals
// without a search.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lzh {

enum class Method { Lh0, Lh5, Lh6, Lh7 };

// '0', '5', '6' or '7': the letter of the method id -lhX-.
char MethodLetter(Method method);
// "lh0", "lh5", "lh6", "lh7" (also with dashes, "-lh5-"). False otherwise.
bool ParseMethod(const std::string& text, Method* method);

// How hard the match finder looks, and on how many threads.
struct EncoderTuning {
    int maxChain;     // chain entries looked at per search
    int goodLength;   // with a pending match this long, a quarter of the chain
    int niceLength;   // a match this long ends the search
    int lazyLength;   // a pending match this long is taken without a search
    int threads = 0;  // chunks of input searched at once (0: one per processor, at most 4);
                      // the output is the same for every count
    int optimalPasses = 0;  // 0: lazy matching; else the near-optimal parse, priced anew
                            // from its own blocks' codes this many times
};
// The default of each method: smaller windows need shorter chains.
EncoderTuning DefaultTuning(Method method);
EncoderTuning FastTuning();
EncoderTuning BestTuning();
// How many threads a tuning asks for, with 0 resolved to the processors.
int ThreadCount(const EncoderTuning& tuning);

// The input is searched for matches in chunks of this size, each on its
// own after the window of input before it: no match crosses a chunk's end.
constexpr uint32_t ENCODER_CHUNK_SIZE = 1 << 20;

// Receives the compressed bytes in order.
using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// Streaming compressor of one entry. Write the whole input in pieces of any
// size, then Finish once; the sink sees every compressed byte by then.
class Encoder {
public:
    Encoder(Method method, ByteSink sink) : Encoder(method, std::move(sink), DefaultTuning(method)) {}
    Encoder(Method method, ByteSink sink, const EncoderTuning& tuning);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    void Write(const uint8_t* data, size_t size);
    void Finish();
    // Before the first Write or after Finish: begins the next input, whose
    // bytes go to `sink`, with the tables and buffers of the last one (many
    // small files in a row then do not allocate and clear memory anew).
    void Restart(ByteSink sink);
    // Bytes handed to the sink so far.
    uint64_t compressedSize() const;
    // Input taken by Write that has not reached the block coder yet (a few
    // chunks of a megabyte while they are searched): its output is still to come.
    uint64_t inputHeld() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The whole compressed stream of `size` bytes (method Lh5, Lh6 or Lh7).
std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size);
std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size, const EncoderTuning& tuning);

}  // namespace lzh
