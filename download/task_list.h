#pragma once

#include <cstdint>

#include "download/download_manager.h"
#include "runtime/control_names.h"
#include "runtime/program_state.h"

namespace pandrel {

// The task list 列表框_任务信息 (kTaskList) is the only store of tasks: one row per task, never
// removed, not saved. The engine's handle lives in the row's "句柄编号" cell as decimal text.

// The texts of the "状态" cell; empty until a worker comes to the row.
inline constexpr const char* kStateDownloading = "正在下载";
inline constexpr const char* kStatePaused = "已暂停";
inline constexpr const char* kStateDeleted = "已删除";
inline constexpr const char* kStateFinished = "已完成";
inline constexpr const char* kStateFailed = "下载失败";

// "下载该文件": makes the selected file of 文件列表框 the current file (its number, name and
// size, and its link from that row of RecordText), appends its task row and starts a
// worker of `downloads` (none without a manager). Nothing happens without a selection, or when the
// row's number names no row of RecordText (the file list and the listing disagree).
void DownloadSelectedFile(ProgramState& state, DownloadManager* downloads);

// "下载勾选的文件": every checked row of 文件列表框, in list order, as "下载该文件" would take it,
// except that each worker begins its walk of the task list at the row it added. The rows above
// belong to files queued before it, and a second's pause for each would hold the last of 200
// files back for minutes.
void DownloadCheckedFiles(ProgramState& state, DownloadManager* downloads);

// "全部勾选": ticks every row of 文件列表框, or clears them all when all are ticked.
void ToggleAllFileChecks(ProgramState& state);

// Appends the row of `file` with the initial cell texts; gives its index.
int AddTaskRow(const CurrentFile& file);

} // namespace pandrel
