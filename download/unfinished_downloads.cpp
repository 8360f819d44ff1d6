#include "download/unfinished_downloads.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "dlengine_files.h"
#include "progress_file.h"
#include "runtime/files.h"

namespace pandrel {
namespace {

// Above the largest record the engine writes: its texts are bounded by the task record's
// fields, and its missing ranges by the pieces of one download.
constexpr std::size_t kLargestRecord = 4 * 1024 * 1024;

bool EndsWith(const Text& text, const Text& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsRegularFile(int folder, const Text& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode);
}

} // namespace

std::vector<UnfinishedDownload> FindUnfinishedDownloads(const Text& workDir) {
    std::vector<UnfinishedDownload> found;
    const int folder = ::open(workDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return found;
    }
    DIR* entries = ::fdopendir(::dup(folder));
    while (entries != nullptr) {
        const dirent* entry = ::readdir(entries);
        if (entry == nullptr) {
            break;
        }
        const Text recordName = entry->d_name;
        if (!EndsWith(recordName, dlengine::kProgressSuffix)) {
            continue;
        }
        dlengine::Progress progress;
        // A link, anything but a regular file, or a record too large reads as nothing.
        const Bytes record = ReadFileUpTo(workDir + recordName, kLargestRecord).value_or(Bytes());
        if (!dlengine::DecodeProgress(Text(record.begin(), record.end()), &progress) ||
            progress.url.empty() || !dlengine::IsSafeFileName(progress.name)) {
            continue;
        }
        // A record under another name than its download's would make a task for one file
        // out of another's bytes.
        const Text stem = dlengine::WorkingStem(progress.name);
        if (stem + dlengine::kProgressSuffix != recordName ||
            !IsRegularFile(folder, stem + dlengine::kDataSuffix)) {
            continue;
        }
        found.push_back({progress.name, progress.url, progress.referer, progress.cookies,
                         progress.total, progress.total - progress.MissingBytes()});
    }
    if (entries != nullptr) {
        ::closedir(entries);
    }
    ::close(folder);
    std::sort(
        found.begin(), found.end(),
        [](const UnfinishedDownload& a, const UnfinishedDownload& b) { return a.name < b.name; });
    return found;
}

} // namespace pandrel
