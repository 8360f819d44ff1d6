#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

#include "runtime/program_state.h"

namespace Ui {
class MainWindowForm;
}

namespace pandrel {

class DownloadManager;

// The one window of the program, built from main_window.ui: a fixed client area 959 pixels
// wide (730 after start-up) down to the bottom of the status line, 448 pixels, centred on the
// screen at the design's outer size of 959 x 483, minimise and close buttons only. Building it
// registers it with the control services and binds its events to the handlers; it holds no
// logic of its own. `state` and `downloads` (null: no engine) must outlive the window.
class MainWindow : public QWidget {
public:
    explicit MainWindow(ProgramState& state, DownloadManager* downloads = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The design's outer size, frame and title bar included.
    static constexpr int kDesignWidth = 959;
    static constexpr int kDesignHeight = 483;

    // Where the window's outer top-left goes on a screen of that geometry and available area
    // (the screen less panels and docks): centred on the whole screen at the design's outer
    // size, then moved only as far as it takes to lie inside the available area; where the
    // area is smaller, its left and top edges stay inside, with the controls and the title bar.
    static QPoint Placement(const QRect& screen, const QRect& available);

private:
    void ApplyListSettings();
    void CentreOnScreen();

    std::unique_ptr<Ui::MainWindowForm> m_ui;
    QTimer* m_clipboardTimer = nullptr;
};

} // namespace pandrel
