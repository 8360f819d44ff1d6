#pragma once

// Names of the engine's working files beside a download: the data file stem + ".td" and its
// progress record stem + ".td.cfg" (written through stem + ".td.cfg.tmp"). For a name short
// enough the stem is the name itself; for a longer one, whose working names would pass the 255
// bytes a file name may have, it is a short name derived from the name alone, so that a later
// download of the same name finds it again. Programs that clean up after the engine use the
// same rule.

#include <cstdint>
#include <cstdio>
#include <string>

namespace dlengine {

inline constexpr const char* kDataSuffix = ".td";
inline constexpr const char* kProgressSuffix = ".td.cfg";
inline constexpr const char* kProgressTempSuffix = ".td.cfg.tmp";
inline constexpr size_t kMaxNameBytes = 255;

// A name from a listing is a plain file name, never a path: not empty, not "." or "..", no
// "/" and no NUL, at most 255 bytes. The engine refuses any other name (DL_FAIL_FILENAME);
// programs that look at a folder before they hand a name to the engine use the same rule.
inline bool IsSafeFileName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

// Bytes of the name kept in front of a derived stem: whole UTF-8 characters only.
inline constexpr size_t kStemKeepBytes = 200;

inline std::string WorkingStem(const std::string& name) {
    constexpr size_t kLongestSuffix = 11; // ".td.cfg.tmp"
    if (name.size() + kLongestSuffix <= kMaxNameBytes) {
        return name;
    }
    size_t keep = kStemKeepBytes;
    // Step back over continuation bytes so that no character is cut in two.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    // 64-bit FNV-1a of the whole name: two long names with the same beginning differ here.
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return name.substr(0, keep) + "~" + hex;
}

} // namespace dlengine
