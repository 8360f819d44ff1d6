#include "runtime/ui/progress_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include <cmath>

namespace pandrel {

std::optional<double> ProgressBarDelegate::PercentOf(const QString& text) {
    if (!text.endsWith(QStringLiteral(" %"))) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = text.chopped(2).toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 100) {
        return std::nullopt;
    }
    return value;
}

void ProgressBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    const std::optional<double> percent = PercentOf(text);
    if (!percent) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
    // The row's own background first, so a selected row stays visibly selected.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, option.widget);

    QStyleOptionProgressBar bar;
    bar.initFrom(option.widget);
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = 10000;
    bar.progress = static_cast<int>(std::lround(*percent * 100));
    bar.text = text;
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.fontMetrics = option.fontMetrics;
    // The lists draw no selection while the window is in the background, by making the
    // inactive highlight the base colour; progress must still show there.
    bar.palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         bar.palette.color(QPalette::Active, QPalette::Highlight));
    bar.palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         bar.palette.color(QPalette::Active, QPalette::HighlightedText));
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

} // namespace pandrel
