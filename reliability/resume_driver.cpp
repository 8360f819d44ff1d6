// Runs the whole program offscreen once, as a person would: the real start-up in RUN_DIR
// (ending a leftover engine process, releasing and initialising the engine), a parse of the
// share through "解析", and "下载该文件" on the file of that name. Then it follows the task
// row until the download has ended, reporting on stdout as "key=value" lines:
//   resume_driver RUN_DIR SERVICE_URL SHARE_ID CODE FILE_NAME [SECONDS]
// "downloading" is printed once the row shows "正在下载", then "amount=..." about once a
// second, so a caller knows when the download runs (and may kill the process then).
// Exit 0 when the row shows "已完成", 1 when the parse, the row or the download failed, 2 on a
// time-out.
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
#include "download/task_list.h"
#include "reliability/window_driving.h"
#include "runtime/ui/qt_text.h"

using namespace pandrel;

namespace {

// The file list's row that names `fileName` in any column, or nullptr.
QTreeWidgetItem* FileRow(QTreeWidget* files, const std::string& fileName) {
    for (int row = 0; row < files->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = files->topLevelItem(row);
        for (int column = 0; column < files->columnCount(); ++column) {
            if (FromQString(item->text(column)) == fileName) {
                return item;
            }
        }
    }
    return nullptr;
}

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Follows the last task row until it has ended; the exit code of the run.
int FollowTask(QTreeWidget* tasks, int seconds) {
    QElapsedTimer clock;
    clock.start();
    qint64 lastReport = -1000;
    bool announced = false;
    while (clock.elapsed() < seconds * 1000LL) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QTreeWidgetItem* row = tasks->topLevelItem(tasks->topLevelItemCount() - 1);
        const std::string state = FromQString(row->text(kStateColumn));
        if (state == kStateDownloading && !announced) {
            announced = true;
            Say("downloading");
        }
        if (clock.elapsed() - lastReport >= 1000) {
            lastReport = clock.elapsed();
            Say("amount=" + FromQString(row->text(kAmountColumn)));
        }
        if (state == kStateFinished || state == kStateFailed) {
            Say("state=" + state);
            return state == kStateFinished ? 0 : 1;
        }
        usleep(20000);
    }
    Say("state=timeout");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: resume_driver RUN_DIR SERVICE_URL SHARE_ID CODE FILE_NAME "
                             "[SECONDS]\n");
        return 64;
    }
    const std::string runDir = argv[1];
    const std::string service = argv[2];
    const std::string shareId = argv[3];
    const std::string code = argv[4];
    const std::string fileName = argv[5];
    const int seconds = argc > 6 ? std::atoi(argv[6]) : 600;
    std::ofstream(runDir + "/pandrel.ini")
        << "[deployment]\nparse_service=" << service << "/\nshare_host=pan.example.com\n";

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Application program(runDir);
    program.Start();
    QApplication::processEvents();

    Paste(Control<QLineEdit>(program, "编辑框1"),
          "链接：https://pan.example.com/s/" + shareId + " 提取码：" + code);
    Control<QPushButton>(program, "解析")->click();
    QApplication::processEvents();
    Say("status=" + FromQString(Control<QLabel>(program, "状态")->text()));

    auto* files = Control<QTreeWidget>(program, "文件列表框");
    QTreeWidgetItem* file = FileRow(files, fileName);
    QAction* download = MenuAction(program, "下载该文件");
    if (file == nullptr || download == nullptr) {
        Say("state=no-such-row");
        _exit(1);
    }
    files->clearSelection();
    files->setCurrentItem(file);
    download->trigger();
    QApplication::processEvents();

    auto* tasks = Control<QTreeWidget>(program, "列表框_任务信息");
    const int result = tasks->topLevelItemCount() == 0 ? 1 : FollowTask(tasks, seconds);
    // Leave at once: the window's close runs no handler, as in the program.
    _exit(result);
}
