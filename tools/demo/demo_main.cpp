// pandrel-demo RUN_DIR OUT_DIR
//
// Starts the program's window with RUN_DIR as its run directory, lets start-up finish, and
// saves screenshots of the window into OUT_DIR: window.png (as it opens), then one picture
// per tab page. Exits 0 when every picture was written.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: pandrel-demo RUN_DIR OUT_DIR\n");
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
    return saved ? 0 : 1;
}
