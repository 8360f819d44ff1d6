#include "share/file_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include "runtime/control_names.h"
#include "runtime/convert.h"
#include "runtime/text.h"
#include "runtime/ui/clipboard.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/shell.h"
#include "runtime/ui/ui_thread.h"
#include "share/listing.h"

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

bool IsTransient(const QWidget* widget) {
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Popup || type == Qt::ToolTip;
}

} // namespace

void FillFileList(ProgramState& state) {
    const Array<FileEntry> entries = ListingRows(state.RecordText, state.RecordRowCount);
    for (int i = 1; i <= entries.Count(); ++i) {
        const FileEntry& entry = entries[i];
        const int row = InsertRow(kFileList);
        SetCellText(kFileList, row, kFileNumberColumn, ToText(std::int32_t{i}));
        SetCellText(kFileList, row, kFileNameColumn, entry.name);
        SetCellText(kFileList, row, kFileSizeColumn, entry.size);
        SetCellText(kFileList, row, kFileLinkColumn, entry.link);
    }
}

void CopySelectedLink(ProgramState& state) {
    const int selected = GetIntegerProperty(kFileList, Property::SelectedRow);
    if (selected == -1) {
        return;
    }
    const std::int32_t number = ToInt(GetCellText(kFileList, selected, kFileNumberColumn));
    const std::optional<FileEntry> entry = ListingRow(state.RecordText, number);
    if (!entry) {
        return;
    }
    CurrentFile file;
    file.CurrentFileNumber = number;
    file.CurrentFileName = GetCellText(kFileList, selected, kFileNameColumn);
    file.CurrentFileSize = GetCellText(kFileList, selected, kFileSizeColumn);
    file.CurrentFileUrl = entry->link;
    SetClipboardText(file.CurrentFileUrl);
    state.SetCurrentFile(file);
    ShowTimedMessage("已复制");
    SetProperty(kStatusLine, Property::Caption, "已复制!");
}

int ShowTimedMessage(const Text& text, int style, std::optional<Text> caption, QWidget* owner,
                     std::optional<int> timeoutMs) {
    return RunOnUiThread([=] {
        QWidget* parent = owner != nullptr ? owner : FindProcessWindow(getpid(), {}, {}, 1000);
        QMessageBox box(IconOfStyle(style), ToQString(caption.value_or("友情提醒")),
                        ToQString(text), QMessageBox::NoButton, parent);
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

QWidget* FindProcessWindow(std::int64_t processId, const Text& title, const Text& className,
                           std::optional<int> timeLimitMs, bool visibleOnly) {
    if (processId != getpid() || qApp == nullptr) {
        return nullptr;
    }
    const qint64 limit =
        timeLimitMs && *timeLimitMs != -1 ? qint64{*timeLimitMs} : qint64{31536000};
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limit) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (IsTransient(window) || (visibleOnly && !window->isVisible())) {
                continue;
            }
            if (title.empty() && className.empty()) {
                return window;
            }
            const bool titleMatches =
                title.empty() || window->windowTitle().contains(ToQString(title));
            const bool classMatches =
                className.empty() || QString::fromLatin1(window->metaObject()->className())
                                         .contains(ToQString(className));
            return titleMatches && classMatches ? window : nullptr;
        }
        ProcessEvents();
    }
    return nullptr;
}

} // namespace pandrel
