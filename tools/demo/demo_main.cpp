// pandrel-demo RUN_DIR OUT_DIR [SHARE_TEXT]
//
// Starts the program's window with RUN_DIR as its run directory, lets start-up finish, and
// saves screenshots of the window into OUT_DIR: window.png (as it opens), then one picture
// per tab page. With SHARE_TEXT it then pastes that text into the input box, presses "解析",
// ticks every file through the file list's "全部勾选" and saves file-list.png with the list the
// parse filled; the run fails when the parse does not report success. It then downloads the
// ticked files through "下载勾选的文件" and saves tasks-running.png (a download on its way,
// when one is slow enough to be seen) and tasks.png (the finished task list); the run fails
// unless every task finished.
// Exits 0 when every picture was written.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

#include "app/application.h"
#include "runtime/control_names.h"
#include "runtime/program_files.h"
#include "runtime/ui/qt_text.h"

namespace {

QString Name(const char* control) {
    return QString::fromUtf8(control);
}

void Settle(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool Save(QWidget& window, const QString& path) {
    Settle(200);
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "pandrel-demo: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("pandrel-demo: saved %s\n", qPrintable(path));
    return true;
}

// Pastes the share text as an input method delivers it and clicks "解析" on the parse page.
bool Parse(QWidget& window, QTabWidget* pages, const QString& shareText) {
    auto* input = window.findChild<QLineEdit*>(Name(pandrel::kShareInputBox));
    auto* button = window.findChild<QPushButton*>(Name(pandrel::kParseButton));
    auto* status = window.findChild<QLabel*>(Name(pandrel::kStatusLine));
    if (input == nullptr || button == nullptr || status == nullptr) {
        std::fprintf(stderr, "pandrel-demo: the parse controls are missing\n");
        return false;
    }
    if (pages != nullptr) {
        pages->setCurrentIndex(0);
    }
    input->setFocus();
    input->selectAll();
    QInputMethodEvent paste;
    paste.setCommitString(shareText);
    QApplication::sendEvent(input, &paste);
    button->click();
    Settle(200);
    std::printf("pandrel-demo: %s\n", qPrintable(status->text()));
    return status->text().startsWith(QStringLiteral("解析成功"));
}

QAction* FileMenuItem(QWidget& window, const QString& caption) {
    auto* menu = window.findChild<QMenu*>(Name(pandrel::kFileMenu));
    for (QAction* action : menu != nullptr ? menu->actions() : QList<QAction*>()) {
        if (action->text() == caption) {
            return action;
        }
    }
    return nullptr;
}

// Ticks every file through the file list's "全部勾选", as the user does through its menu.
bool CheckAll(QWidget& window) {
    QAction* checkAll = FileMenuItem(window, QStringLiteral("全部勾选"));
    if (checkAll == nullptr) {
        std::fprintf(stderr, "pandrel-demo: the file list's menu has no 全部勾选\n");
        return false;
    }
    checkAll->trigger();
    Settle(100);
    return true;
}

// Chooses "下载勾选的文件" in the file list's menu, then waits (at most two minutes) until every
// task row has ended. Saves tasks-running.png once a task shows progress on its way, and
// tasks.png at the end.
bool DownloadChecked(QWidget& window, QTabWidget* pages, const QString& outDir) {
    auto* files = window.findChild<QTreeWidget*>(Name(pandrel::kFileList));
    auto* tasks = window.findChild<QTreeWidget*>(Name(pandrel::kTaskList));
    QAction* download = FileMenuItem(window, QStringLiteral("下载勾选的文件"));
    if (files == nullptr || tasks == nullptr || download == nullptr) {
        std::fprintf(stderr, "pandrel-demo: the download controls are missing\n");
        return false;
    }
    download->trigger();
    Settle(100);
    if (pages != nullptr) {
        pages->setCurrentIndex(pages->indexOf(tasks->parentWidget()));
    }
    const auto state = [tasks](int row) {
        return tasks->topLevelItem(row)->text(pandrel::kStateColumn);
    };
    bool savedRunning = false;
    bool saved = true;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        Settle(100);
        int ended = 0;
        bool running = false;
        for (int row = 0; row < tasks->topLevelItemCount(); ++row) {
            const QString text = state(row);
            ended += text == QStringLiteral("已完成") || text == QStringLiteral("下载失败");
            // Well on its way, so the picture shows a bar that is partly filled.
            const QString percent = tasks->topLevelItem(row)->text(pandrel::kProgressColumn);
            const double value = percent.chopped(2).toDouble();
            running = running || (text == QStringLiteral("正在下载") && value >= 25 && value < 90);
        }
        if (running && !savedRunning) {
            savedRunning = true;
            saved = Save(window, outDir + QStringLiteral("/tasks-running.png")) && saved;
        }
        if (ended == tasks->topLevelItemCount() || clock.elapsed() > 120000) {
            break;
        }
    }
    saved = Save(window, outDir + QStringLiteral("/tasks.png")) && saved;
    bool finished = tasks->topLevelItemCount() == files->topLevelItemCount();
    for (int row = 0; row < tasks->topLevelItemCount(); ++row) {
        std::printf("pandrel-demo: %s  %s  %s\n",
                    qPrintable(tasks->topLevelItem(row)->text(pandrel::kNameColumn)),
                    qPrintable(tasks->topLevelItem(row)->text(pandrel::kAmountColumn)),
                    qPrintable(state(row)));
        finished = finished && state(row) == QStringLiteral("已完成");
    }
    return saved && finished;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3 && arguments.size() != 4) {
        std::fprintf(stderr, "usage: pandrel-demo RUN_DIR OUT_DIR [SHARE_TEXT]\n");
        return 2;
    }
    const QString runDir = QDir(arguments[1]).absolutePath();
    const QString outDir = QDir(arguments[2]).absolutePath();
    if (!QDir().mkpath(runDir) || !QDir().mkpath(outDir)) {
        std::fprintf(stderr, "pandrel-demo: cannot create the run or output folder\n");
        return 1;
    }

    pandrel::Application program(pandrel::FromQString(runDir));
    program.Start();
    QWidget& window = *program.Window();
    auto* pages = window.findChild<QTabWidget*>(Name(pandrel::kPages));

    bool saved = Save(window, outDir + QStringLiteral("/window.png"));
    const char* pageFiles[] = {"page-parse.png", "page-download.png", "page-about.png"};
    for (int page = 0; pages != nullptr && page < pages->count() && page < 3; ++page) {
        pages->setCurrentIndex(page);
        saved = Save(window, outDir + QLatin1Char('/') + QLatin1String(pageFiles[page])) && saved;
    }
    if (arguments.size() == 4) {
        saved = Parse(window, pages, arguments[3]) && CheckAll(window) &&
                Save(window, outDir + QStringLiteral("/file-list.png")) &&
                DownloadChecked(window, pages, outDir) && saved;
        std::printf("pandrel-demo: downloaded files in %s\n",
                    pandrel::WorkDirectoryOf(pandrel::FromQString(runDir)).c_str());
    }
    return saved ? 0 : 1;
}
