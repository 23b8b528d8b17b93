// Lent disks in the disk list: every cell of a lent disk's row in red bold italic.
#include <QPainter>
#include <QTableView>

#include "app/Unit1.h"
#include "widgets/columndrawdelegate.h"
#include "widgets/querymodel.h"

void TForm1::DBGrid4DrawColumnCell(QTableView* Sender, GridCanvas& Canvas,
                                   const QStyleOptionViewItem& Cell, const QModelIndex& Column) {
    const auto* list = qobject_cast<const QueryModel*>(Sender->model());
    if (!list || list->fieldText(Column.row(), QStringLiteral("Dolg")) != QLatin1String("True"))
        return;
    const QVariant alignment = Column.data(Qt::TextAlignmentRole);
    DrawField(Column.data().toString(), Cell.rect,
              alignment.isValid() ? Qt::Alignment(alignment.toInt()) : Qt::Alignment(Qt::AlignLeft),
              Cell.font, Canvas);
}

// Writes the text over the cell's own: the cell is filled with the brush it was drawn
// with, then the text goes in red, bold and italic at the cell's reference point,
// clipped to the cell.
void TForm1::DrawField(const QString& Text, const QRect& Rect, Qt::Alignment Alignment,
                       const QFont& Font, GridCanvas& Canvas) {
    QPainter& painter = *Canvas.painter;
    painter.save();
    painter.setClipRect(Rect, Qt::IntersectClip);
    if (Canvas.brush.style() != Qt::NoBrush) painter.fillRect(Rect, Canvas.brush);
    QFont font = Font;
    font.setBold(true);
    font.setItalic(true);
    painter.setFont(font);
    painter.setPen(QColor(255, 0, 0));
    const QFontMetrics metrics = painter.fontMetrics();
    const QPoint reference = fieldReferencePoint(Rect, Alignment);
    const int left = fieldTextLeft(reference.x(), Alignment, metrics.horizontalAdvance(Text));
    painter.drawText(QPoint(left, reference.y() + metrics.ascent()), Text);
    painter.restore();
}
