// Build-time tool: packs the engine's support files into the archive the program carries.
//   pack_archive <output.zip> <file>...
// Each file becomes one member named after its base name, deflated, with its modification
// time and its Unix permission bits; the archive has no directory entries and no comment.
#include <sys/stat.h>
#include <zip.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool AddMember(zipFile archive, const std::string& path) {
    struct stat info {};
    std::ifstream input(path, std::ios::binary);
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !input) {
        std::fprintf(stderr, "pack_archive: cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> data{std::istreambuf_iterator<char>(input),
                                 std::istreambuf_iterator<char>()};
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    std::tm local{};
    localtime_r(&info.st_mtime, &local);
    zip_fileinfo entry{};
    entry.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    entry.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    entry.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    entry.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    entry.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    entry.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    // Upper half of the external attributes: the Unix file type and permission bits.
    entry.external_fa = (static_cast<uLong>(S_IFREG | (info.st_mode & 07777))) << 16;

    constexpr uLong kMadeByUnix = (3u << 8) | 20u;
    if (zipOpenNewFileInZip4(archive, name.c_str(), &entry, nullptr, 0, nullptr, 0, nullptr,
                             Z_DEFLATED, Z_BEST_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                             Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByUnix, 0) != ZIP_OK) {
        return false;
    }
    const bool written =
        data.empty() ||
        zipWriteInFileInZip(archive, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
    return zipCloseFileInZip(archive) == ZIP_OK && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pack_archive <output.zip> <file>...\n");
        return 2;
    }
    zipFile archive = zipOpen64(argv[1], APPEND_STATUS_CREATE);
    if (archive == nullptr) {
        std::fprintf(stderr, "pack_archive: cannot create %s\n", argv[1]);
        return 1;
    }
    bool good = true;
    for (int i = 2; i < argc && good; ++i) {
        good = AddMember(archive, argv[i]);
    }
    good = zipClose(archive, nullptr) == ZIP_OK && good;
    if (!good) {
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
