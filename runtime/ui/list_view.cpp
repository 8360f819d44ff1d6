#include "runtime/ui/list_view.h"

#include <QTreeWidget>

#include "runtime/ui/control_registry.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

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
        auto* item = new QTreeWidgetItem();
        item->setText(0, ToQString(caption));
        if (view->property(kRowCheckBoxesProperty).toBool()) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
        }
        view->insertTopLevelItem(index, item);
        return index;
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
        if (QTreeWidgetItem* item = CellItem(FindControlAs<QTreeWidget>(list), row, column)) {
            item->setText(column, ToQString(text));
        }
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
