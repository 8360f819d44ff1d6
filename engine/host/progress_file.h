#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dlengine {

// A byte range [begin, end) of the data file.
struct ByteRange {
    int64_t begin = 0;
    int64_t end = 0;
};

// What a ".td.cfg" records: the total size, the server's validators, and the ranges still
// missing. Every byte outside `missing` is already in the ".td".
struct Progress {
    int64_t total = 0;
    std::string etag;
    std::string lastModified;
    std::vector<ByteRange> missing;

    int64_t MissingBytes() const;
};

// The file's bytes: magic, version, fields, then a CRC-32 of everything before it.
std::string EncodeProgress(const Progress& progress);
// False for anything but a complete, intact record of this version whose ranges lie inside
// the total, are ordered and do not overlap.
bool DecodeProgress(const std::string& bytes, Progress* progress);

} // namespace dlengine
