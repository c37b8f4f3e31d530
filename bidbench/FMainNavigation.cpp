// The main window's tabs and navigation: the shown tab, the state of the
// controls, the address box, the start-up site, the browsers' commands
// and Snipe!.
#include "FMain.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include "Addresses.h"
#include "FMainShared.h"
#include "LinkLabel.h"

using namespace FMainShared;

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
    if (SSTab1->currentIndex() == 0)
        brwSnipe->navigate(Addresses::ServiceHomeAddress());
    else
        brwAuction->navigate(StartingAddress());
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
