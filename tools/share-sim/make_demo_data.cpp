// Writes a file of deterministic pseudo-random bytes: the same name and size always give the
// same content, so checksums of the demo share stay stable across builds.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-demo-data FILE SIZE\n");
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[2], nullptr, 10);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::vector<unsigned char> block(64 * 1024);
    for (unsigned long long done = 0; done < size;) {
        for (unsigned char& byte : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<unsigned char>(state >> 56);
        }
        const std::size_t n =
            static_cast<std::size_t>(size - done < block.size() ? size - done : block.size());
        if (std::fwrite(block.data(), 1, n, out) != n) {
            std::perror(argv[1]);
            std::fclose(out);
            return 1;
        }
        done += n;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
