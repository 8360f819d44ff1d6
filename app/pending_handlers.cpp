#include "app/pending_handlers.h"

namespace pandrel::pending {

void DownloadSelectedFile(ProgramState&) {}
void StartDownloadWorker(ProgramState&) {}
void PauseSelectedTask(ProgramState&) {}
void StartSelectedTask(ProgramState&) {}
void DeleteSelectedTask(ProgramState&) {}

StartupSteps EngineStartupSteps() {
    return {};
}

} // namespace pandrel::pending
