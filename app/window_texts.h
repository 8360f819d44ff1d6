#pragma once

#include "runtime/program_state.h"

namespace pandrel {

// The warning shown in 状态 at start and repeated in the hint and the about text.
inline constexpr const char* kFormatWarning = "解析格式请严格遵守示例！！否则无法解析！";

// The text 编辑框1 holds at start: the two-line form the parse command expects, for links of
// the given share host, followed by the warning. The lines are joined by a single LF.
Text FormatHint(const Text& shareHost);

// The about text of 标签1 with the deployment's forum and parse-service addresses filled in.
Text AboutText(const Text& templateText, const Deployment& deployment);

} // namespace pandrel
