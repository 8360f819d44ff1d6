#pragma once

#include "progress_file.h"

#include <string>

// The bytes of a progress record as the engine's first record version wrote it: no link,
// referer, cookies or name. Such records still lie in download folders.
std::string FirstVersionRecord(const dlengine::Progress& progress);
