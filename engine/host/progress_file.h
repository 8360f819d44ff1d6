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
// missing (every byte outside `missing` is already in the ".td"); and the download it belongs
// to, with all a task needs to go on after a restart: its link, referer, cookies and name.
struct Progress {
    // Version 1 kept no link, referer, cookies or name; those stay empty in a record of it.
    static constexpr uint32_t kFirstVersion = 1;
    static constexpr uint32_t kCurrentVersion = 2;

    uint32_t version = kCurrentVersion; // the version the record was read in
    int64_t total = 0;
    std::string etag;
    std::string lastModified;
    std::vector<ByteRange> missing;
    std::string url; // as it went on the wire
    std::string referer;
    std::string cookies;
    std::string name;

    int64_t MissingBytes() const;
};

// The file's bytes: magic, version, fields, then a CRC-32 of everything before it. Always
// written in the current version.
std::string EncodeProgress(const Progress& progress);
// False for anything but a complete, intact record of a known version whose ranges lie inside
// the total, are ordered and do not overlap.
bool DecodeProgress(const std::string& bytes, Progress* progress);

} // namespace dlengine
