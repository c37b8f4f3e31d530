// User ID lists, the favourites lists and their files, the browser
// favourites folder and bookmark import, and the floating toolbar.
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <QToolBar>
#include <QTreeWidget>
#include <stdexcept>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "BookmarkFile.h"
#include "BrowserFavorites.h"
#include "FAddUserID.h"
#include "FFavorites.h"
#include "FIEFavorites.h"
#include "FToolbar.h"
#include "PendingSaves.h"
#include "ShortcutFile.h"
#include "UserIDs.h"
#include "UserPlaces.h"

namespace {

QStringList IDs(const CUserIDs& list) {
    QStringList ids;
    for (const CUserIDs::Entry& entry : list) ids << entry->UserID();
    return ids;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
    return rows;
}

}  // namespace

TEST(UserIDs, CaseBlindUniqueInInsertionOrder) {
    CUserIDs list;
    ASSERT_TRUE(list.Add("bob"));
    EXPECT_FALSE(list.Add("bob"));
    EXPECT_FALSE(list.Add("Bob"));
    EXPECT_TRUE(list.Add(" alice "));  // kept as given
    EXPECT_TRUE(list.Add(""));
    EXPECT_EQ(IDs(list), QStringList({"bob", " alice ", ""}));
    EXPECT_THROW(list.Remove("carol"), std::invalid_argument);
    list.Remove("BOB");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Add("Bob"));  // a removed ID can come back in another case
    EXPECT_EQ(IDs(list).last(), "Bob");
    EXPECT_FALSE(list.Rename("Bob", " ALICE "));  // held by another entry
    EXPECT_TRUE(list.Rename("bob", "BOB"));
    EXPECT_TRUE(list.Rename(" alice ", "carol"));
    EXPECT_EQ(IDs(list), QStringList({"carol", "", "BOB"}));
    EXPECT_EQ(list.Find("Carol"), list.Find("carol"));
    EXPECT_FALSE(list.Find(" alice "));
    EXPECT_TRUE(list.Add(" alice "));
}

TEST(UserIDs, SpaceSeparatedStringsRoundTrip) {
    CUserIDs list;
    list.LoadFromSpaceDelimitedString("  alice   bob  ");
    EXPECT_EQ(IDs(list), QStringList({"alice", "bob"}));
    EXPECT_EQ(list.CreateIDString(), "alice bob ");
    CUserIDs tabs;
    tabs.LoadFromSpaceDelimitedString("a\tb c\nd");  // only spaces separate
    EXPECT_EQ(IDs(tabs), QStringList({"a\tb", "c\nd"}));
    CUserIDs empty;
    EXPECT_EQ(empty.CreateIDString(), "");
    empty.LoadFromSpaceDelimitedString("   ");
    EXPECT_EQ(IDs(empty), QStringList({""}));  // no space left: one Add of the empty text

    // Long strings load completely (no 16-bit position limit).
    QString many;
    for (int i = 0; i < 5000; ++i) many += QString("user%1 ").arg(i);
    ASSERT_GT(many.size(), 40000);
    CUserIDs big;
    big.LoadFromSpaceDelimitedString(many);
    EXPECT_EQ(big.Count(), 5000);
    CUserIDs again;
    again.LoadFromSpaceDelimitedString(big.CreateIDString());
    EXPECT_EQ(IDs(again), IDs(big));
}

TEST(UserIDs, BidderPageMarkers) {
    const QString marker = "Email&amp;requested=";
    auto load = [](const QString& page) {
        CUserIDs list;
        list.LoadFromBidderPage(page);
        return IDs(list);
    };
    EXPECT_TRUE(load(marker + "ann&amp;x").isEmpty());                 // no "40%"
    EXPECT_TRUE(load(marker + "ann&amp;x <td width=40%>").isEmpty());  // markers before it
    EXPECT_EQ(load("<td width=40%>" + marker + "ann&amp;a " + marker + "bo b&amp;b " + marker + "ann&amp;c " + marker +
                   "Ann&amp;d " + marker + "cut"),
              QStringList({"ann", "bo b"}));
}

TEST(Shortcuts, ProfileStringsAsTheSystemReadsThem) {
    using ShortcutFile::Url;
    EXPECT_EQ(Url("[InternetShortcut]\r\nURL=http://a/b?c=1;d=2,e\\f\r\n"), "http://a/b?c=1;d=2,e\\f");
    EXPECT_EQ(Url("[Other]\nURL=wrong\n[internetshortcut]\n; note\n  url =  \"http://q/\"  \n"), "http://q/");
    EXPECT_EQ(Url("[InternetShortcut]\rIconIndex=1\rURL=http://cr/"), "http://cr/");
    EXPECT_EQ(Url("URL=http://outside/\n[InternetShortcut]\n"), "");
    EXPECT_EQ(Url(""), "");
    EXPECT_EQ(ShortcutFile::Text("http://x/\r\n[Evil]"), "[InternetShortcut]\r\nURL=http://x/[Evil]\r\n");
}

TEST(Bookmarks, ParsedFromAnExportFile) {
    const QByteArray html = ReadAll(QString(TEST_DATA_DIR) + "/bookmarks/firefox-export.html");
    const BookmarkFile::Contents contents = BookmarkFile::Parse(html.toStdString());
    using Path = BookmarkFile::FolderPath;
    EXPECT_EQ(
        contents.folders,
        (std::vector<Path>{
            {"Auctions"}, {"Auctions", "Sellers / Favourites"}, {"Auctions", "Empty folder"}, {"Bookmarks Toolbar"}}));
    ASSERT_EQ(contents.bookmarks.size(), 6u);
    EXPECT_EQ(contents.bookmarks[0].title, "Clocks & Watches <rare>");  // the description is not part of it
    EXPECT_EQ(contents.bookmarks[0].url, "http://auctions.example/item?id=1&view=full");
    EXPECT_EQ(contents.bookmarks[1].title, "Ann's shop caf\xC3\xA9");
    EXPECT_EQ(contents.bookmarks[1].folder, (Path{"Auctions", "Sellers / Favourites"}));
    EXPECT_EQ(contents.bookmarks[2].folder, Path{});
    EXPECT_EQ(contents.bookmarks[5].folder, Path{"Bookmarks Toolbar"});

    // Broken files give what can be recognised.
    const auto broken = BookmarkFile::Parse(
        "<DL><DT><H3>F</H3><DL><DT><A HREF='http://a/'>open title<DT><A href=http://b/>B"
        "</DL></DL></DL><A HREF=\"\">none</A><A HREF=\"http://c/\"");
    ASSERT_EQ(broken.bookmarks.size(), 3u);
    EXPECT_EQ(broken.bookmarks[0].title, "open title");
    EXPECT_EQ(broken.bookmarks[1].url, "http://b/");
    EXPECT_EQ(broken.bookmarks[1].folder, Path{"F"});
    EXPECT_EQ(broken.bookmarks[2].folder, Path{});
    EXPECT_EQ(BookmarkFile::DecodeEntities("&#0;&#x110000;&bogus;&AMP;&#65"), "\xEF\xBF\xBD\xEF\xBF\xBD&bogus;&&#65");
}

// ---- favourite sellers and bidders ----------------------------------------------------------

namespace {

class FavoritesLists : public BidbenchTest {
protected:
    void SetUp() override {
        BidbenchTest::SetUp();
        Clean();
    }
    void TearDown() override { Clean(); }
    static void Clean() {
        for (const QString& path : {UserPlaces::SellersListPath(), UserPlaces::BiddersListPath()}) {
            QFile::remove(path);
            QDir(path).removeRecursively();
        }
    }
};

}  // namespace

TEST_F(FavoritesLists, FirstUseCreatesAnEmptyFileOfItsKindOnly) {
    FFavorites sellers;
    sellers.SetListKind(true);
    EXPECT_EQ(sellers.windowTitle(), "Favorite Sellers List");
    EXPECT_EQ(sellers.lstFavorites->count(), 0);
    EXPECT_FALSE(sellers.cmdDelete->isEnabled());
    sellers.cmdClose->click();
    EXPECT_EQ(ReadAll(UserPlaces::SellersListPath()), "");
    EXPECT_FALSE(QFile::exists(UserPlaces::BiddersListPath()));
    EXPECT_EQ(sellers.SelectedID(), "");

    FFavorites bidders;
    bidders.SetListKind(false);
    EXPECT_EQ(bidders.windowTitle(), "Favorite Bidders List");
    bidders.show();
    bidders.close();  // the close box saves too
    EXPECT_EQ(ReadAll(UserPlaces::BiddersListPath()), "");
}

TEST_F(FavoritesLists, HandEditedFilesAreCleanedAndKeptInOrder) {
    WriteAll(UserPlaces::SellersListPath(), "zed\r\nAnn\r\n\r\n ann \nann\rbob");
    FFavorites dialog;
    dialog.SetListKind(true);
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"zed", "Ann", "bob"}));  // " ann " is Ann
    WhenModal<FAddUserID>([](FAddUserID* add) {
        add->txtUserID->setText("  carol  ");
        add->cmdAdd->click();
    });
    dialog.cmdAdd->click();
    auto told = std::make_shared<QStringList>();
    for (const char* id : {"ZED", "bob"}) {
        WhenModal<FAddUserID>([id](FAddUserID* add) {
            add->txtUserID->setText(id);
            add->cmdAdd->click();
        });
        WhenModal<QMessageBox>([told](QMessageBox* box) {
            *told << box->text();
            box->accept();
        });
        dialog.cmdAdd->click();
        EXPECT_EQ(dialog.lstFavorites->currentItem()->text(), QString(id).toLower());  // the one it is
    }
    EXPECT_EQ(*told, QStringList({"ZED is already in your favorites list as zed.\r\n"
                                  "User IDs are the same whatever their letter case.",
                                  "bob is already in your favorites list."}));
    WhenModal<FAddUserID>([](FAddUserID* add) {
        add->txtUserID->setText("dave");
        add->cmdCancel->click();
    });
    dialog.cmdAdd->click();
    WhenModal<FAddUserID>([](FAddUserID* add) {
        add->txtUserID->setText("   ");
        add->cmdAdd->click();
    });
    dialog.cmdAdd->click();
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"zed", "Ann", "bob", "carol"}));

    // A middle row is followed by the row that takes its place; the last by the new last.
    dialog.lstFavorites->setCurrentRow(1);
    EXPECT_TRUE(dialog.cmdDelete->isEnabled());
    dialog.cmdDelete->click();
    EXPECT_EQ(dialog.lstFavorites->currentItem()->text(), "bob");
    dialog.lstFavorites->setCurrentRow(2);
    dialog.cmdDelete->click();
    EXPECT_EQ(dialog.lstFavorites->currentItem()->text(), "bob");
    dialog.cmdGetInfo->click();
    EXPECT_EQ(dialog.SelectedID(), "bob");
    EXPECT_EQ(ReadAll(UserPlaces::SellersListPath()), "zed\r\nbob\r\n");
    EXPECT_FALSE(QFile::exists(UserPlaces::BiddersListPath()));
}

TEST_F(FavoritesLists, IDsAreRenamedAndDeletedByKeyAndContextMenu) {
    WriteAll(UserPlaces::BiddersListPath(), "alice\r\nbob\r\ncarol\r\n");
    FFavorites dialog;
    dialog.SetListKind(false);
    ShowActive(&dialog);
    QStringList menu;
    for (QAction* action : dialog.lstFavorites->actions())
        menu << action->text() + (action->isEnabled() ? "" : " (off)");
    EXPECT_EQ(menu, QStringList({"&Rename... (off)", "&Delete (off)"}));  // nothing selected yet
    auto select = [&](const QString& text) {
        ShowActive(&dialog);
        dialog.lstFavorites->setFocus();
        const auto rows = dialog.lstFavorites->findItems(text, Qt::MatchExactly);
        ASSERT_EQ(rows.size(), 1) << text.toStdString();
        dialog.lstFavorites->setCurrentItem(rows.first());
    };
    auto renameTo = [&](const QString& from, const QString& to) {
        select(from);
        WhenModal<QInputDialog>([to](QInputDialog* ask) {
            EXPECT_EQ(ask->windowTitle(), "Rename User ID");
            EXPECT_EQ(ask->labelText(), "&User ID:");
            if (to == "  Robert ") SaveScreenshot(ask, "dialog-rename-user-id");
            ask->setTextValue(to);
            ask->accept();
        });
        QTest::keyClick(dialog.lstFavorites, Qt::Key_F2);
    };
    renameTo("bob", "  Robert ");
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"alice", "Robert", "carol"}));  // in its place
    auto told = std::make_shared<QString>();
    WhenModal<QMessageBox>([told](QMessageBox* box) {
        *told = box->text();
        box->accept();
    });
    renameTo("Robert", "ALICE");
    EXPECT_EQ(*told,
              "ALICE is already in your favorites list as alice.\r\n"
              "User IDs are the same whatever their letter case.");
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"alice", "Robert", "carol"}));
    renameTo("Robert", "robert");  // its own letter case may change
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"alice", "robert", "carol"}));

    select("alice");
    EXPECT_TRUE(dialog.mnuRename->isEnabled() && dialog.mnuDelete->isEnabled());
    QTest::keyClick(dialog.lstFavorites, Qt::Key_Delete);
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"robert", "carol"}));
    EXPECT_EQ(dialog.lstFavorites->currentItem()->text(), "robert");
    dialog.mnuDelete->trigger();  // the context menu's entry
    EXPECT_EQ(Rows(dialog.lstFavorites), QStringList({"carol"}));
    dialog.cmdClose->click();
    EXPECT_EQ(ReadAll(UserPlaces::BiddersListPath()), "carol\r\n");

    FFavorites again;
    again.SetListKind(false);
    EXPECT_EQ(Rows(again.lstFavorites), QStringList({"carol"}));
}

TEST_F(FavoritesLists, GoWithoutASelectionPicksNothing) {
    WriteAll(UserPlaces::BiddersListPath(), "only\r\n");
    FFavorites dialog;
    dialog.SetListKind(false);
    dialog.lstFavorites->setCurrentRow(0);
    dialog.cmdDelete->click();
    EXPECT_EQ(dialog.lstFavorites->count(), 0);
    EXPECT_FALSE(dialog.cmdDelete->isEnabled());
    dialog.cmdGetInfo->click();
    EXPECT_EQ(dialog.SelectedID(), "");
    EXPECT_EQ(ReadAll(UserPlaces::BiddersListPath()), "");
}

// The user can always leave: the list stays in memory, the user is told
// once where it could not go, and it is written at the next change or exit.
TEST_F(FavoritesLists, AListThatCannotBeWrittenIsReportedOnceAndKept) {
    ASSERT_TRUE(QDir().mkpath(UserPlaces::SellersListPath()));  // a folder where the file should be
    auto messages = std::make_shared<QStringList>();
    {
        FFavorites dialog;
        dialog.SetListKind(true);
        dialog.show();
        // One answer for one warning: a second would find no handler and stay open.
        WhenModal<QMessageBox>([messages](QMessageBox* box) {
            *messages << box->text();
            box->accept();
        });
        for (const char* id : {"kept", "also"}) {
            WhenModal<FAddUserID>([id](FAddUserID* add) {
                add->txtUserID->setText(id);
                add->cmdAdd->click();
            });
            dialog.cmdAdd->click();
            Pump(50);
            EXPECT_EQ(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), nullptr) << id;  // none waiting
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());  // not held open
    }
    EXPECT_TRUE(WaitUntil([&] { return !messages->isEmpty(); }, 3000));  // once the window has gone
    Pump(100);
    ASSERT_EQ(messages->size(), 1);
    EXPECT_TRUE(
        messages->first().startsWith("The favorites list could not be saved to " + UserPlaces::SellersListPath()))
        << messages->first().toStdString();
    {
        FFavorites again;
        again.SetListKind(true);
        EXPECT_EQ(Rows(again.lstFavorites), QStringList({"kept", "also"}));  // from memory
    }
    ASSERT_TRUE(QDir(UserPlaces::SellersListPath()).removeRecursively());
    EXPECT_TRUE(PendingSaves::RetryAll());  // as at exit, or half a minute later
    EXPECT_EQ(ReadAll(UserPlaces::SellersListPath()), "kept\r\nalso\r\n");
}

// ---- browser favourites -------------------------------------------------------------------

namespace {

QStringList TreeLines(const QTreeWidgetItem* node, int depth = 0) {
    QStringList lines = {QString(depth * 2, ' ') + node->text(0)};
    for (int i = 0; i < node->childCount(); ++i) lines += TreeLines(node->child(i), depth + 1);
    return lines;
}

void WriteShortcut(const QString& path, const QString& url) {
    WriteAll(path, QByteArray::fromStdString(ShortcutFile::Text(url.toStdString())));
}

}  // namespace

TEST_F(BidbenchTest, FavoritesTreeInTheWalksOrder) {
    QTemporaryDir folder;
    const QString f = folder.path();
    ASSERT_TRUE(QDir(f).mkpath("Beta/Inner") && QDir(f).mkpath("alpha") && QDir(f).mkpath("Locked") &&
                QDir(f).mkpath(".hidden"));
    WriteShortcut(f + "/Top.url", "http://top/");
    WriteShortcut(f + "/LOUD.URL", "http://loud/");
    WriteAll(f + "/notes.txt", "not a shortcut");
    WriteShortcut(f + "/Beta/b1.url", "http://b1/");
    WriteShortcut(f + "/Beta/Inner/deep.url", "http://deep/" + QString(300 - 12, 'x'));
    WriteShortcut(f + "/alpha/a1.url", "http://a1/");
    WriteShortcut(f + "/Locked/hidden-by-lock.url", "http://locked/");
    QFile::setPermissions(f + "/Locked", QFile::ReadOwner | QFile::ExeOwner);

    FIEFavorites dialog(nullptr, f);
    EXPECT_EQ(dialog.windowTitle(), "Browser Favorites");
    EXPECT_TRUE(dialog.TreeFilled);
    ASSERT_EQ(dialog.TreeView1->topLevelItemCount(), 1);
    QTreeWidgetItem* root = dialog.TreeView1->topLevelItem(0);
    EXPECT_EQ(FIEFavorites::Key(root), "IE");
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(TreeLines(root), QStringList({"Favorites", "  alpha", "    a1", "  Beta", "    b1", "    Inner",
                                            "      deep", "  LOUD", "  Top"}));
    EXPECT_EQ(FIEFavorites::Key(root->child(1)), f + "/Beta/");

    dialog.show();
    dialog.NodeClicked(root);
    dialog.NodeClicked(root->child(1));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.PickedAddress(), "");
    dialog.NodeClicked(root->child(1)->child(1)->child(0));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.PickedAddress(), "http://deep/" + QString(300 - 12, 'x'));  // whole
    QFile::setPermissions(f + "/Locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(BidbenchTest, ImportedBookmarksBecomeShortcutsTheTreeShows) {
    QTemporaryDir folder;
    WriteShortcut(folder.path() + "/News.url", "http://already/");
    const auto result =
        BrowserFavorites::Import(QString(TEST_DATA_DIR) + "/bookmarks/firefox-export.html", folder.path());
    EXPECT_TRUE(result.read);
    EXPECT_EQ(result.written, 6);
    EXPECT_EQ(result.failed, 0);
    FIEFavorites dialog(nullptr, folder.path());
    EXPECT_EQ(TreeLines(dialog.TreeView1->topLevelItem(0)),
              QStringList({"Favorites", "  Auctions", "    Clocks & Watches _rare_", "    Empty folder",
                           "    Sellers _ Favourites", "      Ann's shop café", "  Bookmarks Toolbar",
                           "    Toolbar link", "  _.._escape", "  News (2)", "  News (3)", "  News"}));
    EXPECT_EQ(BrowserFavorites::ReadShortcut(folder.path() + "/Auctions/Clocks & Watches _rare_.url"),
              "http://auctions.example/item?id=1&view=full");
    EXPECT_EQ(BrowserFavorites::ReadShortcut(folder.path() + "/News.url"), "http://already/");  // not overwritten
    EXPECT_EQ(BrowserFavorites::ReadShortcut(folder.path() + "/News (3).url"), "http://news.example/other");
    EXPECT_FALSE(BrowserFavorites::Import(folder.path() + "/missing.html", folder.path()).read);
}

// ---- floating toolbar -----------------------------------------------------------------------

TEST_F(BidbenchTest, FloatingToolbarTakesNumbersOnly) {
    FToolbar toolbar;
    EXPECT_EQ(toolbar.windowTitle(), "Tarnbid Bidbench");
    EXPECT_TRUE(toolbar.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(toolbar.lblItem->text(), "&eBay Item #");
    EXPECT_EQ(toolbar.cmdSnipe->text(), "Snipe!");
    ShowActive(&toolbar);
    EXPECT_FALSE(toolbar.cmdSnipe->isEnabled());
    EXPECT_TRUE(WaitUntil([&] { return toolbar.txtItem->hasFocus(); }, 2000));
    QTest::keyClicks(toolbar.txtItem, "12345");
    EXPECT_TRUE(toolbar.cmdSnipe->isEnabled());
    QTest::keyClicks(toolbar.txtItem, "a");
    EXPECT_FALSE(toolbar.cmdSnipe->isEnabled());

    QMimeData dropped;
    dropped.setText("http://auctions.example/item?id=7");
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject*>(toolbar.txtItem)->event(&drop);  // as the drag manager delivers it
    EXPECT_EQ(toolbar.txtItem->text(), "http://auctions.example/item?id=7");
    EXPECT_FALSE(toolbar.cmdSnipe->isEnabled());

    // Texts that pass for numbers elsewhere are no item numbers; the
    // toolbar says why, and Enter sends nothing.
    const struct {
        const char* typed;
        const char* why;
    } refused[] = {
        {"1e5", "Item numbers are digits only: no \"e\"."},   {"inf", "Item numbers are digits only: no \"i\"."},
        {"1,234", "Item numbers are digits only: no \",\"."}, {"1.5", "Item numbers are digits only: no \".\"."},
        {"-12", "Item numbers are digits only: no \"-\"."},   {"12 34", "Item numbers are digits only: no blanks."}};
    for (const auto& c : refused) {
        toolbar.txtItem->selectAll();
        QTest::keyClicks(toolbar.txtItem, QString::fromUtf8(c.typed));
        EXPECT_FALSE(toolbar.cmdSnipe->isEnabled()) << c.typed;
        EXPECT_EQ(toolbar.lblWhyNot->text(), QString::fromUtf8(c.why)) << c.typed;
        QTest::keyClick(toolbar.txtItem, Qt::Key_Return);
        EXPECT_TRUE(toolbar.isVisible()) << c.typed;
    }
    EXPECT_EQ(FToolbar::WhyNotAnItem("\u0661\u0662"),  // digits of other scripts are not the site's
              "Item numbers are digits only: no \"\u0661\".");
    toolbar.txtItem->selectAll();
    QTest::keyClick(toolbar.txtItem, Qt::Key_Backspace);
    EXPECT_EQ(toolbar.lblWhyNot->text(), "");  // nothing typed: nothing to explain
    EXPECT_FALSE(toolbar.cmdSnipe->isEnabled());

    // Blanks around the digits are no part of the number.
    toolbar.txtItem->setText("  424242 ");
    EXPECT_TRUE(toolbar.cmdSnipe->isEnabled());
    EXPECT_EQ(toolbar.lblWhyNot->text(), "");
    toolbar.cmdSnipe->trigger();
    EXPECT_EQ(toolbar.ItemText(), "424242");
    EXPECT_FALSE(toolbar.ClosedByUser());
    EXPECT_FALSE(toolbar.isVisible());
}
