#include "reliability/window_driving.h"

#include <QAction>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMenu>
#include <QTextDocument>

#include <sys/resource.h>

#include "runtime/ui/qt_text.h"

namespace pandrel {

void Paste(QLineEdit* input, const Text& text) {
    input->setFocus();
    input->selectAll();
    QInputMethodEvent event;
    event.setCommitString(ToQString(text));
    QApplication::sendEvent(input, &event);
}

QAction* MenuAction(Application& program, const char* item) {
    for (QMenu* menu : program.Window()->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (action->text() == QString::fromUtf8(item)) {
                return action;
            }
        }
    }
    return nullptr;
}

long PeakResidentMiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

WindowWatch::WindowWatch(Application& program) : m_program(program) {
    m_sinceTick.start();
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        m_longestStall = std::max(m_longestStall, m_sinceTick.restart());
        CheckLabels();
    });
    m_timer.start(20);
}

void WindowWatch::CheckLabels() {
    int rich = 0;
    for (const QLabel* label : m_program.Window()->findChildren<QLabel*>()) {
        const Qt::TextFormat format = label->textFormat();
        rich += format == Qt::RichText ||
                (format == Qt::AutoText && Qt::mightBeRichText(label->text()));
    }
    m_mostRich = std::max(m_mostRich, rich);
}

} // namespace pandrel
