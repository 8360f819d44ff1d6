#pragma once

#include "download/download_manager.h"
#include "runtime/program_state.h"

namespace pandrel {

// What one worker downloads, copied when it starts: a later "下载该文件" changes the current
// file but never what a running worker fetches or where it saves.
struct WorkerJob {
    Text fileName;
    Text fileUrl;
    Text workDir;
    // The first task-list row the worker walks: 0, or the row a batch added for it.
    int firstRow = 0;
};

// Starts one download worker of `downloads` for the current file and returns at once; writes
// the worker's number into 编辑框2. Does nothing without a download manager (no engine).
void StartDownloadWorker(ProgramState& state, DownloadManager* downloads);
// The same, walking the task list from `firstRow` on.
void StartDownloadWorkerFrom(ProgramState& state, DownloadManager* downloads, int firstRow);

enum class TaskEnd {
    Finished,  // the engine reported the task finished
    Deleted,   // the engine forgot a task it had reported: the delete command removed it
    Failed,    // no task could be created (no download folder, or the engine never knew it)
    Abandoned, // the worker was asked to stop
};

// The worker: walks the rows the task list holds when it starts, one second apart, running
// one engine task for each row named after its file. A row whose task another worker still
// runs is left to that worker: it keeps its own download and its own texts. Then the worker
// logs how its scan ended and writes "rows+1-------------rows now" into 编辑框3:
//   "任务：name已下载完成"  every task it ran finished (or it ran none);
//   "任务：name已删除"      a task it ran was deleted, none failed;
//   "任务：name下载失败"    a task it ran could not be created.
// Ends early, writing nothing more, when the workers are asked to stop.
void DownloadWorker(EngineApi& engine, const WorkerControl& control, const WorkerJob& job);

// Runs one engine task for the row and, once it has ended, shows in 状态
// "任务：name 创建成功" (finished) or "任务：name 已删除". A failure shows when it is seen.
TaskEnd RunTaskForRow(EngineApi& engine, const WorkerControl& control, const WorkerJob& job,
                      int row);

// Creates and starts one engine task and polls it every 500 ms, writing progress, speed,
// amounts and handle into the row, until it finishes ("已完成") or the engine forgets it.
// A failed task shows "下载失败", with its reason (failure_reasons.h) as the cell's tooltip and
// in 状态 as "任务：name 下载失败：reason", and is still polled, so that "开始此任务" can
// bring it back (a task refused because another task writes the same file, too: once that
// one is done, starting it again downloads the file afresh). Without a save directory no task
// is created and the row shows "下载失败" at once.
TaskEnd DownloadTask(EngineApi& engine, const WorkerControl& control, const Text& url,
                     const Text& fileName, const Text& saveDir, int row);

// The polling half of DownloadTask, for a task that exists already.
TaskEnd PollTask(EngineApi& engine, const WorkerControl& control, std::int32_t handle,
                 const Text& fileName, int row);

} // namespace pandrel
