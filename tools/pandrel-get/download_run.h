#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "download/engine_binding.h"
#include "file_choice.h"
#include "progress_view.h"

namespace pandrel::get {

enum class FileResult {
    Finished,    // the engine finished it
    Existed,     // a file of that name was already there, with nothing left to resume
    Failed,      // the engine failed it; the reason went to standard error
    Skipped,     // an unsafe or repeated name: never handed to the engine
    NotFinished, // stopped by a signal, or never started because of one
};

// The word the summary shows for a result.
const char* ResultText(FileResult result);

struct FileOutcome {
    ChosenFile file;
    FileResult result = FileResult::NotFinished;
};

struct RunSettings {
    Text saveDir; // absolute, ending in "/"
    std::int32_t jobs = 3;
};

// Downloads the chosen files through the engine, at most settings.jobs at once, polling every
// task and showing progress in `view`; explanations of skipped and failed files go to standard
// error. A file whose name is unsafe or was chosen before is skipped; one that exists in the
// save folder without the engine's working files beside it counts as done and is left alone,
// so nothing already there is overwritten and a finished file is not fetched again. When
// `stop` turns nonzero, the running tasks are stopped (the engine saves their progress) and
// the rest is left NotFinished. Every task is deleted from the engine before this returns;
// the files and their progress records stay, so the same run again resumes.
std::vector<FileOutcome> RunDownloads(EngineApi& engine, const std::vector<ChosenFile>& files,
                                      const RunSettings& settings, ProgressView& view,
                                      const std::atomic<int>& stop);

} // namespace pandrel::get
