#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// Files the program carries inside itself, exactly as the build made them.

// A zip archive of the engine's support files (its companion process and any data files):
// every member deflated, no directory entries, no comment, Unix permission bits kept.
Bytes EngineArchiveBytes();

// The program's own gzip compression library, a shared library over zlib.
Bytes GzipLibraryBytes();

} // namespace pandrel
