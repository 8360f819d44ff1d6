#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

#include "runtime/program_state.h"

namespace Ui {
class MainWindowForm;
}

namespace pandrel {

// The one window of the program, built from main_window.ui: fixed size 959 x 483, centred on
// the screen, minimise and close buttons only. Building it registers it with the control
// services and binds its events to the handlers; it holds no logic of its own. `state` must
// outlive the window.
class MainWindow : public QWidget {
public:
    explicit MainWindow(ProgramState& state);
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    static constexpr int kDesignWidth = 959;
    static constexpr int kDesignHeight = 483;

private:
    void ApplyListSettings();
    void CentreOnScreen();

    std::unique_ptr<Ui::MainWindowForm> m_ui;
    QTimer* m_clipboardTimer = nullptr;
};

} // namespace pandrel
