// The main window's controls: the navigation toolbar, the two tabs with
// their browsers, the address box, the Snipe! button and the status bar,
// and what the browsers tell the window.
#include "FMain.h"

#include <limits>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "Addresses.h"
#include "FMainShared.h"
#include "FPageWindow.h"
#include "LinkLabel.h"
#include "StarImages.h"

using namespace FMainShared;

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
    const struct {
        const char* text;
        const char* key;
    } kFavoritesEntries[] = {
        {"Browser Favorites", "Favorites"}, {"Favorite Sellers", "Sellers"}, {"Favorite Bidders", "Bidders"}};
    for (const auto& entry : kFavoritesEntries) mnuFavoritesButton->addAction(entry.text)->setData(QString(entry.key));
    connect(mnuFavoritesButton, &QMenu::triggered, this, [this](QAction* entry) {
        const QString key = entry->data().toString();
        if (key == "Favorites")
            ShowBrowserFavorites();
        else
            ShowFavoritesList(key == "Sellers");
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
    connect(cboAddress->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { IgnoringErrors([this] { AddressChosen(); }); });
    connect(cboAddress, &QComboBox::editTextChanged, this, [this] { RefreshControls(); });
    connect(timTimer, &QTimer::timeout, this, &FMain::BusyCaptionTick);
    connect(timStar, &QTimer::timeout, this, &FMain::StarTick);
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
        if (command == Browser::kCommandForward)
            forward = enabled;
        else if (command == Browser::kCommandBack)
            back = enabled;
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
