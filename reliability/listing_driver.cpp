// Drives the real window offscreen through one parse of a listing and, when asked, "下载该文件"
// on its first rows, then reports what it saw on stdout as "key=value" lines:
//   listing_driver RUN_DIR SERVICE_URL [DOWNLOAD_ROWS] [SECONDS] [every]
// RUN_DIR is the program's folder (WorkDir is made under it); SERVICE_URL the parse service,
// or "-" for no parse at all: the start-up alone, with its restore of RUN_DIR/test.txt.
// Besides the status, rows and task states it reports how long start-up took (startup_ms),
// the longest hold-up of the event loop after it (longest_stall_ms), the largest resident
// size before start-up and at the end (base_rss_mib, peak_rss_mib), the most labels that
// showed rich text at once (rich_labels), and the file list's names (file=) of a short list.
// With "every", it waits until every task row has a state (each worker walks the rows a
// second apart, so later rows get theirs later); without it, until none shows "正在下载".
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

// Waits, at most `seconds`, until no task row shows "正在下载" any more, and with `every`
// until every row has a state. Without `every` a row may stay without a state: workers find
// their rows by file name, so of several rows with one name (a hostile listing's empty names)
// only the first is ever worked on.
bool WaitForTasks(QTreeWidget* tasks, int stateColumn, int seconds, bool every) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        bool busy = clock.elapsed() < 2000;
        for (int i = 0; i < tasks->topLevelItemCount(); ++i) {
            const std::string state = FromQString(tasks->topLevelItem(i)->text(stateColumn));
            busy = busy || state == "正在下载" || (every && state.empty());
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
        std::fprintf(stderr,
                     "usage: listing_driver RUN_DIR SERVICE_URL [ROWS] [SECONDS] [every]\n");
        return 64;
    }
    const std::string runDir = argv[1];
    const std::string service = argv[2];
    const int downloadRows = argc > 3 ? std::atoi(argv[3]) : 0;
    const int seconds = argc > 4 ? std::atoi(argv[4]) : 60;
    const bool every = argc > 5 && std::string(argv[5]) == "every";
    const bool parse = service != "-";
    std::ofstream(runDir + "/pandrel.ini")
        << "[deployment]\nparse_service=" << (parse ? service : "http://127.0.0.1:9")
        << "/\nshare_host=pan.example.com\n";

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
    const long baseRss = PeakResidentMiB();
    QElapsedTimer startup;
    startup.start();
    program.Start(steps);
    QApplication::processEvents();
    const qint64 startupMs = startup.elapsed();
    WindowWatch watch(program);

    if (parse) {
        Paste(Control<QLineEdit>(program, "编辑框1"),
              "链接：https://pan.example.com/s/HostileShare 提取码：abcd");
        Control<QPushButton>(program, "解析")->click();
    }
    QApplication::processEvents();
    watch.CheckLabels();

    auto* files = Control<QTreeWidget>(program, "文件列表框");
    std::printf("status=%s\nrows=%d\n",
                FromQString(Control<QLabel>(program, "状态")->text()).c_str(),
                files->topLevelItemCount());
    for (int i = 0; files->topLevelItemCount() <= 50 && i < files->topLevelItemCount(); ++i) {
        std::printf("file=%s\n", FromQString(files->topLevelItem(i)->text(1)).c_str());
    }

    QAction* download = MenuAction(program, "下载该文件");
    const int rows = std::min(downloadRows, files->topLevelItemCount());
    for (int i = 0; i < rows && download != nullptr; ++i) {
        files->clearSelection();
        files->setCurrentItem(files->topLevelItem(i));
        download->trigger();
        QApplication::processEvents();
    }
    auto* tasks = Control<QTreeWidget>(program, "列表框_任务信息");
    const bool settled = rows == 0 || WaitForTasks(tasks, StateColumn(tasks), seconds, every);
    for (int i = 0; tasks != nullptr && i < tasks->topLevelItemCount(); ++i) {
        std::printf("task=%s|%s\n", FromQString(tasks->topLevelItem(i)->text(0)).c_str(),
                    FromQString(tasks->topLevelItem(i)->text(StateColumn(tasks))).c_str());
    }
    watch.CheckLabels();
    std::printf("startup_ms=%lld\nlongest_stall_ms=%lld\nbase_rss_mib=%ld\npeak_rss_mib=%ld\n"
                "rich_labels=%d\n",
                static_cast<long long>(startupMs), static_cast<long long>(watch.LongestStallMs()),
                baseRss, PeakResidentMiB(), watch.MostRichLabels());
    std::fflush(stdout);
    // Leave at once: the window's close runs no handler, as in the program.
    _exit(settled ? 0 : 2);
}
