#include "app/application.h"

#include "download/engine_deployment.h"
#include "download/restored_tasks.h"
#include "runtime/program_files.h"
#include "runtime/ui/deployment_loader.h"
#include "runtime/ui/fatal_presenter.h"
#include "runtime/ui/ui_thread.h"
#include "runtime/ui/work_log.h"

namespace pandrel {
namespace {

// Start-up's engine steps: the carried engine files into RunDir + "/DownLoad/" and the
// engine's initialisation, and the carried gzip library beside the program.
StartupSteps EngineStartupSteps(EngineApi& engine, DownloadManager& downloads) {
    StartupSteps steps;
    steps.deployEngine = [&engine](ProgramState& state) {
        return DeployEngine(
            state.RunDir, [](const Text& line) { AppendLog(line, true); }, engine, state.EngineDir);
    };
    steps.releaseGzipLibrary = [](ProgramState& state) { ReleaseGzipLibrary(state.RunDir); };
    steps.restoreDownloads = [&downloads](ProgramState& state) {
        RestoreUnfinishedDownloads(state, &downloads);
    };
    return steps;
}

} // namespace

Application::Application(const Text& runDir) : Application(ProgramFolders{runDir, runDir, {}}) {}

Application::Application(const ProgramFolders& folders) {
    InstallFatalErrorPresenter();
    m_state.RunDir = folders.runDir;
    if (folders.programDir != folders.runDir) {
        m_state.ProgramDir = folders.programDir;
    }
    if (folders.workDir != WorkDirectoryOf(folders.runDir)) {
        m_state.PlannedWorkDir = folders.workDir;
    }
    m_state.deployment = LoadDeployment(m_state.RunDir);
}

Application::~Application() {
    m_window.reset();
    m_downloads.StopWorkers();
}

void Application::Start(const StartupSteps& steps) {
    AssertUiThread();
    m_window = std::make_unique<MainWindow>(m_state, &m_downloads);
    // Start-up runs before the window is first shown, as inside its created event: the
    // window appears already narrowed and filled.
    OnMainWindowCreated(m_state, steps);
    m_window->show();
}

void Application::Start() {
    Start(EngineStartupSteps(m_engine, m_downloads));
}

} // namespace pandrel
