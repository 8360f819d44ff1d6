#include "app/application.h"

#include "app/pending_handlers.h"
#include "runtime/ui/deployment_loader.h"
#include "runtime/ui/fatal_presenter.h"

namespace pandrel {

Application::Application(const Text& runDir) {
    InstallFatalErrorPresenter();
    m_state.RunDir = runDir;
    m_state.deployment = LoadDeployment(runDir);
}

Application::~Application() = default;

void Application::Start(const StartupSteps& steps) {
    m_window = std::make_unique<MainWindow>(m_state);
    // Start-up runs before the window is first shown, as inside its created event: the
    // window appears already narrowed and filled.
    OnMainWindowCreated(m_state, steps);
    m_window->show();
}

void Application::Start() {
    Start(pending::EngineStartupSteps());
}

} // namespace pandrel
