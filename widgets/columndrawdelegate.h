#pragma once

#include <QBrush>
#include <QPoint>
#include <QRect>
#include <QStyledItemDelegate>
#include <functional>

class QPainter;

// What a cell-draw handler draws on: the grid's painter and the brush the grid
// filled the cell with (Qt::NoBrush: text is written without filling).
struct GridCanvas {
    QPainter* painter;
    QBrush brush;
};

// The point a cell's own text is anchored to: 2 pixels in from the edge it aligns to
// (the middle, halved in integers, when centred) and 2 below the top. The cell's right
// edge is left + width, as the grid measures cells.
QPoint fieldReferencePoint(const QRect& cell, Qt::Alignment alignment);

// The left edge of text of the given width anchored at x with the alignment.
int fieldTextLeft(int x, Qt::Alignment alignment, int textWidth);

// A grid's per-column cell-draw hook: after the default drawing of each data cell,
// the handler draws over it with the brush the cell was filled with.
class ColumnDrawDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using Handler = std::function<void(GridCanvas& canvas, const QStyleOptionViewItem& cell,
                                       const QModelIndex& index)>;

    ColumnDrawDelegate(Handler handler, QObject* parent = nullptr)
        : QStyledItemDelegate(parent), handler_(std::move(handler)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // The brush the default drawing filled the cell with.
    static QBrush cellBrush(const QStyleOptionViewItem& option);

private:
    Handler handler_;
};
