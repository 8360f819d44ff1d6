// Asks the window for the same file twice while it downloads, as a user clicking "下载该文件"
// again would, and follows both rows:
//   twice_driver RUN_DIR SERVICE_URL SHARE_ID CODE FILE_NAME keep|delete [SECONDS]
// With "delete", the second row is deleted ("删除此任务") as soon as its state settles. The
// program runs offscreen with its own start-up steps, except that no engine process of another
// run on this machine is ended. Reports on stdout as "key=value" lines:
//   row0=正在下载>已完成     every state each row showed, in order
//   kept=1                  (delete) the first row's working files were still there after it
// Exit 0 when the first row ended "已完成", 1 when it ended otherwise, 2 on a time-out.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "download/engine_binding.h"
#include "download/engine_deployment.h"
#include "download/task_list.h"
#include "reliability/window_driving.h"
#include "runtime/ui/qt_text.h"

using namespace pandrel;

namespace {

// Every distinct state of each task row, as it changed.
class StateLog {
public:
    void Sample(QTreeWidget* tasks) {
        m_states.resize(static_cast<size_t>(tasks->topLevelItemCount()));
        for (int row = 0; row < tasks->topLevelItemCount(); ++row) {
            const std::string state = FromQString(tasks->topLevelItem(row)->text(kStateColumn));
            std::vector<std::string>& seen = m_states[static_cast<size_t>(row)];
            if (!state.empty() && (seen.empty() || seen.back() != state)) {
                seen.push_back(state);
            }
        }
    }
    std::string Last(size_t row) const {
        return row < m_states.size() && !m_states[row].empty() ? m_states[row].back() : "";
    }
    void Print() const {
        for (size_t row = 0; row < m_states.size(); ++row) {
            std::string line;
            for (const std::string& state : m_states[row]) {
                line += (line.empty() ? "" : ">") + state;
            }
            std::printf("row%zu=%s\n", row, line.c_str());
        }
    }

private:
    std::vector<std::vector<std::string>> m_states;
};

bool Ended(const std::string& state) {
    return state == kStateFinished || state == kStateFailed || state == kStateDeleted;
}

// Pumps events and samples the states for `ms`.
void Pump(QTreeWidget* tasks, StateLog& log, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        log.Sample(tasks);
        usleep(10000);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: twice_driver RUN_DIR SERVICE_URL SHARE_ID CODE FILE_NAME "
                             "keep|delete [SECONDS]\n");
        return 64;
    }
    const std::string runDir = argv[1];
    const std::string fileName = argv[5];
    const bool deleteSecond = std::string(argv[6]) == "delete";
    const int seconds = argc > 7 ? std::atoi(argv[7]) : 300;
    std::ofstream(runDir + "/pandrel.ini")
        << "[deployment]\nparse_service=" << argv[2] << "/\nshare_host=pan.example.com\n";

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Application program(runDir);
    LibraryEngine engine;
    StartupSteps steps;
    steps.leftoverProcessName = "twice-driver-none-" + std::to_string(getpid());
    steps.deployEngine = [&engine](ProgramState& state) {
        return DeployEngine(
            state.RunDir, [](const Text&) {}, engine, state.EngineDir);
    };
    steps.releaseGzipLibrary = [](ProgramState& state) { ReleaseGzipLibrary(state.RunDir); };
    program.Start(steps);
    QApplication::processEvents();

    Paste(Control<QLineEdit>(program, "编辑框1"),
          "链接：https://pan.example.com/s/" + std::string(argv[3]) + " 提取码：" + argv[4]);
    Control<QPushButton>(program, "解析")->click();
    QApplication::processEvents();

    auto* files = Control<QTreeWidget>(program, "文件列表框");
    auto* tasks = Control<QTreeWidget>(program, "列表框_任务信息");
    QAction* download = MenuAction(program, "下载该文件");
    QAction* remove = MenuAction(program, "删除此任务");
    QTreeWidgetItem* file = nullptr;
    for (int row = 0; row < files->topLevelItemCount(); ++row) {
        if (FromQString(files->topLevelItem(row)->text(1)) == fileName) {
            file = files->topLevelItem(row);
        }
    }
    if (file == nullptr || download == nullptr || remove == nullptr) {
        std::printf("state=no-such-row\n");
        std::fflush(stdout);
        _exit(1);
    }
    StateLog log;
    const auto ask = [&] {
        files->clearSelection();
        files->setCurrentItem(file);
        download->trigger();
        QApplication::processEvents();
    };
    ask();
    // The second request comes while the first runs, once it has a handle and some bytes.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL &&
           (tasks->topLevelItem(0)->text(kHandleColumn).isEmpty() ||
            tasks->topLevelItem(0)->text(kAmountColumn).startsWith(QStringLiteral("0.00/")))) {
        Pump(tasks, log, 50);
    }
    ask();
    bool deleted = false;
    while (clock.elapsed() < seconds * 1000LL && !(Ended(log.Last(0)) && Ended(log.Last(1)))) {
        Pump(tasks, log, 50);
        if (deleteSecond && !deleted && Ended(log.Last(1))) {
            deleted = true;
            tasks->clearSelection();
            tasks->setCurrentItem(tasks->topLevelItem(1));
            remove->trigger(); // blocks while the command waits for the files
            const std::string work = runDir + "/下载目录/" + fileName;
            const bool running = log.Last(0) == kStateDownloading;
            std::printf("kept=%d\n", !running || (std::filesystem::exists(work + ".td") &&
                                                  std::filesystem::exists(work + ".td.cfg")));
        }
    }
    log.Sample(tasks);
    log.Print();
    std::printf("status=%s\n", FromQString(Control<QLabel>(program, "状态")->text()).c_str());
    std::fflush(stdout);
    const std::string first = log.Last(0);
    _exit(!Ended(first) || !Ended(log.Last(1)) ? 2 : first == kStateFinished ? 0 : 1);
}
