// Offers a newer version; "Update Now" starts the updater Refresher from
// the program's folder.
#pragma once

#include <QDialog>

class QPushButton;

class FNewVersion final : public QDialog {
    Q_OBJECT
public:
    explicit FNewVersion(QWidget* parent = nullptr);
    bool Updating() const { return mUpdating; }

    QPushButton* cmdUpdateNow;
    QPushButton* cmdLater;

private:
    void UpdateNow();
    bool mUpdating = false;
};
