#include "widgets/gridlook.h"

#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTableView>

namespace {

constexpr int kIndicatorWidth = 11;
constexpr int kRowPadding = 4;

class RowIndicatorHeader final : public QHeaderView {
public:
    explicit RowIndicatorHeader(QTableView* grid) : QHeaderView(Qt::Vertical, grid), grid_(grid) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        painter->save();  // the default drawing leaves the painter clipped
        QHeaderView::paintSection(painter, rect, logicalIndex);
        painter->restore();
        if (grid_->currentIndex().row() != logicalIndex) return;
        // A small solid triangle pointing at the row.
        const int h = 4;
        const QPoint c = rect.center();
        QPainterPath arrow;
        arrow.moveTo(c.x() - h / 2, c.y() - h);
        arrow.lineTo(c.x() + h / 2 + 1, c.y());
        arrow.lineTo(c.x() - h / 2, c.y() + h);
        arrow.closeSubpath();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillPath(arrow, palette().color(QPalette::ButtonText));
        painter->restore();
    }

private:
    QTableView* grid_;
};

}  // namespace

void applyGridLook(QTableView* grid) {
    grid->setWordWrap(false);
    auto* indicator = new RowIndicatorHeader(grid);
    grid->setVerticalHeader(indicator);
    indicator->setFixedWidth(kIndicatorWidth);
    const int rowHeight = grid->fontMetrics().height() + kRowPadding;
    indicator->setMinimumSectionSize(rowHeight);
    indicator->setDefaultSectionSize(rowHeight);
    // Fixed heights: sizing rows to their contents would read every row.
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    if (QItemSelectionModel* selection = grid->selectionModel())
        QObject::connect(selection, &QItemSelectionModel::currentRowChanged, indicator,
                         [indicator] { indicator->viewport()->update(); });
}
