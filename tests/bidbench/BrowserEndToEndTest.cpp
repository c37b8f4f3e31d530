// The main window with the real browser engine against the test server.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QLineEdit>

#include "Addresses.h"
#include "BidbenchTestSupport.h"
#include "FMain.h"
#include "FStart.h"
#include "SettingsStore.h"

namespace {

enum class Answer { Yes, No, CloseBox, NotShown };

// Host numbers of the test server (see BidbenchTestMain.cpp).
constexpr int kSite1 = 1, kPages = 5, kService = 8, kSignup = 9;

class EndToEnd : public BidbenchTest {
protected:
    std::unique_ptr<FMain> Start(Answer answer) {
        if (answer == Answer::NotShown) SettingsStore::Write("StartScreen", "N");
        bool asked = false;
        if (answer != Answer::NotShown) {
            WhenModal<FStart>([answer, &asked](FStart* start) {
                asked = true;
                if (answer == Answer::Yes) start->cmdYes->click();
                else if (answer == Answer::No) start->Command1->click();
                else start->close();
            });
        }
        auto main = std::make_unique<FMain>();
        main->Load();
        main->show();
        EXPECT_EQ(asked, answer != Answer::NotShown);
        return main;
    }

    static bool Loaded(Browser* browser, const QString& suffix) {
        return browser->locationAddress().endsWith(suffix) && !browser->busy();
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
        EXPECT_TRUE(WaitUntil([&] { return Loaded(main->brwSnipe, c.target); }));
        EXPECT_EQ(main->SSTab1->currentIndex(), 0);
        // The caption names the snipe page once the auction browser is no longer busy.
        EXPECT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Page " + QString(c.target); }));
        main->close();
    }
}

TEST_F(EndToEnd, ItemPagesEnableSnipeWhichHandsTheItemToTheService) {
    auto main = Start(Answer::NotShown);
    const QString item = "http://" + Server()->host(kSite1) + "/ws/view?item=4455&category=12";
    main->NavigateAuction(item);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "category=12"); }));
    ASSERT_TRUE(WaitUntil([&] { return main->cboAddress->currentText() == item; }));
    EXPECT_TRUE(main->tbrSnipe->isEnabled());
    EXPECT_TRUE(main->mnuNavigateSnipe->isEnabled());
    main->tbrSnipe->click();
    EXPECT_EQ(main->SSTab1->currentIndex(), 0);
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/login.cfm?item_number=4455&category=12"); }));

    main->NavigateAuction("http://" + Server()->host(kSite1) + "/ws/view?Item=4455");
    ASSERT_TRUE(WaitUntil([&] { return main->cboAddress->currentText().endsWith("Item=4455"); }));
    EXPECT_FALSE(main->tbrSnipe->isEnabled());
    EXPECT_FALSE(main->mnuNavigateSnipe->isEnabled());
}

TEST_F(EndToEnd, AddressBoxHistoryEnterAndGo) {
    auto main = Start(Answer::NotShown);
    const QString base = "http://" + Server()->host(kSite1);
    for (const char* path : {"/one", "/two", "/one"}) {
        main->NavigateAuction(base + path);
        ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, path) && main->cboAddress->itemText(0) == base + path; }));
    }
    QStringList list;
    for (int i = 0; i < main->cboAddress->count(); ++i) list << main->cboAddress->itemText(i);
    EXPECT_EQ(list.mid(0, 2), QStringList({base + "/one", base + "/two"}));
    EXPECT_EQ(list.count(base + "/one"), 1);

    main->cboAddress->lineEdit()->setText(base + "/typed");
    QTest::keyClick(main->cboAddress->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/typed"); }));
    main->cboAddress->lineEdit()->setText(base + "/gone");
    main->tbrGo->click();
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/gone"); }));
}

TEST_F(EndToEnd, BackForwardAndHomeFollowEachBrowser) {
    auto main = Start(Answer::NotShown);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwSnipe, "/news.cfm"); }));
    const QString base = "http://" + Server()->host(kSite1);
    main->NavigateAuction(base + "/first");
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/first"); }));
    main->NavigateAuction(base + "/second");
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/second") && main->tbrBack->isEnabled(); }));
    main->GoBack(true);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/first") && main->tbrForward->isEnabled(); }));
    main->GoForward(true);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/second"); }));
    main->GoHome();
    EXPECT_TRUE(WaitUntil([&] { return main->brwAuction->locationAddress() == base + "/" && !main->brwAuction->busy(); }));

    // The snipe browser has its own history: nothing to go back to yet.
    main->SSTab1->setCurrentIndex(0);
    EXPECT_FALSE(main->tbrBack->isEnabled());
    main->GoHome();
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kService, "/secure/news.cfm?"); }));
    ASSERT_TRUE(WaitUntil([&] { return main->tbrBack->isEnabled(); }));
    main->GoBack(true);
    EXPECT_TRUE(WaitUntil([&] { return main->brwSnipe->locationAddress().endsWith("/secure/news.cfm"); }));
}

TEST_F(EndToEnd, SlowPagesShowWorkingAndAnimate) {
    auto main = Start(Answer::NotShown);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/") && Loaded(main->brwSnipe, "news.cfm"); }));
    main->NavigateAuction("http://" + Server()->host(kSite1) + "/slow");
    main->timTimer->start();
    ASSERT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Working..."; }, 3000));
    main->SSTab1->setCurrentIndex(0);
    main->SSTab1->setCurrentIndex(1);
    EXPECT_EQ(main->sbPanel2->text(), "Working . . .");
    QSet<int> frames;
    WaitUntil([&] {
        frames.insert(main->shownStarFrame());
        return frames.size() >= 3;
    }, 2000);
    EXPECT_GE(frames.size(), 3);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/slow"); }));
    EXPECT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Page /slow"; }));
    EXPECT_TRUE(WaitUntil([&] { return main->shownStarFrame() == 7; }));
}

TEST_F(EndToEnd, SiteAndLabelsPersistAcrossARestart) {
    {
        auto main = Start(Answer::NotShown);
        main->mnuOptionsSite[6]->trigger();
        EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kPages, "/nz/index.html"); }));
        main->ToggleTextLabels();
        main->close();
    }
    Server()->clear();
    auto main = Start(Answer::NotShown);
    EXPECT_TRUE(main->mnuOptionsSite[6]->isChecked());
    EXPECT_FALSE(main->mnuOptionsText->isChecked());
    EXPECT_TRUE(WaitUntil([&] { return Server()->seen(kPages, "/nz/index.html"); }));
    Pump(100);
    EXPECT_EQ(main->SSTab1->geometry().top(), 33);
    main->ToggleTextLabels();
    EXPECT_EQ(main->SSTab1->geometry().top(), 44);
}

TEST_F(EndToEnd, ScreenshotAfterStartUp) {
    auto main = Start(Answer::NotShown);
    main->resize(1100, 760);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(main->brwAuction, "/") && Loaded(main->brwSnipe, "news.cfm"); }));
    Pump(500);
    const QString path = QDir(ARTIFACTS_DIR).filePath("bidbench-main.png");
    QDir().mkpath(ARTIFACTS_DIR);
    const QImage shot = main->grab().toImage();
    ASSERT_TRUE(shot.save(path));
    EXPECT_GT(shot.width(), 800);
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
        if (r.host == Server()->host(kService) && r.target == "/secure/news.cfm") sentCookie = r.cookie.contains("login=yes");
    EXPECT_TRUE(sentCookie);
}
