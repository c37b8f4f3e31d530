// What a desktop user expects beyond the program's first design: keys on
// both browsers, help in every window and menu, titles without the
// program's name twice, pasting into pages, data in the user's folders, the
// window and its history kept, the bookmark import's report, editing the
// favourites, and saying so when offline or given text that is no address.
// The real engine against the test server, driven by keys and menus.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QInputDialog>
#include <QPushButton>
#include <QSettings>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "MainWindowTest.h"
#include "BrowserFavorites.h"
#include "FAbout.h"
#include "FAddUserID.h"
#include "FFavorites.h"
#include "FIEFavorites.h"
#include "FMain.h"
#include "FNewVersion.h"
#include "FStart.h"
#include "FToolbar.h"
#include "FakeWindowTest.h"
#include "Help.h"
#include "MainParts.h"
#include "PendingSaves.h"
#include "SettingsStore.h"
#include "ShellUIHelper.h"
#include "UserPlaces.h"

namespace {

constexpr int kSite1 = 1, kPages = 5, kMaker = 10;

// Records the addresses the program hands to the user's browser.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }
    QStringList pages;

public slots:
    void open(const QUrl& url) { pages << url.toLocalFile(); }
};

class Desktop : public MainWindowTest {
protected:
    std::unique_ptr<FMain> Start() { return StartMainWindow(); }
    static bool LoadedAfter(Browser* browser, const QString& address) {
        browser->navigate(address);
        return WaitUntil([&] { return Loaded(browser, address); });
    }
    static QString PageAddress(const QString& path) { return "http://" + Server()->host(kPages) + path; }
    static int Requests(const QString& target) {
        int count = 0;
        for (const RecordedRequest& request : Server()->requests()) count += request.target == target;
        return count;
    }
};

class DesktopLogic : public FakeWindowTest {};

}  // namespace

TEST_F(Desktop, BrowserKeysActOnTheShownTabsBrowser) {
    auto main = Start();
    const MainParts ui(*main);
    for (Browser* browser : {ui.brwAuction, ui.brwSnipe}) {
        SCOPED_TRACE(browser->objectName().toStdString());
        ui.SSTab1->setCurrentIndex(browser == ui.brwAuction ? 1 : 0);
        ASSERT_TRUE(LoadedAfter(browser, PageAddress("/a")));
        ASSERT_TRUE(LoadedAfter(browser, PageAddress("/b")));
        QTest::keyClick(main.get(), Qt::Key_Left, Qt::AltModifier);
        EXPECT_TRUE(WaitUntil([&] { return Loaded(browser, "/a"); }));
        QTest::keyClick(main.get(), Qt::Key_Right, Qt::AltModifier);
        EXPECT_TRUE(WaitUntil([&] { return Loaded(browser, "/b"); }));
        const int before = Requests("/b");
        QTest::keyClick(main.get(), Qt::Key_F5);
        EXPECT_TRUE(WaitUntil([&] { return Requests("/b") == before + 1 && !browser->busy(); }));
        // Escape stops a page that is still loading.
        browser->navigate(PageAddress("/slow"));
        ASSERT_TRUE(WaitUntil([&] { return Requests("/slow") > 0; }));
        QTest::keyClick(main.get(), Qt::Key_Escape);
        EXPECT_TRUE(WaitUntil([&] { return !browser->busy(); }, 1500));
        EXPECT_EQ(ui.sbPanel2->text(), "Action canceled");
        Server()->clear();
    }
    // Ctrl+L: the auction tab, its address selected for typing over.
    ui.SSTab1->setCurrentIndex(0);
    QTest::keyClick(main.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(ui.SSTab1->currentIndex(), 1);
    EXPECT_TRUE(WaitUntil([&] { return ui.cboAddress->lineEdit()->hasFocus(); }, 2000));
    EXPECT_EQ(ui.cboAddress->lineEdit()->selectedText(), ui.cboAddress->currentText());
    EXPECT_FALSE(ui.cboAddress->currentText().isEmpty());
}

TEST_F(Desktop, TextThatIsNoAddressIsSaidToBeSo) {
    auto main = Start();
    const MainParts ui(*main);
    ui.SSTab1->setCurrentIndex(1);
    ASSERT_TRUE(LoadedAfter(ui.brwAuction, PageAddress("/here")));
    QLineEdit* line = ui.cboAddress->lineEdit();
    line->setFocus();
    line->selectAll();
    QTest::keyClicks(line, "two words");
    QTest::keyClick(line, Qt::Key_Return);
    EXPECT_EQ(ui.sbPanel2->text(), "\"two words\" is not an address.");
    Pump(300);
    EXPECT_TRUE(Loaded(ui.brwAuction, "/here"));  // not replaced by a blank page
    // An address typed without its scheme still loads.
    line->selectAll();
    QTest::keyClicks(line, Server()->host(kPages) + "/typed");
    ui.tbrGo->click();
    EXPECT_TRUE(WaitUntil([&] { return Loaded(ui.brwAuction, "/typed"); }));
}

TEST_F(Desktop, PasteReachesAFormFieldOfThePage) {
    Server()->pages["/form"] = "<html><body><input id='f'></body></html>";
    auto main = Start();
    const MainParts ui(*main);
    ui.SSTab1->setCurrentIndex(1);
    ASSERT_TRUE(LoadedAfter(ui.brwAuction, PageAddress("/form")));
    auto* view = qobject_cast<QWebEngineView*>(ui.brwAuction->widget());
    ASSERT_TRUE(view);
    ui.brwAuction->focus();
    ASSERT_TRUE(WaitUntil([&] { return view->isAncestorOf(QApplication::focusWidget()); }, 3000));
    // The field has the page's focus before anything is pasted.
    ASSERT_EQ(
        Evaluate(view, "document.getElementById('f').focus(); document.hasFocus() && document.activeElement.id", "f"),
        "f");
    QApplication::clipboard()->setText("pasted 123");
    main->findChild<QAction*>("mnuEditPaste")->trigger();
    EXPECT_EQ(Evaluate(view, "document.getElementById('f').value", "pasted 123"), "pasted 123");
}

TEST_F(Desktop, AVersionCheckThatCannotReachTheSiteSaysSo) {
    Server()->dropped.insert("/bidbench/BidbenchVersion.html");
    auto main = Start();
    EXPECT_TRUE(WaitUntil([&] {
        return main->statusBar()->currentMessage() ==
               "The check for a new version could not reach " + Server()->host(kMaker) + ".";
    })) << main->statusBar()->currentMessage().toStdString();
}

TEST_F(Desktop, EveryWindowAndMenuOpensItsHelpPage) {
    UrlCatcher browser;
    auto main = Start();
    auto pressF1 = [&](QWidget* target, const QString& page) {
        browser.pages.clear();
        QTest::keyClick(target, Qt::Key_F1);
        EXPECT_EQ(browser.pages, QStringList({Help::PagePath(page)})) << page.toStdString();
        EXPECT_TRUE(QFileInfo(Help::PagePath(page)).isFile()) << page.toStdString();
    };
    pressF1(main.get(), Help::kMainWindow);

    // Each dialog: its page, and its picture for the artifacts.
    QTemporaryDir favorites;
    auto withDialog = [&](QDialog* dialog, const QString& page, const QString& shot) {
        ShowActive(dialog);
        pressF1(dialog, page);
        SaveScreenshot(dialog, shot);
        dialog->close();
    };
    {
        FStart start(main.get());
        withDialog(&start, Help::kStartScreen, "dialog-start");
    }
    {
        FAbout about(main.get());
        withDialog(&about, Help::kAbout, "dialog-about");
    }
    {
        FNewVersion offer(main.get());
        withDialog(&offer, Help::kNewVersion, "dialog-new-version");
    }
    {
        FFavorites list(main.get());
        list.SetListKind(true);
        withDialog(&list, Help::kFavoriteLists, "dialog-favorite-sellers");
    }
    {
        FAddUserID add(main.get());
        withDialog(&add, Help::kAddUserID, "dialog-add-user-id");
    }
    {
        FIEFavorites tree(main.get(), favorites.path());
        withDialog(&tree, Help::kBrowserFavorites, "dialog-browser-favorites");
    }
    {
        FToolbar toolbar(main.get());
        withDialog(&toolbar, Help::kFloatingToolbar, "dialog-floating-toolbar");
    }
    {
        FAddFavorite add("Page", "http://example.invalid/", main.get());
        withDialog(&add, Help::kBrowserFavorites, "dialog-add-favorite");
    }

    // F1 in an open menu: that menu's page.
    const struct {
        const char* menu;
        const QString& page;
    } kMenus[] = {{"mnuFile", Help::kMenuFile},
                  {"mnuEdit", Help::kMenuEdit},
                  {"mnumnuNavigate", Help::kMenuNavigate},
                  {"mnumnuFavorites", Help::kMenuFavorites},
                  {"mnuTools", Help::kMenuTools},
                  {"mnuHelp", Help::kMenuHelp}};
    for (const auto& entry : kMenus) {
        auto* menu = main->findChild<QMenu*>(entry.menu);
        ASSERT_TRUE(menu) << entry.menu;
        menu->popup(main->mapToGlobal(QPoint(10, 10)));
        ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }, 2000));
        pressF1(menu, entry.page);
        EXPECT_FALSE(menu->isVisible());
    }

    browser.pages.clear();
    main->findChild<QAction*>("mnuHelpContents")->trigger();
    EXPECT_EQ(browser.pages, QStringList({Help::PagePath(Help::kContents)}));
}

TEST_F(Desktop, HelpPagesLinkOnlyToPagesThatExist) {
    const QDir folder(Help::Folder());
    const QStringList pages = folder.entryList({"*.htm"}, QDir::Files);
    EXPECT_EQ(pages.size(), 15);  // contents, 8 windows, 6 menus
    const QRegularExpression link("href=\"([^\"#:]+)");
    for (const QString& page : pages) {
        QFile file(folder.filePath(page));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.contains("<title>")) << page.toStdString();
        for (auto match = link.globalMatch(text); match.hasNext();) {
            const QString target = match.next().captured(1);
            EXPECT_TRUE(folder.exists(target)) << page.toStdString() << " links to " << target.toStdString();
        }
    }
}

namespace {

// A user's home for the program as users start it: the user's own hosts
// file (the test server's) in the config folder, no start screen, and
// folders of its own for data and temporary files.
class ProgramHome {
public:
    ProgramHome() {
        const QString config = mHome.path() + "/config/Tarnbid";
        EXPECT_TRUE(QDir().mkpath(config) && QDir().mkpath(mHome.path() + "/tmp"));
        EXPECT_TRUE(QFile::copy(QCoreApplication::applicationDirPath() + "/bidbench.ini", config + "/bidbench.ini"));
        QFile settings(config + "/Tarnbid Bidbench.conf");
        EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nStartScreen=N\n");
    }
    // Starts the program; it is killed when the process object goes.
    void Start(QProcess& program) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", mHome.path() + "/config");
        env.insert("XDG_DATA_HOME", mHome.path() + "/data");
        env.insert("TMPDIR", mHome.path() + "/tmp");
        program.setProcessEnvironment(env);
        program.start(BIDBENCH_PATH, {});
    }

private:
    QTemporaryDir mHome;
};

// The names of the display's top-level windows, in their stacking order.
QStringList WindowNames() {
    QProcess list;
    list.start("xwininfo", {"-root", "-children"});
    list.waitForFinished();
    QStringList names;
    const QRegularExpression named("^\\s+0x[0-9a-f]+ \"([^\"]*)\"", QRegularExpression::MultilineOption);
    for (auto match = named.globalMatch(QString::fromUtf8(list.readAllStandardOutput())); match.hasNext();)
        names << match.next().captured(1);
    return names;
}

qsizetype IndexOfTitle(const QStringList& names, const QString& prefix) {
    for (qsizetype i = 0; i < names.size(); ++i)
        if (names[i].startsWith(prefix)) return i;
    return -1;
}

}  // namespace

// The program as users start it: its window titles carry its name once.
TEST_F(Desktop, TheProgramsTitleNamesItOnce) {
    ProgramHome home;
    QProcess program;
    home.Start(program);
    ASSERT_TRUE(program.waitForStarted());
    QString title;
    const bool shown = WaitUntil(
        [&] {
            const QStringList names = WindowNames();
            const qsizetype at = IndexOfTitle(names, "Tarnbid Bidbench > Page /secure/news");
            title = names.value(at);
            return at >= 0;
        },
        30000);
    program.kill();
    program.waitForFinished();
    ASSERT_TRUE(shown);
    EXPECT_EQ(title, "Tarnbid Bidbench > Page /secure/news.cfm");
}

// Two copies would write the lists and settings over each other's: a
// second start brings the first one's window to the front and ends.
TEST_F(Desktop, ASecondStartShowsTheFirstWindowAndEnds) {
    ProgramHome home;
    QProcess first;
    home.Start(first);
    ASSERT_TRUE(first.waitForStarted());
    const QString kMain = "Tarnbid Bidbench > ";
    ASSERT_TRUE(WaitUntil([&] { return IndexOfTitle(WindowNames(), kMain + "Page /secure/news") >= 0; }, 30000));

    // A window of another program over it.
    QWidget cover;
    cover.setWindowTitle("Another program");
    cover.setGeometry(0, 0, 1280, 1024);
    cover.show();
    // Whether the cover stands above the program's window in the list's order.
    auto coverAbove = [&](bool* known) {
        const QStringList names = WindowNames();
        const qsizetype program = IndexOfTitle(names, kMain), other = IndexOfTitle(names, "Another program");
        *known = program >= 0 && other >= 0;
        return other > program;
    };
    bool known = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            coverAbove(&known);
            return known;
        },
        5000));
    const bool coverOrder = coverAbove(&known);

    QProcess second;
    home.Start(second);
    ASSERT_TRUE(second.waitForStarted());
    EXPECT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(WaitUntil([&] { return coverAbove(&known) != coverOrder && known; }, 5000))
        << WindowNames().join(" | ").toStdString();
    EXPECT_EQ(WindowNames().filter(QRegularExpression("^Tarnbid Bidbench")).size(), 1);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

TEST_F(Desktop, ListsBesideTheProgramMoveOnceToTheUsersDataFolder) {
    QTemporaryDir place;
    const QString oldFolder = place.path() + "/install", newFolder = place.path() + "/data/Tarnbid/Bidbench";
    ASSERT_TRUE(QDir().mkpath(oldFolder));
    auto write = [](const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    write(oldFolder + "/Sellers.txt", "alice\r\nbob\r\n");
    EXPECT_TRUE(UserPlaces::MoveOldLists(oldFolder, newFolder).isEmpty());
    EXPECT_EQ(read(newFolder + "/Sellers.txt"), "alice\r\nbob\r\n");
    EXPECT_FALSE(QFile::exists(oldFolder + "/Sellers.txt"));
    EXPECT_FALSE(QFile::exists(newFolder + "/Bidders.txt"));

    // A list already in its new place is never overwritten; the old one stays.
    write(oldFolder + "/Sellers.txt", "older\r\n");
    EXPECT_TRUE(UserPlaces::MoveOldLists(oldFolder, newFolder).isEmpty());
    EXPECT_EQ(read(newFolder + "/Sellers.txt"), "alice\r\nbob\r\n");
    EXPECT_EQ(read(oldFolder + "/Sellers.txt"), "older\r\n");

    // A read-only install folder: the list is copied all the same.
    QFile::remove(oldFolder + "/Sellers.txt");
    write(oldFolder + "/Bidders.txt", "carol\r\n");
    QFile::setPermissions(oldFolder, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_TRUE(UserPlaces::MoveOldLists(oldFolder, newFolder).isEmpty());
    QFile::setPermissions(oldFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(read(newFolder + "/Bidders.txt"), "carol\r\n");
    QFile::remove(oldFolder + "/Bidders.txt");  // gone already unless the folder held it

    // A data folder that cannot be made: the failure names both places,
    // and the list stays where it was.
    write(place.path() + "/blocked", "a file where the folder should be");
    write(oldFolder + "/Sellers.txt", "dave\r\n");
    const auto failures = UserPlaces::MoveOldLists(oldFolder, place.path() + "/blocked/Bidbench");
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].from, oldFolder + "/Sellers.txt");
    EXPECT_EQ(failures[0].to, place.path() + "/blocked/Bidbench/Sellers.txt");
    EXPECT_EQ(read(oldFolder + "/Sellers.txt"), "dave\r\n");
}

TEST_F(Desktop, ImportingBookmarksReportsWhatItDidAndAddsNothingTwice) {
    QTemporaryDir place;
    const QString file = place.path() + "/bookmarks.html";
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(
            "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
            "<DT><H3>Caf&eacute; &amp; Th&eacute;</H3>\n<DL><p>\n"
            "<DT><A HREF=\"http://example.com/a?x=1&amp;y=2\">R&eacute;sum&eacute; &hellip; &#x263A;</A>\n"
            "<DT><A HREF=\"javascript:alert(1)\">Bookmarklet</A>\n"
            "</DL><p>\n"
            "<DT><A HREF=\"place:sort=8&maxResults=10\">Most visited</A>\n"
            "<DT><A HREF=\"http://example.com/b\">Plain</A>\n"
            "</DL>\n");
    }
    auto main = Start();
    auto importOnce = [&] {
        auto told = std::make_shared<QString>();
        auto shot = std::make_shared<bool>(false);
        WhenModal<QMessageBox>([told, shot](QMessageBox* box) {
            *told = box->text();
            if (!*shot) SaveScreenshot(box, "dialog-import-report");
            *shot = true;
            box->accept();
        });
        // What Favorites > Import runs once the file is chosen.
        ShellUIHelper(main.get()).ImportExportFavorites(true, file);
        return *told;
    };
    const QString folder = BrowserFavorites::Folder();
    EXPECT_EQ(importOnce(),
              "Imported 2 bookmarks in 1 folder.\n"
              "Skipped 2 scripts and saved searches (javascript:, place:).");
    const QString cafe = folder + "/Caf\u00e9 & Th\u00e9";
    EXPECT_EQ(BrowserFavorites::ReadShortcut(cafe + "/R\u00e9sum\u00e9 \u2026 \u263a.url"),
              "http://example.com/a?x=1&y=2");
    EXPECT_EQ(BrowserFavorites::ReadShortcut(folder + "/Plain.url"), "http://example.com/b");
    EXPECT_EQ(importOnce(),
              "Imported 0 bookmarks in 1 folder.\n"
              "Skipped 2 bookmarks already in your favorites and 2 scripts and saved searches "
              "(javascript:, place:).");
    EXPECT_EQ(QDir(cafe).entryList(QDir::Files).size(), 1);
    QDir(cafe).removeRecursively();
    QFile::remove(folder + "/Plain.url");
}

// Addresses of any length: two bookmarks that differ only far into their
// addresses are two favourites, and each opens its own page, whole.
TEST_F(Desktop, LongAddressesAreImportedApartAndOpenedWhole) {
    const QString stem = PageAddress("/long?q=" + QString(600, 'a'));
    const QString first = stem + "1&end=1", second = stem + "2&end=2";
    QTemporaryDir place;
    const QString file = place.path() + "/bookmarks.html";
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"" + first +
                   "\">Long</A>\n<DT><A HREF=\"" + second + "\">Long</A>\n</DL>\n")
                      .toUtf8());
    }
    const QString folder = BrowserFavorites::Folder();
    QDir(folder).removeRecursively();
    ASSERT_EQ(BrowserFavorites::Folder(), folder);
    const auto imported = BrowserFavorites::Import(file, folder);
    EXPECT_EQ(imported.written, 2);
    EXPECT_EQ(BrowserFavorites::ReadShortcut(folder + "/Long.url"), first);
    EXPECT_EQ(BrowserFavorites::ReadShortcut(folder + "/Long (2).url"), second);
    const auto again = BrowserFavorites::Import(file, folder);
    EXPECT_EQ(again.written, 0);
    EXPECT_EQ(again.duplicates, 2);

    auto main = Start();
    const MainParts ui(*main);
    WhenModal<FIEFavorites>([](FIEFavorites* dialog) {
        const auto found = dialog->TreeView1->findItems("Long (2)", Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(found.size(), 1);
        QTreeWidget* tree = dialog->TreeView1;
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(found.first()).center());
    });
    main->findChild<QAction*>("mnuFavoritesView")->trigger();
    const QString target = second.mid(second.indexOf("/long"));
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kPages, target); }));
    EXPECT_TRUE(WaitUntil([&] { return Loaded(ui.brwAuction, "&end=2"); }));
    EXPECT_EQ(ui.cboAddress->currentText(), second);
    EXPECT_FALSE(Server()->seen(kPages, first.mid(first.indexOf("/long"))));
    QDir(folder).removeRecursively();
}

TEST_F(Desktop, BrowserFavoritesAreRenamedAndDeletedByKey) {
    QTemporaryDir place;
    QString error;
    ASSERT_FALSE(BrowserFavorites::WriteShortcut(place.path(), "One", "http://example.com/1", &error).isEmpty());
    ASSERT_TRUE(QDir().mkpath(place.path() + "/Sub"));
    ASSERT_FALSE(
        BrowserFavorites::WriteShortcut(place.path() + "/Sub", "Two", "http://example.com/2", &error).isEmpty());
    FIEFavorites tree(nullptr, place.path());
    ShowActive(&tree);
    // The keys act where the tree has the focus; the virtual display has no
    // window manager to give it back after a dialog.
    auto select = [&](const QString& text) {
        ShowActive(&tree);
        tree.TreeView1->setFocus();
        const auto found = tree.TreeView1->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(found.size(), 1) << text.toStdString();
        tree.TreeView1->setCurrentItem(found.first());
    };
    QStringList menu;
    for (QAction* action : tree.TreeView1->actions()) menu << action->text();
    EXPECT_EQ(menu, QStringList({"&Rename", "&Delete"}));  // also the tree's context menu

    select("One");
    WhenModal<QInputDialog>([](QInputDialog* dialog) {
        dialog->setTextValue("Uno: first");
        dialog->accept();
    });
    QTest::keyClick(tree.TreeView1, Qt::Key_F2);
    EXPECT_FALSE(QFile::exists(place.path() + "/One.url"));
    EXPECT_EQ(BrowserFavorites::ReadShortcut(place.path() + "/Uno_ first.url"), "http://example.com/1");

    // A folder goes with what it holds, once confirmed.
    select("Sub");
    WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QTest::keyClick(tree.TreeView1, Qt::Key_Delete);
    EXPECT_FALSE(QFileInfo::exists(place.path() + "/Sub"));
    select("Uno_ first");
    QTest::keyClick(tree.TreeView1, Qt::Key_Delete);
    EXPECT_TRUE(QDir(place.path()).isEmpty());
    EXPECT_EQ(tree.TreeView1->topLevelItem(0)->childCount(), 0);
}

TEST_F(Desktop, ScreenshotAfterAResizeOnTheAuctionTab) {
    auto main = Start();
    const MainParts ui(*main);
    main->resize(1000, 720);
    ui.SSTab1->setCurrentIndex(1);
    ASSERT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/") && !ui.brwAuction->busy(); }));
    main->resize(900, 560);
    Pump(500);
    EXPECT_LT(ui.tbrGo->height(), 40);
    EXPECT_GT(ui.brwAuction->widget()->geometry().top(), ui.tbrGo->geometry().bottom());
    SaveScreenshot(main.get(), "bidbench-auction-after-resize");
}

TEST_F(DesktopLogic, TheWindowAndItsAddressHistoryAreKeptBetweenRuns) {
    main->show();
    main->resize(700, 500);
    main->move(40, 30);
    auction->arrive("http://one.example/", "One");
    auction->arrive("http://two.example/", "Two");
    Pump(700);  // the window's place is written once a move has settled
    const QRect geometry = main->geometry();
    main.reset();

    main = std::make_unique<FMain>([](QWidget* parent) -> Browser* { return new FakeBrowser(parent); });
    main->Load();
    main->show();
    Pump(50);
    EXPECT_EQ(main->geometry().size(), geometry.size());
    QStringList history;
    for (int i = 0; i < Ui(*main).cboAddress->count(); ++i) history << Ui(*main).cboAddress->itemText(i);
    EXPECT_EQ(history, QStringList({Addresses::SiteStartAddress(1), "http://two.example/", "http://one.example/"}));
}

// ---- data that cannot be written ---------------------------------------------------------

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A folder in the place of a file: no write reaches it, whoever runs the test.
class UnwritableData : public FakeWindowTest {
protected:
    void TearDown() override {
        PendingSaves::DiscardAll();
        for (const QString& path : {UserPlaces::SellersListPath(), SettingsStore::FilePath()}) {
            QDir(path).removeRecursively();
            QFile::remove(path);
        }
        FakeWindowTest::TearDown();
    }
    static void Block(const QString& path) {
        QFile::remove(path);
        ASSERT_TRUE(QDir().mkpath(path));
    }
    // Adds an ID to the sellers list through its window, by keys and clicks.
    void AddSeller(const QString& sUserID) {
        WhenModal<FFavorites>([sUserID](FFavorites* dialog) {
            WhenModal<FAddUserID>([sUserID](FAddUserID* add) {
                QTest::keyClicks(add->txtUserID, sUserID);
                QTest::keyClick(add->txtUserID, Qt::Key_Return);
            });
            QTest::mouseClick(dialog->cmdAdd, Qt::LeftButton);
            QTest::mouseClick(dialog->cmdClose, Qt::LeftButton);
        });
        Action("mnuFavoritesSellers")->trigger();
    }
    // Answers the next message box with the button of that text, after `first`.
    static void Answer(const QString& button, const std::shared_ptr<QStringList>& texts,
                       const std::function<void()>& first = {}) {
        WhenModal<QMessageBox>([button, texts, first](QMessageBox* box) {
            *texts << box->text();
            if (first) first();
            for (QAbstractButton* each : box->buttons())
                if (each->text().remove(u'&') == QString(button).remove(u'&')) return each->click();
            ADD_FAILURE() << "no button " << button.toStdString();
            box->accept();
        });
    }
};

}  // namespace

TEST_F(UnwritableData, AListIsSavedElsewhereAtExitWhenItsFolderStaysShut) {
    Block(UserPlaces::SellersListPath());
    main->show();
    auto warnings = std::make_shared<QStringList>();
    Answer("OK", warnings);
    AddSeller("keeper");
    ASSERT_TRUE(WaitUntil([&] { return !warnings->isEmpty(); }, 3000));
    EXPECT_TRUE(warnings->first().startsWith("The favorites list could not be saved to " +
                                             UserPlaces::SellersListPath() + ":"));

    // At exit: Retry while the folder is still in the way asks again;
    // then the list goes to a folder the user picks.
    QTemporaryDir elsewhere;
    auto questions = std::make_shared<QStringList>();
    Answer("&Retry", questions, [questions, folder = elsewhere.path()] {
        Answer("&Save Elsewhere...", questions, [folder] {
            WhenModal<QFileDialog>([folder](QFileDialog* dialog) {
                dialog->setDirectory(folder);  // the folder shown is the one chosen
                static_cast<QDialog*>(dialog)->accept();
            });
        });
    });
    WhenModal<QMessageBox>([](QMessageBox* box) { SaveScreenshot(box, "dialog-unsaved-at-exit"); });
    main->close();
    ASSERT_EQ(questions->size(), 2);
    EXPECT_TRUE(questions->first().startsWith("Bidbench could not save:\r\n- the list Sellers.txt, for " +
                                              UserPlaces::SellersListPath() + " ("))
        << questions->first().toStdString();
    EXPECT_EQ(ReadAll(elsewhere.path() + "/Sellers.txt"), "keeper\r\n");
    EXPECT_FALSE(PendingSaves::Any());
    EXPECT_EQ(warnings->size(), 1);  // told once
}

TEST_F(UnwritableData, DiscardingAtExitIsTheUsersChoice) {
    Block(UserPlaces::SellersListPath());
    main->show();
    auto texts = std::make_shared<QStringList>();
    Answer("OK", texts);
    AddSeller("gone");
    ASSERT_TRUE(WaitUntil([&] { return texts->size() == 1; }, 3000));
    Answer("&Discard", texts);
    main->close();
    ASSERT_EQ(texts->size(), 2);
    EXPECT_TRUE(texts->last().contains("discard it: what it holds is then lost.")) << texts->last().toStdString();
    EXPECT_FALSE(PendingSaves::Any());
    EXPECT_TRUE(QFileInfo(UserPlaces::SellersListPath()).isDir());  // nothing written in its place
}

// Window place and address history are kept while the settings file cannot
// take them, read from memory, and written once it can.
TEST_F(UnwritableData, SettingsAreKeptAndWrittenWhenTheFileCanTakeThem) {
    const QString settingsFile = SettingsStore::FilePath();
    Block(settingsFile);
    main->show();
    auto warnings = std::make_shared<QStringList>();
    WhenModal<QMessageBox>([](QMessageBox* box) { SaveScreenshot(box, "dialog-settings-not-saved"); });
    Answer("OK", warnings);
    auction->arrive("http://one.example/", "One");
    ASSERT_TRUE(WaitUntil([&] { return !warnings->isEmpty(); }, 3000));
    EXPECT_TRUE(
        warnings->first().startsWith("Your settings (the window's place, the address history, the start-up "
                                     "site) could not be saved to " +
                                     settingsFile + ":\r\na folder has its name"))
        << warnings->first().toStdString();
    auction->arrive("http://two.example/", "Two");
    Pump(200);
    EXPECT_EQ(warnings->size(), 1);
    EXPECT_EQ(SettingsStore::ReadList("AddressHistory").mid(0, 2),
              QStringList({"http://two.example/", "http://one.example/"}));

    auto questions = std::make_shared<QStringList>();
    Answer("&Retry", questions, [settingsFile] { QDir(settingsFile).removeRecursively(); });
    main->close();
    ASSERT_EQ(questions->size(), 1);
    EXPECT_TRUE(questions->first().contains("- your settings (AddressHistory, ")) << questions->first().toStdString();
    const QSettings written(settingsFile, QSettings::IniFormat);
    EXPECT_EQ(written.value("Settings/AddressHistory").toStringList().mid(0, 2),
              QStringList({"http://two.example/", "http://one.example/"}));
    EXPECT_FALSE(written.value("Settings/WindowGeometry").toString().isEmpty());
    EXPECT_EQ(written.value("Settings/Site").toString(), "1");
    EXPECT_FALSE(PendingSaves::Any());
}

#include "DesktopTest.moc"
