// parse-bench RUN_DIR SHARE_TEXT ROWS
//
// Times one parse through the real window: RUN_DIR holds the pandrel.ini that points the
// window at the parse service, SHARE_TEXT is pasted into the input box, and the time runs
// from the click on "解析" until the file list holds ROWS rows and has been painted. Prints
// "window: <ms> ms for <rows> rows" and exits 0, or exits 1 when the parse did not succeed
// with ROWS rows. The engine is not deployed: only the parse is measured.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdio>

#include "app/application.h"
#include "runtime/ui/qt_text.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    bool numeric = false;
    const int rows = arguments.size() == 4 ? arguments[3].toInt(&numeric) : 0;
    if (!numeric || rows < 0) {
        std::fprintf(stderr, "usage: parse-bench RUN_DIR SHARE_TEXT ROWS\n");
        return 2;
    }

    pandrel::Application program(pandrel::FromQString(QDir(arguments[1]).absolutePath()));
    pandrel::StartupSteps steps;
    steps.leftoverProcessName = "parse-bench-no-such-process-" + std::to_string(getpid());
    program.Start(steps);
    QWidget& window = *program.Window();
    auto* input = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    auto* button = window.findChild<QPushButton*>(QStringLiteral("解析"));
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("文件列表框"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("状态"));
    if (input == nullptr || button == nullptr || list == nullptr || status == nullptr) {
        std::fprintf(stderr, "parse-bench: the parse controls are missing\n");
        return 1;
    }
    QApplication::processEvents();

    input->setFocus();
    input->selectAll();
    QInputMethodEvent paste;
    paste.setCommitString(arguments[2]);
    QApplication::sendEvent(input, &paste);
    QApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    button->click();
    // The command runs inside the click; the list is filled once it returns. Painting the
    // filled list is part of what the user waits for.
    list->viewport()->repaint();
    const qint64 elapsed = clock.elapsed();

    const int shown = list->topLevelItemCount();
    std::printf("parse-bench: %s\n", qPrintable(status->text()));
    std::printf("window: %lld ms for %d rows\n", static_cast<long long>(elapsed), shown);
    return shown == rows && status->text().startsWith(QStringLiteral("解析成功")) ? 0 : 1;
}
