// The main window: the snipe browser and the auction browser on two tabs,
// navigation, the address box and its history, the Snipe! action, status
// bar, caption, busy animation and the menu bar.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

#include "Browser.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;
class QPrinter;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class FPageWindow;
class LinkLabel;
class ShellUIHelper;

// Geometry of the main window's parts, from the layout table in twips
// (15 twips to a pixel), for an inner area of the given size in pixels.
struct MainLayout {
    int tabTop, tabWidth, tabHeight;
    int browserWidth, browserHeight;
    int goLeft, addressWidth, starLeft, linkLeft;

    static MainLayout Compute(int innerWidth, int innerHeight, bool labelsShown);
    static int Pixels(int twips);
};

class FMain final : public QMainWindow {
    Q_OBJECT
public:
    // The first window's size on a screen with `available` room: the form's
    // 1000 x 720, or less where that does not fit (a small or scaled screen).
    static QSize FirstSize(const QSize& available);
    using BrowserFactory = std::function<Browser*(QWidget* parent)>;

    // Without a factory the windows get the real browser engine.
    explicit FMain(BrowserFactory factory = {}, QWidget* parent = nullptr);
    ~FMain() override;

    // Start-up: settings, start screen, first pages. Runs before the first show.
    void Load();

    // Operations other windows use.
    void NavigateAuction(const QString& sAddress);
    void RefreshControls();
    QString StartingAddress() const;
    void SelectSite(int index);
    void ToggleTextLabels();

    // Navigation commands on the browser of the shown tab; the toolbar's
    // Back and Forward go by v_bSnipeTabActive.
    void GoBack(bool fromToolbar);
    void GoForward(bool fromToolbar);
    void StopBrowser();
    void RefreshBrowser();
    void GoHome();
    void Snipe();
    // Shows the auction tab with the address box's text selected for typing.
    void FocusAddressBox();

    // Commands of the menu bar and toolbar beyond the two browsers.
    // The edit commands are those a page offers too.
    using EditAction = Browser::PageEdit;
    void PrintPage();
    void FindOnPage();
    void FindNext(bool backward);
    void CloseFindBar();
    void EditCommand(EditAction action);
    void ShowBrowserFavorites();
    void AddBrowserFavorite();
    void ImportFavorites();
    void ShowFavoritesList(bool sellers);
    void ShowFloatingToolbar();
    void StartVersionCheck();
    // Whether a version page offers a version other than this one: the
    // text between "Version =" and the next "+", compared exactly.
    static bool OffersNewVersion(const QString& sPage);

    // The printer and its settings, kept from one print to the next.
    QPrinter* printer();
    bool printing() const { return mPrinting; }
    // Made on first use and kept.
    ShellUIHelper* shellHelper();

    // The frame the busy animation shows (1 to 7) and in which set.
    int shownStarFrame() const { return mShownFrame; }
    bool shownStarLarge() const { return mShownLarge; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Controls, named as the window's design names them; each carries its
    // name as object name, by which tests and other windows find it.
    Browser* brwSnipe = nullptr;
    Browser* brwAuction = nullptr;
    QTabWidget* SSTab1 = nullptr;
    QToolBar* tbrNavigate = nullptr;
    QAction* tbrBack = nullptr;
    QAction* tbrForward = nullptr;
    QComboBox* cboAddress = nullptr;
    QToolButton* tbrGo = nullptr;
    QToolButton* tbrSnipe = nullptr;
    QLabel* picSnipe = nullptr;
    LinkLabel* lblTarnscope = nullptr;
    QLabel* sbPanel1 = nullptr;
    QLabel* sbPanel2 = nullptr;
    QLabel* sbPanel3 = nullptr;
    QTimer* timTimer = nullptr;
    QTimer* timStar = nullptr;
    QTimer* timDate = nullptr;  // turns the date panel over at midnight
    QAction* mnuNavigateSnipe = nullptr;
    QAction* mnuFavoritesAdd = nullptr;
    QAction* mnuOptionsText = nullptr;
    QAction* mnuButtonBarStatusViewLabels = nullptr;
    QAction* mnuOptionsSite[8];  // 1 to 7
    QMenu* mnuButtonBarStatus = nullptr;
    QMenu* mnuFavoritesButton = nullptr;  // the drop-down of toolbar button 6
    QWidget* fraFind = nullptr;           // the find bar
    QLineEdit* txtFind = nullptr;
    QLabel* lblFindResult = nullptr;
    QNetworkAccessManager* intUpdate = nullptr;

    // Window state.
    QString v_sStartingAddress;
    bool v_bSnipeTabActive = false;
    bool v_bSnipeCanGoBack = false;
    bool v_bSnipeCanGoForward = false;
    bool v_bAuctionCanGoBack = false;
    bool v_bAuctionCanGoForward = false;
    bool v_bFillingAddressList = false;
    int16_t v_iStarFrame = 0;

    void BuildControls();
    void NameControls();
    void BuildMenus();
    void BuildOptionsMenu(QMenu* mnuTools);
    void BuildFindBar();
    void BuildWindowKeys();
    void HoldSelectionForMenus(QObject* watched, QEvent* event);
    QLineEdit* RestoreHeldSelection();
    void FindAgain(bool backward);
    void VersionReplyComplete(QNetworkReply* reply);
    void OfferNewVersion();
    void ShowFindResult(int activeMatch, int matches);
    void ConnectBrowser(Browser* browser, bool isAuction);
    void ShowInPageWindow(Browser* browser, bool inBackground);
    void Layout();
    void TabSwitched(int index);
    void SetCaption(const QString& sLocation);
    void AddressChosen();
    void AuctionNavigateComplete();
    void BusyCaptionTick();
    void StarTick();
    void ShowStar(int frame, bool large);
    void Unload();
    Browser* CurrentBrowser() const;
    bool LabelsShown() const;
    void SaveSite();
    void ShowDate();
    void SaveTextLabels();
    void RestoreWindowState();
    void SaveGeometry();
    void SaveHistory();
    int CheckedSite() const;

    BrowserFactory mFactory;
    QWidget* mCentral = nullptr;
    QWidget* mSnipePage = nullptr;
    QWidget* mAuctionPage = nullptr;
    QActionGroup* mSites = nullptr;
    QList<QAction*> mLabelledButtons;
    int mShownFrame = 0;
    bool mShownLarge = true;
    bool mUnloaded = false;
    bool mPainted = false;            // the window has been drawn once
    bool mNewVersionOffered = false;  // an offer waits for the window to be drawn
    QTimer* mGeometrySaver = nullptr;
    bool mLabelsShown = true;
    std::unique_ptr<QPrinter> mPrinter;
    bool mPrinting = false;
    std::unique_ptr<ShellUIHelper> mShellHelper;
    QPointer<FPageWindow> mPageWindow;
    struct HeldSelection {
        QPointer<QLineEdit> line;
        QString text;
        int start = 0, length = 0;
    } mHeldSelection;  // pages that asked for a window of their own
};
