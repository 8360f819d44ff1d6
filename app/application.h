#pragma once

#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "download/download_manager.h"
#include "download/engine_binding.h"
#include "runtime/files.h"
#include "runtime/program_folders.h"
#include "runtime/program_state.h"

namespace pandrel {

// Global initialisation: the program-wide state for a run directory, the fatal-error box,
// Qt's own texts in Chinese, the main window built from its template, and the start-up
// sequence. The state lives as long as this object and is released with it when the message
// loop has ended.
class Application {
public:
    // Every file beside the program in `runDir`, as in a portable copy.
    explicit Application(const Text& runDir);
    explicit Application(const ProgramFolders& folders);
    ~Application();

    // Builds the window, runs start-up and shows the window. Without steps, start-up releases
    // and initialises the engine library beside the program and places the gzip library.
    void Start(const StartupSteps& steps);
    void Start();

    ProgramState& State() { return m_state; }
    MainWindow* Window() { return m_window.get(); }

private:
    ProgramState m_state;
    // The one engine of the run and the download workers that use it; the window goes first,
    // then the workers are stopped, then the engine.
    LibraryEngine m_engine;
    DownloadManager m_downloads{m_engine};
    std::unique_ptr<MainWindow> m_window;
};

} // namespace pandrel
