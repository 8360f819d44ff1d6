#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// A share identifier and its extraction code as the extraction pattern found them; both
// empty when it found nothing. The identifier keeps the "~" or whitespace that ended it.
struct ShareLink {
    Text id;
    Text code;
};

// The share host's domain as it stands (its dots match any character) followed by
// "/s/(.*?[~\s])\W.*?([a-z0-9]{4})".
Text ExtractionPattern(const Text& shareHost);

// Submatches 1 and 2 of the first match of the extraction pattern over `input`, with the
// regex object's default options: case ignored, multi-line, global, "." stops at a line feed.
ShareLink ExtractShareLink(const Text& input, const Text& shareHost);

} // namespace pandrel
