#pragma once

#include <cstdint>
#include <vector>

#include "runtime/value_types.h"

namespace pandrel {

// A download the engine left unfinished in a download folder, as its progress record tells it:
// all a new engine task needs to go on from there, and how far it got.
struct UnfinishedDownload {
    Text name;
    Text url;
    Text referer;
    Text cookies;
    std::int64_t total = 0;
    std::int64_t received = 0;
};

// Every unfinished download in `workDir` (ending in "/") whose progress record this program's
// engine wrote: an intact record of a version that names its download, kept under the working
// name the engine gives that name, beside its data file. In name order. A record that is a
// link or not a regular file, or larger than any record the engine writes, is passed over,
// and so is one whose name is not a plain file name.
std::vector<UnfinishedDownload> FindUnfinishedDownloads(const Text& workDir);

} // namespace pandrel
