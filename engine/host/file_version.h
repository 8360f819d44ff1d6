#pragma once

#include <cstdint>
#include <string>

namespace dlengine {

// The version of the file a download keeps: its size and the validators the server named for
// it. Every answer that adds bytes must belong to it.
struct FileVersion {
    int64_t total = -1; // -1 while unknown
    std::string etag;
    std::string lastModified;

    void Forget();
    // The validator a range request names (If-Range); empty when there is none to name.
    std::string IfRangeValidator() const;
    // False when an answer's validators name another version. A validator the answer leaves
    // out is not held against it; a server without validators is checked by size alone.
    bool Allows(const std::string& answerEtag, const std::string& answerLastModified) const;
    // True when some answer could name this version (NamedBy): it has a strong ETag or a
    // Last-Modified.
    bool CanBeNamed() const;
    // True only when an answer names this very version: by a strong ETag, or else by its
    // Last-Modified. An answer that leaves the validator out confirms nothing.
    bool NamedBy(const std::string& answerEtag, const std::string& answerLastModified) const;
};

} // namespace dlengine
