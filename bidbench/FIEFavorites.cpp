#include "FIEFavorites.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyle>
#include <QSet>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "BrowserFavorites.h"
#include "Help.h"

namespace {

// Images of the nodes, numbered as the image list numbers them.
enum Image { kFolder = 1, kOpenFolder = 2, kRoot = 3, kShortcut = 4 };

QIcon ImageIcon(int image) {
    const QStyle::StandardPixmap pixmaps[] = {QStyle::SP_DirIcon, QStyle::SP_DirIcon, QStyle::SP_DirOpenIcon,
                                              QStyle::SP_DirHomeIcon, QStyle::SP_FileLinkIcon};
    return QApplication::style()->standardIcon(pixmaps[image]);
}

// A folder is listed only when it has no attribute but being a folder: not
// read-only, not hidden (a dot name), not a link.
bool IsPlainFolder(const QFileInfo& entry) {
    return entry.isDir() && !entry.isSymLink() && !entry.isHidden() && entry.permission(QFile::WriteOwner);
}

constexpr QDir::SortFlags kListingOrder = QDir::Name | QDir::IgnoreCase;

}  // namespace

FIEFavorites::FIEFavorites(QWidget* parent, const QString& sFolder) : QDialog(parent) {
    setWindowTitle("Browser Favorites");
    Help::BindKey(this, Help::kBrowserFavorites);
    TreeView1 = new QTreeWidget;
    TreeView1->setHeaderHidden(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TreeView1);
    resize(360, 420);
    connect(TreeView1, &QTreeWidget::itemClicked, this, &FIEFavorites::NodeClicked);
    TreeView1->setContextMenuPolicy(Qt::ActionsContextMenu);
    const struct {
        const char* text;
        QKeySequence key;
        void (FIEFavorites::*run)();
    } kEdits[] = {{"&Rename", QKeySequence(Qt::Key_F2), &FIEFavorites::RenameSelected},
                  {"&Delete", QKeySequence(Qt::Key_Delete), &FIEFavorites::DeleteSelected}};
    for (const auto& edit : kEdits) {
        auto* action = new QAction(edit.text, TreeView1);
        action->setShortcut(edit.key);
        action->setShortcutContext(Qt::WidgetShortcut);
        TreeView1->addAction(action);
        connect(action, &QAction::triggered, this, edit.run);
    }
    connect(TreeView1, &QTreeWidget::itemExpanded, this, [](QTreeWidgetItem* node) {
        if (FIEFavorites::Key(node) != "IE") node->setIcon(0, ImageIcon(kOpenFolder));
    });
    connect(TreeView1, &QTreeWidget::itemCollapsed, this, [](QTreeWidgetItem* node) {
        if (FIEFavorites::Key(node) != "IE") node->setIcon(0, ImageIcon(kFolder));
    });
    mFolder = sFolder.isEmpty() ? BrowserFavorites::Folder() : sFolder;
    FillTree(mFolder);
}

QString FIEFavorites::Key(const QTreeWidgetItem* node) { return node->data(0, Qt::UserRole).toString(); }

QTreeWidgetItem* FIEFavorites::AddNode(QTreeWidgetItem* parent, const QString& sKey, const QString& sText, int image) {
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    node->setText(0, sText);
    node->setData(0, Qt::UserRole, sKey);
    node->setIcon(0, ImageIcon(image));
    return node;
}

void FIEFavorites::FillTree(const QString& sFolder) {
    QTreeWidgetItem* root = AddNode(nullptr, "IE", "Favorites", kRoot);
    if (!sFolder.isEmpty()) {
        AddFolders(sFolder + "/", root);
        AddShortcuts(sFolder + "/", root);
    }
    root->setExpanded(true);
    TreeFilled = true;
}

void FIEFavorites::AddFolders(const QString& sPath, QTreeWidgetItem* parent) {
    const QFileInfoList entries =
        QDir(sPath).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, kListingOrder);
    for (const QFileInfo& entry : entries) {
        if (!IsPlainFolder(entry)) continue;
        const QString sFolder = sPath + entry.fileName() + "/";
        QTreeWidgetItem* node = AddNode(parent, sFolder, entry.fileName(), kFolder);
        AddShortcuts(sFolder, node);
        AddFolders(sFolder, node);
    }
    // A large tree must not freeze the window.
    QCoreApplication::processEvents();
}

void FIEFavorites::AddShortcuts(const QString& sPath, QTreeWidgetItem* parent) {
    const QFileInfoList entries = QDir(sPath).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, kListingOrder);
    for (const QFileInfo& entry : entries) {
        const QString sName = entry.fileName();
        if (sName.right(3).toLower() == "url") AddNode(parent, sPath + sName, sName.left(sName.size() - 4), kShortcut);
    }
}

void FIEFavorites::NodeClicked(QTreeWidgetItem* node) {
    const QString sKey = node ? Key(node) : QString();
    if (sKey.isEmpty() || sKey == "IE" || sKey.endsWith('/')) return;
    mPickedAddress = BrowserFavorites::ReadShortcut(sKey);
    accept();
}

QString FIEFavorites::SelectedPath() const {
    const QTreeWidgetItem* node = TreeView1->currentItem();
    const QString sKey = node ? Key(node) : QString();
    if (sKey.isEmpty() || sKey == "IE") return {};
    return sKey.endsWith('/') ? sKey.chopped(1) : sKey;
}

void FIEFavorites::Refill(const QString& sOldKey, const QString& sNewKey) {
    const auto renamed = [&](QString sKey) {
        if (!sOldKey.isEmpty() && sKey.startsWith(sOldKey)) sKey.replace(0, sOldKey.size(), sNewKey);
        return sKey;
    };
    QSet<QString> open;
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        if ((*it)->isExpanded()) open.insert(renamed(Key(*it)));
    const QString sSelected = TreeView1->currentItem() ? renamed(Key(TreeView1->currentItem())) : QString();
    TreeView1->clear();
    FillTree(mFolder);
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it) {
        if (open.contains(Key(*it))) (*it)->setExpanded(true);
        if (!sSelected.isEmpty() && Key(*it) == sSelected) {
            TreeView1->setCurrentItem(*it);
            TreeView1->scrollToItem(*it);
        }
    }
}

void FIEFavorites::RenameSelected() {
    const QString sPath = SelectedPath();
    if (sPath.isEmpty()) return;
    const QFileInfo entry(sPath);
    const bool isFolder = entry.isDir();
    const QString sOldName = isFolder ? entry.fileName() : entry.completeBaseName();
    bool ok = false;
    const QString sName = QInputDialog::getText(
        this, "Rename", isFolder ? "Folder name:" : "Favorite name:", QLineEdit::Normal, sOldName, &ok);
    if (!ok || sName.trimmed().isEmpty() || sName == sOldName) return;
    const QString sNewPath =
        entry.path() + "/" + BrowserFavorites::SafeFileName(sName) + (isFolder ? QString() : QStringLiteral(".url"));
    if (QFileInfo::exists(sNewPath)) {
        QMessageBox::warning(
            this, windowTitle(),
            "There is already a favorite or folder named " + QFileInfo(sNewPath).completeBaseName() + ".");
        return;
    }
    if (!QDir().rename(sPath, sNewPath)) {
        QMessageBox::warning(this, windowTitle(), sOldName + " could not be renamed.");
        return;
    }
    if (isFolder)
        Refill(sPath + "/", sNewPath + "/");
    else
        Refill(sPath, sNewPath);
}

void FIEFavorites::DeleteSelected() {
    const QString sPath = SelectedPath();
    if (sPath.isEmpty()) return;
    const QFileInfo entry(sPath);
    bool deleted = false;
    if (entry.isDir()) {
        // A folder goes with everything in it: asked first.
        if (QMessageBox::question(this, windowTitle(),
                                  "Delete the folder " + entry.fileName() + " and every favorite in it?") !=
            QMessageBox::Yes)
            return;
        deleted = QDir(sPath).removeRecursively();
    } else {
        deleted = QFile::remove(sPath);
    }
    if (!deleted) QMessageBox::warning(this, windowTitle(), entry.completeBaseName() + " could not be deleted.");
    Refill();
}
