// The start screen: explains the program and asks whether the user has a
// Tarnbid account.
#pragma once

#include <QDialog>

class QKeyEvent;

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

protected:
    // Escape answers nothing: a stray key must not send a user who has an
    // account to the sign-up page. Yes, No or the close box answer.
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool mHasAccount = false;
};
