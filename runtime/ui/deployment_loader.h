#pragma once

#include "runtime/deployment.h"

namespace pandrel {

// The deployment values: the built-in defaults, each overridden by its key in group
// [deployment] of runDir + "/pandrel.ini" (INI, UTF-8) when the file has it. Keys:
// parse_service, share_host, forum_page, sample_share, sample_code. A missing file, a missing
// key or an empty value keeps the default.
Deployment LoadDeployment(const Text& runDir);

} // namespace pandrel
