#include "FFavorites.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "Addresses.h"
#include "FAddUserID.h"
#include "Help.h"
#include "PendingSaves.h"
#include "SettingsStore.h"
#include "UserPlaces.h"

FFavorites::FFavorites(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Favorite");
    Help::BindKey(this, Help::kFavoriteLists);
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

    AddListEdits();
    connect(cmdAdd, &QPushButton::clicked, this, &FFavorites::AddUserID);
    connect(cmdGetInfo, &QPushButton::clicked, this, &FFavorites::Pick);
    connect(lstFavorites, &QListWidget::itemDoubleClicked, this, &FFavorites::Pick);
    connect(cmdDelete, &QPushButton::clicked, this, &FFavorites::DeleteSelected);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstFavorites, &QListWidget::itemSelectionChanged, this, &FFavorites::UpdateDelete);
}

// Rename (F2) and Delete (the Delete key) of the selected ID, also offered
// as the list's context menu, as in the browser favourites.
void FFavorites::AddListEdits() {
    lstFavorites->setContextMenuPolicy(Qt::ActionsContextMenu);
    const struct {
        const char* text;
        QKeySequence key;
        void (FFavorites::*run)();
        QAction* FFavorites::*keep;
    } kEdits[] = {{"&Rename...", QKeySequence(Qt::Key_F2), &FFavorites::RenameSelected, &FFavorites::mnuRename},
                  {"&Delete", QKeySequence(Qt::Key_Delete), &FFavorites::DeleteSelected, &FFavorites::mnuDelete}};
    for (const auto& edit : kEdits) {
        auto* action = new QAction(edit.text, lstFavorites);
        action->setShortcut(edit.key);
        action->setShortcutContext(Qt::WidgetShortcut);
        lstFavorites->addAction(action);
        connect(action, &QAction::triggered, this, edit.run);
        this->*edit.keep = action;
    }
}

// Blanks around an ID are no part of it (the site has none) and cannot be
// seen in the list; they are dropped wherever an ID comes in.
QString FFavorites::CleanID(const QString& sText) { return sText.trimmed(); }

QString FFavorites::ListPath() const {
    return mSellers ? UserPlaces::SellersListPath() : UserPlaces::BiddersListPath();
}

void FFavorites::SetListKind(bool sellers) {
    mSellers = sellers;
    mIDs = CUserIDs();
    lstFavorites->clear();
    LoadList();
}

void FFavorites::LoadList() {
    setWindowTitle(mSellers ? "Favorite Sellers List" : "Favorite Bidders List");
    // A list that could not be saved is the one in memory, not the file's.
    QByteArray bytes;
    // A list that could not be moved from beside the program is read there.
    QFile file(QFileInfo::exists(ListPath()) ? ListPath() : UserPlaces::OldListPath(ListPath()));
    if (const auto kept = PendingSaves::KeptText(ListPath()))
        bytes = *kept;
    else if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    // Lines end at CR LF, CR or LF; empty lines of a hand-edited file are skipped.
    const QString text = QString::fromLocal8Bit(bytes);
    for (const QString& line : text.split(QRegularExpression("\r\n|\r|\n")))
        if (const QString sUserID = CleanID(line); !sUserID.isEmpty()) mIDs.Add(sUserID);
    for (const CUserIDs::Entry& entry : mIDs) lstFavorites->addItem(entry->UserID());
    UpdateDelete();
}

// A list that cannot be written (a read-only folder, a folder in the file's
// place) is kept in memory while the program runs and written again later
// (PendingSaves); the user is told once where it could not go, and may
// leave the window.
bool FFavorites::SaveList() {
    QByteArray text;
    for (const CUserIDs::Entry& entry : mIDs) text += entry->UserID().toLocal8Bit() + "\r\n";
    return PendingSaves::WriteFile(ListPath(), text, "The favorites list", nullptr);
}

void FFavorites::done(int result) {
    SaveList();
    QDialog::done(result);
}

void FFavorites::AddUserID() {
    QString sEntered;
    {
        FAddUserID add(this);
        add.exec();
        sEntered = add.EnteredID();
    }
    const QString sUserID = CleanID(sEntered);
    if (sUserID.isEmpty()) return;
    if (const CUserIDs::Entry entry = mIDs.Add(sUserID)) {
        lstFavorites->addItem(entry->UserID());
        if (PendingSaves::KeptText(ListPath())) SaveList();  // a list kept in memory tries again
    } else {
        TellAlreadyListed(sUserID);
    }
}

// User IDs are one whatever their letter case: the user is shown the ID
// the list holds, rather than left to wonder why nothing was added.
void FFavorites::TellAlreadyListed(const QString& sUserID) {
    const QString sListed = mIDs.Find(sUserID)->UserID();
    const QList<QListWidgetItem*> rows = lstFavorites->findItems(sListed, Qt::MatchExactly);
    if (!rows.isEmpty()) lstFavorites->setCurrentItem(rows.first());
    const QString sText = sListed == sUserID ? sUserID + " is already in your favorites list."
                                             : sUserID + " is already in your favorites list as " + sListed +
                                                   ".\r\nUser IDs are the same whatever their letter case.";
    QMessageBox::information(this, SettingsStore::kProgramTitle, sText);
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
    if (PendingSaves::KeptText(ListPath())) SaveList();  // a list kept in memory tries again
}

void FFavorites::RenameSelected() {
    QListWidgetItem* selected = SelectedRow();
    if (!selected) return;
    const QString sOld = selected->text();
    bool ok = false;
    const QString sNew =
        CleanID(QInputDialog::getText(this, "Rename User ID", "&User ID:", QLineEdit::Normal, sOld, &ok));
    if (!ok || sNew.isEmpty() || sNew == sOld) return;
    if (!mIDs.Rename(sOld, sNew)) {
        TellAlreadyListed(sNew);
        return;
    }
    selected->setText(sNew);
    if (PendingSaves::KeptText(ListPath())) SaveList();  // a list kept in memory tries again
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
    const bool selected = SelectedRow() != nullptr;
    cmdDelete->setEnabled(selected);
    mnuDelete->setEnabled(selected);
    mnuRename->setEnabled(selected);
}
