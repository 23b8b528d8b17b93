#include "widgets/columndrawdelegate.h"

#include <QPainter>

namespace {
constexpr int kInset = 2;
}

QPoint fieldReferencePoint(const QRect& cell, Qt::Alignment alignment) {
    const int left = cell.left();
    const int right = cell.left() + cell.width();
    int x = left + kInset;
    if (alignment & Qt::AlignRight)
        x = right - kInset;
    else if (alignment & Qt::AlignHCenter)
        x = (left + right) / 2;
    return {x, cell.top() + kInset};
}

int fieldTextLeft(int x, Qt::Alignment alignment, int textWidth) {
    if (alignment & Qt::AlignRight) return x - textWidth;
    if (alignment & Qt::AlignHCenter) return x - textWidth / 2;
    return x;
}

QBrush ColumnDrawDelegate::cellBrush(const QStyleOptionViewItem& option) {
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    if (option.state & QStyle::State_Selected)
        return option.palette.brush(group, QPalette::Highlight);
    if (option.backgroundBrush.style() != Qt::NoBrush) return option.backgroundBrush;
    const bool alternate = option.features & QStyleOptionViewItem::Alternate;
    return option.palette.brush(group, alternate ? QPalette::AlternateBase : QPalette::Base);
}

void ColumnDrawDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    GridCanvas canvas{painter, cellBrush(cell)};
    painter->save();
    handler_(canvas, cell, index);
    painter->restore();
}
