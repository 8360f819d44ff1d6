#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One member of an archive made by a test.
struct ZipMember {
    std::string name;
    std::string content;
    unsigned mode = 0644;       // Unix permission bits stored in the external attributes
    bool unixAttributes = true; // false: no Unix attributes at all (made by another system)
    int year = 2021;            // modification time, local
    int month = 6;
    int day = 15;
    int hour = 10;
    int minute = 20;
    int second = 30;
};

// Writes a zip archive with deflated members through minizip's zip interface; false on
// failure.
bool WriteZip(const std::string& path, const std::vector<ZipMember>& members);

// The member's modification time as seconds since the epoch (local time, as the unpack sets).
std::int64_t MemberEpoch(const ZipMember& member);
