// parse-bench RUN_DIR SHARE_TEXT ROWS
//
// Times parses through the real window: RUN_DIR holds the pandrel.ini that points the window
// at the parse service, SHARE_TEXT is pasted into the input box, and each time runs from the
// click on "解析" until the file list holds ROWS rows and has been painted. The first parse
// fills the empty list ("fill"), the second replaces those rows with the same listing
// ("replace"); then clearing the list alone is timed ("clear"). Before the replace and the
// clear a row is chosen, and a stand-in screen reader, if there is one, reads every cell (see
// WaitForReader). Prints one line per step and whether the platform's accessibility bridge was
// active, and exits 0, or 1 when a parse did not succeed with ROWS rows. The engine is not
// deployed: only the parse is measured.

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdio>

#include "app/application.h"
#include "runtime/control_names.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/qt_text.h"

namespace {

struct Controls {
    QLineEdit* input = nullptr;
    QPushButton* button = nullptr;
    QTreeWidget* list = nullptr;
    QLabel* status = nullptr;
};

QString Name(const char* control) {
    return QString::fromUtf8(control);
}

// Milliseconds from the click to the painted list.
qint64 TimeOneParse(const Controls& controls) {
    QElapsedTimer clock;
    clock.start();
    controls.button->click();
    // The command runs inside the click; the list is filled once it returns. Painting the
    // filled list is part of what the user waits for.
    controls.list->viewport()->repaint();
    return clock.elapsed();
}

// With PANDREL_BENCH_READER naming a folder, asks the stand-in screen reader there to read
// every cell of the window (the file "request") and waits, at most two minutes, until it has
// (the file "done"), answering its questions meanwhile.
void WaitForReader() {
    const QString folder = qEnvironmentVariable("PANDREL_BENCH_READER");
    if (folder.isEmpty()) {
        return;
    }
    QFile(folder + QStringLiteral("/request")).open(QIODevice::WriteOnly);
    const QString done = folder + QStringLiteral("/done");
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(done) && clock.elapsed() < 120000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QFile::remove(done);
}

} // namespace

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
    Controls controls;
    controls.input = window.findChild<QLineEdit*>(Name(pandrel::kShareInputBox));
    controls.button = window.findChild<QPushButton*>(Name(pandrel::kParseButton));
    controls.list = window.findChild<QTreeWidget*>(Name(pandrel::kFileList));
    controls.status = window.findChild<QLabel*>(Name(pandrel::kStatusLine));
    if (controls.input == nullptr || controls.button == nullptr || controls.list == nullptr ||
        controls.status == nullptr) {
        std::fprintf(stderr, "parse-bench: the parse controls are missing\n");
        return 1;
    }
    // The bridge may come up only once the event loop has run.
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        usleep(10000);
    }
    std::printf("accessibility: %s\n", QAccessible::isActive() ? "active" : "inactive");

    controls.input->setFocus();
    controls.input->selectAll();
    QInputMethodEvent paste;
    paste.setCommitString(arguments[2]);
    QApplication::sendEvent(controls.input, &paste);
    QApplication::processEvents();

    bool ok = true;
    for (const char* step : {"fill", "replace"}) {
        const qint64 elapsed = TimeOneParse(controls);
        const int shown = controls.list->topLevelItemCount();
        std::printf("%s: %lld ms for %d rows\n", step, static_cast<long long>(elapsed), shown);
        std::fflush(stdout);
        ok = ok && shown == rows && controls.status->text().startsWith(QStringLiteral("解析成功"));
        QApplication::processEvents();
        WaitForReader();
        // As a user who chose a file before parsing again.
        controls.list->setFocus();
        controls.list->setCurrentItem(controls.list->topLevelItem(0));
        QApplication::processEvents();
    }
    std::printf("parse-bench: %s\n", qPrintable(controls.status->text()));

    QElapsedTimer clock;
    clock.start();
    pandrel::DeleteAllRows(pandrel::kFileList);
    controls.list->viewport()->repaint();
    std::printf("clear: %lld ms for %d rows\n", static_cast<long long>(clock.elapsed()), rows);
    return ok ? 0 : 1;
}
