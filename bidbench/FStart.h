// The start screen: explains the program and asks whether the user has a
// Tarnbid account.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class LinkLabel;

class FStart final : public QDialog {
    Q_OBJECT
public:
    explicit FStart(QWidget* parent = nullptr);
    // Unloading stores "do not show again" when the box is ticked.
    ~FStart() override;

    bool hasAccount() const { return mHasAccount; }

    QPushButton* cmdYes;
    QPushButton* Command1;
    QCheckBox* chkHasAccount;
    LinkLabel* lblTarnscope;

private:
    bool mHasAccount = false;
};
