#pragma once

#include "dlengine.h"

#include <cstddef>
#include <string>

namespace dlengine {

// Lengths, in UTF-16 units, of the text fields a task is created with.
constexpr size_t kUrlUnits = 2084;
constexpr size_t kPathUnits = 260;

// What a task fetches and where it puts it, read once from the fields it was created with.
struct TaskTarget {
    std::string url; // as sent on the wire (wire_url.h)
    std::string referer;
    std::string cookies;
    std::string name;
    std::string stem; // of the working files (dlengine_files.h)
    std::string folder;
    bool replace = false; // an existing file of the name is replaced, not renamed around
    bool resume = false;  // a progress record left in the folder may be resumed
    // DL_FAIL_FILENAME or DL_FAIL_URL when the fields cannot be used as given: the task then
    // fails at once, whatever it is asked.
    int refusal = DL_FAIL_NONE;
};

TaskTarget ReadTarget(const TaskCreateParams& params);

} // namespace dlengine
