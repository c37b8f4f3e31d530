// The main window's menu bar, its Options menu, the toolbar's pop-up menu
// and the keys no menu shows.
#include "FMain.h"

#include <functional>
#include <iterator>

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "Addresses.h"
#include "FAbout.h"
#include "FMainShared.h"
#include "Help.h"

using namespace FMainShared;

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
        {"&File", "mnuFile", Help::kMenuFile},
        {"&Edit", "mnuEdit", Help::kMenuEdit},
        {"&Navigate", "mnumnuNavigate", Help::kMenuNavigate},
        {"Fa&vorites", "mnumnuFavorites", Help::kMenuFavorites},
        {"&Tools", "mnuTools", Help::kMenuTools},
        {"&Help", "mnuHelp", Help::kMenuHelp},
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
        {"actZoomIn",
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
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
