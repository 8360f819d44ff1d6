#include "download/restored_tasks.h"

#include "download/task_list.h"
#include "download/task_records.h"
#include "download/unfinished_downloads.h"
#include "runtime/convert.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

void RestoreUnfinishedDownloads(ProgramState& state, DownloadManager* downloads) {
    AssertUiThread();
    if (downloads == nullptr || state.WorkDir.empty()) {
        return;
    }
    std::vector<std::vector<Text>> rows;
    for (const UnfinishedDownload& download : FindUnfinishedDownloads(state.WorkDir)) {
        TaskCreateParams params;
        params.Fill(download.url, download.referer, download.cookies, download.name, state.WorkDir,
                    false, true, true);
        const std::int32_t handle = downloads->Engine().CreateTask(params.BlockAddress());
        if (handle <= 0) {
            continue;
        }
        // The cells a poll of the task would show, from the record's figures.
        TaskStatusInfo amounts;
        amounts.Init();
        amounts.nTotalSize(download.total);
        amounts.nTotalDownload(download.received);
        amounts.fPercent(download.total > 0 ? static_cast<float>(download.received) /
                                                  static_cast<float>(download.total)
                                            : 0.0f);
        rows.push_back({download.name, MebibyteFigure(download.total) + " MB",
                        amounts.PercentText(), amounts.SpeedText(), amounts.SizeText(),
                        kStatePaused, ToText(handle)});
    }
    if (rows.empty()) {
        return;
    }
    // One step for all rows: 200 of them must not slow start-up down.
    const int first = AppendRows(kTaskList, rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        downloads->Control().ParkRow(first + static_cast<int>(i));
    }
}

} // namespace pandrel
