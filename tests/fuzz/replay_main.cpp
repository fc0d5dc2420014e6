// Runs a fuzz target over files and folders of inputs once each, for builds
// without libFuzzer: the seed corpus then serves as a regression suite.
#include <stdint.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                RunFile(entry.path());
                ++count;
            }
        } else {
            RunFile(path);
            ++count;
        }
    }
    std::cout << "ran " << count << " inputs\n";
    return count > 0 ? 0 : 1;
}
