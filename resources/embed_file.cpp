// Build-time tool: turns a file into a C++ source that defines a function giving its bytes.
//   embed_file <input> <output.cpp> <function name>
// The bytes become one string literal (printable characters kept, the rest as three-digit
// octal escapes), which compilers take far faster than an initializer list of numbers.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string LiteralOf(const std::vector<char>& data) {
    std::string out;
    out.reserve(data.size() * 2 + data.size() / 64 * 4);
    std::size_t lineLength = 0;
    out += "    \"";
    for (char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\' && byte != '?') {
            out += static_cast<char>(byte);
            ++lineLength;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", byte);
            out += escape;
            lineLength += 4;
        }
        if (lineLength >= 96) {
            out += "\"\n    \"";
            lineLength = 0;
        }
    }
    out += "\"";
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: embed_file <input> <output.cpp> <function>\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "embed_file: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<char> data{std::istreambuf_iterator<char>(input),
                                 std::istreambuf_iterator<char>()};
    const std::string size = std::to_string(data.size());
    std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
    output << "// Generated from " << argv[1] << " at build time.\n"
           << "#include \"resources/carried_files.h\"\n\n"
           << "namespace pandrel {\n\nnamespace {\n"
           << "// One byte more than the data for the literal's terminating zero.\n"
           << "const char kData[" << size << " + 1] =\n"
           << LiteralOf(data) << ";\n} // namespace\n\n"
           << "Bytes " << argv[3] << "() {\n"
           << "    const auto* begin = reinterpret_cast<const std::uint8_t*>(kData);\n"
           << "    return Bytes(begin, begin + " << size << ");\n}\n\n"
           << "} // namespace pandrel\n";
    output.close();
    if (!output) {
        std::fprintf(stderr, "embed_file: cannot write %s\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
