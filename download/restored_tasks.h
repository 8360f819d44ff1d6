#pragma once

#include "download/download_manager.h"
#include "runtime/program_state.h"

namespace pandrel {

// Start-up's last download step: every unfinished download in WorkDir that this program's
// engine recorded (download/unfinished_downloads.h) becomes a task row, "已暂停", with its
// name, size, progress and amounts as the record says and the handle of an engine task made
// for it and not started. "开始此任务" goes on from there, "删除此任务" removes it and its
// files. Nothing without WorkDir or a download manager.
void RestoreUnfinishedDownloads(ProgramState& state, DownloadManager* downloads);

} // namespace pandrel
