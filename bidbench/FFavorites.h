// One favourites list (sellers or bidders): shows the IDs of its list file,
// adds, renames and deletes IDs, and lets the user pick one. The list file is read
// when the kind is set and written whenever the dialog ends.
#pragma once

#include <QDialog>

#include "UserIDs.h"

class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class FFavorites final : public QDialog {
    Q_OBJECT
public:
    explicit FFavorites(QWidget* parent = nullptr);

    // Sellers (true) or bidders (false): a new, empty list, then the
    // kind's caption and file.
    void SetListKind(bool sellers);
    // The ID picked with Go! or a double-click; empty otherwise.
    QString SelectedID() const { return mSelectedID; }
    QString ListPath() const;

    QListWidget* lstFavorites;
    QPushButton* cmdAdd;
    QPushButton* cmdGetInfo;
    QPushButton* cmdDelete;
    QPushButton* cmdClose;
    QLabel* lblDoubleClick;
    // The list's context menu, with the keys F2 and Delete.
    QAction* mnuRename = nullptr;
    QAction* mnuDelete = nullptr;

    void AddUserID();
    void DeleteSelected();
    // Asks for the selected ID's new text; refused, with the reason, when
    // another ID of the list has it.
    void RenameSelected();
    void Pick();

    // Ends the dialog only when the list file has been written; when it
    // cannot be, says so and stays open with its list.
    void done(int result) override;

private:
    static QString CleanID(const QString& sText);
    void TellAlreadyListed(const QString& sUserID);
    void LoadList();
    bool SaveList();
    void AddListEdits();
    void UpdateDelete();
    // The row the user has selected; null when none is.
    QListWidgetItem* SelectedRow() const;

    bool mSellers = true;
    CUserIDs mIDs;
    QString mSelectedID;
};
