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

    // The box's text when Snipe! was pressed; empty otherwise.
    QString ItemText() const { return mItemText; }
    // The user closed the window with its close box or window menu.
    bool ClosedByUser() const { return mClosedByUser; }

    // A number by the numeric test of the user's locale: digits with an
    // optional sign, decimal and thousands separators, an exponent and
    // surrounding blanks.
    static bool IsNumeric(const QString& sText);

    QLabel* lblItem;
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
