#pragma once

#include <cstdint>

#include "download/download_manager.h"
#include "download/engine_binding.h"
#include "runtime/program_state.h"

namespace pandrel {

// The items of 菜单2, on the first selected row of the task list; nothing happens without a
// selection. Each reads the row's handle back from its "句柄编号" cell (0 when the cell is
// empty: no worker has come to the row yet), calls the engine and writes the row's state,
// whatever state it was in. The row's worker goes on polling the same handle. Without a
// download manager (`downloads` null) there is no engine, and the commands do nothing.

// "暂停此任务": stops the transfer; "已暂停".
void PauseSelectedTask(ProgramState& state, DownloadManager* downloads);
// "开始此任务": starts, resumes or retries the task; "正在下载".
void StartSelectedTask(ProgramState& state, DownloadManager* downloads);
// "删除此任务": stops and deletes the engine task, shows "已删除", waits a second for the
// engine to let go of its files and then removes the task's working files (name + ".td" and
// name + ".td.cfg", or the engine's short stem of a long name) from the download folder. A
// file still locked gets 3 s more; one locked even then belongs to another live task of the
// same file and stays. The downloaded file stays. A name that is not a plain file name removes
// nothing. Blocks the window up to 7 s.
void DeleteSelectedTask(ProgramState& state, DownloadManager* downloads);

void StopAndDeleteTask(EngineApi& engine, std::int32_t handle);

// True when a regular file exists at `path` (no wildcards; a link is not followed) and cannot
// be had for exclusive writing: it cannot be opened for writing or another process holds a
// lock on part of it.
bool IsFileLocked(const Text& path);

} // namespace pandrel
