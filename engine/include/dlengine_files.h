#pragma once

// Names of the engine's working files beside a download: the data file stem + ".td" and its
// progress record stem + ".td.cfg" (written through stem + ".td.cfg.tmp"). For a name short
// enough the stem is the name itself; for a longer one, whose working names would pass the 255
// bytes a file name may have, it is a short name derived from the name alone, so that a later
// download of the same name finds it again. Programs that clean up after the engine use the
// same rule.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

namespace dlengine {

inline constexpr const char* kDataSuffix = ".td";
inline constexpr const char* kProgressSuffix = ".td.cfg";
inline constexpr const char* kProgressTempSuffix = ".td.cfg.tmp";
inline constexpr size_t kMaxNameBytes = 255;

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

// True when `name` could be one of the engine's working names: it ends in ".td", ".td.cfg" or
// ".td.cfg.tmp" (letters compared without regard to case, as a case-folding file system
// would), or it has the shape of a stem derived from a long name. A download of such a name
// would take the place of another download's working files, or be finished from them.
inline bool IsWorkingName(const std::string& name) {
    const auto endsWith = [&name](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return name.size() >= n && strncasecmp(name.c_str() + name.size() - n, suffix, n) == 0;
    };
    if (endsWith(kDataSuffix) || endsWith(kProgressSuffix) || endsWith(kProgressTempSuffix)) {
        return true;
    }
    // A derived stem: up to kStemKeepBytes of a name (three fewer when a character was not cut),
    // "~" and 16 hex digits.
    constexpr size_t kTail = 17;
    if (name.size() < kStemKeepBytes - 3 + kTail || name.size() > kStemKeepBytes + kTail ||
        name[name.size() - kTail] != '~') {
        return false;
    }
    for (size_t i = name.size() - kTail + 1; i < name.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

// The code point of the UTF-8 sequence at `at`, advancing `at` past it; -1 for a broken,
// truncated or overlong sequence, a surrogate or a point past U+10FFFF, and then `at` moves
// past the first byte only.
inline long NextCodePoint(const std::string& text, size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80             ? 1
                       : (lead & 0xE0) == 0xC0 ? 2
                       : (lead & 0xF0) == 0xE0 ? 3
                       : (lead & 0xF8) == 0xF0 ? 4
                                               : 0;
    constexpr long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    long point = length == 1 ? lead : lead & (0x7F >> length);
    bool whole = length > 0 && at + length <= text.size();
    for (int k = 1; whole && k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        whole = (next & 0xC0) == 0x80;
        point = (point << 6) | (next & 0x3F);
    }
    const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    if (!whole || point < kLeast[length] || point > 0x10FFFF || surrogate) {
        ++at;
        return -1;
    }
    at += length;
    return point;
}

// Characters that make a terminal or a file manager show something else than the name: the C0
// and C1 controls and DEL (escape sequences, line breaks), and the bidirectional embeddings,
// overrides and isolates, which reorder what follows them ("gpj.\u202Eexe.txt").
inline bool IsDeceptiveCodePoint(long point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) ||
           (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// A name from a listing is a plain file name, never a path, that shows as what it is: UTF-8 of
// at most 255 bytes, not empty, not "." or "..", no "/", no control character (C0, DEL, C1)
// and no bidirectional control (U+202A to U+202E, U+2066 to U+2069), and never one of the
// engine's working names (IsWorkingName). Leading dots and dashes are allowed: they are legal,
// and some shares use them. The engine refuses any other name (DL_FAIL_FILENAME); programs
// that look at a folder before they hand a name to the engine use the same rule.
inline bool IsSafeFileName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == ".." ||
        name.find('/') != std::string::npos || IsWorkingName(name)) {
        return false;
    }
    for (size_t at = 0; at < name.size();) {
        const long point = NextCodePoint(name, at);
        if (point < 0 || IsDeceptiveCodePoint(point)) {
            return false;
        }
    }
    return true;
}

} // namespace dlengine
