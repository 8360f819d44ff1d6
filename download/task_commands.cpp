#include "download/task_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dlengine_files.h"
#include "download/download_manager.h"
#include "download/download_worker.h"
#include "download/task_list.h"
#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

constexpr int kReleaseWaitMs = 1000;
constexpr int kLockedWaitMs = 3000;

struct SelectedTask {
    int row = -1;
    std::int32_t handle = 0;
};

// The selected row and its handle; row -1 when there is nothing to act on.
SelectedTask SelectTask(const DownloadManager* downloads) {
    if (downloads == nullptr) {
        return {};
    }
    const int row = GetIntegerProperty(kTaskList, Property::SelectedRow);
    if (row < 0) {
        return {};
    }
    return {row, ToInt(GetCellText(kTaskList, row, kHandleColumn))};
}

} // namespace

void PauseSelectedTask(ProgramState&, DownloadManager* downloads) {
    AssertUiThread();
    const SelectedTask task = SelectTask(downloads);
    if (task.row < 0) {
        return;
    }
    downloads->Engine().StopTask(task.handle);
    SetCellText(kTaskList, task.row, kStateColumn, kStatePaused);
}

void StartSelectedTask(ProgramState&, DownloadManager* downloads) {
    AssertUiThread();
    const SelectedTask task = SelectTask(downloads);
    if (task.row < 0) {
        return;
    }
    downloads->Engine().StartTask(task.handle);
    SetCellText(kTaskList, task.row, kStateColumn, kStateDownloading);
    // A task restored at start-up has no worker yet: it gets one that polls it from now on.
    if (downloads->Control().UnparkRow(task.row)) {
        EngineApi& engine = downloads->Engine();
        const Text name = GetCellText(kTaskList, task.row, kNameColumn);
        downloads->Launch([&engine, task, name](const WorkerControl& control) {
            PollTask(engine, control, task.handle, name, task.row);
            control.ReleaseRow(task.row);
        });
    }
}

void DeleteSelectedTask(ProgramState& state, DownloadManager* downloads) {
    AssertUiThread();
    const SelectedTask task = SelectTask(downloads);
    if (task.row < 0) {
        return;
    }
    StopAndDeleteTask(downloads->Engine(), task.handle);
    SetCellText(kTaskList, task.row, kStateColumn, kStateDeleted);
    if (downloads->Control().UnparkRow(task.row)) {
        downloads->Control().ReleaseRow(task.row);
    }
    const Text name = GetCellText(kTaskList, task.row, kNameColumn);
    Delay(kReleaseWaitMs);
    // The engine's own rule: a name it refuses never had working files, and only a plain
    // name keeps name + suffix inside the download folder.
    if (!dlengine::IsSafeFileName(name) || state.WorkDir.empty()) {
        return;
    }
    // The engine names the working files of a long name after a short stem of it.
    const Text stem = dlengine::WorkingStem(name);
    for (const char* suffix : {dlengine::kDataSuffix, dlengine::kProgressSuffix}) {
        const Text path = state.WorkDir + stem + suffix;
        // Still locked after the wait: another task (a second row of the same file) holds it,
        // and its download must keep its bytes and its progress.
        if (IsFileLocked(path)) {
            Delay(kLockedWaitMs);
            if (IsFileLocked(path)) {
                continue;
            }
        }
        DeleteFile(path);
    }
}

void StopAndDeleteTask(EngineApi& engine, std::int32_t handle) {
    engine.StopTask(handle);
    engine.DeleteTask(handle);
}

bool IsFileLocked(const Text& path) {
    // A link is never followed, nor anything but a regular file opened: whatever was put under
    // a working name is the name's own to delete, not a file to probe.
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return true;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_SETLK, &lock) != 0;
    // Closing drops the lock just taken; this process holds no other lock on the file.
    ::close(fd);
    return locked;
}

} // namespace pandrel
