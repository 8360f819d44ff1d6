// Drives the real window offscreen through one parse of a listing and, when asked, "下载该文件"
// on its first rows, then reports what it saw on stdout as "key=value" lines:
//   listing_driver RUN_DIR SERVICE_URL [DOWNLOAD_ROWS] [SECONDS]
// RUN_DIR is the program's folder (WorkDir is made under it); SERVICE_URL the parse service.
// Exit 0 when the window came through (whatever the listing held), 2 on a time-out.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/application.h"
#include "download/engine_binding.h"
#include "download/engine_deployment.h"
#include "reliability/window_driving.h"
#include "runtime/ui/qt_text.h"

using namespace pandrel;

namespace {

// Waits, at most `seconds`, until no task row shows "正在下载" any more. A row may stay
// without a state: workers find their rows by file name, so of several rows with one name
// (a hostile listing's empty names) only the first is ever worked on.
bool WaitForTasks(QTreeWidget* tasks, int stateColumn, int seconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        bool busy = clock.elapsed() < 2000;
        for (int i = 0; i < tasks->topLevelItemCount(); ++i) {
            busy = busy || FromQString(tasks->topLevelItem(i)->text(stateColumn)) == "正在下载";
        }
        if (!busy) {
            return true;
        }
        usleep(20000);
    }
    return false;
}

int StateColumn(QTreeWidget* tasks) {
    for (int column = 0; column < tasks->columnCount(); ++column) {
        if (tasks->headerItem()->text(column) == QString::fromUtf8("状态")) {
            return column;
        }
    }
    return 5;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: listing_driver RUN_DIR SERVICE_URL [ROWS] [SECONDS]\n");
        return 64;
    }
    const std::string runDir = argv[1];
    const std::string service = argv[2];
    const int downloadRows = argc > 3 ? std::atoi(argv[3]) : 0;
    const int seconds = argc > 4 ? std::atoi(argv[4]) : 60;
    std::ofstream(runDir + "/pandrel.ini")
        << "[deployment]\nparse_service=" << service << "/\nshare_host=pan.example.com\n";

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Application program(runDir);
    // The program's own start-up steps, except that no engine process of another run on this
    // machine is ended: the engine library is one per process, so this binding drives the
    // same engine the download workers use.
    LibraryEngine engine;
    StartupSteps steps;
    steps.leftoverProcessName = "listing-driver-none-" + std::to_string(getpid());
    steps.deployEngine = [&engine, downloadRows](ProgramState& state) {
        return downloadRows == 0 || DeployEngine(
                                        state.RunDir, [](const Text&) {}, engine, state.EngineDir);
    };
    steps.releaseGzipLibrary = [](ProgramState& state) { ReleaseGzipLibrary(state.RunDir); };
    program.Start(steps);
    QApplication::processEvents();

    Paste(Control<QLineEdit>(program, "编辑框1"),
          "链接：https://pan.example.com/s/HostileShare 提取码：abcd");
    Control<QPushButton>(program, "解析")->click();
    QApplication::processEvents();

    auto* files = Control<QTreeWidget>(program, "文件列表框");
    std::printf("status=%s\nrows=%d\n",
                FromQString(Control<QLabel>(program, "状态")->text()).c_str(),
                files->topLevelItemCount());

    QAction* download = MenuAction(program, "下载该文件");
    const int rows = std::min(downloadRows, files->topLevelItemCount());
    for (int i = 0; i < rows && download != nullptr; ++i) {
        files->clearSelection();
        files->setCurrentItem(files->topLevelItem(i));
        download->trigger();
        QApplication::processEvents();
    }
    auto* tasks = Control<QTreeWidget>(program, "列表框_任务信息");
    const bool settled = rows == 0 || WaitForTasks(tasks, StateColumn(tasks), seconds);
    for (int i = 0; tasks != nullptr && i < tasks->topLevelItemCount(); ++i) {
        std::printf("task=%s|%s\n", FromQString(tasks->topLevelItem(i)->text(0)).c_str(),
                    FromQString(tasks->topLevelItem(i)->text(StateColumn(tasks))).c_str());
    }
    std::fflush(stdout);
    // Leave at once: the window's close runs no handler, as in the program.
    _exit(settled ? 0 : 2);
}
