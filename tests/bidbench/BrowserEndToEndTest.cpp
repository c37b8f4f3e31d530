// The main window with the real browser engine against the test server.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QLineEdit>
#include <QMessageBox>

#include <QClipboard>
#include <QFile>
#include <QListWidget>
#include <QPrintDialog>
#include <QPrinter>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "MainWindowTest.h"
#include "FAddUserID.h"
#include "FFavorites.h"
#include "FMain.h"
#include "FNewVersion.h"
#include "FStart.h"
#include "FToolbar.h"
#include "SettingsStore.h"
#include "UserPlaces.h"
#include "WebBrowser.h"
#include "MainParts.h"

namespace {

enum class Answer { Yes, No, CloseBox, NotShown };

// Host numbers of the test server (see BidbenchTestMain.cpp).
constexpr int kSite1 = 1, kPages = 5, kService = 8, kSignup = 9;

class EndToEnd : public MainWindowTest {
protected:
    std::unique_ptr<FMain> Start(Answer answer) {
        if (answer == Answer::NotShown) SettingsStore::Write("StartScreen", "N");
        bool asked = false;
        if (answer != Answer::NotShown) {
            WhenModal<FStart>([answer, &asked](FStart* start) {
                asked = true;
                if (answer == Answer::Yes)
                    start->cmdYes->click();
                else if (answer == Answer::No)
                    start->Command1->click();
                else
                    start->close();
            });
        }
        auto main = std::make_unique<FMain>();
        main->Load();
        main->show();
        EXPECT_EQ(asked, answer != Answer::NotShown);
        return main;
    }
};

}  // namespace

TEST_F(EndToEnd, StartScreenAnswersChooseTheServicePage) {
    const struct {
        Answer answer;
        int host;
        const char* target;
    } cases[] = {{Answer::Yes, kService, "/secure/news.cfm"},
                 {Answer::No, kSignup, "/signup.cfm"},
                 {Answer::CloseBox, kSignup, "/signup.cfm"},
                 {Answer::NotShown, kService, "/secure/news.cfm"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        SetUp();  // fresh settings and request log
        auto main = Start(c.answer);
        EXPECT_TRUE(WaitUntil([&] { return Server()->seen(c.host, c.target) && Server()->seen(kSite1, "/"); }));
        EXPECT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwSnipe, c.target); }));
        EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 0);
        // The caption names the snipe page once the auction browser is no longer busy.
        EXPECT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Page " + QString(c.target); }));
        main->close();
    }
}

TEST_F(EndToEnd, ItemPagesEnableSnipeWhichHandsTheItemToTheService) {
    auto main = Start(Answer::NotShown);
    const QString item = "http://" + Server()->host(kSite1) + "/ws/view?item=4455&category=12";
    main->NavigateAuction(item);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "category=12"); }));
    ASSERT_TRUE(WaitUntil([&] { return Ui(*main).cboAddress->currentText() == item; }));
    EXPECT_TRUE(Ui(*main).tbrSnipe->isEnabled());
    EXPECT_TRUE(Ui(*main).mnuNavigateSnipe->isEnabled());
    Ui(*main).tbrSnipe->click();
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 0);
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/login.cfm?item_number=4455"); }));

    main->NavigateAuction("http://" + Server()->host(kSite1) + "/ws/view?Item=4455");
    ASSERT_TRUE(WaitUntil([&] { return Ui(*main).cboAddress->currentText().endsWith("Item=4455"); }));
    EXPECT_FALSE(Ui(*main).tbrSnipe->isEnabled());
    EXPECT_FALSE(Ui(*main).mnuNavigateSnipe->isEnabled());
}

// What is typed into the address box is no page yet: Snipe! hands over the
// item of the page shown, and only that.
TEST_F(EndToEnd, SnipeTakesTheItemOfThePageShownNotTheTypedText) {
    auto main = Start(Answer::NotShown);
    const MainParts ui(*main);
    ShowActive(main.get());
    const QString base = "http://" + Server()->host(kSite1);
    main->NavigateAuction(base + "/ws/view?sortitem=price&item=4711");
    ASSERT_TRUE(WaitUntil([&] { return Loaded(ui.brwAuction, "item=4711"); }));
    ASSERT_TRUE(WaitUntil([&] { return ui.tbrSnipe->isEnabled(); }));

    // Typed, without Enter: the page still shows 4711.
    QLineEdit* line = ui.cboAddress->lineEdit();
    line->setFocus();
    line->selectAll();
    QTest::keyClicks(line, base + "/ws/view?item=9999");
    QTest::mouseClick(ui.tbrSnipe, Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/login.cfm?item_number=4711"); }));
    EXPECT_TRUE(WaitUntil([&] { return Loaded(ui.brwSnipe, "item_number=4711"); }));

    // Text without any item leaves Snipe! for the item on screen; so does
    // Tools > Snipe Current Auction (Ctrl+Z).
    Server()->clear();
    ui.SSTab1->setCurrentIndex(1);
    line->setFocus();
    line->selectAll();
    QTest::keyClicks(line, "something else");
    EXPECT_TRUE(ui.tbrSnipe->isEnabled());
    EXPECT_TRUE(ui.mnuNavigateSnipe->isEnabled());
    QTest::keyClick(main.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/login.cfm?item_number=4711"); }));
    for (const RecordedRequest& request : Server()->requests())
        EXPECT_FALSE(request.target.contains("item_number=9999") || request.target.contains("price"))
            << request.target.toStdString();

    // A page whose item is not a plain number offers no snipe.
    for (const char* path : {"/ws/view?item=12ab", "/ws/view?item=1&item=2", "/item=5/view"}) {
        main->NavigateAuction(base + path);
        ASSERT_TRUE(WaitUntil([&] { return Loaded(ui.brwAuction, path); })) << path;
        EXPECT_FALSE(ui.tbrSnipe->isEnabled()) << path;
        EXPECT_FALSE(ui.mnuNavigateSnipe->isEnabled()) << path;
    }
}

TEST_F(EndToEnd, AddressBoxHistoryEnterAndGo) {
    auto main = Start(Answer::NotShown);
    const QString base = "http://" + Server()->host(kSite1);
    for (const char* path : {"/one", "/two", "/one"}) {
        main->NavigateAuction(base + path);
        ASSERT_TRUE(WaitUntil(
            [&] { return Loaded(Ui(*main).brwAuction, path) && Ui(*main).cboAddress->itemText(0) == base + path; }));
    }
    QStringList list;
    for (int i = 0; i < Ui(*main).cboAddress->count(); ++i) list << Ui(*main).cboAddress->itemText(i);
    EXPECT_EQ(list.mid(0, 2), QStringList({base + "/one", base + "/two"}));
    EXPECT_EQ(list.count(base + "/one"), 1);

    Ui(*main).cboAddress->lineEdit()->setText(base + "/typed");
    QTest::keyClick(Ui(*main).cboAddress->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/typed"); }));
    Ui(*main).cboAddress->lineEdit()->setText(base + "/gone");
    Ui(*main).tbrGo->click();
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/gone"); }));
}

TEST_F(EndToEnd, BackForwardAndHomeFollowEachBrowser) {
    auto main = Start(Answer::NotShown);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwSnipe, "/news.cfm"); }));
    const QString base = "http://" + Server()->host(kSite1);
    main->NavigateAuction(base + "/first");
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/first"); }));
    main->NavigateAuction(base + "/second");
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/second") && Ui(*main).tbrBack->isEnabled(); }));
    main->GoBack(true);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/first") && Ui(*main).tbrForward->isEnabled(); }));
    main->GoForward(true);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/second"); }));
    main->GoHome();
    EXPECT_TRUE(WaitUntil(
        [&] { return Ui(*main).brwAuction->locationAddress() == base + "/" && !Ui(*main).brwAuction->busy(); }));

    // The snipe browser has its own history: nothing to go back to yet.
    Ui(*main).SSTab1->setCurrentIndex(0);
    EXPECT_FALSE(Ui(*main).tbrBack->isEnabled());
    main->GoHome();
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/news.cfm?"); }));
    ASSERT_TRUE(WaitUntil([&] { return Ui(*main).tbrBack->isEnabled(); }));
    main->GoBack(true);
    EXPECT_TRUE(WaitUntil([&] { return Ui(*main).brwSnipe->locationAddress().endsWith("/secure/news.cfm"); }));
}

TEST_F(EndToEnd, SlowPagesShowWorkingAndAnimate) {
    auto main = Start(Answer::NotShown);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/") && Loaded(Ui(*main).brwSnipe, "news.cfm"); }));
    main->NavigateAuction("http://" + Server()->host(kSite1) + "/slow");
    Ui(*main).timTimer->start();
    ASSERT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Working..."; }, 3000));
    Ui(*main).SSTab1->setCurrentIndex(0);
    Ui(*main).SSTab1->setCurrentIndex(1);
    EXPECT_EQ(Ui(*main).sbPanel2->text(), "Working . . .");
    QSet<int> frames;
    WaitUntil(
        [&] {
            frames.insert(main->shownStarFrame());
            return frames.size() >= 3;
        },
        2000);
    EXPECT_GE(frames.size(), 3);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/slow"); }));
    EXPECT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Page /slow"; }));
    EXPECT_TRUE(WaitUntil([&] { return main->shownStarFrame() == 7; }));
}

TEST_F(EndToEnd, ASiteThatCannotBeReachedIsSaidSo) {
    auto main = Start(Answer::NotShown);
    QTcpServer closed;  // a port that was free a moment ago: nothing listens there now
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString authority = "127.0.0.1:" + QString::number(closed.serverPort());
    closed.close();
    main->NavigateAuction("http://" + authority + "/item");
    EXPECT_TRUE(WaitUntil([&] {
        return Ui(*main).sbPanel2->text() == "The site " + authority + " could not be reached.";
    })) << Ui(*main).sbPanel2->text().toStdString();
}

TEST_F(EndToEnd, SiteAndLabelsPersistAcrossARestart) {
    {
        auto main = Start(Answer::NotShown);
        Ui(*main).mnuOptionsSite[6]->trigger();
        EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kPages, "/nz/index.html"); }));
        main->ToggleTextLabels();
        main->close();
    }
    Server()->clear();
    auto main = Start(Answer::NotShown);
    EXPECT_TRUE(Ui(*main).mnuOptionsSite[6]->isChecked());
    EXPECT_FALSE(Ui(*main).mnuOptionsText->isChecked());
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kPages, "/nz/index.html"); }));
    Pump(100);
    EXPECT_EQ(Ui(*main).SSTab1->geometry().top(), 33);
    main->ToggleTextLabels();
    EXPECT_EQ(Ui(*main).SSTab1->geometry().top(), 44);
}

TEST_F(EndToEnd, ScreenshotAfterStartUp) {
    auto main = Start(Answer::NotShown);
    main->resize(1100, 760);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/") && Loaded(Ui(*main).brwSnipe, "news.cfm"); }));
    Pump(500);
    SaveScreenshot(main.get(), "bidbench-main");
}

TEST_F(EndToEnd, LoginCookiesSurviveARestart) {
    SettingsStore::Write("StartScreen", "N");
    auto runChild = [this](const char* step) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BIDBENCH_TEST_CHILD", step);
        env.insert("BIDBENCH_TEST_SETTINGS", mSettingsHome.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {});
        // The server answers while the child runs.
        EXPECT_TRUE(WaitUntil([&] { return child.state() == QProcess::NotRunning; }, 60000));
        return child.exitCode();
    };
    ASSERT_EQ(runChild("set-cookie"), 0);
    ASSERT_TRUE(Server()->seen(kService, "/setcookie"));
    Server()->clear();
    ASSERT_EQ(runChild("check-cookie"), 0);
    bool sentCookie = false;
    for (const RecordedRequest& r : Server()->requests())
        if (r.host == Server()->host(kService) && r.target == "/secure/news.cfm")
            sentCookie = r.cookie.contains("login=yes");
    EXPECT_TRUE(sentCookie);
}

// ---- commands with the real engine ------------------------------------------------------------

namespace {
constexpr int kListings = 6, kMaker = 10;
const QString kVersionPage = "/bidbench/BidbenchVersion.html";
}  // namespace

TEST_F(EndToEnd, FloatingToolbarSnipesTheTypedItem) {
    auto main = Start(Answer::NotShown);
    bool mainHidden = false;
    WhenModal<FToolbar>([&](FToolbar* toolbar) {
        mainHidden = !main->isVisible();
        QTest::keyClicks(toolbar->txtItem, "31337");
        toolbar->cmdSnipe->trigger();
    });
    ShowActive(main.get());
    QTest::keyClick(main.get(), Qt::Key_T, Qt::ControlModifier);  // Tools > Floating Toolbar's key
    EXPECT_TRUE(mainHidden);
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/login.cfm?item_number=31337"); }));
    EXPECT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwSnipe, "item_number=31337"); }));

    // What only passes for a number is refused, with the reason; blanks
    // typed around the number are dropped; Enter snipes.
    QStringList why;
    WhenModal<FToolbar>([&why](FToolbar* toolbar) {
        for (const char* typed : {"1e5", "inf", "1,234"}) {
            toolbar->txtItem->selectAll();
            QTest::keyClicks(toolbar->txtItem, typed);
            QTest::keyClick(toolbar->txtItem, Qt::Key_Return);
            QTest::mouseClick(toolbar->Toolbar1->widgetForAction(toolbar->cmdSnipe), Qt::LeftButton);
            why << toolbar->lblWhyNot->text();
        }
        SaveScreenshot(toolbar, "dialog-floating-toolbar-not-an-item");
        toolbar->txtItem->selectAll();
        QTest::keyClicks(toolbar->txtItem, " 12345 ");
        QTest::keyClick(toolbar->txtItem, Qt::Key_Return);
    });
    main->findChild<QAction*>("mnuToolsToolbar")->trigger();
    EXPECT_EQ(why, QStringList({"Item numbers are digits only: no \"e\".", "Item numbers are digits only: no \"i\".",
                                "Item numbers are digits only: no \",\"."}));
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/login.cfm?item_number=12345"); }));
    for (const RecordedRequest& request : Server()->requests())
        EXPECT_FALSE(request.target.contains("1e5") || request.target.contains("inf") ||
                     request.target.contains("1,234"))
            << request.target.toStdString();

    WhenModal<FToolbar>([](FToolbar* toolbar) {
        QTest::keyClicks(toolbar->txtItem, "777");
        toolbar->close();
    });
    main->findChild<QAction*>("mnuToolsToolbar")->trigger();
    Pump(500);
    EXPECT_FALSE(Server()->seen(kService, "/secure/login.cfm?item_number=777"));
    EXPECT_TRUE(main->isVisible());
}

TEST_F(EndToEnd, AFavouriteSellerOpensTheSellersListings) {
    {
        QFile list(UserPlaces::SellersListPath());
        ASSERT_TRUE(list.open(QIODevice::WriteOnly | QIODevice::Truncate));
        list.write("first\r\nseller2\r\n");
    }
    auto main = Start(Answer::NotShown);
    WhenModal<FFavorites>([](FFavorites* dialog) {
        dialog->lstFavorites->setCurrentRow(1);
        dialog->cmdGetInfo->click();
    });
    main->findChild<QAction*>("mnuFavoritesSellers")->trigger();
    const QString target =
        "/aw-cgi/eBayISAPI.dll?MfcISAPICommand=ViewListedItems&userid=seller2&include=0&since=-1&sort=2&rows=25";
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kListings, target); }));
    EXPECT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "rows=25"); }));
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 1);
    QFile::remove(UserPlaces::SellersListPath());
}

// IDs reach the site whole, whatever characters they hold; blanks typed
// around one are dropped, and an ID already listed in another letter case
// is said to be there.
TEST_F(EndToEnd, FavouriteIDsReachTheSiteWholeAndOnce) {
    {
        QFile list(UserPlaces::SellersListPath());
        ASSERT_TRUE(list.open(QIODevice::WriteOnly | QIODevice::Truncate));
        list.write("lampman\r\na&b\r\n  x#y  \r\n");
    }
    auto main = Start(Answer::NotShown);
    auto told = std::make_shared<QString>();
    auto pick = [&](const QString& sUserID) {
        WhenModal<FFavorites>([sUserID, told](FFavorites* dialog) {
            if (told->isEmpty()) {
                WhenModal<FAddUserID>([](FAddUserID* add) {
                    QTest::keyClicks(add->txtUserID, "  LampMan ");
                    QTest::keyClick(add->txtUserID, Qt::Key_Return);
                });
                WhenModal<QMessageBox>([told](QMessageBox* box) {
                    *told = box->text();
                    SaveScreenshot(box, "dialog-favorite-already-listed");
                    box->accept();
                });
                QTest::mouseClick(dialog->cmdAdd, Qt::LeftButton);
            }
            const auto rows = dialog->lstFavorites->findItems(sUserID, Qt::MatchExactly);
            ASSERT_EQ(rows.size(), 1) << sUserID.toStdString();
            dialog->lstFavorites->setCurrentItem(rows.first());
            QTest::mouseClick(dialog->cmdGetInfo, Qt::LeftButton);
        });
        main->findChild<QAction*>("mnuFavoritesSellers")->trigger();
    };
    const QString prefix = "/aw-cgi/eBayISAPI.dll?MfcISAPICommand=ViewListedItems&userid=";
    pick("a&b");
    EXPECT_TRUE(
        WaitUntil([&] { return Server()->seen(kListings, prefix + "a%26b&include=0&since=-1&sort=2&rows=25"); }));
    EXPECT_EQ(*told,
              "LampMan is already in your favorites list as lampman.\r\n"
              "User IDs are the same whatever their letter case.");
    pick("x#y");
    EXPECT_TRUE(
        WaitUntil([&] { return Server()->seen(kListings, prefix + "x%23y&include=0&since=-1&sort=2&rows=25"); }));
    EXPECT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "rows=25"); }));
    QFile list(UserPlaces::SellersListPath());
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_EQ(list.readAll(), "lampman\r\na&b\r\nx#y\r\n");
    list.close();
    QFile::remove(UserPlaces::SellersListPath());
}

TEST_F(EndToEnd, VersionCheckOffersOnlyAnotherVersion) {
    // Answers every offer with Later and counts it; lives for this test only.
    int offers = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&offers] {
        if (auto* offer = qobject_cast<FNewVersion*>(QApplication::activeModalWidget())) {
            ++offers;
            offer->cmdLater->click();
        }
    });
    watcher.start(20);
    const struct {
        const char* page;
        bool offered;
    } cases[] = {{"<p>Version =1.1+</p>", true}, {"<p>Version =1.0+</p>", false}, {"<p>Version = 1.0+</p>", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        Server()->clear();
        Server()->pages[kVersionPage] = c.page;
        offers = 0;
        auto main = Start(Answer::NotShown);
        ASSERT_TRUE(WaitUntil([&] { return Server()->seen(kMaker, kVersionPage); }));
        WaitUntil([&] { return offers > 0; }, 1500);
        EXPECT_EQ(offers, c.offered ? 1 : 0);
        EXPECT_TRUE(main->isVisible());  // Later keeps the program running
        main->close();
    }
}

TEST_F(EndToEnd, FindCopyAndPrintWorkOnThePage) {
    Server()->pages["/text"] =
        "<html><head><title>Text</title></head><body><p id='t'>copy me please</p>"
        "<p>needle one, needle two, and a third needle</p></body></html>";
    auto main = Start(Answer::NotShown);
    ShowActive(main.get());
    main->NavigateAuction("http://" + Server()->host(kSite1) + "/text");
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/text"); }));

    main->findChild<QAction*>("mnuEditFind")->trigger();
    QTest::keyClicks(Ui(*main).txtFind, "needle");
    EXPECT_TRUE(WaitUntil([&] { return Ui(*main).lblFindResult->text() == "1 of 3 matches"; }))
        << Ui(*main).lblFindResult->text().toStdString();
    QTest::keyClick(Ui(*main).txtFind, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return Ui(*main).lblFindResult->text() == "2 of 3 matches"; }));
    Ui(*main).txtFind->setText("haystack");
    EXPECT_TRUE(WaitUntil([&] { return Ui(*main).lblFindResult->text() == "No matches"; }));
    QTest::keyClick(Ui(*main).txtFind, Qt::Key_Escape);

    auto* view = static_cast<WebBrowser*>(Ui(*main).brwAuction)->view();
    bool selected = false;
    view->page()->runJavaScript("window.getSelection().selectAllChildren(document.getElementById('t')); true",
                                [&selected](const QVariant&) { selected = true; });
    ASSERT_TRUE(WaitUntil([&] { return selected; }));
    QApplication::clipboard()->setText("old");
    Ui(*main).brwAuction->focus();
    ASSERT_TRUE(WaitUntil([&] { return view->isAncestorOf(QApplication::focusWidget()) || view->hasFocus(); }));
    main->findChild<QAction*>("mnuEditCut")->trigger();
    Pump(200);
    EXPECT_EQ(QApplication::clipboard()->text(), "old");  // no cutting from a page
    main->findChild<QAction*>("mnuEditCopy")->trigger();
    EXPECT_TRUE(WaitUntil([] { return QApplication::clipboard()->text() == "copy me please"; }))
        << QApplication::clipboard()->text().toStdString();

    QTemporaryDir out;
    const QString pdf = out.filePath("page.pdf");
    main->printer()->setOutputFormat(QPrinter::PdfFormat);
    main->printer()->setOutputFileName(pdf);
    WhenModal<QPrintDialog>([](QPrintDialog* dialog) { dialog->accept(); });
    main->findChild<QAction*>("mnuFilePrint")->trigger();
    EXPECT_TRUE(main->printing());
    ASSERT_TRUE(WaitUntil([&] { return !main->printing(); }, 20000));
    EXPECT_GT(QFileInfo(pdf).size(), 1000);
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
}
