#include "reliability/window_driving.h"

#include <QAction>
#include <QApplication>
#include <QInputMethodEvent>
#include <QMenu>

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

} // namespace pandrel
