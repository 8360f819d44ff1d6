#include "app/application.h"

#include "runtime/program_files.h"
#include "runtime/ui/deployment_loader.h"
#include "runtime/ui/fatal_presenter.h"
#include "runtime/ui/qt_translations.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

Application::Application(const Text& runDir)
    : Application(ProgramFolders{runDir, runDir, WorkDirectoryOf(runDir)}) {}

Application::Application(const ProgramFolders& folders) {
    InstallFatalErrorPresenter();
    LoadQtChineseTranslations();
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
