#pragma once

#include "app/startup.h"
#include "runtime/program_state.h"

namespace pandrel::pending {

// Handlers whose commands are built by later work: the download and the task commands. The
// window is already bound to them by name; until their commands land they do nothing. Each one is
// replaced in the event table by the real command.
void DownloadSelectedFile(ProgramState& state);
void StartDownloadWorker(ProgramState& state);
void PauseSelectedTask(ProgramState& state);
void StartSelectedTask(ProgramState& state);
void DeleteSelectedTask(ProgramState& state);

// The start-up steps the download layer supplies (engine deployment, the gzip library);
// empty until it does, and start-up then goes straight on to the download folder.
StartupSteps EngineStartupSteps();

} // namespace pandrel::pending
