// The main window's commands against fake browsers: the menu table, editing,
// the favourites commands, the floating toolbar and the version page test.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "BrowserFavorites.h"
#include "FFavorites.h"
#include "FIEFavorites.h"
#include "FMain.h"
#include "FToolbar.h"
#include "FakeBrowser.h"
#include "FakeWindowTest.h"
#include "SettingsStore.h"
#include "UserPlaces.h"
#include "ShellUIHelper.h"
#include "MainParts.h"

namespace {

class Commands : public FakeWindowTest {};

// A menu as "caption|shortcut|checked" lines, submenus indented.
QStringList MenuLines(const QMenu* menu, int depth = 0) {
    QStringList lines;
    for (QAction* action : menu->actions()) {
        QString line = QString(depth * 2, ' ') + (action->isSeparator() ? "-" : action->text());
        if (!action->shortcut().isEmpty()) line += "|" + action->shortcut().toString();
        if (action->isCheckable() && action->isChecked()) line += "|checked";
        lines << line;
        if (action->menu()) lines += MenuLines(action->menu(), depth + 1);
    }
    return lines;
}

}  // namespace

TEST_F(Commands, MenuBarHoldsEveryEntryWithItsShortcutAndCheck) {
    QStringList lines;
    for (QAction* top : main->menuBar()->actions()) {
        lines << top->text();
        lines += MenuLines(top->menu(), 1);
    }
    EXPECT_EQ(lines, QStringList({"&File",
                                  "  &Print...|Ctrl+P",
                                  "  -",
                                  "  E&xit|Ctrl+Q",
                                  "&Edit",
                                  "  Cu&t|Ctrl+X",
                                  "  &Copy|Ctrl+C",
                                  "  &Paste|Ctrl+V",
                                  "  -",
                                  "  &Find (on current web page)|Ctrl+F",
                                  "&Navigate",
                                  "  &Back|Alt+Left",
                                  "  &Forward|Alt+Right",
                                  "  &Stop|Esc",
                                  "  &Home|Alt+Home",
                                  "  &Refresh|F5",
                                  "  &Address Box|Ctrl+L",
                                  "Fa&vorites",
                                  "  &View Browser Favorites...",
                                  "  &Add to Browser Favorites...|Ctrl+D",
                                  "  &Import Netscape Favorites...",
                                  "  -",
                                  "  Favorite eBay &Sellers...",
                                  "  Favorite eBay &Bidders...",
                                  "&Tools",
                                  "  Snipe &Current Auction|Ctrl+Z",
                                  "  &Floating Toolbar|Ctrl+T",
                                  "  -",
                                  "  &Options",
                                  "    &Start-up Auction Site",
                                  "      " + Addresses::SiteCaption(1) + "|checked",
                                  "      eBay &Canada",
                                  "      eBay &UK",
                                  "      eBay &Australia",
                                  "      eBay &Ireland",
                                  "      eBay &New Zealand",
                                  "      eBay &Motors",
                                  "    -",
                                  "    Show Button &Text|checked",
                                  "&Help",
                                  "  &Contents",
                                  "  &Tarnscope Home Page",
                                  "  Tarnbid &Online",
                                  "  &Send Feedback",
                                  "  -",
                                  "  &About "}));
    EXPECT_EQ(MenuLines(Ui(*main).mnuButtonBarStatus), QStringList({"View Text Labels|checked"}));
    // Every entry is enabled at start-up but those that need a page or an
    // item, and Back and Forward, which need a history.
    const MainParts ui(*main);
    const QList<QAction*> waiting = {ui.mnuFavoritesAdd, ui.mnuNavigateSnipe, ui.tbrBack, ui.tbrForward};
    for (QAction* action : main->findChildren<QAction*>()) {
        if (!action->objectName().isEmpty() && !waiting.contains(action)) {
            EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
        }
    }
    EXPECT_EQ(MenuLines(Ui(*main).mnuFavoritesButton),
              QStringList({"Browser Favorites", "Favorite Sellers", "Favorite Bidders"}));
    auto* favorites =
        qobject_cast<QToolButton*>(Ui(*main).tbrNavigate->widgetForAction(Ui(*main).tbrNavigate->actions()[5]));
    ASSERT_TRUE(favorites);
    EXPECT_EQ(favorites->popupMode(), QToolButton::MenuButtonPopup);
}

TEST_F(Commands, EditingFollowsTheFocus) {
    ShowActive(main.get());
    QApplication::clipboard()->setText("before");
    Ui(*main).SSTab1->setCurrentIndex(1);
    auction->widget()->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return auction->widget()->hasFocus(); }, 2000));
    Action("mnuEditCut")->trigger();
    Action("mnuEditPaste")->trigger();
    Action("mnuEditCopy")->trigger();
    EXPECT_EQ(auction->edits, QStringList({"cut", "paste", "copy"}));

    QLineEdit* address = Ui(*main).cboAddress->lineEdit();
    address->setText("http://one/two");
    address->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return address->hasFocus(); }, 2000));
    address->setSelection(7, 3);
    Action("mnuEditCut")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "one");
    EXPECT_EQ(address->text(), "http:///two");
    address->setCursorPosition(7);
    Action("mnuEditPaste")->trigger();
    EXPECT_EQ(address->text(), "http://one/two");
    EXPECT_EQ(auction->edits.size(), 3);
}

TEST_F(Commands, FindBarSearchesTheShownTabsPage) {
    ShowActive(main.get());
    Action("mnuEditFind")->trigger();
    EXPECT_TRUE(Ui(*main).fraFind->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return Ui(*main).txtFind->hasFocus(); }, 2000));
    QTest::keyClicks(Ui(*main).txtFind, "ab");
    EXPECT_EQ(snipe->finds.last(), ">ab");
    EXPECT_EQ(Ui(*main).lblFindResult->text(), "1 of 2 matches");
    QTest::keyClick(Ui(*main).txtFind, Qt::Key_Escape);
    EXPECT_FALSE(Ui(*main).fraFind->isVisible());
    EXPECT_EQ(snipe->finds.last(), ">");  // the highlight is cleared
    EXPECT_TRUE(auction->finds.isEmpty());
}

TEST_F(Commands, PrintNeedsAPage) {
    bool asked = false;
    WhenModal<QDialog>([&asked](QDialog* dialog) {
        asked = true;
        dialog->reject();
    });
    Action("mnuFilePrint")->trigger();  // nothing loaded: no dialog
    Pump(100);
    EXPECT_FALSE(asked);
    snipe->arrive("http://service/news", "News");
    Action("mnuFilePrint")->trigger();
    EXPECT_TRUE(asked);
    EXPECT_EQ(snipe->prints, 0);  // cancelled
}

TEST_F(Commands, FavouriteSellerAndBidderOpenTheirPagesInTheAuctionBrowser) {
    QFile::remove(UserPlaces::SellersListPath());
    QFile::remove(UserPlaces::BiddersListPath());
    WhenModal<FFavorites>([](FFavorites* dialog) {
        dialog->lstFavorites->addItem("ignored");  // rows alone are not the list
        dialog->lstFavorites->setCurrentRow(0);
        dialog->Pick();
    });
    const int before = auction->navigations.size();
    Ui(*main).SSTab1->setCurrentIndex(0);
    Action("mnuFavoritesSellers")->trigger();
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 1);
    EXPECT_EQ(auction->navigations.last(), Addresses::SellerListingsAddress("ignored"));
    WhenModal<FFavorites>([](FFavorites* dialog) { dialog->cmdClose->click(); });
    Ui(*main).mnuFavoritesButton->actions()[2]->trigger();
    EXPECT_EQ(auction->navigations.size(), before + 1);  // closed: nothing opened
    EXPECT_EQ(QFile(UserPlaces::BiddersListPath()).size(), 0);
    QFile::remove(UserPlaces::SellersListPath());
    QFile::remove(UserPlaces::BiddersListPath());
}

TEST_F(Commands, BrowserFavoritesAddAndOpen) {
    const QString folder = BrowserFavorites::Folder();
    ASSERT_FALSE(folder.isEmpty());
    QDir(folder).removeRecursively();
    QString message;
    WhenModal<QMessageBox>([&message](QMessageBox* box) {
        message = box->text();
        box->accept();
    });
    Ui(*main).SSTab1->setCurrentIndex(1);  // the entry is offered on the auction tab
    Action("mnuFavoritesAdd")->trigger();  // no page yet
    EXPECT_EQ(message, "You must navigate to a webpage and be viewing it\r\nto add it to your favorites list.");

    auction->arrive("http://site/item?id=5", "Item: a/b");
    WhenModal<FAddFavorite>([](FAddFavorite* dialog) {
        EXPECT_EQ(dialog->txtName->text(), "Item: a/b");
        dialog->cmdOK->click();
    });
    Action("mnuFavoritesAdd")->trigger();
    EXPECT_EQ(BrowserFavorites::ReadShortcut(BrowserFavorites::Folder() + "/Item_ a_b.url"), "http://site/item?id=5");

    WhenModal<FIEFavorites>([](FIEFavorites* dialog) {
        QTreeWidgetItem* root = dialog->TreeView1->topLevelItem(0);
        ASSERT_EQ(root->childCount(), 1);
        dialog->NodeClicked(root->child(0));
    });
    Ui(*main).SSTab1->setCurrentIndex(0);
    Ui(*main).tbrNavigate->actions()[5]->trigger();
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 1);
    EXPECT_EQ(auction->navigations.last(), "http://site/item?id=5");
}

TEST_F(Commands, FloatingToolbarStandsInForTheWindow) {
    main->show();
    bool mainHidden = false;
    WhenModal<FToolbar>([&](FToolbar* toolbar) {
        mainHidden = !main->isVisible();
        toolbar->txtItem->setText("98765");
        toolbar->cmdSnipe->trigger();
    });
    Ui(*main).SSTab1->setCurrentIndex(1);
    Action("mnuToolsToolbar")->trigger();
    EXPECT_TRUE(mainHidden);
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 0);
    EXPECT_EQ(snipe->navigations.last(), Addresses::SnipeAddress("98765"));

    const int before = snipe->navigations.size();
    WhenModal<FToolbar>([](FToolbar* toolbar) {
        toolbar->txtItem->setText("11111");
        toolbar->close();
    });
    Ui(*main).SSTab1->setCurrentIndex(1);
    Ui(*main).tbrNavigate->actions()[6]->trigger();
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 1);
    EXPECT_EQ(snipe->navigations.size(), before);
}

TEST(VersionPage, OnlyAnotherVersionTextOffersTheUpdate) {
    EXPECT_TRUE(FMain::OffersNewVersion("<p>Version =1.1+</p>"));
    EXPECT_FALSE(FMain::OffersNewVersion("<p>Version =1.0+</p>"));
    EXPECT_TRUE(FMain::OffersNewVersion("<p>Version = 1.0+</p>"));
    EXPECT_TRUE(FMain::OffersNewVersion("Version =1.0 +"));
    EXPECT_FALSE(FMain::OffersNewVersion("version =1.1+"));
    EXPECT_FALSE(FMain::OffersNewVersion("Version =1.1"));
    EXPECT_FALSE(FMain::OffersNewVersion(""));
}
