// The main window's logic against fake browsers, the dialogs and the
// address table.
#include <QAction>
#include <QDesktopServices>
#include <QTest>
#include <QUrl>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "FAbout.h"
#include "FMain.h"
#include "FNewVersion.h"
#include "FStart.h"
#include "FakeBrowser.h"
#include "FakeWindowTest.h"
#include "LinkLabel.h"
#include "SettingsStore.h"

namespace {

class WindowLogic : public FakeWindowTest {};

}  // namespace

TEST_F(WindowLogic, StartUpLoadsTheSiteAndTheServicePage) {
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 0);
    EXPECT_EQ(Ui(*main).sbPanel1->text(), "Tarnbid");
    EXPECT_TRUE(Ui(*main).mnuOptionsSite[1]->isChecked());
    const QString start = Addresses::SiteStartAddress(1);
    // Site selection loads the start page, and start-up loads it again.
    EXPECT_EQ(auction->navigations, QStringList({start, start}));
    EXPECT_EQ(snipe->navigations, QStringList({Addresses::ServiceNewsAddress()}));
    EXPECT_EQ(Ui(*main).cboAddress->itemText(0), start);
    EXPECT_FALSE(Ui(*main).tbrBack->isEnabled());
    EXPECT_EQ(main->shownStarFrame(), 7);
}

TEST_F(WindowLogic, CommandStatesFollowEachBrowserAndTab) {
    emit auction->commandStateChanged(Browser::kCommandBack, true);
    emit auction->commandStateChanged(5, true);    // other commands change nothing
    EXPECT_FALSE(Ui(*main).tbrBack->isEnabled());  // tab 0 follows the snipe browser
    main->GoBack(true);
    EXPECT_EQ(auction->backs + snipe->backs, 0);  // nothing, though the auction browser could go back
    Ui(*main).SSTab1->setCurrentIndex(1);
    EXPECT_TRUE(Ui(*main).tbrBack->isEnabled());
    main->GoBack(true);
    EXPECT_EQ(auction->backs, 1);
    emit snipe->commandStateChanged(Browser::kCommandForward, true);
    Ui(*main).SSTab1->setCurrentIndex(0);
    EXPECT_TRUE(Ui(*main).tbrForward->isEnabled());
    main->GoForward(false);
    EXPECT_EQ(snipe->forwards, 1);
}

TEST_F(WindowLogic, BusyBrowsersShowInCaptionPanelAndAnimation) {
    Ui(*main).SSTab1->setCurrentIndex(1);
    auction->isBusy = true;
    main->NavigateAuction("http://x/slow");
    Ui(*main).timTimer->start();
    ASSERT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Working..."; }, 2000));
    snipe->isBusy = true;
    Ui(*main).SSTab1->setCurrentIndex(0);
    EXPECT_EQ(Ui(*main).sbPanel2->text(), "Working . . .");
    ASSERT_TRUE(WaitUntil([&] { return main->shownStarFrame() != 7; }, 2000));
    QSet<int> frames;
    WaitUntil(
        [&] {
            frames.insert(main->shownStarFrame());
            return frames.size() >= 3;
        },
        3000);
    EXPECT_GE(frames.size(), 3);
    EXPECT_FALSE(frames.contains(7));
    snipe->isBusy = false;
    ASSERT_TRUE(WaitUntil([&] { return main->shownStarFrame() == 7; }, 2000));
    auction->isBusy = false;
    auction->name = "Auction page";
    Ui(*main).SSTab1->setCurrentIndex(1);
    ASSERT_TRUE(WaitUntil([&] { return !Ui(*main).timTimer->isActive(); }, 2000));
    EXPECT_EQ(main->windowTitle(), "Tarnbid Bidbench > Auction page");
    EXPECT_EQ(Ui(*main).sbPanel2->text(), "Done");
}

TEST_F(WindowLogic, HandlerErrorsAreIgnoredAndTheNextStepRuns) {
    Ui(*main).SSTab1->setCurrentIndex(1);
    auction->failLocationName = true;
    auction->arrive("http://x/view?item=42", "unused");
    // The caption step failed; the address history and the controls still ran.
    EXPECT_EQ(Ui(*main).cboAddress->itemText(0), "http://x/view?item=42");
    EXPECT_TRUE(Ui(*main).tbrSnipe->isEnabled());
    EXPECT_TRUE(Ui(*main).mnuNavigateSnipe->isEnabled());
    EXPECT_EQ(main->windowTitle(), "Tarnbid Bidbench > ");
    emit auction->downloadComplete();
    auction->failLocationName = false;
    auction->name = "";
    emit auction->downloadComplete();
    EXPECT_EQ(main->windowTitle(), "Tarnbid Bidbench > ");
}

TEST_F(WindowLogic, AddressHistoryAndSnipe) {
    Ui(*main).SSTab1->setCurrentIndex(1);
    auction->arrive("http://x/a", "A");
    auction->arrive("http://x/b?Item=7", "B");
    EXPECT_FALSE(Ui(*main).tbrSnipe->isEnabled());  // the marker with a capital I does not count
    auction->arrive("http://x/a", "A");
    QStringList list;
    for (int i = 0; i < Ui(*main).cboAddress->count(); ++i) list << Ui(*main).cboAddress->itemText(i);
    EXPECT_EQ(list, QStringList({"http://x/a", "http://x/b?Item=7", Addresses::SiteStartAddress(1)}));
    auction->arrive("http://x/view?item=123&track=9", "Item");
    main->Snipe();
    EXPECT_EQ(snipe->navigations.last(), Addresses::SnipeAddress("123"));  // the item alone
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 0);
    EXPECT_FALSE(Ui(*main).mnuNavigateSnipe->isEnabled());  // only on the auction tab
    EXPECT_TRUE(Ui(*main).tbrSnipe->isEnabled());
}

TEST_F(WindowLogic, HomeStopRefreshGoToTheShownTabsBrowser) {
    main->GoHome();
    EXPECT_EQ(snipe->navigations.last(), Addresses::ServiceHomeAddress());
    main->StopBrowser();
    main->RefreshBrowser();
    EXPECT_EQ(snipe->stops, 1);
    EXPECT_EQ(snipe->refreshes, 1);
    Ui(*main).SSTab1->setCurrentIndex(1);
    main->GoHome();
    EXPECT_EQ(auction->navigations.last(), Addresses::SiteStartAddress(1));
}

TEST_F(WindowLogic, LayoutFollowsTheTableForBothLabelStates) {
    const MainLayout shown = MainLayout::Compute(1000, 700, true);
    EXPECT_EQ(shown.tabTop, 44);  // 660 twips
    EXPECT_EQ(shown.tabWidth, MainLayout::Pixels(15000 - 50));
    EXPECT_EQ(shown.tabHeight, MainLayout::Pixels(10500 - 950));
    EXPECT_EQ(shown.browserHeight, MainLayout::Pixels(10500 - 950 - 830));
    EXPECT_EQ(shown.goLeft, MainLayout::Pixels(15000 - 900));
    EXPECT_EQ(shown.addressWidth, MainLayout::Pixels(15000 - 2150));
    EXPECT_EQ(shown.starLeft, MainLayout::Pixels(15000 - 550));
    EXPECT_EQ(shown.linkLeft, MainLayout::Pixels(15000 - 50 - 1200));
    const MainLayout hidden = MainLayout::Compute(1000, 700, false);
    EXPECT_EQ(hidden.tabTop, 33);  // 500 twips
    EXPECT_EQ(hidden.tabHeight, MainLayout::Pixels(10500 - 780));
    // Absolute values for windows smaller than the fixed parts.
    EXPECT_EQ(MainLayout::Compute(40, 40, true).tabHeight, MainLayout::Pixels(950 - 600));

    main->resize(900, 600);
    main->show();
    Pump(50);
    EXPECT_EQ(Ui(*main).SSTab1->geometry().top(), 44);
    main->ToggleTextLabels();
    EXPECT_FALSE(Ui(*main).mnuOptionsText->isChecked());
    EXPECT_FALSE(Ui(*main).mnuButtonBarStatusViewLabels->isChecked());
    EXPECT_EQ(Ui(*main).SSTab1->geometry().top(), 33);
    EXPECT_TRUE(Ui(*main).tbrBack->text().isEmpty());
}

TEST_F(WindowLogic, SettingsAreWrittenAtShutDownAndReadAtStartUp) {
    Ui(*main).mnuOptionsSite[6]->trigger();
    EXPECT_EQ(Ui(*main).SSTab1->currentIndex(), 1);
    EXPECT_TRUE(auction->navigations.last().endsWith("/nz/index.html"));
    main->ToggleTextLabels();
    main->close();
    EXPECT_EQ(SettingsStore::Read("Site"), "6");
    EXPECT_EQ(SettingsStore::Read("TextLabels"), "N");
    FMain again([](QWidget* parent) -> Browser* { return new FakeBrowser(parent); });
    again.Load();
    EXPECT_TRUE(Ui(again).mnuOptionsSite[6]->isChecked());
    EXPECT_FALSE(Ui(again).mnuOptionsText->isChecked());
    EXPECT_EQ(again.StartingAddress(), Addresses::SiteStartAddress(6));
    for (const QString bad : {"0", "8", "x", ""}) {
        SettingsStore::Write("Site", bad);
        FMain other([](QWidget* parent) -> Browser* { return new FakeBrowser(parent); });
        other.Load();
        EXPECT_TRUE(Ui(other).mnuOptionsSite[1]->isChecked()) << bad.toStdString();
    }
}

TEST(Addresses, SitesAndItemsAreInsertedAsGivenUserIDsEncoded) {
    const Addresses::Hosts& hosts = Addresses::CurrentHosts();
    EXPECT_EQ(Addresses::SiteStartAddress(1), "http://" + hosts.siteHost[0]);
    EXPECT_EQ(Addresses::SiteStartAddress(7), "http://" + hosts.sitePagesHost + "/ebaymotors/index.html");
    EXPECT_EQ(Addresses::SiteStartAddress(8), "");
    EXPECT_EQ(
        Addresses::SellerListingsAddress("a b&c"),
        "http://" + hosts.listingsHost +
            "/aw-cgi/eBayISAPI.dll?MfcISAPICommand=ViewListedItems&userid=a%20b%26c&include=0&since=-1&sort=2&rows=25");
    EXPECT_TRUE(Addresses::BidderItemsAddress("x#y%z+\u00e9").contains("&userid=x%23y%25z%2B%C3%A9&completed=0"));
    EXPECT_EQ(Addresses::BidderItemsAddress("x"),
              "http://" + hosts.bidItemsHost +
                  "/aw-cgi/eBayISAPI.dll?MfcISAPICommand=ViewBidItems&userid=x&completed=0&all=1&rows=25");
    EXPECT_EQ(Addresses::MakerLinkAddress(), "http://" + hosts.makerHost + "?bidbench");
    EXPECT_EQ(Addresses::FeedbackMailAddress(), "mailto:help@example.invalid?subject=Shunlist%201.0");
    EXPECT_EQ(Addresses::SiteCaption(6), "eBay &New Zealand");
    // Without an INI file the defaults in code apply.
    const Addresses::Hosts defaults = Addresses::LoadHosts("/nonexistent/bidbench.ini");
    EXPECT_EQ(defaults.siteHost[2], "www.ebay.co.uk");
}

TEST(Addresses, TheItemIsTheDigitsOfTheQueryParameterNamedItem) {
    const struct {
        const char* address;
        const char* item;
    } cases[] = {
        {"http://x/view?item=4711", "4711"},
        {"http://x/view?sortitem=price&item=4711", "4711"},  // not the end of another name
        {"http://x/view?item=4711&track=9#bids", "4711"},
        {"http://x/view?item=%34%37", "47"},  // as the site reads it
        {"http://x/view?item=4711&item=4711", "4711"},
        {"http://x/view?item=4711&item=4712", ""},  // which one? none
        {"http://x/view?sortitem=price", ""},
        {"http://x/view?Item=4711", ""},
        {"http://x/item=4711/view", ""},
        {"http://x/view#item=4711", ""},
        {"http://x/view?item=", ""},
        {"http://x/view?item=1e5", ""},
        {"http://x/view?item=1,234", ""},
        {"http://x/view?item=%204711", ""},
        {"http://x/view?item=-4711", ""},
        {"http://x/view?item=\u0664\u0667", ""},  // digits of other scripts are not the site's
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Addresses::ItemNumber(QString::fromUtf8(c.address)), c.item) << c.address;
}

TEST_F(BidbenchTest, StartScreenStoresTheChoiceOnlyWhenTicked) {
    {
        FStart start;
        EXPECT_EQ(start.lblTarnscope->text(), "Tarnscope");  // no "&" shown
        start.chkHasAccount->setChecked(true);
        WhenModal<FStart>([](FStart* dialog) { dialog->Command1->click(); });
        start.exec();
        EXPECT_FALSE(start.hasAccount());  // ticking does not by itself mean an account
    }
    EXPECT_EQ(SettingsStore::Read("StartScreen"), "N");
    SettingsStore::Write("StartScreen", "");
    {
        FStart start;
        WhenModal<FStart>([](FStart* dialog) { dialog->cmdYes->click(); });
        start.exec();
        EXPECT_TRUE(start.hasAccount());
    }
    EXPECT_EQ(SettingsStore::Read("StartScreen"), "");
}

TEST_F(BidbenchTest, AboutBoxVersionAndSystemInformation) {
    FAbout about;
    EXPECT_EQ(about.lblVersion->text(), "Version 1.0.0");
    EXPECT_EQ(about.lblTitle->text(), "Tarnbid Bidbench");
    const QByteArray oldPath = qgetenv("PATH");
    QTemporaryDir tools;
    qputenv("PATH", tools.path().toUtf8());
    QString message;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        message = box->text();
        box->accept();
    });
    about.cmdSysInfo->click();
    EXPECT_EQ(message, "System Information Is Unavailable At This Time");
    // The first tool of the list found on PATH is started.
    const QString marker = tools.path() + "/started";
    QFile tool(tools.path() + "/kinfocenter");
    tool.open(QIODevice::WriteOnly);
    tool.write(("#!/bin/sh\n/usr/bin/touch '" + marker + "'\n").toUtf8());
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    about.cmdSysInfo->click();
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(marker); }, 5000));
    qputenv("PATH", oldPath);
}

TEST_F(BidbenchTest, UpdateNowStartsTheUpdaterOrSaysItCannot) {
    const QString updater = Addresses::UpdaterPath();
    QFile::remove(updater);
    {
        FNewVersion dialog;
        QString message;
        WhenModal<FNewVersion>([](FNewVersion* d) { d->cmdUpdateNow->click(); });
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
        dialog.exec();
        EXPECT_FALSE(dialog.Updating());
        EXPECT_TRUE(message.startsWith("The updater could not be started"));
    }
    QTemporaryDir scratch;
    const QString marker = scratch.path() + "/updated";
    QFile script(updater);
    script.open(QIODevice::WriteOnly);
    script.write(("#!/bin/sh\ntouch '" + marker + "'\n").toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    FNewVersion dialog;
    WhenModal<FNewVersion>([](FNewVersion* d) { d->cmdUpdateNow->click(); });
    dialog.exec();
    EXPECT_TRUE(dialog.Updating());
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(marker); }, 5000));
    QFile::remove(updater);
    FNewVersion later;
    WhenModal<FNewVersion>([](FNewVersion* d) { d->cmdLater->click(); });
    later.exec();
    EXPECT_FALSE(later.Updating());
}

namespace {
// Catches the addresses the program hands to the desktop's default programs.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const char* scheme : {"http", "mailto", "file"}) QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override {
        for (const char* scheme : {"http", "mailto", "file"}) QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};
}  // namespace

TEST_F(WindowLogic, HelpEntriesAndTheLinkOpenTheMakersPagesInTheShell) {
    UrlCatcher shell;
    auto trigger = [&](const char* name) { Action(name)->trigger(); };
    trigger("mnuHelpmnuHelpTarnscope");
    trigger("mnuHelpmnuHelpTarnbid");
    trigger("mnuHelpmnuHelpFeedback");
    trigger("mnuHelpContents");
    QTest::mouseClick(Ui(*main).lblTarnscope, Qt::LeftButton);
    ASSERT_EQ(shell.opened.size(), 5);
    EXPECT_EQ(shell.opened[0], Addresses::MakerLinkAddress());
    EXPECT_EQ(shell.opened[1], Addresses::MakerTarnbidAddress());
    EXPECT_EQ(shell.opened[2], "mailto:help@example.invalid?subject=Shunlist 1.0");
    EXPECT_TRUE(shell.opened[3].endsWith("/help/Bidbench_help.htm"));
    EXPECT_EQ(shell.opened[4], Addresses::MakerLinkAddress());
}

#include "WindowLogicTest.moc"
#include "MainParts.h"

// The start page arrives as the browser writes it (with a slash), once for
// the site's selection and once for start-up: the history holds it once.
TEST_F(WindowLogic, TheHistoryHoldsTheStartPageOnce) {
    const QString start = Addresses::SiteStartAddress(1);
    auction->arrive(start + "/", "Start");
    auction->arrive(start + "/", "Start");
    QStringList list;
    for (int i = 0; i < Ui(*main).cboAddress->count(); ++i) list << Ui(*main).cboAddress->itemText(i);
    EXPECT_EQ(list, QStringList({start + "/"}));
    EXPECT_TRUE(Addresses::SameAddress("http://x/a/../b", "http://x/b"));
    EXPECT_FALSE(Addresses::SameAddress("http://x/a", "http://x/a?b"));
}

// Through the entries themselves, as the user clicks them: a checkable entry
// has flipped before the window hears of it.
TEST_F(WindowLogic, TextLabelsToggleFromEitherMenuEntry) {
    Ui(*main).mnuButtonBarStatusViewLabels->trigger();
    EXPECT_FALSE(Ui(*main).mnuButtonBarStatusViewLabels->isChecked());
    EXPECT_FALSE(Ui(*main).mnuOptionsText->isChecked());
    EXPECT_TRUE(Ui(*main).tbrBack->text().isEmpty());
    Ui(*main).mnuButtonBarStatusViewLabels->trigger();
    EXPECT_TRUE(Ui(*main).mnuButtonBarStatusViewLabels->isChecked());
    EXPECT_FALSE(Ui(*main).tbrBack->text().isEmpty());
    Ui(*main).mnuOptionsText->trigger();
    EXPECT_FALSE(Ui(*main).mnuOptionsText->isChecked());
    EXPECT_FALSE(Ui(*main).mnuButtonBarStatusViewLabels->isChecked());
    Ui(*main).mnuOptionsText->trigger();
    EXPECT_TRUE(Ui(*main).mnuOptionsText->isChecked());
    EXPECT_TRUE(Ui(*main).mnuButtonBarStatusViewLabels->isChecked());
}

// A session that ends without a clean exit keeps what was chosen.
TEST_F(WindowLogic, SettingsAreWrittenWhenTheyChange) {
    Ui(*main).mnuOptionsSite[6]->trigger();
    EXPECT_EQ(SettingsStore::Read("Site"), "6");
    Ui(*main).mnuOptionsText->trigger();
    EXPECT_EQ(SettingsStore::Read("TextLabels"), "N");
    Ui(*main).mnuButtonBarStatusViewLabels->trigger();
    EXPECT_EQ(SettingsStore::Read("TextLabels"), "");
}

// The date panel is set again when its timer fires, which is just after
// the next midnight.
TEST_F(WindowLogic, TheDatePanelTurnsOverAtMidnight) {
    auto* timer = main->findChild<QTimer*>("timDate");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 untilMidnight = now.msecsTo(QDateTime(now.date().addDays(1), QTime(0, 0)));
    EXPECT_LE(timer->remainingTime(), untilMidnight + 1000 + 10);  // (milliseconds round either way)
    EXPECT_GE(timer->remainingTime(), std::min<qint64>(untilMidnight, 1000) - 100);
    Ui(*main).sbPanel3->setText("yesterday");
    timer->start(0);  // midnight, now
    EXPECT_TRUE(WaitUntil([&] { return Ui(*main).sbPanel3->text() != "yesterday"; }));
    EXPECT_EQ(Ui(*main).sbPanel3->text(), QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    EXPECT_GT(timer->remainingTime(), 0);  // and the next midnight is set
}

// 1000 x 720 where it fits; on a 1280 x 1024 screen at 1.5 times (853 x 683
// logical pixels, less a panel) the window fits the room left.
TEST(FirstWindow, FitsTheScreensAvailableArea) {
    EXPECT_EQ(FMain::FirstSize(QSize(1280, 1000)), QSize(1000, 720));
    EXPECT_EQ(FMain::FirstSize(QSize(853, 660)), QSize(853 - 16, 660 - 48));
    EXPECT_EQ(FMain::FirstSize(QSize()), QSize(1000, 720));
}

// Resized while the Auction Browser tab is shown, smaller then larger: the
// address row keeps its height and the page starts below it, as on the
// other tab.
TEST_F(WindowLogic, ResizesOnTheAuctionTabKeepTheAddressRow) {
    main->resize(1000, 720);
    main->show();
    Pump(50);
    const int rowHeight = Ui(*main).tbrGo->height();
    const int browserTop = Ui(*main).brwAuction->widget()->geometry().top();
    Ui(*main).SSTab1->setCurrentIndex(1);
    Pump(50);
    for (const QSize size : {QSize(1000, 560), QSize(1000, 900), QSize(1000, 720)}) {
        main->resize(size);
        Pump(50);
        EXPECT_EQ(Ui(*main).tbrGo->height(), rowHeight) << size.height();
        EXPECT_EQ(Ui(*main).brwAuction->widget()->geometry().top(), browserTop) << size.height();
        EXPECT_EQ(Ui(*main).brwAuction->widget()->geometry().bottom(), Ui(*main).SSTab1->currentWidget()->height() - 1)
            << size.height();
    }
    Ui(*main).SSTab1->setCurrentIndex(0);
    Pump(50);
    EXPECT_EQ(Ui(*main).brwSnipe->widget()->geometry().top(), browserTop);
    EXPECT_EQ(Ui(*main).brwSnipe->widget()->geometry().bottom(), Ui(*main).SSTab1->currentWidget()->height() - 1);
}
