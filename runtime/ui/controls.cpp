#include "runtime/ui/controls.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>

#include "runtime/ui/control_registry.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

enum class Access { Read, Write };

bool Allowed(const Text& control, Property property, Access access) {
    for (const PropertyUse& use : RegisteredControls().properties) {
        if (control == use.control && property == use.property) {
            return access == Access::Read ? use.readable : use.writable;
        }
    }
    qWarning("control property not used by the program: %s (%d, %s)", control.c_str(),
             static_cast<int>(property), access == Access::Read ? "read" : "write");
    return false;
}

PropertyValue EmptyValueOf(Property property) {
    switch (property) {
    case Property::Content:
    case Property::Caption:
        return Text();
    case Property::Checked:
        return false;
    case Property::SelectedRow:
        return std::int32_t{-1};
    case Property::Width:
    case Property::Interval:
        break;
    }
    return std::int32_t{0};
}

Text EditContent(QObject* control) {
    if (auto* line = qobject_cast<QLineEdit*>(control)) {
        return FromQString(line->text());
    }
    if (auto* box = qobject_cast<QPlainTextEdit*>(control)) {
        return FromQString(box->toPlainText());
    }
    return {};
}

// A multi-line box lays out a whole line before it shows any of it, which holds the window
// for seconds on a line of megabytes (a listing page written on one line). Longer lines are
// shown in pieces of this many characters.
constexpr qsizetype kLongestShownLine = 65536;

QString WithLongLinesBroken(const QString& text) {
    if (text.size() <= kLongestShownLine) {
        return text;
    }
    QString shown;
    shown.reserve(text.size() + text.size() / kLongestShownLine);
    qsizetype lineLength = 0;
    for (const QChar c : text) {
        // The characters that start a new block of the box's document.
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator) {
            lineLength = -1;
        } else if (lineLength >= kLongestShownLine && !c.isLowSurrogate()) {
            shown += QLatin1Char('\n');
            lineLength = 0;
        }
        shown += c;
        ++lineLength;
    }
    return shown;
}

void SetEditContent(QObject* control, const Text& text) {
    if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(ToQString(text));
        // Shown from its start, as a freshly set edit box is.
        line->setCursorPosition(0);
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(control)) {
        box->setPlainText(WithLongLinesBroken(ToQString(text)));
    }
}

// A status line shows one line: each line break (CR LF, CR, LF or a Unicode line or paragraph
// separator) shows as one space. The caption as set is kept beside it and is what a read
// gives back.
constexpr const char* kCaptionProperty = "captionAsSet";

QString OneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

void SetCaption(QLabel* label, const Text& caption) {
    const QString text = ToQString(caption);
    label->setProperty(kCaptionProperty, text);
    // Captions carry outside text (a pasted share, a listing's file names): never markup.
    label->setTextFormat(Qt::PlainText);
    const QString line = OneLine(text);
    label->setText(line);
    const QVariant prefix = label->property(kAccessibleNamePrefixProperty);
    if (prefix.isValid()) {
        label->setAccessibleName(prefix.toString() + line);
    }
    label->repaint();
}

Text Caption(QObject* control) {
    auto* label = qobject_cast<QLabel*>(control);
    if (label == nullptr) {
        return {};
    }
    const QVariant asSet = label->property(kCaptionProperty);
    return FromQString(asSet.isValid() ? asSet.toString() : label->text());
}

std::int32_t SelectedRow(QObject* control) {
    auto* list = qobject_cast<QTreeWidget*>(control);
    if (list == nullptr) {
        return -1;
    }
    int first = -1;
    for (QTreeWidgetItem* item : list->selectedItems()) {
        int index = list->indexOfTopLevelItem(item);
        if (index >= 0 && (first == -1 || index < first)) {
            first = index;
        }
    }
    return first;
}

void SetInterval(QObject* control, std::int32_t milliseconds) {
    auto* timer = qobject_cast<QTimer*>(control);
    if (timer == nullptr) {
        return;
    }
    const std::int32_t wanted = std::max<std::int32_t>(milliseconds, 0);
    const std::int32_t current = timer->isActive() ? timer->interval() : 0;
    if (wanted == 0) {
        timer->stop();
    } else if (wanted != current) {
        timer->start(wanted);
    }
}

PropertyValue Read(const Text& name, Property property) {
    QObject* control = FindControl(name);
    if (control == nullptr) {
        return EmptyValueOf(property);
    }
    switch (property) {
    case Property::Content:
        return EditContent(control);
    case Property::Caption:
        return Caption(control);
    case Property::Checked: {
        auto* box = qobject_cast<QAbstractButton*>(control);
        return box != nullptr && box->isChecked();
    }
    case Property::SelectedRow:
        return SelectedRow(control);
    case Property::Width:
    case Property::Interval:
        break;
    }
    return EmptyValueOf(property);
}

void Write(const Text& name, Property property, const PropertyValue& value) {
    QObject* control = FindControl(name);
    if (control == nullptr) {
        return;
    }
    const auto* text = std::get_if<Text>(&value);
    const auto* number = std::get_if<std::int32_t>(&value);
    switch (property) {
    case Property::Width:
        if (auto* window = qobject_cast<QWidget*>(control); window && number && *number > 0) {
            // A fixed-size window ignores resize(); the fixed width moves the right edge only.
            window->setFixedWidth(*number);
        }
        break;
    case Property::Content:
        if (text != nullptr) {
            SetEditContent(control, *text);
        }
        break;
    case Property::Caption:
        if (auto* label = qobject_cast<QLabel*>(control); label && text) {
            SetCaption(label, *text);
        }
        break;
    case Property::Interval:
        if (number != nullptr) {
            SetInterval(control, *number);
        }
        break;
    case Property::Checked:
    case Property::SelectedRow:
        break;
    }
}

} // namespace

// The check runs on the UI thread, where the window registers what it serves.
PropertyValue GetProperty(const Text& control, Property property) {
    return RunOnUiThread([control, property] {
        return Allowed(control, property, Access::Read) ? Read(control, property)
                                                        : EmptyValueOf(property);
    });
}

void SetProperty(const Text& control, Property property, const PropertyValue& value) {
    RunOnUiThread([control, property, value] {
        if (Allowed(control, property, Access::Write)) {
            Write(control, property, value);
        }
    });
}

Text GetTextProperty(const Text& control, Property property) {
    PropertyValue value = GetProperty(control, property);
    const Text* text = std::get_if<Text>(&value);
    return text != nullptr ? *text : Text();
}

std::int32_t GetIntegerProperty(const Text& control, Property property) {
    PropertyValue value = GetProperty(control, property);
    const std::int32_t* number = std::get_if<std::int32_t>(&value);
    return number != nullptr ? *number : (property == Property::SelectedRow ? -1 : 0);
}

bool GetTruthProperty(const Text& control, Property property) {
    PropertyValue value = GetProperty(control, property);
    const bool* truth = std::get_if<bool>(&value);
    return truth != nullptr && *truth;
}

} // namespace pandrel
