// The about box: title, version, the maker's link and the system
// information tool.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;
class LinkLabel;

class FAbout final : public QDialog {
    Q_OBJECT
public:
    explicit FAbout(QWidget* parent = nullptr);

    // The system information tools looked for on PATH, in this order.
    static const QStringList kSystemInfoTools;

    QLabel* lblTitle;
    QLabel* lblVersion;
    LinkLabel* lblTarnscope;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

private:
    void StartSysInfo();
};
