#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "runtime/program_state.h"
#include "support/sandbox.h"
#include "support/wait_for.h"

// One application object for the whole test binary, on the offscreen platform.
QApplication& TestApplication();

void PumpEvents();

// Start-up steps for tests: no engine, and a leftover-process name no real process carries,
// so a test never ends an engine process of another run on the same machine.
pandrel::StartupSteps TestStartupSteps();

// A fresh run directory, program state and main window per test.
class WindowTest : public SandboxTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window and runs start-up, as the program does.
    void StartWindow(const pandrel::StartupSteps& steps = TestStartupSteps());

    template <typename T> T* Control(const char* name) const {
        return m_window->findChild<T*>(QString::fromUtf8(name));
    }

    pandrel::ProgramState m_state;
    std::unique_ptr<pandrel::MainWindow> m_window;
};

// Presses the first button of every message box that comes up while it lives, noting
// "caption|text" of each.
class MessageBoxCloser {
public:
    MessageBoxCloser();
    QStringList seen;

private:
    QTimer m_timer;
};

// A listing of `rows` rows in the parse service's table format: file<i>.bin, <i> KB, link
// http://127.0.0.1:8580/f/<i>.
pandrel::Text SampleListing(int rows);
