#pragma once

#include <cstdint>

#include "runtime/value_types.h"

namespace pandrel {

// Why a task shows "下载失败", in the words the window uses: the "下载失败" cell's tooltip and
// the status line carry it.

// A task the engine reports failed, by its fail_code.
Text TaskFailureReason(std::int32_t failCode);

// A task that was never created: start-up did not get as far as the download folder.
inline constexpr const char* kNoDownloadFolder = "下载目录不可用";
// A task the engine never knew: it could not create it (no engine, or one that is gone).
inline constexpr const char* kTaskNotCreated = "下载引擎未能创建任务";

// "下载失败：" + reason, the tooltip of the row's "状态" cell.
Text FailedStateTip(const Text& reason);

// "任务：name 下载失败：" + reason, the status line's caption.
Text FailedTaskCaption(const Text& fileName, const Text& reason);

} // namespace pandrel
