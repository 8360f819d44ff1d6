#include "window_fixture.h"

#include <QAbstractButton>

#include <unistd.h>

#include "runtime/ui/control_registry.h"

QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "pandrel-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void PumpEvents() {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

pandrel::StartupSteps TestStartupSteps() {
    pandrel::StartupSteps steps;
    steps.leftoverProcessName = "pandrel-no-such-process-" + std::to_string(getpid());
    return steps;
}

void WindowTest::SetUp() {
    SandboxTest::SetUp();
    TestApplication();
    m_state.RunDir = Dir();
}

void WindowTest::TearDown() {
    m_window.reset();
    PumpEvents();
    SandboxTest::TearDown();
}

void WindowTest::StartWindow(const pandrel::StartupSteps& steps) {
    m_window = std::make_unique<pandrel::MainWindow>(m_state);
    pandrel::OnMainWindowCreated(m_state, steps);
    m_window->show();
    PumpEvents();
}

MessageBoxCloser::MessageBoxCloser() {
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && !box->buttons().isEmpty()) {
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            box->buttons().first()->click();
        }
    });
    m_timer.start(20);
}

pandrel::Text SampleListing(int rows) {
    pandrel::Text text;
    for (int i = 1; i <= rows; ++i) {
        const std::string n = std::to_string(i);
        text += "\n<tr><td>file" + n + ".bin</td><td>" + n +
                " KB</td><td><a target=\"_blank\" href=\"http://127.0.0.1:8580/f/" + n +
                "\">点我下载</a></td></tr>";
    }
    return text;
}
