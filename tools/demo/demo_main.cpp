// pandrel-demo RUN_DIR OUT_DIR [SHARE_TEXT]
//
// Starts the program's window with RUN_DIR as its run directory, lets start-up finish, and
// saves screenshots of the window into OUT_DIR: window.png (as it opens), then one picture
// per tab page. With SHARE_TEXT it then pastes that text into the input box, presses "解析"
// and saves file-list.png with the list the parse filled; the run fails when the parse does
// not report success. Exits 0 when every picture was written.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <cstdio>

#include "app/application.h"
#include "runtime/ui/qt_text.h"

namespace {

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
    auto* input = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    auto* button = window.findChild<QPushButton*>(QStringLiteral("解析"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("状态"));
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
    auto* pages = window.findChild<QTabWidget*>(QStringLiteral("文件夹"));

    bool saved = Save(window, outDir + QStringLiteral("/window.png"));
    const char* pageFiles[] = {"page-parse.png", "page-download.png", "page-about.png"};
    for (int page = 0; pages != nullptr && page < pages->count() && page < 3; ++page) {
        pages->setCurrentIndex(page);
        saved = Save(window, outDir + QLatin1Char('/') + QLatin1String(pageFiles[page])) && saved;
    }
    if (arguments.size() == 4) {
        saved = Parse(window, pages, arguments[3]) &&
                Save(window, outDir + QStringLiteral("/file-list.png")) && saved;
    }
    return saved ? 0 : 1;
}
