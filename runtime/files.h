#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>

#include "runtime/value_types.h"

namespace pandrel {

// The directory of the running executable, without a trailing slash.
Text RunDirectory();

Text GetEnv(const Text& name);

// True for an existing file or directory; wildcards ("*", "?") in the last component match
// as in a directory search.
bool FileExists(const Text& path);

// The whole file; empty when missing, empty or unreadable.
Bytes ReadFile(const Text& path);

// The whole of a regular file that holds at most maxBytes; nullopt when it holds more (no
// more than maxBytes + 1 bytes are read to tell). Empty when missing, empty, unreadable or not
// a regular file: a symbolic link is not followed, a pipe or a device never waited on.
std::optional<Bytes> ReadFileUpTo(const Text& path, std::size_t maxBytes);

// Creates or truncates the file and writes the buffers one after another.
bool WriteFile(const Text& path, std::initializer_list<Bytes> buffers);
bool WriteFile(const Text& path, const Bytes& buffer);

// Writes a new temporary file beside `path`, flushes it and renames it over `path`, so a crash
// leaves either the old file or the new one, never a half-written one. A new file is created
// 0666 less the umask; a replaced one keeps its mode. False, and nothing written, when `path`
// names anything but a regular file: a symbolic link, a FIFO or a folder is neither written
// through nor replaced.
bool WriteFileAtomically(const Text& path, const Bytes& buffer);

bool DeleteFile(const Text& path);

// True when the path is an existing directory or every missing level could be created.
bool EnsureDirectory(const Text& path);

bool IsDirectory(const Text& path);

} // namespace pandrel
