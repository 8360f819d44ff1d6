#include "app/pending_handlers.h"

namespace pandrel::pending {

void RunParse(ProgramState&) {}
void FetchSampleListing(ProgramState&) {}
void DownloadSelectedFile(ProgramState&) {}
void StartDownloadWorker(ProgramState&) {}
void PauseSelectedTask(ProgramState&) {}
void StartSelectedTask(ProgramState&) {}
void DeleteSelectedTask(ProgramState&) {}

StartupSteps EngineStartupSteps() {
    return {};
}

} // namespace pandrel::pending
