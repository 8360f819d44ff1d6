#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// One file of a listing, as the file list shows it. The cells are kept as the listing has
// them: no trimming, no entity decoding; a cell the listing lacks is empty.
struct FileEntry {
    Text name;
    Text size;
    Text link; // the file's download address
};

} // namespace pandrel
