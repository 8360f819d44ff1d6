#pragma once

#include <cstdint>
#include <functional>

#include "download/download_manager.h"
#include "download/engine_binding.h"
#include "runtime/program_state.h"

namespace pandrel {

// Steps of the start-up sequence that the download layer supplies. An empty step is skipped.
struct StartupSteps {
    // Releases the engine's files into EngineDir and initialises the engine; false ends
    // start-up there (the step puts its own failure in the work log and in 状态).
    std::function<bool(ProgramState&)> deployEngine;
    // Puts the carried gzip library in place; called only when RunDir lacks it.
    std::function<void(ProgramState&)> releaseGzipLibrary;
    // Makes task rows of the unfinished downloads in WorkDir; run only once the engine is up.
    std::function<void(ProgramState&)> restoreDownloads;
    // The engine's companion process, ended when one of ours is left over from an earlier
    // run. Tests give a name of their own so they never touch a real engine process.
    Text leftoverProcessName = "dlhost";
};

// The start-up sequence, run once on the UI thread right after the window is built: narrow
// the window to 730 pixels, show the format warning in 状态, end a leftover engine process of
// this copy, deploy the engine, create WorkDir, place the gzip library, restore the unfinished
// downloads and restore the last listing unless RunDir holds "test". A failing step ends the
// sequence with its line in the work log and in 状态; the window stays usable.
void OnMainWindowCreated(ProgramState& state, const StartupSteps& steps);

// What start-up shows when the engine's files were released but the engine did not start.
inline constexpr const char* kEngineNotStarted = "启动程序下载引擎失败";

// A start-up step failed: its line goes to the work log and, where the user sees it, to 状态.
void ReportStartupFailure(const Text& line);

// Start-up's engine steps over `engine`: the carried engine files released into EngineDir and
// the engine initialised, the carried gzip library placed, and the unfinished downloads
// restored as task rows of `downloads`. Each line of the release goes to the work log; a
// failing step's line shows in 状态 too, and kEngineNotStarted when only the engine's start
// failed (which the work log does not record).
StartupSteps EngineStartupSteps(EngineApi& engine, DownloadManager& downloads);

// What makes a running engine host ours: another copy of the program elsewhere, or any other
// program's process of the same name, is never ended.
struct LeftoverOwner {
    // The folder our engine's files are released into, EngineDir.
    Text engineDir;
    // The folder this copy's executable lies in, and its bare name.
    Text programDir;
    Text programName;
};

// The owner of this copy's engine hosts: the EngineDir of its RunDir, its program's folder and
// this process's executable name.
LeftoverOwner OwnerOfThisCopy(const ProgramState& state);

// True when the process is one of ours: its executable lies in owner.engineDir (also when the
// file has been replaced since it started), or the process that started it, still running, is
// a copy of this program (owner.programName in owner.programDir).
bool IsOwnLeftover(std::int32_t processId, const LeftoverOwner& owner);

// Ends the first running process of that executable name that is ours, if any. The kill's
// result is not examined: a process that cannot be ended is left alone.
void EndLeftoverProcess(const Text& name, const LeftoverOwner& owner);

} // namespace pandrel
