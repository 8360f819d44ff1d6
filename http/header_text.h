#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// A header block is a run of header lines joined by "\r\n", without a final "\r\n".

// The word with its first byte upper-cased when that byte is a letter a to z.
Text CapitalizeWord(const Text& word);

// Rewrites every header name into capitalised words ("x-my-header" -> "X-My-Header"), keeping
// the rest of each line from its colon on. Lines without a colon are dropped.
Text NormalizeHeaderNames(const Text& headers);

// True when the header line's name is `name`, letters compared without regard to case: the
// line starts with it and goes on with ":" (or ";", the form for an empty value on the wire).
bool HeaderLineNames(const Text& line, const Text& name);

// The agent text of a block that holds a "User-Agent:" line (in any case): the trimmed value
// of the exact-case "User-Agent:" line, or, when that is missing or empty, everything after
// the block's first colon, trimmed.
Text UserAgentFrom(const Text& headers);

} // namespace pandrel
