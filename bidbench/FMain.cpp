#include "FFavorites.h"
#include "FMain.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QScreen>
#include <QGuiApplication>
#include <QDate>
#include <QDateTime>
#include <QDesktopServices>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <cstdlib>

#include "Addresses.h"
#include "FAbout.h"
#include "FPageWindow.h"
#include "FStart.h"
#include "Help.h"
#include "LinkLabel.h"
#include "PendingSaves.h"
#include "SettingsStore.h"
#include "ShellUIHelper.h"
#include "StarImages.h"
#include "WebBrowser.h"

namespace {

const QString kTitle = SettingsStore::kProgramTitle;
const QString kWorkingPanel = QStringLiteral("Working . . .");
const char* const kHelpPageProperty = "helpPage";
constexpr int kHistoryLength = 25;  // addresses kept in the address box

// Errors raised by a browser inside an event handler are ignored; the
// handler carries on with its next step.
template <class Step>
void IgnoringErrors(Step step) {
    try {
        step();
    } catch (...) {
    }
}

struct ButtonDesign {
    const char* label;
    const char* tooltip;
    QStyle::StandardPixmap icon;
};

const ButtonDesign kNavigateButtons[] = {
    {"Back", "Go back to the page you viewed before this one.", QStyle::SP_ArrowBack},
    {"Forward", "Go forward to the page you viewed after this one.", QStyle::SP_ArrowForward},
    {"Stop", "Stop the current browser from navigating.", QStyle::SP_BrowserStop},
    {"Refresh", "Refresh the page in the current browser.", QStyle::SP_BrowserReload},
    {"Home", "Go to the home page for the current browser.", QStyle::SP_DirHomeIcon},
    {"Favorites", "View your favorites lists.", QStyle::SP_DirOpenIcon},
    {"", "Transform Bidbench into a small floating toolbar.", QStyle::SP_TitleBarNormalButton},
};

void OpenInShell(const QString& sAddress) { QDesktopServices::openUrl(QUrl(sAddress)); }

}  // namespace

// ---- layout ---------------------------------------------------------------------

int MainLayout::Pixels(int twips) { return (twips + 7) / 15; }

MainLayout MainLayout::Compute(int innerWidth, int innerHeight, bool labelsShown) {
    // The table is in twips; the window measures in pixels.
    const int w = innerWidth * 15, h = innerHeight * 15;
    MainLayout l{};
    const int tabWidthTwips = w - 50;
    const int tabHeightTwips = std::abs(h - (labelsShown ? 950 : 780));
    l.tabTop = Pixels(labelsShown ? 660 : 500);
    l.tabWidth = Pixels(tabWidthTwips);
    l.tabHeight = Pixels(tabHeightTwips);
    l.browserWidth = Pixels(tabWidthTwips - 30);
    l.browserHeight = Pixels(std::abs(tabHeightTwips - 830));
    l.goLeft = Pixels(std::abs(w - 900));
    l.addressWidth = Pixels(std::abs(w - 2150));
    l.starLeft = Pixels(std::abs(w - 550));
    l.linkLeft = Pixels(std::abs(tabWidthTwips - 1200));
    return l;
}

// ---- construction -------------------------------------------------------------------

FMain::FMain(BrowserFactory factory, QWidget* parent) : QMainWindow(parent), mFactory(std::move(factory)) {
    if (!mFactory)
        mFactory = [](QWidget* p) -> Browser* { return new WebBrowser(WebBrowser::SharedProfile(), p); };
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
    const std::pair<QObject*, const char*> kControls[] = {
        {brwSnipe, "brwSnipe"},     {brwAuction, "brwAuction"},     {SSTab1, "SSTab1"},
        {tbrNavigate, "tbrNavigate"}, {tbrBack, "tbrBack"},           {tbrForward, "tbrForward"},
        {cboAddress, "cboAddress"}, {tbrGo, "tbrGo"},               {tbrSnipe, "tbrSnipe"},
        {picSnipe, "picSnipe"},     {lblTarnscope, "lblTarnscope"}, {sbPanel1, "sbPanel1"},
        {sbPanel2, "sbPanel2"},     {sbPanel3, "sbPanel3"},         {timTimer, "timTimer"},
        {timStar, "timStar"},       {timDate, "timDate"},           {fraFind, "fraFind"},
        {txtFind, "txtFind"},       {lblFindResult, "lblFindResult"}};
    for (const auto& [control, name] : kControls) control->setObjectName(name);
}

QSize FMain::FirstSize(const QSize& available) {
    // Room for the window's frame and title bar, which are not known yet.
    const QSize frame(16, 48);
    const QSize wanted(1000, 720);
    return available.isValid() ? wanted.boundedTo(available - frame).expandedTo(QSize(320, 240)) : wanted;
}

void FMain::BuildControls() {
    mCentral = new QWidget(this);
    setCentralWidget(mCentral);
    mCentral->installEventFilter(this);

    tbrNavigate = new QToolBar(mCentral);
    tbrNavigate->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tbrNavigate->setContextMenuPolicy(Qt::CustomContextMenu);
    QList<QAction*> buttons;
    for (const ButtonDesign& design : kNavigateButtons) {
        QAction* button = tbrNavigate->addAction(style()->standardIcon(design.icon), design.label);
        button->setToolTip(design.tooltip);
        buttons.append(button);
    }
    mLabelledButtons = buttons.mid(0, 6);
    tbrBack = buttons[0];
    tbrForward = buttons[1];
    connect(buttons[0], &QAction::triggered, this, [this] { GoBack(true); });
    connect(buttons[1], &QAction::triggered, this, [this] { GoForward(true); });
    connect(buttons[2], &QAction::triggered, this, &FMain::StopBrowser);
    connect(buttons[3], &QAction::triggered, this, &FMain::RefreshBrowser);
    connect(buttons[4], &QAction::triggered, this, &FMain::GoHome);
    connect(buttons[5], &QAction::triggered, this, &FMain::ShowBrowserFavorites);
    connect(buttons[6], &QAction::triggered, this, &FMain::ShowFloatingToolbar);
    // Button 6's drop-down acts by key.
    mnuFavoritesButton = new QMenu(this);
    mnuFavoritesButton->setObjectName("mnuFavoritesButton");
    const struct { const char* text; const char* key; } kFavoritesEntries[] = {
        {"Browser Favorites", "Favorites"}, {"Favorite Sellers", "Sellers"}, {"Favorite Bidders", "Bidders"}};
    for (const auto& entry : kFavoritesEntries) mnuFavoritesButton->addAction(entry.text)->setData(QString(entry.key));
    connect(mnuFavoritesButton, &QMenu::triggered, this, [this](QAction* entry) {
        const QString key = entry->data().toString();
        if (key == "Favorites") ShowBrowserFavorites();
        else ShowFavoritesList(key == "Sellers");
    });
    buttons[5]->setMenu(mnuFavoritesButton);
    if (auto* button = qobject_cast<QToolButton*>(tbrNavigate->widgetForAction(buttons[5])))
        button->setPopupMode(QToolButton::MenuButtonPopup);

    picSnipe = new QLabel(mCentral);
    picSnipe->setAlignment(Qt::AlignCenter);

    SSTab1 = new QTabWidget(mCentral);
    mSnipePage = new QWidget;
    mAuctionPage = new QWidget;
    SSTab1->addTab(mSnipePage, "Tarn&bid ");
    SSTab1->addTab(mAuctionPage, "&Auction Browser ");
    SSTab1->tabBar()->installEventFilter(this);

    brwSnipe = mFactory(mSnipePage);
    brwSnipe->setParent(this);
    brwAuction = mFactory(mAuctionPage);
    brwAuction->setParent(this);
    lblTarnscope = new LinkLabel("Tarnscope", Addresses::MakerLinkAddress(), mSnipePage);
    lblTarnscope->setToolTip("Visit Tarnscope for other great online auction utilities.");

    tbrSnipe = new QToolButton(mAuctionPage);
    tbrSnipe->setText("Snipe!");
    tbrSnipe->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tbrSnipe->setIcon(StarImages::Frame(1, false));
    QFont bold = tbrSnipe->font();
    bold.setBold(true);
    tbrSnipe->setFont(bold);
    cboAddress = new QComboBox(mAuctionPage);
    cboAddress->setEditable(true);
    cboAddress->setInsertPolicy(QComboBox::NoInsert);
    cboAddress->lineEdit()->setMaxLength(std::numeric_limits<int>::max());  // addresses of any length
    tbrGo = new QToolButton(mAuctionPage);
    tbrGo->setText("Go!  ");
    tbrGo->setFont(bold);

    sbPanel1 = new QLabel("Tarnbid");
    sbPanel1->setMinimumWidth(130);
    sbPanel2 = new QLabel;
    sbPanel3 = new QLabel;
    statusBar()->addWidget(sbPanel1);
    statusBar()->addWidget(sbPanel2, 1);
    statusBar()->addPermanentWidget(sbPanel3);
    // The date panel turns over at midnight, however long the program runs.
    timDate = new QTimer(this);
    timDate->setSingleShot(true);
    timDate->setTimerType(Qt::PreciseTimer);  // a coarse one may fire an hour late
    connect(timDate, &QTimer::timeout, this, &FMain::ShowDate);
    ShowDate();

    mGeometrySaver = new QTimer(this);
    mGeometrySaver->setSingleShot(true);
    mGeometrySaver->setInterval(500);  // once a move or resize has settled
    connect(mGeometrySaver, &QTimer::timeout, this, &FMain::SaveGeometry);

    timTimer = new QTimer(this);
    timTimer->setInterval(10);
    timStar = new QTimer(this);
    timStar->setInterval(175);

    ConnectBrowser(brwSnipe, false);
    ConnectBrowser(brwAuction, true);
    connect(SSTab1, &QTabWidget::currentChanged, this, &FMain::TabSwitched);
    connect(tbrSnipe, &QToolButton::clicked, this, &FMain::Snipe);
    connect(tbrGo, &QToolButton::clicked, this, [this] {
        if (!cboAddress->currentText().isEmpty()) AddressChosen();
    });
    connect(cboAddress, &QComboBox::activated, this, [this] {
        if (!v_bFillingAddressList) AddressChosen();
    });
    connect(cboAddress->lineEdit(), &QLineEdit::returnPressed, this, [this] { IgnoringErrors([this] { AddressChosen(); }); });
    connect(cboAddress, &QComboBox::editTextChanged, this, [this] { RefreshControls(); });
    connect(timTimer, &QTimer::timeout, this, &FMain::BusyCaptionTick);
    connect(timStar, &QTimer::timeout, this, &FMain::StarTick);
}

void FMain::BuildMenus() {
    // The menu bar, menu by menu; each menu has its help page, which F1
    // opens while the menu is open (F1 elsewhere opens the window's page).
    // Keys are those desktop browsers use, and the menus show them.
    struct MenuDesign {
        const char* title;
        const char* name;
        const QString& help;
    };
    static const MenuDesign kMenus[] = {
        {"&File", "mnuFile", Help::kMenuFile},           {"&Edit", "mnuEdit", Help::kMenuEdit},
        {"&Navigate", "mnumnuNavigate", Help::kMenuNavigate}, {"Fa&vorites", "mnumnuFavorites", Help::kMenuFavorites},
        {"&Tools", "mnuTools", Help::kMenuTools},         {"&Help", "mnuHelp", Help::kMenuHelp},
    };
    enum { File, Edit, Navigate, Favorites, Tools, HelpMenu };
    // An entry without text is a separator; `keep` names the member that
    // holds an entry the window enables and disables.
    struct EntryDesign {
        int menu;
        const char* text;
        const char* name;
        const char* keys;
        void (*run)(FMain&);
        QAction* FMain::*keep;
    };
    static const EntryDesign kEntries[] = {
        {File, "&Print...", "mnuFilePrint", "Ctrl+P", [](FMain& w) { w.PrintPage(); }, nullptr},
        {File, nullptr, "mnuFileBar0", nullptr, nullptr, nullptr},
        {File, "E&xit", "mnuFileExit", "Ctrl+Q", [](FMain& w) { w.close(); }, nullptr},
        {Edit, "Cu&t", "mnuEditCut", "Ctrl+X", [](FMain& w) { w.EditCommand(EditAction::Cut); }, nullptr},
        {Edit, "&Copy", "mnuEditCopy", "Ctrl+C", [](FMain& w) { w.EditCommand(EditAction::Copy); }, nullptr},
        {Edit, "&Paste", "mnuEditPaste", "Ctrl+V", [](FMain& w) { w.EditCommand(EditAction::Paste); }, nullptr},
        {Edit, nullptr, "mnuEditSep", nullptr, nullptr, nullptr},
        {Edit, "&Find (on current web page)", "mnuEditFind", "Ctrl+F", [](FMain& w) { w.FindOnPage(); }, nullptr},
        {Navigate, "&Back", "mnumnuNavigatemnuNavigateBack", "Alt+Left", [](FMain& w) { w.GoBack(false); }, nullptr},
        {Navigate, "&Forward", "mnumnuNavigatemnuNavigateForward", "Alt+Right", [](FMain& w) { w.GoForward(false); },
         nullptr},
        {Navigate, "&Stop", "mnuNavigateStop", "Esc", [](FMain& w) { w.StopBrowser(); }, nullptr},
        {Navigate, "&Home", "mnumnuNavigatemnuNavigateHome", "Alt+Home", [](FMain& w) { w.GoHome(); }, nullptr},
        {Navigate, "&Refresh", "mnumnuNavigatemnuNavigateRefresh", "F5", [](FMain& w) { w.RefreshBrowser(); }, nullptr},
        {Navigate, "&Address Box", "mnuNavigateAddress", "Ctrl+L", [](FMain& w) { w.FocusAddressBox(); }, nullptr},
        {Favorites, "&View Browser Favorites...", "mnuFavoritesView", nullptr,
         [](FMain& w) { w.ShowBrowserFavorites(); }, nullptr},
        {Favorites, "&Add to Browser Favorites...", "mnuFavoritesAdd", "Ctrl+D",
         [](FMain& w) { w.AddBrowserFavorite(); }, &FMain::mnuFavoritesAdd},
        {Favorites, "&Import Netscape Favorites...", "mnuFavoritesImport", nullptr,
         [](FMain& w) { w.ImportFavorites(); }, nullptr},
        {Favorites, nullptr, "mnuFavoritesSeparate", nullptr, nullptr, nullptr},
        {Favorites, "Favorite eBay &Sellers...", "mnuFavoritesSellers", nullptr,
         [](FMain& w) { w.ShowFavoritesList(true); }, nullptr},
        {Favorites, "Favorite eBay &Bidders...", "mnuFavoritesBidders", nullptr,
         [](FMain& w) { w.ShowFavoritesList(false); }, nullptr},
        {Tools, "Snipe &Current Auction", "mnuNavigateSnipe", "Ctrl+Z", [](FMain& w) { w.Snipe(); },
         &FMain::mnuNavigateSnipe},
        {Tools, "&Floating Toolbar", "mnuToolsToolbar", "Ctrl+T", [](FMain& w) { w.ShowFloatingToolbar(); }, nullptr},
        {Tools, nullptr, "sep", nullptr, nullptr, nullptr},
        {HelpMenu, "&Contents", "mnuHelpContents", nullptr, [](FMain& w) { Help::Open(Help::kContents, &w); }, nullptr},
        {HelpMenu, "&Tarnscope Home Page", "mnuHelpmnuHelpTarnscope", nullptr,
         [](FMain&) { OpenInShell(Addresses::MakerLinkAddress()); }, nullptr},
        {HelpMenu, "Tarnbid &Online", "mnuHelpmnuHelpTarnbid", nullptr,
         [](FMain&) { OpenInShell(Addresses::MakerTarnbidAddress()); }, nullptr},
        {HelpMenu, "&Send Feedback", "mnuHelpmnuHelpFeedback", nullptr,
         [](FMain&) { OpenInShell(Addresses::FeedbackMailAddress()); }, nullptr},
        {HelpMenu, nullptr, "mnuHelpBar0", nullptr, nullptr, nullptr},
        {HelpMenu, "&About ", "mnuHelpAbout", nullptr, [](FMain& w) { FAbout(&w).exec(); }, nullptr},
    };
    QMenu* menus[std::size(kMenus)];
    for (size_t i = 0; i < std::size(kMenus); ++i) {
        menus[i] = menuBar()->addMenu(kMenus[i].title);
        menus[i]->setObjectName(kMenus[i].name);
        menus[i]->installEventFilter(this);
        menus[i]->setProperty(kHelpPageProperty, kMenus[i].help);
    }
    for (const EntryDesign& entry : kEntries) {
        QMenu* menu = menus[entry.menu];
        if (!entry.text) {
            menu->addSeparator()->setObjectName(entry.name);
            continue;
        }
        QAction* action = menu->addAction(entry.text);
        action->setObjectName(entry.name);
        if (entry.keys) action->setShortcut(QKeySequence(entry.keys));
        connect(action, &QAction::triggered, this, [this, run = entry.run] { run(*this); });
        if (entry.keep) this->*entry.keep = action;
    }
    BuildOptionsMenu(menus[Tools]);
    BuildWindowKeys();

    // The hidden menu whose single entry is the navigation toolbar's pop-up.
    mnuButtonBarStatus = new QMenu("ButtonBarStatus", this);
    mnuButtonBarStatus->setObjectName("mnuButtonBarStatus");
    mnuButtonBarStatusViewLabels = mnuButtonBarStatus->addAction("View Text Labels");
    mnuButtonBarStatusViewLabels->setObjectName("mnuButtonBarStatusViewLabels");
    mnuButtonBarStatusViewLabels->setCheckable(true);
    mnuButtonBarStatusViewLabels->setChecked(true);
    connect(mnuButtonBarStatusViewLabels, &QAction::triggered, this, &FMain::ToggleTextLabels);
    connect(tbrNavigate, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { mnuButtonBarStatus->popup(tbrNavigate->mapToGlobal(at)); });
}

// Keys of desktop browsers that no menu entry shows: zoom, and finding
// again. They act on the browser of the shown tab.
void FMain::BuildWindowKeys() {
    const struct {
        const char* name;
        QList<QKeySequence> keys;
        std::function<void()> run;
    } kKeys[] = {
        {"actZoomIn", {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
         [this] { CurrentBrowser()->zoom(+1); }},
        {"actZoomOut", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { CurrentBrowser()->zoom(-1); }},
        {"actZoomReset", {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { CurrentBrowser()->zoom(0); }},
        {"actFindNext", {QKeySequence(Qt::Key_F3)}, [this] { FindAgain(false); }},
        {"actFindPrevious", {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] { FindAgain(true); }},
    };
    for (const auto& key : kKeys) {
        auto* action = new QAction(this);
        action->setObjectName(key.name);
        action->setShortcuts(key.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, key.run);
        addAction(action);
    }
}

// Tools > Options: the start-up site, one of seven, and the button text.
void FMain::BuildOptionsMenu(QMenu* mnuTools) {
    QMenu* mnuOptions = mnuTools->addMenu("&Options");
    mnuOptions->setObjectName("mnuOptions");
    QMenu* mnuSites = mnuOptions->addMenu("&Start-up Auction Site");
    mnuSites->setObjectName("mnuOPtionsAuctionSite");
    mSites = new QActionGroup(this);
    mSites->setExclusive(true);
    mnuOptionsSite[0] = nullptr;
    for (int index = 1; index <= Addresses::kSiteCount; ++index) {
        QAction* site = mnuSites->addAction(Addresses::SiteCaption(index));
        site->setObjectName("mnuOptionsSite");
        site->setCheckable(true);
        site->setData(index);
        mSites->addAction(site);
        mnuOptionsSite[index] = site;
        connect(site, &QAction::triggered, this, [this, index] { SelectSite(index); });
    }
    mnuOptionsSite[1]->setChecked(true);
    mnuOptions->addSeparator()->setObjectName("wowie");
    // T, not S: "&Start-up Auction Site" above has S.
    mnuOptionsText = mnuOptions->addAction("Show Button &Text");
    mnuOptionsText->setObjectName("mnuOptionsText");
    mnuOptionsText->setCheckable(true);
    mnuOptionsText->setChecked(true);
    connect(mnuOptionsText, &QAction::triggered, this, &FMain::ToggleTextLabels);
}

void FMain::ConnectBrowser(Browser* browser, bool isAuction) {
    const int tab = isAuction ? 1 : 0;
    connect(browser, &Browser::statusTextChanged, this, [this, tab](const QString& sText) {
        if (SSTab1->currentIndex() == tab) sbPanel2->setText(sText);
    });
    if (isAuction) connect(browser, &Browser::progressChanged, this, [this] { RefreshControls(); });
    connect(browser, &Browser::commandStateChanged, this, [this, isAuction](int command, bool enabled) {
        bool& forward = isAuction ? v_bAuctionCanGoForward : v_bSnipeCanGoForward;
        bool& back = isAuction ? v_bAuctionCanGoBack : v_bSnipeCanGoBack;
        if (command == Browser::kCommandForward) forward = enabled;
        else if (command == Browser::kCommandBack) back = enabled;
        RefreshControls();
    });
    connect(browser, &Browser::downloadComplete, this, [this, browser, isAuction] {
        // The caption follows the browser of the shown tab.
        if (v_bSnipeTabActive != isAuction) IgnoringErrors([&] { SetCaption(browser->locationName()); });
        IgnoringErrors([this] { RefreshControls(); });
    });
    if (isAuction) {
        connect(browser, &Browser::navigateComplete, this, [this] { AuctionNavigateComplete(); });
    } else {
        connect(browser, &Browser::navigateComplete, this, [this] { IgnoringErrors([this] { RefreshControls(); }); });
        connect(browser, &Browser::focusReceived, this, [this] { lblTarnscope->resetLook(); });
    }
    connect(browser, &Browser::newWindowOpened, this, &FMain::ShowInPageWindow);
}

// Pages of either browser that ask for a window of their own share one
// window of tabs beside the main window.
void FMain::ShowInPageWindow(Browser* browser, bool inBackground) {
    if (!mPageWindow) mPageWindow = new FPageWindow(this);
    mPageWindow->AddPage(browser, inBackground);
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

// ---- layout ---------------------------------------------------------------------------------

void FMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Layout();
    if (isVisible()) mGeometrySaver->start();
}

void FMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (isVisible()) mGeometrySaver->start();
}

// The window's size and place, and the address history, are kept from one
// run to the next; written as they change, so that a crash keeps them.
void FMain::RestoreWindowState() {
    const QByteArray geometry = QByteArray::fromBase64(SettingsStore::Read("WindowGeometry").toLatin1());
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    v_bFillingAddressList = true;
    for (const QString& sAddress : SettingsStore::ReadList("AddressHistory").mid(0, kHistoryLength))
        if (!sAddress.isEmpty()) cboAddress->addItem(sAddress);
    v_bFillingAddressList = false;
}

void FMain::SaveGeometry() {
    SettingsStore::Write("WindowGeometry", QString::fromLatin1(saveGeometry().toBase64()));
}

void FMain::SaveHistory() {
    QStringList history;
    for (int i = 0; i < cboAddress->count(); ++i) history << cboAddress->itemText(i);
    SettingsStore::WriteList("AddressHistory", history);
}

void FMain::Layout() {
    const bool labels = LabelsShown();
    const int innerWidth = mCentral->width();
    const int innerHeight = mCentral->height() + (statusBar()->isVisible() ? statusBar()->height() : 0);
    MainLayout l = MainLayout::Compute(innerWidth, innerHeight, labels);
    // The table measures from the form's inner height, status bar included:
    // the tab strip and browsers end where the status bar begins.
    const int overrun = l.tabTop + l.tabHeight - mCentral->height();
    if (overrun > 0) {
        l.tabHeight -= overrun;
        l.browserHeight = std::max(0, l.browserHeight - overrun);
    }
    const int starSize = labels ? 32 : 20;
    // Labels under the icons need the smaller icons to fit the toolbar row.
    tbrNavigate->setIconSize(labels ? QSize(16, 16) : QSize(22, 22));
    tbrNavigate->setGeometry(0, 0, std::max(0, l.starLeft - 4), l.tabTop - 2);
    picSnipe->setGeometry(l.starLeft, (l.tabTop - starSize) / 2, starSize, starSize);
    SSTab1->setGeometry(0, l.tabTop, l.tabWidth, l.tabHeight);
    // The browsers fill the lower part of each page; the row above holds
    // the link label or the address controls.
    // The shown page's height: the tab widget resizes only the page it
    // shows, so the other page's height is that of its last showing.
    const QWidget* shown = SSTab1->currentWidget();
    const int pageHeight = shown && shown->height() > 0 ? shown->height() : l.tabHeight;
    const int browserTop = std::max(0, pageHeight - l.browserHeight);
    brwSnipe->widget()->setGeometry(0, browserTop, l.browserWidth, l.browserHeight);
    brwAuction->widget()->setGeometry(0, browserTop, l.browserWidth, l.browserHeight);
    const int rowHeight = std::max(22, browserTop - 4);
    lblTarnscope->setGeometry(l.linkLeft, 2, MainLayout::Pixels(1100), rowHeight);
    tbrSnipe->setGeometry(2, 2, MainLayout::Pixels(1150), rowHeight);
    cboAddress->setGeometry(MainLayout::Pixels(1250), 2, l.addressWidth, rowHeight);
    tbrGo->setGeometry(l.goLeft, 2, MainLayout::Pixels(800), rowHeight);
    timStar->start();
}

bool FMain::eventFilter(QObject* watched, QEvent* event) {
    if (!SSTab1 || !lblTarnscope) return QMainWindow::eventFilter(watched, event);  // still being built
    // The mouse over the window or the tab strip resets the link label.
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)
        if (watched == mCentral || watched == SSTab1->tabBar()) lblTarnscope->resetLook();
    if (watched == SSTab1->tabBar() && event->type() == QEvent::Resize) QTimer::singleShot(0, this, &FMain::Layout);
    HoldSelectionForMenus(watched, event);
    // Shift+Enter in the find bar finds the previous match.
    if (watched == txtFind && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::ShiftModifier) {
            FindNext(true);
            return true;
        }
    }
    // Escape in the find bar closes it, rather than stopping the browser.
    if (watched == txtFind && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (event->type() == QEvent::ShortcutOverride) event->accept();
        else CloseFindBar();
        return true;
    }
    // F1 in an open menu opens the menu's help page.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1)
        if (auto* menu = qobject_cast<QMenu*>(watched); menu && menu->property(kHelpPageProperty).isValid()) {
            menu->close();
            Help::Open(menu->property(kHelpPageProperty).toString(), this);
            return true;
        }
    return QMainWindow::eventFilter(watched, event);
}

// A text box forgets its selection when the menu bar takes the focus (Alt,
// then E): the selection is kept here so that Edit > Copy still has it, and
// given back when the focus returns.
void FMain::HoldSelectionForMenus(QObject* watched, QEvent* event) {
    // The address box has the focus for its text box, which it hands the
    // focus events without passing them through filters.
    auto* line = watched == cboAddress ? cboAddress->lineEdit() : qobject_cast<QLineEdit*>(watched);
    if (!line) return;
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if ((reason == Qt::MenuBarFocusReason || reason == Qt::PopupFocusReason) && line->hasSelectedText())
            mHeldSelection = {line, line->text(), line->selectionStart(), static_cast<int>(line->selectedText().size())};
        else mHeldSelection = {};
    } else if (event->type() == QEvent::FocusIn && mHeldSelection.line == line) {
        RestoreHeldSelection();
        mHeldSelection = {};
    }
}

// The text box whose selection is held, with that selection back on it;
// null when none is held or its text has changed since.
QLineEdit* FMain::RestoreHeldSelection() {
    QLineEdit* line = mHeldSelection.line;
    if (!line || line->text() != mHeldSelection.text) return nullptr;
    if (!line->hasSelectedText()) line->setSelection(mHeldSelection.start, mHeldSelection.length);
    return line;
}

// ---- tabs, caption and controls -----------------------------------------------------------

void FMain::TabSwitched(int index) {
    const bool snipe = index == 0;
    tbrGo->setVisible(!snipe);
    v_bSnipeTabActive = snipe;
    Browser* browser = snipe ? brwSnipe : brwAuction;
    sbPanel1->setText(snipe ? "Tarnbid" : "Auction Browser");
    sbPanel2->setText(browser->busy() ? kWorkingPanel : "Done");
    lblTarnscope->setVisible(snipe);
    RefreshControls();
}

void FMain::SetCaption(const QString& sLocation) { setWindowTitle(kTitle + " > " + sLocation); }

bool FMain::LabelsShown() const { return mLabelsShown; }

Browser* FMain::CurrentBrowser() const { return SSTab1->currentIndex() == 0 ? brwSnipe : brwAuction; }

int FMain::CheckedSite() const {
    for (int index = 1; index <= Addresses::kSiteCount; ++index)
        if (mnuOptionsSite[index]->isChecked()) return index;
    return 1;
}

void FMain::RefreshControls() {
    const bool labels = LabelsShown();
    for (int i = 0; i < mLabelledButtons.size(); ++i)
        mLabelledButtons[i]->setText(labels ? kNavigateButtons[i].label : "");
    const bool auctionTab = SSTab1->currentIndex() == 1;
    // The item of the page shown, never of text typed in the address box.
    QString sItem;
    IgnoringErrors([&] { sItem = Addresses::ItemNumber(brwAuction->locationAddress()); });
    const bool hasItem = !sItem.isEmpty();
    tbrSnipe->setEnabled(hasItem);
    mnuNavigateSnipe->setEnabled(hasItem && auctionTab);
    tbrBack->setEnabled(v_bSnipeTabActive ? v_bSnipeCanGoBack : v_bAuctionCanGoBack);
    tbrForward->setEnabled(v_bSnipeTabActive ? v_bSnipeCanGoForward : v_bAuctionCanGoForward);
    QString sName;
    IgnoringErrors([&] { sName = (auctionTab ? brwAuction : brwSnipe)->locationName(); });
    SetCaption(sName);
    mnuFavoritesAdd->setEnabled(auctionTab);
}

// ---- address box and navigation --------------------------------------------------------------

void FMain::AddressChosen() {
    const QString sText = cboAddress->currentText();
    // Text that is not an address is not loaded (the engine would show a
    // blank page): the status bar says so.
    if (!Addresses::IsAddress(sText)) {
        sbPanel2->setText("\"" + sText.trimmed() + "\" is not an address.");
        return;
    }
    timTimer->start();
    brwAuction->navigate(sText);
}

void FMain::AuctionNavigateComplete() {
    IgnoringErrors([this] {
        if (!v_bSnipeTabActive) SetCaption(brwAuction->locationName());
    });
    IgnoringErrors([this] {
        const QString sAddress = brwAuction->locationAddress();
        v_bFillingAddressList = true;
        // Each address once, also when the browser writes it with a slash
        // the start-up address had not.
        for (int i = cboAddress->count() - 1; i >= 0; --i)
            if (Addresses::SameAddress(cboAddress->itemText(i), sAddress)) cboAddress->removeItem(i);
        cboAddress->insertItem(0, sAddress);
        while (cboAddress->count() > kHistoryLength) cboAddress->removeItem(cboAddress->count() - 1);
        cboAddress->setCurrentIndex(0);
        cboAddress->setEditText(sAddress);
        v_bFillingAddressList = false;
        SaveHistory();
    });
    v_bFillingAddressList = false;
    IgnoringErrors([this] { RefreshControls(); });
}

void FMain::FocusAddressBox() {
    SSTab1->setCurrentIndex(1);
    cboAddress->setFocus(Qt::ShortcutFocusReason);
    cboAddress->lineEdit()->selectAll();
}

void FMain::NavigateAuction(const QString& sAddress) {
    SSTab1->setCurrentIndex(1);
    brwAuction->navigate(sAddress);
    RefreshControls();
}

QString FMain::StartingAddress() const {
    for (int index = 1; index <= Addresses::kSiteCount; ++index)
        if (mnuOptionsSite[index]->isChecked()) return Addresses::SiteStartAddress(index);
    return {};
}

// Each setting is written when it changes, not only at a clean exit: a
// session that ends by logout or a crash keeps them.
void FMain::SaveSite() { SettingsStore::Write("Site", QString::number(CheckedSite())); }
void FMain::SaveTextLabels() { SettingsStore::Write("TextLabels", LabelsShown() ? "" : "N"); }

void FMain::SelectSite(int index) {
    for (int i = 1; i <= Addresses::kSiteCount; ++i) mnuOptionsSite[i]->setChecked(i == index);
    SaveSite();
    SSTab1->setCurrentIndex(1);
    brwAuction->navigate(StartingAddress());
}

void FMain::GoBack(bool fromToolbar) {
    const bool snipe = fromToolbar ? v_bSnipeTabActive : SSTab1->currentIndex() == 0;
    if (snipe ? v_bSnipeCanGoBack : v_bAuctionCanGoBack) (snipe ? brwSnipe : brwAuction)->goBack();
}

void FMain::GoForward(bool fromToolbar) {
    const bool snipe = fromToolbar ? v_bSnipeTabActive : SSTab1->currentIndex() == 0;
    if (snipe ? v_bSnipeCanGoForward : v_bAuctionCanGoForward) (snipe ? brwSnipe : brwAuction)->goForward();
}

void FMain::StopBrowser() { CurrentBrowser()->stop(); }

void FMain::RefreshBrowser() { CurrentBrowser()->refresh(); }

void FMain::GoHome() {
    if (SSTab1->currentIndex() == 0) brwSnipe->navigate(Addresses::ServiceHomeAddress());
    else brwAuction->navigate(StartingAddress());
}

// Hands the service the item of the page the auction browser shows: the
// address box may hold text being typed, or an address not yet loaded.
void FMain::Snipe() {
    const QString sItem = Addresses::ItemNumber(brwAuction->locationAddress());
    if (sItem.isEmpty()) return;
    brwSnipe->navigate(Addresses::SnipeAddress(sItem));
    SSTab1->setCurrentIndex(0);
}

void FMain::ToggleTextLabels() {
    // The state is kept here, not read back from the menu entries: a
    // checkable entry has already flipped itself when it calls this.
    mLabelsShown = !mLabelsShown;
    const bool show = mLabelsShown;
    mnuButtonBarStatusViewLabels->setChecked(show);
    mnuOptionsText->setChecked(show);
    SaveTextLabels();
    RefreshControls();
    Layout();
}

// ---- timers -------------------------------------------------------------------------------------

void FMain::ShowDate() {
    const QDateTime now = QDateTime::currentDateTime();
    sbPanel3->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
    const QDateTime midnight(now.date().addDays(1), QTime(0, 0));
    timDate->start(static_cast<int>(std::clamp<qint64>(now.msecsTo(midnight) + 1000, 1000, 24 * 3600 * 1000)));
}

void FMain::BusyCaptionTick() {
    if (brwAuction->busy()) {
        SetCaption("Working...");
        return;
    }
    timTimer->stop();
    if (!v_bSnipeTabActive) IgnoringErrors([this] { SetCaption(brwAuction->locationName()); });
}

void FMain::StarTick() {
    if (++v_iStarFrame >= 7) v_iStarFrame = 1;
    const bool large = LabelsShown();
    Browser* watched = SSTab1->currentIndex() == 0 ? brwSnipe : brwAuction;
    if (watched->busy()) ShowStar(v_iStarFrame, large);
    else if (!(mShownFrame == StarImages::kIdleFrame && mShownLarge == large)) ShowStar(StarImages::kIdleFrame, large);
}

void FMain::ShowStar(int frame, bool large) {
    mShownFrame = frame;
    mShownLarge = large;
    picSnipe->setPixmap(StarImages::Frame(frame, large));
}
