#include "decor/VelmarLine.h"

#include <QPainter>
#include <QPointF>

namespace velmar {

TVelmarLine::TVelmarLine(QWidget* AParent)
    : QWidget(AParent), FPen(Qt::black, 1, Qt::SolidLine)
{
    resize(200, 10);
}

void TVelmarLine::SetPen(const QPen& APen)
{
    if (APen == FPen)
        return;
    FPen = APen;
    update();
}

void TVelmarLine::SetStyle(TVelmarLineStyle AStyle)
{
    if (AStyle == FStyle)
        return;
    FStyle = AStyle;
    update();
}

void TVelmarLine::paintEvent(QPaintEvent*)
{
    const int w = qMax(1, FPen.width());
    const int a = w / 2;
    const int right = width() - a - (w % 2);
    const int bottom = height() - a - (w % 2);

    QPen pen(FPen);
    pen.setWidth(w);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCosmetic(false);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(pen);
    // Qt centres a stroke on its line; moving the line by half the width
    // (minus a) puts the band at [c - a, c - a + w) on integer pixels.
    const double shift = w / 2.0 - a;
    auto line = [&](QPoint from, QPoint to) {
        const QPointF off(shift, shift);
        QPointF p = QPointF(from) + off;
        QPointF q = QPointF(to) + off;
        // Flat caps end the band exactly at the end point, along the axis;
        // pull the ends back to the pixel edges of the excluded end point.
        if (from.y() == to.y()) {
            p.setX(from.x());
            q.setX(to.x());
        } else if (from.x() == to.x()) {
            p.setY(from.y());
            q.setY(to.y());
        }
        painter.drawLine(p, q);
    };

    if (FStyle & lsTop)
        line({a, a}, {right, a});
    if (FStyle & lsBottom)
        line({a, bottom}, {right, bottom});
    if (FStyle & lsLeft)
        line({a, a}, {a, bottom});
    if (FStyle & lsRight)
        line({right, a}, {right, bottom});
    if (FStyle & lsUp)
        line({a, bottom}, {right, a});
    if (FStyle & lsDown)
        line({a, a}, {right, bottom});
}

} // namespace velmar
