#include "file_version.h"

namespace dlengine {
namespace {

bool IsStrong(const std::string& etag) {
    return !etag.empty() && etag.rfind("W/", 0) != 0;
}

} // namespace

void FileVersion::Forget() {
    total = -1;
    etag.clear();
    lastModified.clear();
}

// A weak ETag cannot stand in a range request: then Last-Modified, or nothing.
std::string FileVersion::IfRangeValidator() const {
    return IsStrong(etag) ? etag : lastModified;
}

bool FileVersion::Allows(const std::string& answerEtag,
                         const std::string& answerLastModified) const {
    return (etag.empty() || answerEtag.empty() || answerEtag == etag) &&
           (lastModified.empty() || answerLastModified.empty() ||
            answerLastModified == lastModified);
}

bool FileVersion::CanBeNamed() const {
    return IsStrong(etag) || !lastModified.empty();
}

bool FileVersion::NamedBy(const std::string& answerEtag,
                          const std::string& answerLastModified) const {
    if (IsStrong(etag)) {
        return answerEtag == etag;
    }
    return !lastModified.empty() && answerLastModified == lastModified;
}

} // namespace dlengine
