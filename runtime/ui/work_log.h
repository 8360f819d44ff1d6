#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// Appends one row to the work log (the list the window registered for it) and scrolls it into
// view. With `stamp` set and a non-empty message the row reads "{ HH:MM:SS } " + message in
// local time; otherwise it is the message itself. Any thread may call it.
void AppendLog(const Text& message, bool stamp);

// The row AppendLog writes for a message at the given local time of day.
Text LogLine(const Text& message, bool stamp, int hour, int minute, int second);

} // namespace pandrel
