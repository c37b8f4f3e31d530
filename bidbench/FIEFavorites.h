// The browser favourites as a tree: folders first, then the shortcuts of the
// favourites folder; inside each folder its shortcuts first, then its
// subfolders. Clicking a shortcut picks its address and ends the dialog.
// The selected favourite or folder can be renamed (F2) and deleted (Delete),
// also from the tree's context menu.
#pragma once

#include <QDialog>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

class FIEFavorites final : public QDialog {
    Q_OBJECT
public:
    // Builds the tree from `sFolder` (the favourites folder when empty).
    explicit FIEFavorites(QWidget* parent = nullptr, const QString& sFolder = QString());

    QString PickedAddress() const { return mPickedAddress; }

    // The key of a node: "IE" for the root, a folder's path followed by
    // '/', a shortcut's path.
    static QString Key(const QTreeWidgetItem* node);

    QTreeWidget* TreeView1;
    bool TreeFilled = false;

    void NodeClicked(QTreeWidgetItem* node);
    void RenameSelected();
    void DeleteSelected();

private:
    void FillTree(const QString& sFolder);
    void AddFolders(const QString& sPath, QTreeWidgetItem* parent);
    void AddShortcuts(const QString& sPath, QTreeWidgetItem* parent);
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& sKey, const QString& sText, int image);

    // The selected node's file or folder path; empty for the root or none.
    QString SelectedPath() const;
    // Builds the tree again after a change on disk, keeping open the folders
    // that were open; a renamed node (its key `sOldKey` now `sNewKey`) keeps
    // its place open and selected.
    void Refill(const QString& sOldKey = {}, const QString& sNewKey = {});

    QString mFolder;
    QString mPickedAddress;
};
