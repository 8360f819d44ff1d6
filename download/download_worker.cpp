#include "download/download_worker.h"

#include "dlengine.h"
#include "download/failure_reasons.h"
#include "download/task_list.h"
#include "download/task_records.h"
#include "runtime/convert.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/desktop_notice.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/ui_thread.h"
#include "runtime/ui/work_log.h"

namespace pandrel {
namespace {

constexpr int kRowPauseMs = 1000;
constexpr int kPollMs = 500;

// How a scan ended, by the worst end of the tasks it ran.
Text ScanEndText(TaskEnd worst) {
    switch (worst) {
    case TaskEnd::Deleted:
        return "已删除";
    case TaskEnd::Failed:
        return "下载失败";
    default:
        return "已下载完成";
    }
}

// Writes the end state into the row, and says it on the desktop when the user is elsewhere.
void ShowTaskEnd(int row, const Text& fileName, const char* stateText) {
    SetCellText(kTaskList, row, kStateColumn, stateText);
    NotifyUnlessActive(kMainWindow, fileName, stateText);
}

// "下载失败" in the row, with the reason as the cell's tooltip; the same in 状态, and on the
// desktop when the user is elsewhere.
void ShowTaskFailure(int row, const Text& fileName, const Text& reason) {
    const Text tip = FailedStateTip(reason);
    SetCellTextWithToolTip(kTaskList, row, kStateColumn, kStateFailed, tip);
    SetProperty(kStatusLine, Property::Caption, FailedTaskCaption(fileName, reason));
    NotifyUnlessActive(kMainWindow, fileName, tip);
}

} // namespace

void StartDownloadWorker(ProgramState& state, DownloadManager* downloads) {
    StartDownloadWorkerFrom(state, downloads, 0);
}

void StartDownloadWorkerFrom(ProgramState& state, DownloadManager* downloads, int firstRow) {
    AssertUiThread();
    if (downloads == nullptr) {
        return;
    }
    const CurrentFile file = state.Snapshot();
    WorkerJob job{file.CurrentFileName, file.CurrentFileUrl, state.WorkDir, firstRow};
    EngineApi& engine = downloads->Engine();
    const std::int64_t number =
        downloads->Launch([&engine, job = std::move(job)](const WorkerControl& control) {
            DownloadWorker(engine, control, job);
        });
    if (number > 0) {
        SetProperty(kDiagnosticBox, Property::Content, ToText(number));
    }
}

void DownloadWorker(EngineApi& engine, const WorkerControl& control, const WorkerJob& job) {
    const int rows = RowCount(kTaskList);
    TaskEnd worst = TaskEnd::Finished;
    for (int row = job.firstRow; row < rows; ++row) {
        // A row another worker still serves keeps its own download: a second task there would
        // write the same file, and two workers would take turns writing the row.
        if (GetCellText(kTaskList, row, kNameColumn) == job.fileName && control.ClaimRow(row)) {
            const TaskEnd end = RunTaskForRow(engine, control, job, row);
            control.ReleaseRow(row);
            if (end == TaskEnd::Abandoned) {
                return;
            }
            if (end == TaskEnd::Failed || (end == TaskEnd::Deleted && worst == TaskEnd::Finished)) {
                worst = end;
            }
        }
        if (!control.Sleep(kRowPauseMs)) {
            return;
        }
    }
    AppendLog("任务：" + job.fileName + ScanEndText(worst), true);
    SetProperty(kScanReportBox, Property::Content,
                ToText(std::int32_t{rows + 1}) + "-------------" +
                    ToText(std::int32_t{RowCount(kTaskList)}));
}

TaskEnd RunTaskForRow(EngineApi& engine, const WorkerControl& control, const WorkerJob& job,
                      int row) {
    const TaskEnd end = DownloadTask(engine, control, job.fileUrl, job.fileName, job.workDir, row);
    // A failure is shown, with its reason, where it is seen.
    if (end == TaskEnd::Finished || end == TaskEnd::Deleted) {
        const char* caption = end == TaskEnd::Finished ? " 创建成功" : " 已删除";
        SetProperty(kStatusLine, Property::Caption, "任务：" + job.fileName + caption);
    }
    return end;
}

TaskEnd DownloadTask(EngineApi& engine, const WorkerControl& control, const Text& url,
                     const Text& fileName, const Text& saveDir, int row) {
    // Without its folder (start-up stopped before making it) a task would save wherever the
    // engine happens to run.
    if (saveDir.empty()) {
        ShowTaskFailure(row, fileName, kNoDownloadFolder);
        return TaskEnd::Failed;
    }
    TaskCreateParams params;
    params.Fill(url, {}, {}, fileName, saveDir, false, true, true);
    const std::int32_t handle = engine.CreateTask(params.BlockAddress());
    engine.StartTask(handle);
    SetCellText(kTaskList, row, kStateColumn, kStateDownloading);
    return PollTask(engine, control, handle, fileName, row);
}

TaskEnd PollTask(EngineApi& engine, const WorkerControl& control, std::int32_t handle,
                 const Text& fileName, int row) {
    TaskStatusInfo status;
    status.Init();

    bool seenTask = false;
    bool showingFailure = false;
    for (;;) {
        engine.QueryTaskInfoEx(handle, status.BlockAddress());
        const std::int32_t stat = status.stat();
        if (stat == DL_STAT_NONE) {
            // Deleted: the row keeps what the delete command wrote. Never known: the task
            // could not be created at all.
            if (!seenTask) {
                ShowTaskFailure(row, fileName, kTaskNotCreated);
                return TaskEnd::Failed;
            }
            return TaskEnd::Deleted;
        }
        seenTask = true;
        SetCellText(kTaskList, row, kProgressColumn, status.PercentText());
        SetCellText(kTaskList, row, kSpeedColumn, status.SpeedText());
        SetCellText(kTaskList, row, kAmountColumn, status.SizeText());
        SetCellText(kTaskList, row, kHandleColumn, ToText(handle));
        if (stat == DL_STAT_FINISHED) {
            ShowTaskEnd(row, fileName, kStateFinished);
            return TaskEnd::Finished;
        }
        // Written once per failure: a start command that retries the task writes "正在下载"
        // itself, and a poll that still sees the old failure must not undo that.
        if (stat == DL_STAT_FAILED && !showingFailure) {
            ShowTaskFailure(row, fileName, TaskFailureReason(status.fail_code()));
        }
        showingFailure = stat == DL_STAT_FAILED;
        if (!control.Sleep(kPollMs)) {
            return TaskEnd::Abandoned;
        }
    }
}

} // namespace pandrel
