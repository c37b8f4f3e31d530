#include "FFavorites.h"

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>

#include "Addresses.h"
#include "FAddUserID.h"
#include "SettingsStore.h"

FFavorites::FFavorites(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Favorite");
    lstFavorites = new QListWidget;
    lstFavorites->setToolTip("Double-click any user ID to return to Fernquay and view that user's information.");
    cmdAdd = new QPushButton("&Add User ID..");
    cmdAdd->setToolTip("Add a User ID to the favorites list.");
    cmdGetInfo = new QPushButton("&Go!");
    cmdGetInfo->setToolTip("Check the user highlighted in the box to the left.");
    cmdGetInfo->setDefault(true);
    cmdDelete = new QPushButton("&Delete");
    cmdDelete->setToolTip("Delete the highlighted user from the favorites list.");
    cmdDelete->setEnabled(false);
    cmdClose = new QPushButton("&Close");
    cmdClose->setToolTip("Close favorites list and return to Fernquay Pro.");
    lblDoubleClick = new QLabel("Double-click a User ID or highlight and press Go!");

    auto* layout = new QGridLayout(this);
    layout->addWidget(lstFavorites, 0, 0, 5, 1);
    layout->addWidget(cmdAdd, 0, 1);
    layout->addWidget(cmdGetInfo, 1, 1);
    layout->addWidget(cmdDelete, 2, 1);
    layout->addWidget(cmdClose, 3, 1);
    layout->addWidget(lblDoubleClick, 5, 0, 1, 2);

    connect(cmdAdd, &QPushButton::clicked, this, &FFavorites::AddUserID);
    connect(cmdGetInfo, &QPushButton::clicked, this, &FFavorites::Pick);
    connect(lstFavorites, &QListWidget::itemDoubleClicked, this, &FFavorites::Pick);
    connect(cmdDelete, &QPushButton::clicked, this, &FFavorites::DeleteSelected);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstFavorites, &QListWidget::itemSelectionChanged, this, &FFavorites::UpdateDelete);
}

QString FFavorites::ListPath() const {
    return mSellers ? Addresses::SellersListPath() : Addresses::BiddersListPath();
}

void FFavorites::SetListKind(bool sellers) {
    mSellers = sellers;
    mIDs = CUserIDs();
    lstFavorites->clear();
    LoadList();
}

void FFavorites::LoadList() {
    setWindowTitle(mSellers ? "Favorite Sellers List" : "Favorite Bidders List");
    QFile file(ListPath());
    if (file.open(QIODevice::ReadOnly)) {
        // Lines end at CR LF, CR or LF; empty lines of a hand-edited file are skipped.
        const QString text = QString::fromLocal8Bit(file.readAll());
        for (const QString& line : text.split(QRegularExpression("\r\n|\r|\n")))
            if (!line.isEmpty()) mIDs.Add(line);
    }
    for (const CUserIDs::Entry& entry : mIDs) lstFavorites->addItem(entry->UserID());
    UpdateDelete();
}

bool FFavorites::SaveList() {
    QSaveFile file(ListPath());
    QByteArray text;
    for (const CUserIDs::Entry& entry : mIDs) text += entry->UserID().toLocal8Bit() + "\r\n";
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) return true;
    QMessageBox::warning(this, SettingsStore::kProgramTitle,
                         "The favorites list could not be saved to " + ListPath() + ":\r\n" + file.errorString() +
                             "\r\nYour changes are kept while this list stays open.");
    return false;
}

void FFavorites::done(int result) {
    if (!SaveList()) {
        mSelectedID.clear();
        return;
    }
    QDialog::done(result);
}

void FFavorites::AddUserID() {
    QString sEntered;
    {
        FAddUserID add(this);
        add.exec();
        sEntered = add.EnteredID();
    }
    if (sEntered.isEmpty()) return;
    if (const CUserIDs::Entry entry = mIDs.Add(sEntered)) lstFavorites->addItem(entry->UserID());
}

void FFavorites::DeleteSelected() {
    const int row = lstFavorites->currentRow();
    QListWidgetItem* selected = SelectedRow();
    if (!selected) return;
    const QString sText = selected->text();
    delete lstFavorites->takeItem(row);
    const int count = lstFavorites->count();
    if (count > 0) lstFavorites->setCurrentRow(row != count ? row : row - 1);
    mIDs.Remove(sText);
    UpdateDelete();
}

void FFavorites::Pick() {
    QListWidgetItem* selected = SelectedRow();
    mSelectedID = selected ? selected->text() : QString();
    accept();
}

QListWidgetItem* FFavorites::SelectedRow() const {
    QListWidgetItem* current = lstFavorites->currentItem();
    return current && current->isSelected() ? current : nullptr;
}

void FFavorites::UpdateDelete() {
    cmdDelete->setEnabled(SelectedRow() != nullptr);
}
