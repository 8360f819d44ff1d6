#include "app/startup.h"

#include <unistd.h>

#include <filesystem>

#include "app/record_file.h"
#include "app/window_texts.h"
#include "download/engine_deployment.h"
#include "download/restored_tasks.h"
#include "runtime/control_names.h"
#include "runtime/files.h"
#include "runtime/processes.h"
#include "runtime/program_files.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/ui_thread.h"
#include "runtime/ui/work_log.h"

namespace pandrel {

namespace {

// The folder with links and "." or ".." resolved, as the system reports an executable's
// path; without a trailing slash. Empty when it cannot be resolved.
Text ResolvedFolder(const Text& folder) {
    if (folder.empty()) {
        return {};
    }
    std::error_code error;
    Text resolved =
        std::filesystem::weakly_canonical(std::filesystem::path(folder), error).string();
    if (error) {
        return {};
    }
    while (resolved.size() > 1 && resolved.back() == '/') {
        resolved.pop_back();
    }
    return resolved;
}

Text FolderOf(const Text& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == Text::npos) {
        return {};
    }
    return slash == 0 ? Text("/") : path.substr(0, slash);
}

} // namespace

LeftoverOwner OwnerOfThisCopy(const ProgramState& state) {
    const Text& programDir = state.ProgramDir.empty() ? state.RunDir : state.ProgramDir;
    return {EngineDirectoryOf(state.RunDir), programDir, ProcessExecutableName(getpid())};
}

bool IsOwnLeftover(std::int32_t processId, const LeftoverOwner& owner) {
    const Text executable = ProcessExecutablePath(processId);
    const Text engineDir = ResolvedFolder(owner.engineDir);
    if (!executable.empty() && !engineDir.empty() && FolderOf(executable) == engineDir) {
        return true;
    }
    const Text programDir = ResolvedFolder(owner.programDir);
    if (programDir.empty() || owner.programName.empty()) {
        return false;
    }
    const std::int32_t starter = ParentProcessId(processId);
    return FolderOf(ProcessExecutablePath(starter)) == programDir &&
           ProcessExecutableName(starter) == owner.programName;
}

void EndLeftoverProcess(const Text& name, const LeftoverOwner& owner) {
    const std::int32_t leftover =
        FindProcessId(name, [&owner](std::int32_t id) { return IsOwnLeftover(id, owner); });
    if (leftover != -1) {
        KillProcess(leftover);
    }
}

void ReportStartupFailure(const Text& line) {
    AppendLog(line, true);
    SetProperty(kStatusLine, Property::Caption, line);
}

StartupSteps EngineStartupSteps(EngineApi& engine, DownloadManager& downloads) {
    StartupSteps steps;
    steps.deployEngine = [&engine](ProgramState& state) {
        Text lastLine;
        const auto log = [&lastLine](const Text& line) {
            AppendLog(line, true);
            lastLine = line;
        };
        if (DeployEngine(state.RunDir, log, engine, state.EngineDir)) {
            return true;
        }
        // A failing step's line was the last one; after a complete release, Init refused.
        const bool released = lastLine == kEngineFilesReleased;
        SetProperty(kStatusLine, Property::Caption, released ? kEngineNotStarted : lastLine);
        return false;
    };
    steps.releaseGzipLibrary = [](ProgramState& state) { ReleaseGzipLibrary(state.RunDir); };
    steps.restoreDownloads = [&downloads](ProgramState& state) {
        RestoreUnfinishedDownloads(state, &downloads);
    };
    return steps;
}

void OnMainWindowCreated(ProgramState& state, const StartupSteps& steps) {
    AssertUiThread();
    // Everything the template places from x = 728 on is out of view after this.
    SetProperty(kMainWindow, Property::Width, std::int32_t{730});
    SetProperty(kStatusLine, Property::Caption, kFormatWarning);
    EndLeftoverProcess(steps.leftoverProcessName, OwnerOfThisCopy(state));

    if (steps.deployEngine && !steps.deployEngine(state)) {
        return;
    }

    state.WorkDir =
        state.PlannedWorkDir.empty() ? WorkDirectoryOf(state.RunDir) : state.PlannedWorkDir;
    if (!EnsureDirectory(state.WorkDir)) {
        ReportStartupFailure("创建程序工作目录失败");
        return;
    }

    if (steps.releaseGzipLibrary && !FileExists(GzipLibraryPathOf(state.RunDir))) {
        steps.releaseGzipLibrary(state);
    }

    // Unfinished downloads come back whatever the "test" marker says: it concerns the
    // listing alone.
    if (steps.deployEngine && steps.restoreDownloads) {
        steps.restoreDownloads(state);
    }

    // "test" (file or folder, no extension) beside the program keeps the last listing away.
    if (!FileExists(RestoreMarkerPathOf(state.RunDir))) {
        RestoreRecord(state);
    }
}

} // namespace pandrel
