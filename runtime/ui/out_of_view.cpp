#include "runtime/ui/out_of_view.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QPlainTextEdit>
#include <QWidget>

namespace pandrel {
namespace {

QAccessible::Role RoleOf(const QWidget* widget) {
    if (qobject_cast<const QAbstractButton*>(widget) != nullptr) {
        return QAccessible::Button;
    }
    if (qobject_cast<const QPlainTextEdit*>(widget) != nullptr) {
        return QAccessible::EditableText;
    }
    return QAccessible::Client;
}

// What a screen reader learns of a marked control: its role, name and text, and whether it
// shows, judged each time it is asked, since the window narrows after the control is built.
class OutOfViewAccessible : public QAccessibleWidget {
public:
    explicit OutOfViewAccessible(QWidget* widget) : QAccessibleWidget(widget, RoleOf(widget)) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        const QWidget* control = widget();
        const QWidget* window = control->window();
        const QRect inWindow(control->mapTo(window, QPoint(0, 0)), control->size());
        if (!window->rect().intersects(inWindow)) {
            state.offscreen = true;
            state.focusable = false;
        }
        return state;
    }

    // The parts of a box (its viewport, its scroll bars) are not offered: they would report
    // themselves as showing.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text kind) const override {
        QString text = QAccessibleWidget::text(kind);
        if (!text.isEmpty()) {
            return text;
        }
        if (kind == QAccessible::Name) {
            if (auto* button = qobject_cast<QAbstractButton*>(widget())) {
                return button->text();
            }
        }
        if (kind == QAccessible::Value) {
            if (auto* box = qobject_cast<QPlainTextEdit*>(widget())) {
                return box->toPlainText();
            }
        }
        return text;
    }
};

QAccessibleInterface* OutOfViewFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || !widget->property(kPlacedOutOfViewProperty).toBool()) {
        return nullptr;
    }
    return new OutOfViewAccessible(widget);
}

} // namespace

void InstallOutOfViewAccessibility() {
    // The factory installed last is asked first, before Qt's own for the control's class.
    QAccessible::installFactory(&OutOfViewFactory);
}

} // namespace pandrel
