#pragma once

#include <QStyledItemDelegate>

#include <optional>

namespace pandrel {

// Draws a list cell that holds a progress text ("45.67 %") as a progress bar with that text
// on it. The cell's text is not changed; a cell whose text does not start with a number
// between 0 and 100 followed by " %" is drawn as plain text.
class ProgressBarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // The percentage a progress text shows, when it shows one.
    static std::optional<double> PercentOf(const QString& text);
};

} // namespace pandrel
