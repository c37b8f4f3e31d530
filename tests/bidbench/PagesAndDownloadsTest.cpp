// Pages that ask for a window of their own, downloads, and the load states
// the status bar, caption and busy star show: the real engine against the
// test server, driven by mouse clicks and keys on the page.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>

#include "BidbenchTestSupport.h"
#include "MainWindowTest.h"
#include "FDownload.h"
#include "FMain.h"
#include "FPageWindow.h"
#include "MainParts.h"
#include "SettingsStore.h"
#include "WebBrowser.h"

namespace {

constexpr int kSite1 = 1;

// Blocks of 200 x 40 pixels down the page's left edge, one a row, so that
// a click at a row's middle hits the block.
QByteArray Block(const QByteArray& tag, const QByteArray& attributes, int row, const QByteArray& text) {
    return "<" + tag + " " + attributes + " style='position:absolute;left:0;top:" + QByteArray::number(row * 60) +
           "px;width:200px;height:40px;display:block'>" + text + "</" + tag + ">";
}
QPoint RowPoint(int row) { return QPoint(40, row * 60 + 20); }

class PagesAndDownloads : public MainWindowTest {
protected:
    void SetUp() override {
        BidbenchTest::SetUp();
        ASSERT_TRUE(mDownloads.isValid());
        WebBrowser::SharedProfile()->setDownloadPath(mDownloads.path());
    }

    std::unique_ptr<FMain> Start() { return StartMainWindow(); }
    static QString Address(const QString& path) { return "http://" + Server()->host(kSite1) + path; }
    // Shows the page in the auction browser and waits until it is drawn.
    static QWidget* ShowAuctionPage(FMain& main, const QString& path) {
        main.NavigateAuction(Address(path));
        Browser* browser = Ui(main).brwAuction;
        EXPECT_TRUE(WaitUntil([&] { return Loaded(browser, path); }));
        auto* view = static_cast<WebBrowser*>(browser)->view();
        EXPECT_EQ(Evaluate(view, "document.readyState", "complete"), "complete");
        Pump(300);  // the first frame
        return view->focusProxy();
    }
    static void Click(QWidget* page, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseMove(page, at);
        QTest::mouseClick(page, button, {}, at);
    }
    static FPageWindow* PageWindow(const FMain& main) { return main.findChild<FPageWindow*>(); }

    QTemporaryDir mDownloads;
};

}  // namespace

TEST_F(PagesAndDownloads, PagesAskingForAWindowOpenAsTabsThatClose) {
    Server()->pages["/opener"] =
        "<html><head><title>Opener</title></head><body>" + Block("a", "target='_blank' href='/signin'", 0, "Sign in") +
        Block("a", "href='/seller'", 1, "Seller") +
        Block("button", "onclick=\"window.open('/pay', 'pay', 'width=400,height=300')\"", 2, "Pay") +
        Block("a", "href='/about-seller'", 3, "About") + "</body></html>";
    Server()->pages["/pay"] = "<html><head><title>Payment</title></head><body>" +
                              Block("button", "onclick='window.close()'", 0, "Paid") + "</body></html>";
    auto main = Start();
    QWidget* page = ShowAuctionPage(*main, "/opener");

    // A link with a target: the page opens in a tab of the page window.
    Click(page, RowPoint(0));
    ASSERT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/signin") && PageWindow(*main); }));
    FPageWindow* pages = PageWindow(*main);
    EXPECT_TRUE(WaitUntil([&] { return pages->windowTitle() == "Tarnbid Bidbench > Page /signin"; }))
        << pages->windowTitle().toStdString();
    EXPECT_TRUE(pages->isVisible());

    // A middle click opens the link in a tab behind the one shown.
    ShowActive(main.get());
    Click(page, RowPoint(1), Qt::MiddleButton);
    ASSERT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/seller") && pages->PageCount() == 2; }));
    EXPECT_EQ(pages->tabPages->currentIndex(), 0);

    // A script's window.open: a new tab, shown; the page closes it itself.
    Click(page, RowPoint(2));
    ASSERT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/pay") && pages->PageCount() == 3; }));
    EXPECT_TRUE(WaitUntil([&] { return pages->tabPages->tabText(pages->tabPages->currentIndex()) == "Payment"; }));

    // "Open link in new tab" from the page's context menu.
    ShowActive(main.get());
    QTest::mouseMove(page, RowPoint(3));
    QTest::mouseClick(page, Qt::RightButton, {}, RowPoint(3));
    QMenu* menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 5000));
    QAction* openInTab = nullptr;
    for (QAction* action : menu->actions())
        if (action->text().contains("new tab", Qt::CaseInsensitive)) openInTab = action;
    ASSERT_TRUE(openInTab) << "no \"Open link in new tab\" in the page's menu";
    openInTab->trigger();
    menu->close();
    ASSERT_TRUE(WaitUntil([&] { return Server()->seen(kSite1, "/about-seller") && pages->PageCount() == 4; }));
    WaitUntil([&] { return !pages->PageAt(pages->PageCount() - 1)->busy(); });
    SaveScreenshot(pages, "bidbench-page-window-tabs");

    // window.close() from the payment page closes its tab.
    ShowActive(pages);
    pages->tabPages->setCurrentIndex(2);
    auto* payView = static_cast<WebBrowser*>(pages->PageAt(2))->view();
    ASSERT_EQ(Evaluate(payView, "document.title", "Payment"), "Payment");
    Pump(300);
    Click(payView->focusProxy(), RowPoint(0));
    ASSERT_TRUE(WaitUntil([&] { return pages->PageCount() == 3; }));

    // Ctrl+W closes the tab shown, the tab's close button another; the last
    // one closes the window.
    ShowActive(pages);
    QTest::keyClick(pages, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return pages->PageCount() == 2; }));
    auto* closeButton = qobject_cast<QAbstractButton*>(pages->tabPages->tabBar()->tabButton(0, QTabBar::RightSide));
    ASSERT_TRUE(closeButton);
    closeButton->click();
    ASSERT_TRUE(WaitUntil([&] { return pages->PageCount() == 1; }));
    QTest::keyClick(pages, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(WaitUntil([&] { return !PageWindow(*main); }));
    // The main window's own pages were never touched.
    EXPECT_TRUE(Loaded(Ui(*main).brwAuction, "/opener"));
}

TEST_F(PagesAndDownloads, ADownloadAsksWhereAndLandsOnDisk) {
    const QByteArray zip = QByteArray("PK\x03\x04", 4) + QByteArray(200000, 'z');
    Server()->replies["/invoice.zip"] = {"200 OK", "application/zip",
                                         "Content-Disposition: attachment; filename=\"invoice-4711.zip\"\r\n", zip};
    Server()->pages["/account"] = "<html><head><title>Account</title></head><body>" +
                                  Block("a", "href='/invoice.zip'", 0, "Invoice") + "</body></html>";
    auto main = Start();
    QWidget* page = ShowAuctionPage(*main, "/account");
    QStringList statusTexts;
    QObject::connect(Ui(*main).brwAuction, &Browser::statusTextChanged,
                     [&](const QString& sText) { statusTexts << sText; });

    bool asked = false;
    QString proposed;
    WhenModal<FDownload>([&](FDownload* dialog) {
        asked = true;
        proposed = dialog->txtPath->text();
        SaveScreenshot(dialog, "bidbench-download-ask");
        dialog->cmdSave->click();
    });
    Click(page, RowPoint(0));
    ASSERT_TRUE(WaitUntil([&] { return asked; }));
    EXPECT_EQ(proposed, QDir(mDownloads.path()).filePath("invoice-4711.zip"));

    const QString saved = QDir(mDownloads.path()).filePath("invoice-4711.zip");
    FDownload* progress = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        progress = main->findChild<FDownload*>();
        return progress && progress->cmdOpen->isVisible();
    }));
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), zip);
    EXPECT_EQ(progress->lblState->text(), "Saved to " + QDir::toNativeSeparators(saved) + ".");
    EXPECT_EQ(progress->barProgress->value(), progress->barProgress->maximum());
    EXPECT_TRUE(progress->cmdOpenFolder->isVisible());
    SaveScreenshot(progress, "bidbench-download-done");
    // The page the link was on stays, and the status says what happened.
    EXPECT_TRUE(Loaded(Ui(*main).brwAuction, "/account"));
    EXPECT_TRUE(statusTexts.contains("Downloading invoice-4711.zip...")) << statusTexts.join(" | ").toStdString();
    EXPECT_FALSE(statusTexts.contains("Action canceled")) << statusTexts.join(" | ").toStdString();
    progress->cmdClose->click();
    EXPECT_TRUE(WaitUntil([&] { return !main->findChild<FDownload*>(); }));

    // A name typed in that is taken is replaced only when the user says so.
    Server()->replies["/invoice.zip"].body = "a newer invoice";
    auto replaceAsked = std::make_shared<QString>();
    WhenModal<FDownload>([saved, replaceAsked](FDownload* dialog) {
        dialog->txtPath->setText(saved);
        WhenModal<QMessageBox>([replaceAsked](QMessageBox* box) {
            *replaceAsked = box->text();
            box->button(QMessageBox::No)->click();
        });
        dialog->cmdSave->click();
        dialog->cmdClose->click();
    });
    Click(page, RowPoint(0));
    ASSERT_TRUE(WaitUntil([&] { return !replaceAsked->isEmpty() && !main->findChild<FDownload*>(); }));
    EXPECT_EQ(*replaceAsked, QDir::toNativeSeparators(saved) + " already exists.\r\nDo you want to replace it?");
    Pump(500);
    QFile kept(saved);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), zip);
    Server()->replies["/invoice.zip"].body = zip;

    // Cancelling the question saves nothing.
    Server()->replies["/invoice.zip"].headers = "Content-Disposition: attachment; filename=\"second.zip\"\r\n";
    WhenModal<FDownload>([](FDownload* dialog) { dialog->cmdClose->click(); });
    Click(page, RowPoint(0));
    ASSERT_TRUE(
        WaitUntil([&] { return statusTexts.contains("Downloading second.zip...") && !main->findChild<FDownload*>(); }));
    Pump(500);
    EXPECT_FALSE(QFile::exists(QDir(mDownloads.path()).filePath("second.zip")));

    // "Save link" of the page's context menu asks too.
    Server()->replies["/invoice.zip"].headers = "Content-Disposition: attachment; filename=\"saved-link.zip\"\r\n";
    WhenModal<FDownload>([](FDownload* dialog) { dialog->cmdSave->click(); });
    QTest::mouseMove(page, RowPoint(0));
    QTest::mouseClick(page, Qt::RightButton, {}, RowPoint(0));
    QMenu* menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 5000));
    QAction* saveLink = nullptr;
    for (QAction* action : menu->actions())
        if (action->text().contains("Save link", Qt::CaseInsensitive)) saveLink = action;
    ASSERT_TRUE(saveLink) << "no \"Save link\" in the page's menu";
    saveLink->trigger();
    menu->close();
    EXPECT_TRUE(WaitUntil([&] {
        QFile link(QDir(mDownloads.path()).filePath("saved-link.zip"));
        return link.open(QIODevice::ReadOnly) && link.readAll() == zip;
    }));
}

TEST_F(PagesAndDownloads, ADownloadOpeningAWindowLeavesNoEmptyTab) {
    Server()->replies["/statement.zip"] = {"200 OK", "application/zip",
                                           "Content-Disposition: attachment; filename=\"statement.zip\"\r\n", "PK"};
    Server()->pages["/account"] = "<html><head><title>Account</title></head><body>" +
                                  Block("a", "target='_blank' href='/statement.zip'", 0, "Statement") +
                                  "</body></html>";
    auto main = Start();
    QWidget* page = ShowAuctionPage(*main, "/account");
    bool windowOpened = false;
    WhenModal<FDownload>([&](FDownload* dialog) {
        windowOpened = PageWindow(*main) && PageWindow(*main)->PageCount() == 1;
        dialog->cmdSave->click();
    });
    Click(page, RowPoint(0));
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(QDir(mDownloads.path()).filePath("statement.zip")); }));
    EXPECT_TRUE(windowOpened);
    EXPECT_TRUE(WaitUntil([&] { return !PageWindow(*main) || PageWindow(*main)->PageCount() == 0; }));
    Pump(300);
    EXPECT_FALSE(PageWindow(*main));
}

TEST_F(PagesAndDownloads, PdfsAreShownInTheBrowser) {
    QFile pdf(QStringLiteral(TEST_DATA_DIR) + "/invoice.pdf");
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    Server()->replies["/invoice.pdf"] = {"200 OK", "application/pdf", "", pdf.readAll()};
    auto main = Start();
    bool asked = false;
    WhenModal<FDownload>([&](FDownload* dialog) {
        asked = true;
        dialog->cmdClose->click();
    });
    main->NavigateAuction(Address("/invoice.pdf"));
    ASSERT_TRUE(WaitUntil([&] { return Loaded(Ui(*main).brwAuction, "/invoice.pdf"); }));
    Pump(1000);
    EXPECT_FALSE(asked);
    EXPECT_EQ(Ui(*main).sbPanel2->text(), "Done");
    SaveScreenshot(main.get(), "bidbench-pdf-shown");
}

TEST_F(PagesAndDownloads, LoadStatesEndAsDesktopBrowsersShowThem) {
    Server()->pages["/long"] = "<html><head><title>Long</title></head><body>" +
                               Block("a", "href='#bottom'", 0, "Down") +
                               "<div style='height:3000px'></div><h2 id='bottom'>Bottom</h2></body></html>";
    Server()->replies["/missing"] = {"404 Not Found", "text/html", "",
                                     "<html><head><title>Not here</title></head><body>gone</body></html>"};
    auto main = Start();
    const MainParts ui(*main);
    QWidget* page = ShowAuctionPage(*main, "/long");
    auto idle = [&] {
        return !ui.brwAuction->busy() && main->shownStarFrame() == 7 && ui.sbPanel2->text() == "Done" &&
               main->windowTitle() == "Tarnbid Bidbench > Long";
    };
    ASSERT_TRUE(WaitUntil(idle));

    // A jump within the page, typed into the address box or clicked.
    ui.cboAddress->lineEdit()->setText(Address("/long#bottom"));
    QTest::keyClick(ui.cboAddress->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return ui.cboAddress->itemText(0) == Address("/long#bottom"); }));
    Pump(500);
    EXPECT_TRUE(WaitUntil(idle, 2000)) << ui.sbPanel2->text().toStdString() << " " << main->windowTitle().toStdString();
    EXPECT_EQ(Evaluate(static_cast<WebBrowser*>(ui.brwAuction)->view(), "window.scrollY > 1000", "true"), "true");
    main->NavigateAuction(Address("/long"));
    ASSERT_TRUE(WaitUntil([&] { return idle() && ui.brwAuction->locationAddress() == Address("/long"); }));
    Pump(300);
    Click(page, RowPoint(0));
    EXPECT_TRUE(WaitUntil([&] { return ui.brwAuction->locationAddress() == Address("/long#bottom"); }));
    Pump(500);
    EXPECT_TRUE(WaitUntil(idle, 2000)) << ui.sbPanel2->text().toStdString() << " " << main->windowTitle().toStdString();

    // While a page loads, the status names that page, not the one left.
    main->NavigateAuction(Address("/slow-next"));
    EXPECT_TRUE(WaitUntil([&] { return ui.sbPanel2->text() == "Opening page " + Address("/slow-next") + "..."; }, 2000))
        << ui.sbPanel2->text().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return Loaded(ui.brwAuction, "/slow-next"); }));

    // A page the site does not have: said so, not "Action canceled".
    main->NavigateAuction(Address("/missing"));
    EXPECT_TRUE(WaitUntil([&] { return Loaded(ui.brwAuction, "/missing"); }));
    EXPECT_TRUE(WaitUntil([&] {
        return ui.sbPanel2->text() == "The site answered error 404 for " + Address("/missing") + ".";
    })) << ui.sbPanel2->text().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return main->windowTitle() == "Tarnbid Bidbench > Not here"; }));
    EXPECT_TRUE(WaitUntil([&] { return main->shownStarFrame() == 7; }, 1000));
}
