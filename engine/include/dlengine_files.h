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
#include <string>

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
        const std::string tail(suffix);
        if (name.size() < tail.size()) {
            return false;
        }
        for (size_t i = 0; i < tail.size(); ++i) {
            const auto c = static_cast<unsigned char>(name[name.size() - tail.size() + i]);
            if (std::tolower(c) != tail[i]) {
                return false;
            }
        }
        return true;
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

// The code point of the UTF-8 sequence at `at`, advancing `at` past it; -1 for a broken or
// overlong sequence.
inline long NextCodePoint(const std::string& text, size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) {
        return lead;
    }
    int more = 0;
    long point = 0;
    long least = 0;
    if ((lead & 0xE0) == 0xC0) {
        more = 1;
        point = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2;
        point = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3;
        point = lead & 0x07;
        least = 0x10000;
    } else {
        return -1;
    }
    for (; more > 0; --more) {
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
            return -1;
        }
        point = (point << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    return point < least || point > 0x10FFFF || surrogate ? -1 : point;
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
