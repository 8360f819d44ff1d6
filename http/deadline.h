#pragma once

#include <chrono>
#include <optional>

namespace pandrel {

// A point in time after which a request is abandoned and gives an empty result, whatever it
// has received so far; nothing leaves a request only the library's usual limits. A caller that
// makes several requests under one deadline shares one time budget among them.
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

} // namespace pandrel
