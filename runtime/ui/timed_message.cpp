#include "runtime/ui/timed_message.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <vector>

#include "runtime/ui/process_window.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

struct ButtonChoice {
    QMessageBox::StandardButton button;
    int value;
};

std::vector<ButtonChoice> ButtonsOfStyle(int style) {
    using B = QMessageBox;
    switch (style & 0x0F) {
    case 1:
        return {{B::Ok, 1}, {B::Cancel, 2}};
    case 2:
        return {{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}};
    case 3:
        return {{B::Yes, 6}, {B::No, 7}, {B::Cancel, 2}};
    case 4:
        return {{B::Yes, 6}, {B::No, 7}};
    case 5:
        return {{B::Retry, 4}, {B::Cancel, 2}};
    default:
        return {{B::Ok, 1}};
    }
}

QMessageBox::Icon IconOfStyle(int style) {
    switch (style & 0xF0) {
    case 0x10:
        return QMessageBox::Critical;
    case 0x20:
        return QMessageBox::Question;
    case 0x30:
        return QMessageBox::Warning;
    case 0x40:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int ShowTimedMessage(const Text& text, int style, std::optional<Text> caption, QWidget* owner,
                     std::optional<int> timeoutMs) {
    return RunOnUiThread([=] {
        QWidget* parent = owner != nullptr ? owner : FindProcessWindow(getpid(), {}, {}, 1000);
        QMessageBox box(IconOfStyle(style), ToQString(caption.value_or("友情提醒")),
                        ToQString(text), QMessageBox::NoButton, parent);
        box.setTextFormat(Qt::PlainText);
        const std::vector<ButtonChoice> choices = ButtonsOfStyle(style);
        for (const ButtonChoice& choice : choices) {
            box.addButton(choice.button);
        }
        QTimer closer;
        closer.setSingleShot(true);
        QObject::connect(&closer, &QTimer::timeout, &box, [&box] { box.done(kMessageTimedOut); });
        closer.start(timeoutMs.value_or(5000));
        const int result = box.exec();
        if (result == kMessageTimedOut) {
            return kMessageTimedOut - 1;
        }
        for (const ButtonChoice& choice : choices) {
            if (result == choice.button) {
                return choice.value - 1;
            }
        }
        // Closed by the window's close button or Escape: the box's escape answer.
        return choices.size() == 1 ? choices.front().value - 1 : 1;
    });
}

} // namespace pandrel
