#include "StarImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace StarImages {

namespace {

// A five-pointed star turned by the frame's angle; the idle picture is a
// plain star in grey.
QPixmap Draw(int index, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool idle = index == kIdleFrame;
    const double turn = idle ? 0.0 : (index - 1) * 12.0;
    QPainterPath star;
    const QPointF centre(size / 2.0, size / 2.0);
    for (int point = 0; point < 10; ++point) {
        const double radius = (point % 2 == 0 ? 0.46 : 0.2) * size;
        const double angle = qDegreesToRadians(-90.0 + turn + point * 36.0);
        const QPointF p = centre + QPointF(radius * qCos(angle), radius * qSin(angle));
        if (point == 0)
            star.moveTo(p);
        else
            star.lineTo(p);
    }
    star.closeSubpath();
    const QColor fill = idle ? QColor(150, 150, 160) : QColor::fromHsv((index * 40) % 360, 200, 255);
    painter.setPen(QPen(idle ? QColor(90, 90, 100) : QColor(180, 120, 0), 1));
    painter.setBrush(fill);
    painter.drawPath(star);
    return pixmap;
}

}  // namespace

QPixmap Frame(int index, bool large) { return Draw(index, large ? 32 : 20); }

}  // namespace StarImages
