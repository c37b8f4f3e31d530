// The floating item toolbar: a small window that stays above the others,
// where the user types or drops an item number and presses Snipe!.
#pragma once

#include <QDialog>
#include <QLineEdit>

class QAction;
class QLabel;
class QTimer;
class QToolBar;

// An item box whose text is replaced by the plain text dropped on it.
class ItemBox final : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

protected:
    void dropEvent(QDropEvent* event) override;
};

class FToolbar final : public QDialog {
    Q_OBJECT
public:
    explicit FToolbar(QWidget* parent = nullptr);

    // The item number when Snipe! was pressed (the box's digits, without
    // blanks around them); empty otherwise.
    QString ItemText() const { return mItemText; }
    // The user closed the window with its close box or window menu.
    bool ClosedByUser() const { return mClosedByUser; }

    // Why a text is no item number, in a sentence for the user; empty when
    // it is one (digits only, blanks around them allowed) or is empty.
    static QString WhyNotAnItem(const QString& sText);

    QLabel* lblItem;
    QLabel* lblWhyNot;  // says why Snipe! is off for the text typed
    ItemBox* txtItem;
    QToolBar* Toolbar1;
    QAction* cmdSnipe;  // button 1
    QTimer* timTimer;

    void Snipe();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateSnipe();

    QString mItemText;
    bool mClosedByUser = false;
};
