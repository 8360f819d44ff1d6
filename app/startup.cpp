#include "app/startup.h"

#include "app/record_file.h"
#include "app/window_texts.h"
#include "runtime/files.h"
#include "runtime/processes.h"
#include "runtime/ui/control_registry.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/work_log.h"

namespace pandrel {

void EndLeftoverProcess(const Text& name) {
    if (IsProcessRunning(name)) {
        KillProcess(FindProcessId(name));
    }
}

void OnMainWindowCreated(ProgramState& state, const StartupSteps& steps) {
    // Everything the template places from x = 728 on is out of view after this.
    SetProperty(kMainWindowName, Property::Width, std::int32_t{730});
    SetProperty("状态", Property::Caption, kFormatWarning);
    EndLeftoverProcess(steps.leftoverProcessName);

    if (steps.deployEngine && !steps.deployEngine(state)) {
        return;
    }

    state.WorkDir = state.RunDir + "/下载目录/";
    if (!EnsureDirectory(state.WorkDir)) {
        AppendLog("创建程序工作目录失败", true);
        return;
    }

    if (steps.releaseGzipLibrary && !FileExists(state.RunDir + "/" + kGzipLibraryName)) {
        steps.releaseGzipLibrary(state);
    }

    // "test" (file or folder, no extension) beside the program keeps the last listing away.
    if (!FileExists(state.RunDir + "/test")) {
        RestoreRecord(state);
    }
}

} // namespace pandrel
