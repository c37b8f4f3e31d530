#include "LinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

LinkLabel::LinkLabel(const QString& sText, const QString& sAddress, QWidget* parent)
    : QLabel(sText, parent), mAddress(sAddress) {
    setCursor(Qt::PointingHandCursor);
    setToolTip(QString());
    setLook(false);
}

void LinkLabel::resetLook() { setLook(false); }

void LinkLabel::setLook(bool highlighted) {
    mHighlighted = highlighted;
    QFont f = font();
    f.setUnderline(highlighted);
    setFont(f);
    // Magenta while pointed at, blue otherwise.
    setStyleSheet(highlighted ? "color: #FF00FF;" : "color: #0000FF;");
}

void LinkLabel::enterEvent(QEnterEvent* event) {
    setLook(true);
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
    setLook(false);
    QLabel::leaveEvent(event);
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit clicked();
        if (!mAddress.isEmpty()) QDesktopServices::openUrl(QUrl(mAddress));
    }
    QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    setLook(false);
    QLabel::mouseReleaseEvent(event);
}
