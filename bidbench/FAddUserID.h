// Asks for one user ID to add to a favourites list.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class FAddUserID final : public QDialog {
    Q_OBJECT
public:
    explicit FAddUserID(QWidget* parent = nullptr);

    // The box's text when Add was pressed; empty after Cancel or the close box.
    QString EnteredID() const { return mEnteredID; }

    QLabel* lblUserID;
    QLineEdit* txtUserID;
    QPushButton* cmdAdd;
    QPushButton* cmdCancel;

private:
    QString mEnteredID;
};
