#include "shell/platform/qt/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace hrd::qt {
namespace {

// One opening quotation mark: a round head with a tail curling down to the left,
// in the 64-unit square of the SVG.
QPainterPath quote_mark(qreal x, qreal y) {
    QPainterPath mark;
    mark.addEllipse(QPointF(x, y), 7.5, 7.5);
    QPainterPath tail;
    tail.moveTo(x - 7.5, y);
    tail.cubicTo(x - 8, y + 9, x - 4, y + 14, x + 2, y + 16);
    tail.lineTo(x + 3, y + 12.5);
    tail.cubicTo(x, y + 10, x - 1, y + 7, x, y + 4);
    tail.closeSubpath();
    return mark.united(tail);
}

QPixmap draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#2f6f6a"));
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 13, 13);
    painter.setBrush(QColor("#fdfaf3"));
    painter.drawPath(quote_mark(23, 25));
    painter.drawPath(quote_mark(41, 25));
    painter.setBrush(QColor("#f2c14e"));
    painter.drawRoundedRect(QRectF(16, 47, 32, 5), 2.5, 2.5);
    return pixmap;
}

}  // namespace

QIcon program_icon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(draw(size));
    }
    return icon;
}

}  // namespace hrd::qt
