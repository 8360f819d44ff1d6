// batch-bench RUN_DIR SHARE_TEXT FILES
// batch-bench --startup RUN_DIR
//
// Times a batch download through the real window and engine: RUN_DIR holds the pandrel.ini
// that points the window at the parse service, SHARE_TEXT is parsed, every file is ticked
// through "全部勾选" and "下载勾选的文件" is chosen. Prints the time from that choice until every
// one of the FILES task rows has its engine task (its handle shown), until every row reads
// "已完成", and the processor time the window's process and the engine's host spent meanwhile.
// Exits 0 when every row finished, 1 otherwise. With --startup it times the start-up alone
// (window built, engine released and started, unfinished downloads restored, window shown) and
// prints how many task rows it restored.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/application.h"
#include "runtime/control_names.h"
#include "runtime/processes.h"
#include "runtime/ui/qt_text.h"

namespace {

QString Name(const char* control) {
    return QString::fromUtf8(control);
}

double OwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The processor time of this process's engine host, from /proc (fields 14 and 15 of its
// stat, after the name in parentheses); 0 when there is none.
double HostCpuSeconds() {
    for (const std::int32_t id : pandrel::ChildProcessIds()) {
        if (pandrel::ProcessExecutableName(id) != "dlhost") {
            continue;
        }
        std::ifstream in("/proc/" + std::to_string(id) + "/stat");
        std::string stat;
        std::getline(in, stat);
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            return 0;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::string skip;
        for (int i = 0; i < 11; ++i) { // state, parent, ... up to utime
            fields >> skip;
        }
        long long user = 0, system = 0;
        fields >> user >> system;
        return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return 0;
}

void Settle(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

QAction* FileMenuItem(QWidget& window, const char* caption) {
    auto* menu = window.findChild<QMenu*>(Name(pandrel::kFileMenu));
    for (QAction* action : menu != nullptr ? menu->actions() : QList<QAction*>()) {
        if (action->text() == QString::fromUtf8(caption)) {
            return action;
        }
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--startup") {
        QElapsedTimer clock;
        clock.start();
        pandrel::Application program(
            QDir(QString::fromLocal8Bit(argv[2])).absolutePath().toStdString());
        program.Start();
        const qint64 elapsed = clock.elapsed();
        auto* tasks = program.Window()->findChild<QTreeWidget*>(Name(pandrel::kTaskList));
        std::printf("batch-bench: start-up took %lld ms and restored %d unfinished downloads\n",
                    static_cast<long long>(elapsed), tasks ? tasks->topLevelItemCount() : -1);
        return 0;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: batch-bench RUN_DIR SHARE_TEXT FILES | --startup RUN_DIR\n");
        return 2;
    }
    const int files = std::atoi(argv[3]);
    pandrel::Application program(
        QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString());
    program.Start();
    QWidget& window = *program.Window();
    auto* input = window.findChild<QLineEdit*>(Name(pandrel::kShareInputBox));
    auto* parse = window.findChild<QPushButton*>(Name(pandrel::kParseButton));
    auto* list = window.findChild<QTreeWidget*>(Name(pandrel::kFileList));
    auto* tasks = window.findChild<QTreeWidget*>(Name(pandrel::kTaskList));
    QAction* checkAll = FileMenuItem(window, "全部勾选");
    QAction* downloadChecked = FileMenuItem(window, "下载勾选的文件");
    if (!input || !parse || !list || !tasks || !checkAll || !downloadChecked) {
        std::fprintf(stderr, "batch-bench: the window's controls are missing\n");
        return 1;
    }
    input->setText(QString::fromUtf8(argv[2]));
    parse->click();
    if (list->topLevelItemCount() != files) {
        std::fprintf(stderr, "batch-bench: the parse gave %d files, not %d\n",
                     list->topLevelItemCount(), files);
        return 1;
    }
    checkAll->trigger();
    Settle(100);

    const double ownBefore = OwnCpuSeconds();
    const double hostBefore = HostCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    downloadChecked->trigger();
    qint64 created = -1;
    qint64 finishedAt = -1;
    while (clock.elapsed() < 600000) {
        Settle(20);
        int withHandle = 0;
        int finished = 0;
        for (int row = 0; row < tasks->topLevelItemCount(); ++row) {
            withHandle += !tasks->topLevelItem(row)->text(pandrel::kHandleColumn).isEmpty();
            finished +=
                tasks->topLevelItem(row)->text(pandrel::kStateColumn) == QStringLiteral("已完成");
        }
        if (created < 0 && withHandle == files) {
            created = clock.elapsed();
        }
        if (finished == files) {
            finishedAt = clock.elapsed();
            break;
        }
    }
    const double own = OwnCpuSeconds() - ownBefore;
    const double host = HostCpuSeconds() - hostBefore;
    std::printf("batch-bench: %d tasks created in %lld ms (target: within 5000 ms of the click)\n",
                files, static_cast<long long>(created));
    if (finishedAt < 0) {
        std::printf("batch-bench: not every task finished within 10 minutes\n");
        return 1;
    }
    const double seconds = static_cast<double>(finishedAt) / 1000.0;
    std::printf("batch-bench: all %d finished in %.2f s\n", files, seconds);
    std::printf("batch-bench: window process %.2f s of processor time (%.0f %% of one core), "
                "engine host %.2f s (%.0f %%)\n",
                own, 100.0 * own / seconds, host, 100.0 * host / seconds);
    return 0;
}
