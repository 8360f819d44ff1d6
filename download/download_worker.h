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
};

// Starts one download worker for the current file and returns at once; writes the worker's
// number into 编辑框2. Does nothing when the program has no download manager.
void StartDownloadWorker(ProgramState& state);

// The worker: walks the rows the task list holds when it starts, one second apart, running
// one engine task for each row named after its file; then logs the end of the scan and writes
// "rows+1-------------rows now" into 编辑框3. Ends early, writing nothing more, when the
// workers are asked to stop.
void DownloadWorker(EngineApi& engine, const WorkerControl& control, const WorkerJob& job);

// Runs one engine task for the row and, once it has ended, shows "任务：name 创建成功" in 状态.
// False when the worker was asked to stop meanwhile.
bool RunTaskForRow(EngineApi& engine, const WorkerControl& control, const WorkerJob& job, int row);

enum class TaskEnd {
    Finished,  // the engine reported the task finished
    Gone,      // the engine no longer knows the task (deleted), or never created it
    Abandoned, // the worker was asked to stop
};

// Creates and starts one engine task and polls it every 500 ms, writing progress, speed,
// amounts and handle into the row, until it finishes ("已完成") or the engine forgets it.
// A failed task shows "下载失败" and is still polled, so that "开始此任务" can bring it back.
// Without a save directory no task is created and the row shows "下载失败" at once.
TaskEnd DownloadTask(EngineApi& engine, const WorkerControl& control, const Text& url,
                     const Text& fileName, const Text& saveDir, int row);

} // namespace pandrel
