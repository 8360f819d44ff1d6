#include "runtime/ui/list_view.h"

#include <QTreeWidget>

#include <algorithm>

#include "runtime/ui/control_registry.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

// A row of the window's lists. Each cell's tooltip is its whole text, so a name cut off by
// its column can still be read, unless a tooltip of the cell's own was set since its text
// last changed. Nothing is stored for the plain case: the text is looked up when a tooltip
// is asked for. A screen reader hears a cell's own tooltip as the cell's description.
class ListRow : public QTreeWidgetItem {
public:
    QVariant data(int column, int role) const override {
        if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
            const QVariant own = QTreeWidgetItem::data(column, Qt::ToolTipRole);
            if (own.isValid() || role == Qt::AccessibleDescriptionRole) {
                return own;
            }
            return QTreeWidgetItem::data(column, Qt::DisplayRole);
        }
        return QTreeWidgetItem::data(column, role);
    }

    void SetText(int column, const QString& text) {
        if (QTreeWidgetItem::data(column, Qt::ToolTipRole).isValid()) {
            setData(column, Qt::ToolTipRole, QVariant());
        }
        setText(column, text);
    }
};

// A new row as InsertRow makes it, with a check box in front when the list asks for one.
QTreeWidgetItem* NewRow(const QTreeWidget* view, const Text& caption) {
    auto* item = new ListRow();
    item->setText(0, ToQString(caption));
    if (view->property(kRowCheckBoxesProperty).toBool()) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    return item;
}

QTreeWidgetItem* CellItem(QTreeWidget* view, int row, int column) {
    if (view == nullptr || row < 0 || column < 0 || column >= view->columnCount()) {
        return nullptr;
    }
    return view->topLevelItem(row);
}

} // namespace

int RowCount(const Text& list) {
    return RunOnUiThread([list] {
        auto* view = FindControlAs<QTreeWidget>(list);
        return view != nullptr ? view->topLevelItemCount() : 0;
    });
}

int InsertRow(const Text& list, int position, const Text& caption) {
    return RunOnUiThread([list, position, caption] {
        auto* view = FindControlAs<QTreeWidget>(list);
        if (view == nullptr) {
            return -1;
        }
        const int count = view->topLevelItemCount();
        const int index = position < 0 || position > count ? count : position;
        view->insertTopLevelItem(index, NewRow(view, caption));
        return index;
    });
}

int AppendRows(const Text& list, const std::vector<std::vector<Text>>& rows) {
    // By reference: a caller on another thread waits until the UI thread is done with them.
    return RunOnUiThread([&list, &rows] {
        auto* view = FindControlAs<QTreeWidget>(list);
        if (view == nullptr) {
            return -1;
        }
        // Cells are written before the rows join the list, and the rows join it in one step:
        // the view and its model hear of them once, not once for every cell.
        QList<QTreeWidgetItem*> items;
        items.reserve(static_cast<qsizetype>(rows.size()));
        for (const std::vector<Text>& cells : rows) {
            QTreeWidgetItem* item = NewRow(view, {});
            const int columns = std::min(static_cast<int>(cells.size()), view->columnCount());
            for (int column = 0; column < columns; ++column) {
                item->setText(column, ToQString(cells[static_cast<std::size_t>(column)]));
            }
            items.append(item);
        }
        const int first = view->topLevelItemCount();
        view->addTopLevelItems(items);
        return first;
    });
}

std::vector<int> CheckedRows(const Text& list) {
    return RunOnUiThread([list] {
        std::vector<int> rows;
        if (auto* view = FindControlAs<QTreeWidget>(list)) {
            for (int row = 0; row < view->topLevelItemCount(); ++row) {
                if (view->topLevelItem(row)->checkState(0) == Qt::Checked) {
                    rows.push_back(row);
                }
            }
        }
        return rows;
    });
}

void ToggleAllChecks(const Text& list) {
    RunOnUiThread([list] {
        auto* view = FindControlAs<QTreeWidget>(list);
        if (view == nullptr || !view->property(kRowCheckBoxesProperty).toBool()) {
            return;
        }
        const int count = view->topLevelItemCount();
        bool allChecked = true;
        for (int row = 0; row < count && allChecked; ++row) {
            allChecked = view->topLevelItem(row)->checkState(0) == Qt::Checked;
        }
        const Qt::CheckState next = allChecked ? Qt::Unchecked : Qt::Checked;
        // The model tells the view of each change; without updates the list repaints once.
        view->setUpdatesEnabled(false);
        for (int row = 0; row < count; ++row) {
            view->topLevelItem(row)->setCheckState(0, next);
        }
        view->setUpdatesEnabled(true);
    });
}

Text GetCellText(const Text& list, int row, int column) {
    return RunOnUiThread([list, row, column] {
        QTreeWidgetItem* item = CellItem(FindControlAs<QTreeWidget>(list), row, column);
        return item != nullptr ? FromQString(item->text(column)) : Text();
    });
}

void SetCellText(const Text& list, int row, int column, const Text& text) {
    RunOnUiThread([list, row, column, text] {
        QTreeWidgetItem* item = CellItem(FindControlAs<QTreeWidget>(list), row, column);
        if (auto* own = dynamic_cast<ListRow*>(item)) {
            own->SetText(column, ToQString(text));
        } else if (item != nullptr) {
            item->setText(column, ToQString(text));
        }
    });
}

void SetCellTextWithToolTip(const Text& list, int row, int column, const Text& text,
                            const Text& tip) {
    RunOnUiThread([list, row, column, text, tip] {
        if (QTreeWidgetItem* item = CellItem(FindControlAs<QTreeWidget>(list), row, column)) {
            item->setText(column, ToQString(text));
            item->setToolTip(column, ToQString(tip));
        }
    });
}

Text GetCellToolTip(const Text& list, int row, int column) {
    return RunOnUiThread([list, row, column] {
        QTreeWidgetItem* item = CellItem(FindControlAs<QTreeWidget>(list), row, column);
        return item != nullptr ? FromQString(item->toolTip(column)) : Text();
    });
}

void DeleteAllRows(const Text& list) {
    RunOnUiThread([list] {
        if (auto* view = FindControlAs<QTreeWidget>(list)) {
            view->clear();
        }
    });
}

void EnsureVisible(const Text& list, int row) {
    RunOnUiThread([list, row] {
        auto* view = FindControlAs<QTreeWidget>(list);
        if (view == nullptr || row < 0) {
            return;
        }
        if (QTreeWidgetItem* item = view->topLevelItem(row)) {
            view->scrollToItem(item, QAbstractItemView::EnsureVisible);
        }
    });
}

} // namespace pandrel
