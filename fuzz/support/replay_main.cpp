// A main for the fuzz targets outside the fuzz preset: runs the target once on every file of
// the folders (or files) named on the command line, and on an empty input. The test suite uses
// it on the seed corpora, so that every target keeps compiling with the code it reads, and no
// seed that once passed can start failing unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// libFuzzer never passes a null pointer, not even for an empty input; neither does this.
const std::uint8_t kNothing = 0;

void RunOn(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // A copy of its exact size, so that AddressSanitizer sees any read past the input.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? &kNothing : input.data(), input.size());
}

} // namespace

int main(int argc, char** argv) {
    LLVMFuzzerTestOneInput(&kNothing, 0);
    std::size_t runs = 1;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
        } else {
            files.emplace_back(argv[i]);
        }
        if (files.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[i]);
            return 1;
        }
        for (const auto& file : files) {
            RunOn(file);
            ++runs;
        }
    }
    std::printf("%zu inputs passed\n", runs);
    return 0;
}
