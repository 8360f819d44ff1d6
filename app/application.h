#pragma once

#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "runtime/files.h"
#include "runtime/program_state.h"

namespace pandrel {

// Global initialisation: the program-wide state for a run directory, the fatal-error box,
// the main window built from its template, and the start-up sequence. The state lives as
// long as this object and is released with it when the message loop has ended.
class Application {
public:
    explicit Application(const Text& runDir);
    ~Application();

    // Builds the window, runs start-up and shows the window.
    void Start(const StartupSteps& steps);
    void Start();

    ProgramState& State() { return m_state; }
    MainWindow* Window() { return m_window.get(); }

private:
    ProgramState m_state;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace pandrel
