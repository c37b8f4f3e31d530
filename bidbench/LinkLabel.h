// A label that behaves as a link: underlined magenta while the mouse is over
// it, plain blue otherwise; a click opens its address in the default browser.
#pragma once

#include <QLabel>

class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& sText, const QString& sAddress, QWidget* parent = nullptr);
    void resetLook();
    bool highlighted() const { return mHighlighted; }

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setLook(bool highlighted);

    QString mAddress;
    bool mHighlighted = false;
};
