// Keys as desktop browsers have them, the main window's layout, and the
// bookmark import: the real engine and real files, driven by keys.
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QInputDialog>
#include <QTreeWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "BidbenchTestSupport.h"
#include "MainWindowTest.h"
#include "BrowserFavorites.h"
#include "FIEFavorites.h"
#include "FMain.h"
#include "FNewVersion.h"
#include "FStart.h"
#include "MainParts.h"
#include "SettingsStore.h"
#include "ShellUIHelper.h"
#include "WebBrowser.h"

namespace {

constexpr int kSite1 = 1, kService = 8;

class KeysLayoutImport : public MainWindowTest {
protected:
    std::unique_ptr<FMain> Start() { return StartMainWindow(); }
    static QString Address(const QString& path) { return "http://" + Server()->host(kSite1) + path; }
    static void ShowAuctionPage(FMain& main, const QString& path) {
        main.NavigateAuction(Address(path));
        ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(main).brwAuction, path); }));
    }
};

}  // namespace

TEST_F(KeysLayoutImport, ZoomFindAndQuitKeys) {
    Server()->pages["/needles"] =
        "<html><head><title>Needles</title></head><body><p>needle</p><p>needle</p><p>needle</p></body></html>";
    auto main = Start();
    const MainParts ui(*main);
    ShowAuctionPage(*main, "/needles");
    auto* view = static_cast<WebBrowser*>(ui.brwAuction)->view();
    view->setFocus();

    // Zoom by keys, from the page: in, in, out, actual size.
    auto zoomAfter = [&](int key) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : main.get(), key,
                        Qt::ControlModifier);
        Pump(50);
        return ui.brwAuction->zoomFactor();
    };
    EXPECT_DOUBLE_EQ(zoomAfter(Qt::Key_Plus), 1.1);
    EXPECT_DOUBLE_EQ(zoomAfter(Qt::Key_Equal), 1.25);
    EXPECT_DOUBLE_EQ(zoomAfter(Qt::Key_Minus), 1.1);
    EXPECT_DOUBLE_EQ(zoomAfter(Qt::Key_0), 1.0);
    // Ctrl+wheel leaves the zoom between the steps; the keys go on from there.
    view->setZoomFactor(1.7);
    EXPECT_DOUBLE_EQ(zoomAfter(Qt::Key_Minus), 1.5);
    EXPECT_DOUBLE_EQ(zoomAfter(Qt::Key_0), 1.0);
    // The snipe tab's browser has its own zoom.
    EXPECT_DOUBLE_EQ(ui.brwSnipe->zoomFactor(), 1.0);

    // The find bar: Enter and F3 forward, Shift+Enter and Shift+F3 back.
    QTest::keyClick(main.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(ui.txtFind->isVisible());
    QTest::keyClicks(ui.txtFind, "needle");
    auto result = [&] { return ui.lblFindResult->text(); };
    EXPECT_TRUE(WaitUntil([&] { return result() == "1 of 3 matches"; })) << result().toStdString();
    QTest::keyClick(ui.txtFind, Qt::Key_F3);
    EXPECT_TRUE(WaitUntil([&] { return result() == "2 of 3 matches"; })) << result().toStdString();
    QTest::keyClick(ui.txtFind, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return result() == "3 of 3 matches"; })) << result().toStdString();
    QTest::keyClick(ui.txtFind, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_TRUE(WaitUntil([&] { return result() == "2 of 3 matches"; })) << result().toStdString();
    QTest::keyClick(ui.txtFind, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(WaitUntil([&] { return result() == "1 of 3 matches"; })) << result().toStdString();
    // Closed, F3 opens the find bar again and goes on.
    QTest::keyClick(ui.txtFind, Qt::Key_Escape);
    ASSERT_FALSE(ui.txtFind->isVisible());
    QTest::keyClick(main.get(), Qt::Key_F3);
    EXPECT_TRUE(ui.txtFind->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return result() == "2 of 3 matches"; })) << result().toStdString();

    // Ctrl+Q ends the program as File > Exit does: the site is stored.
    SettingsStore::Write("Site", "");
    QTest::keyClick(main.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(main->isVisible());
    EXPECT_EQ(SettingsStore::Read("Site"), "1");
}

TEST_F(KeysLayoutImport, EditMenuByKeysCopiesTheAddressBoxSelection) {
    auto main = Start();
    const MainParts ui(*main);
    ui.SSTab1->setCurrentIndex(1);
    QLineEdit* address = ui.cboAddress->lineEdit();
    address->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return address->hasFocus(); }, 2000));
    const struct {
        const char* how;
        bool altAlone;  // Alt pressed and released first, as a separate key
    } ways[] = {{"Alt+E, C", false}, {"Alt, E, C", true}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        QApplication::clipboard()->setText("before");
        address->setText("http://one.example/two");
        address->setSelection(7, 11);
        ASSERT_EQ(address->selectedText(), "one.example");
        if (way.altAlone) {
            QTest::keyClick(address, Qt::Key_Alt);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_E);
        } else {
            QTest::keyClick(address, Qt::Key_E, Qt::AltModifier);
        }
        QMenu* menu = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 2000));
        EXPECT_EQ(menu->objectName(), "mnuEdit");
        QTest::keyClick(menu, Qt::Key_C);
        EXPECT_TRUE(WaitUntil([&] { return QApplication::clipboard()->text() == "one.example"; }, 2000))
            << QApplication::clipboard()->text().toStdString();
        // The selection is there again for the next command.
        EXPECT_TRUE(WaitUntil([&] { return address->hasFocus() && address->selectedText() == "one.example"; }, 2000));
    }
}

TEST_F(KeysLayoutImport, EscapeOnTheWelcomeScreenAnswersNothing) {
    bool stillShown = false;
    WhenModal<FStart>([&](FStart* start) {
        QTest::keyClick(start, Qt::Key_Escape);
        Pump(200);
        stillShown = start->isVisible();
        start->cmdYes->click();
    });
    auto main = std::make_unique<FMain>();
    main->Load();
    main->show();
    EXPECT_TRUE(stillShown);
    // "Yes": the service's news page, not the sign-up page.
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/news.cfm"); }));
}

TEST_F(KeysLayoutImport, BrowsersEndAboveTheStatusBar) {
    auto main = Start();
    const MainParts ui(*main);
    for (bool labels : {true, false}) {
        if (labels != ui.mnuOptionsText->isChecked()) main->ToggleTextLabels();
        for (int tab : {0, 1}) {
            for (QSize size : {QSize(1000, 720), QSize(700, 480)}) {
                SCOPED_TRACE(QString("labels %1, tab %2, %3x%4")
                                 .arg(labels)
                                 .arg(tab)
                                 .arg(size.width())
                                 .arg(size.height())
                                 .toStdString());
                main->resize(size);
                ui.SSTab1->setCurrentIndex(tab);
                Pump(100);
                QWidget* browser = (tab == 0 ? ui.brwSnipe : ui.brwAuction)->widget();
                const int browserBottom = browser->mapTo(main.get(), QPoint(0, browser->height())).y();
                const int statusTop = main->statusBar()->geometry().top();
                EXPECT_LE(browserBottom, statusTop);
                EXPECT_GE(browserBottom, statusTop - 12);  // and no gap left below it
                EXPECT_LE(browser->geometry().bottom(), browser->parentWidget()->height() - 1);
            }
        }
    }
    SaveScreenshot(main.get(), "bidbench-browser-above-status-bar");
}

TEST_F(KeysLayoutImport, TheNewVersionOfferWaitsForTheWindowToBeDrawn) {
    Server()->pages["/bidbench/BidbenchVersion.html"] = "<p>Version =1.1+</p>";
    SettingsStore::Write("StartScreen", "N");
    bool drawnBeforeOffer = false, offered = false;
    auto main = std::make_unique<FMain>();
    WhenModal<FNewVersion>([&](FNewVersion* offer) {
        offered = true;
        drawnBeforeOffer = main->isVisible() && main->windowHandle() && main->windowHandle()->isExposed();
        offer->cmdLater->click();
    });
    main->Load();
    // The answer comes while the window is not shown yet.
    ASSERT_TRUE(WaitUntil([&] { return Server()->seen(10, "/bidbench/BidbenchVersion.html"); }));
    Pump(800);
    EXPECT_FALSE(offered);
    ShowActive(main.get());
    EXPECT_TRUE(WaitUntil([&] { return offered; }));
    EXPECT_TRUE(drawnBeforeOffer);
}

TEST_F(KeysLayoutImport, TheFavoritesTreeStaysOpenAfterARename) {
    QTemporaryDir place;
    QString error;
    ASSERT_TRUE(QDir().mkpath(place.path() + "/Deals/Sellers"));
    ASSERT_TRUE(QDir().mkpath(place.path() + "/Other"));
    ASSERT_FALSE(
        BrowserFavorites::WriteShortcut(place.path() + "/Deals/Sellers", "Shop", "http://example.com/s", &error)
            .isEmpty());
    ASSERT_FALSE(
        BrowserFavorites::WriteShortcut(place.path() + "/Deals", "Lamp", "http://example.com/l", &error).isEmpty());
    FIEFavorites tree(nullptr, place.path());
    ShowActive(&tree);
    auto node = [&](const QString& text) {
        const auto found = tree.TreeView1->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.size() == 1 ? found.first() : nullptr;
    };
    auto rename = [&](const QString& from, const QString& to) {
        ShowActive(&tree);
        tree.TreeView1->setFocus();
        tree.TreeView1->setCurrentItem(node(from));
        WhenModal<QInputDialog>([to](QInputDialog* dialog) {
            dialog->setTextValue(to);
            dialog->accept();
        });
        QTest::keyClick(tree.TreeView1, Qt::Key_F2);
    };
    node("Deals")->setExpanded(true);
    node("Sellers")->setExpanded(true);

    rename("Lamp", "Desk lamp");
    ASSERT_TRUE(node("Desk lamp"));
    EXPECT_TRUE(node("Deals")->isExpanded());
    EXPECT_TRUE(node("Sellers")->isExpanded());
    EXPECT_EQ(tree.TreeView1->currentItem(), node("Desk lamp"));

    rename("Sellers", "Good sellers");
    ASSERT_TRUE(node("Good sellers"));
    EXPECT_TRUE(node("Deals")->isExpanded());
    EXPECT_TRUE(node("Good sellers")->isExpanded());
    EXPECT_FALSE(node("Other")->isExpanded());
    EXPECT_EQ(tree.TreeView1->currentItem(), node("Good sellers"));
    EXPECT_TRUE(QFile::exists(place.path() + "/Deals/Good sellers/Shop.url"));
}

TEST_F(KeysLayoutImport, ImportRunsBesideTheWindowAndRefusesWhatIsNoBookmarkFile) {
    auto main = Start();
    QTemporaryDir files;
    // 2,000 bookmarks in a folder of their own in the favourites.
    const QString sFolderName = "Import " + QFileInfo(files.path()).fileName();
    QByteArray html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<DL><p>\n<DT><H3>" +
                      sFolderName.toUtf8() + "</H3>\n<DL><p>\n";
    for (int i = 0; i < 2000; ++i)
        html += "<DT><A HREF=\"http://example.com/item?n=" + QByteArray::number(i) + "\">Item " +
                QByteArray::number(i) + "</A>\n";
    html += "</DL><p>\n</DL><p>\n";
    const QString sBookmarks = files.filePath("bookmarks.html");
    QFile out(sBookmarks);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(html);
    out.close();

    // The window keeps handling events while the import runs: the longest
    // pause between two ticks of a 20 ms timer stays short.
    QElapsedTimer clock;
    qint64 last = 0, longestPause = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestPause = std::max(longestPause, clock.elapsed() - last);
        last = clock.elapsed();
    });
    bool progressShown = false;
    QString report;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* progress = main->findChild<QProgressDialog*>(); progress && progress->isVisible()) {
            if (!progressShown) SaveScreenshot(progress, "bidbench-import-progress");
            progressShown = true;
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            report = box->text();
            box->accept();
        }
    });
    watcher.start(20);
    clock.start();
    ticker.start(20);
    ASSERT_TRUE(main->shellHelper()->ImportExportFavorites(true, sBookmarks));
    ticker.stop();
    EXPECT_LT(longestPause, 500);
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(WaitUntil([&] { return !report.isEmpty(); }));
    EXPECT_EQ(report, "Imported 2000 bookmarks in 1 folder.");
    EXPECT_EQ(QDir(BrowserFavorites::Folder() + "/" + sFolderName).entryList(QDir::Files).size(), 2000);

    // A binary file and a text that holds no bookmarks are said to be none.
    const struct {
        const char* name;
        QByteArray bytes;
    } notBookmarks[] = {{"photo.htm", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + QByteArray(3000, '\0')},
                        {"notes.htm", "Shopping list: lamp, desk, chair.\n"}};
    for (const auto& file : notBookmarks) {
        SCOPED_TRACE(file.name);
        QFile broken(files.filePath(file.name));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write(file.bytes);
        broken.close();
        const QStringList before = QDir(BrowserFavorites::Folder()).entryList();
        report.clear();
        EXPECT_FALSE(main->shellHelper()->ImportExportFavorites(true, broken.fileName()));
        EXPECT_TRUE(WaitUntil([&] { return !report.isEmpty(); }));
        EXPECT_EQ(report, QString(file.name) +
                              ": This is not a bookmark file: nothing was imported.\n"
                              "Browsers export their bookmarks as an HTML file (\"Export bookmarks to HTML\").");
        EXPECT_EQ(QDir(BrowserFavorites::Folder()).entryList(), before);
    }
}
