// The main window: its construction, start-up and shut-down.
#include "FMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "Addresses.h"
#include "FMainShared.h"
#include "FPageWindow.h"
#include "FStart.h"
#include "Help.h"
#include "LinkLabel.h"
#include "PendingSaves.h"
#include "ShellUIHelper.h"
#include "StarImages.h"
#include "WebBrowser.h"

using namespace FMainShared;

// ---- construction -------------------------------------------------------------------

FMain::FMain(BrowserFactory factory, QWidget* parent) : QMainWindow(parent), mFactory(std::move(factory)) {
    if (!mFactory) mFactory = [](QWidget* p) -> Browser* { return new WebBrowser(WebBrowser::SharedProfile(), p); };
    setWindowTitle(kTitle);
    Help::BindKey(this, Help::kMainWindow);
    BuildControls();
    BuildMenus();
    BuildFindBar();
    cboAddress->installEventFilter(this);
    NameControls();
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(FirstSize(screen ? screen->availableSize() : QSize()));
}

void FMain::NameControls() {
    const std::pair<QObject*, const char*> kControls[] = {{brwSnipe, "brwSnipe"},
                                                          {brwAuction, "brwAuction"},
                                                          {SSTab1, "SSTab1"},
                                                          {tbrNavigate, "tbrNavigate"},
                                                          {tbrBack, "tbrBack"},
                                                          {tbrForward, "tbrForward"},
                                                          {cboAddress, "cboAddress"},
                                                          {tbrGo, "tbrGo"},
                                                          {tbrSnipe, "tbrSnipe"},
                                                          {picSnipe, "picSnipe"},
                                                          {lblTarnscope, "lblTarnscope"},
                                                          {sbPanel1, "sbPanel1"},
                                                          {sbPanel2, "sbPanel2"},
                                                          {sbPanel3, "sbPanel3"},
                                                          {timTimer, "timTimer"},
                                                          {timStar, "timStar"},
                                                          {timDate, "timDate"},
                                                          {fraFind, "fraFind"},
                                                          {txtFind, "txtFind"},
                                                          {lblFindResult, "lblFindResult"}};
    for (const auto& [control, name] : kControls) control->setObjectName(name);
}

QSize FMain::FirstSize(const QSize& available) {
    // Room for the window's frame and title bar, which are not known yet.
    const QSize frame(16, 48);
    const QSize wanted(1000, 720);
    return available.isValid() ? wanted.boundedTo(available - frame).expandedTo(QSize(320, 240)) : wanted;
}

// ---- start-up and shut-down ------------------------------------------------------------

void FMain::Load() {
    const QString sSite = SettingsStore::Read("Site");
    bool isNumber = false;
    const int site = sSite.toInt(&isNumber);
    SelectSite(isNumber && site >= 1 && site <= Addresses::kSiteCount ? site : 1);

    bool hasAccount = true;
    if (SettingsStore::Read("StartScreen") != "N") {
        FStart start(this);
        start.exec();
        hasAccount = start.hasAccount();
    }  // unloading the start screen may store "StartScreen"

    SSTab1->setCurrentIndex(0);
    TabSwitched(0);  // runs even when tab 0 was already shown
    tbrGo->hide();
    tbrBack->setEnabled(false);
    tbrForward->setEnabled(false);
    mnuButtonBarStatusViewLabels->setChecked(true);
    ShowStar(StarImages::kIdleFrame, true);

    RestoreWindowState();
    v_sStartingAddress = StartingAddress();
    if (!v_sStartingAddress.isEmpty()) {
        v_bFillingAddressList = true;
        for (int i = cboAddress->count() - 1; i >= 0; --i)
            if (Addresses::SameAddress(cboAddress->itemText(i), v_sStartingAddress)) cboAddress->removeItem(i);
        cboAddress->insertItem(0, v_sStartingAddress);
        cboAddress->setCurrentIndex(0);
        cboAddress->setEditText(v_sStartingAddress);
        v_bFillingAddressList = false;
        timTimer->start();
        brwAuction->navigate(v_sStartingAddress);
        brwSnipe->navigate(hasAccount ? Addresses::ServiceNewsAddress() : Addresses::SignupAddress());
    }
    if (SettingsStore::Read("TextLabels") == "N") ToggleTextLabels();
    Layout();
    StartVersionCheck();
}

void FMain::closeEvent(QCloseEvent* event) {
    Unload();
    QMainWindow::closeEvent(event);
}

void FMain::Unload() {
    if (mUnloaded) return;
    mUnloaded = true;
    // Other windows first, the most recently made first.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (*it != this && (*it)->isVisible()) (*it)->close();
    SaveSite();
    SaveTextLabels();
    SaveGeometry();
    PendingSaves::AskAtExit(this);  // lists and settings that could not be written
    timTimer->stop();
    timStar->stop();
}
