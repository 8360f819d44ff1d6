#pragma once

#include <string>

#include "dlengine_files.h" // IsSafeFileName

namespace dlengine {

// `folder` joined with `name`; a trailing "/" on the folder is not doubled.
std::string JoinPath(const std::string& folder, const std::string& name);

// "name(n).ext": the number goes before the last dot, unless that dot starts the name. The
// part before the number is shortened (by whole UTF-8 characters) so that the result keeps to
// 255 bytes; empty when even that cannot fit.
std::string NumberedName(const std::string& name, int n);

// Renames `from` to `name`, both in the folder `dirFd`. With `replace` an existing file of
// that name is replaced; otherwise the first free of name, name(1), name(2)... is taken,
// atomically. Returns the name used, or empty with errno set.
std::string MoveIntoPlace(int dirFd, const std::string& from, const std::string& name,
                          bool replace);

} // namespace dlengine
