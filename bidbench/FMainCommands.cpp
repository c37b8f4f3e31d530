// The main window's commands that reach beyond the two browsers: printing,
// finding, editing, the three kinds of favourites, the floating toolbar and
// the new-version check.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPrintDialog>
#include <QPointer>
#include <QPrinter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include "Addresses.h"
#include "FFavorites.h"
#include "FIEFavorites.h"
#include "FMain.h"
#include "FNewVersion.h"
#include "FToolbar.h"
#include "SettingsStore.h"
#include "ShellUIHelper.h"
#include "Version.h"

namespace {
constexpr int kVersionCheckTimeoutMs = 15000;
constexpr int kVersionCheckMessageMs = 15000;
}  // namespace

FMain::~FMain() {
    // The engine paints on the printer from a thread of its own until the
    // job ends; a window closed during a print leaves the printer to it.
    if (mPrinting) (void)mPrinter.release();
}

QPrinter* FMain::printer() {
    if (!mPrinter) mPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return mPrinter.get();
}

ShellUIHelper* FMain::shellHelper() {
    if (!mShellHelper) mShellHelper = std::make_unique<ShellUIHelper>(this);
    return mShellHelper.get();
}

// ---- print and find ------------------------------------------------------------------

void FMain::PrintPage() {
    Browser* browser = CurrentBrowser();
    if (mPrinting || browser->locationAddress().isEmpty()) return;  // busy, or nothing to print
    QPrintDialog dialog(printer(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    mPrinting = browser->print(printer(), [this](bool) { mPrinting = false; });
}

void FMain::BuildFindBar() {
    fraFind = new QWidget;
    auto* layout = new QHBoxLayout(fraFind);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel("Find:");
    txtFind = new QLineEdit;
    txtFind->setClearButtonEnabled(true);
    label->setBuddy(txtFind);
    auto* previous = new QToolButton;
    previous->setArrowType(Qt::UpArrow);
    previous->setToolTip("Find the previous occurrence");
    auto* next = new QToolButton;
    next->setArrowType(Qt::DownArrow);
    next->setToolTip("Find the next occurrence");
    lblFindResult = new QLabel;
    auto* close = new QToolButton;
    close->setText("x");
    close->setToolTip("Close the find bar");
    for (QWidget* part :
         {static_cast<QWidget*>(label), static_cast<QWidget*>(txtFind), static_cast<QWidget*>(previous),
          static_cast<QWidget*>(next), static_cast<QWidget*>(lblFindResult), static_cast<QWidget*>(close)})
        layout->addWidget(part);
    statusBar()->insertWidget(0, fraFind);
    fraFind->hide();
    txtFind->installEventFilter(this);

    connect(txtFind, &QLineEdit::textChanged, this, [this] { FindNext(false); });
    connect(txtFind, &QLineEdit::returnPressed, this, [this] { FindNext(false); });
    connect(previous, &QToolButton::clicked, this, [this] { FindNext(true); });
    connect(next, &QToolButton::clicked, this, [this] { FindNext(false); });
    connect(close, &QToolButton::clicked, this, &FMain::CloseFindBar);
}

void FMain::FindOnPage() {
    CurrentBrowser()->focus();
    fraFind->show();
    txtFind->setFocus();
    txtFind->selectAll();
    if (!txtFind->text().isEmpty()) FindNext(false);
}

void FMain::CloseFindBar() {
    CurrentBrowser()->findText(QString(), false, {});
    fraFind->hide();
    CurrentBrowser()->focus();
}

void FMain::FindNext(bool backward) {
    const QPointer<QLabel> result = lblFindResult;
    CurrentBrowser()->findText(txtFind->text(), backward, [this, result](int activeMatch, int matches) {
        if (result) ShowFindResult(activeMatch, matches);
    });
}

// F3 and Shift+F3: the next or previous match of the find bar's text; with
// the find bar closed, F3 opens it.
void FMain::FindAgain(bool backward) {
    if (!fraFind->isVisible() || txtFind->text().isEmpty())
        FindOnPage();
    else
        FindNext(backward);
}

void FMain::ShowFindResult(int activeMatch, int matches) {
    if (txtFind->text().isEmpty())
        lblFindResult->clear();
    else if (matches == 0)
        lblFindResult->setText("No matches");
    else
        lblFindResult->setText(QString("%1 of %2 matches").arg(activeMatch).arg(matches));
}

// ---- edit ---------------------------------------------------------------------------

void FMain::EditCommand(EditAction action) {
    QWidget* focused = QApplication::focusWidget();
    // Chosen from the menu bar by keys, the menu bar has the focus: the
    // command acts on the text box it was taken from.
    if (!focused || qobject_cast<QMenuBar*>(focused) || qobject_cast<QMenu*>(focused)) focused = RestoreHeldSelection();
    if (!focused) return;
    for (Browser* browser : {brwSnipe, brwAuction}) {
        QWidget* view = browser->widget();
        if (focused == view || view->isAncestorOf(focused)) {
            browser->editPage(action);
            return;
        }
    }
    if (auto* combo = qobject_cast<QComboBox*>(focused); combo && combo->lineEdit()) focused = combo->lineEdit();
    if (auto* line = qobject_cast<QLineEdit*>(focused)) {
        if (action == EditAction::Cut)
            line->cut();
        else if (action == EditAction::Copy)
            line->copy();
        else
            line->paste();
    } else if (auto* text = qobject_cast<QTextEdit*>(focused)) {
        if (action == EditAction::Cut)
            text->cut();
        else if (action == EditAction::Copy)
            text->copy();
        else
            text->paste();
    }
}

// ---- favourites -------------------------------------------------------------------------

void FMain::ShowBrowserFavorites() {
    QString sAddress;
    {
        FIEFavorites favorites(this);
        favorites.exec();
        sAddress = favorites.PickedAddress();
    }
    if (!sAddress.isEmpty()) NavigateAuction(sAddress);
}

void FMain::AddBrowserFavorite() {
    const QString sAddress = brwAuction->locationAddress();
    const QString sName = brwAuction->locationName();
    if (!sName.isEmpty()) {
        shellHelper()->AddFavorite(sAddress, sName);
        return;
    }
    QMessageBox::information(this, SettingsStore::kProgramTitle,
                             "You must navigate to a webpage and be viewing it\r\nto add it to your favorites list.");
}

void FMain::ImportFavorites() {
    // Browsers export bookmarks as .html as often as .htm.
    const QString sFile = QFileDialog::getOpenFileName(this, "Import Netscape Bookmarks to Favorites", QString(),
                                                       "Bookmark files (*.htm *.html)");
    if (!sFile.isEmpty()) shellHelper()->ImportExportFavorites(true, sFile);
}

void FMain::ShowFavoritesList(bool sellers) {
    QString sUserID;
    {
        FFavorites favorites(this);
        favorites.SetListKind(sellers);
        favorites.exec();
        sUserID = favorites.SelectedID();
    }
    if (sUserID.isEmpty()) return;
    NavigateAuction(sellers ? Addresses::SellerListingsAddress(sUserID) : Addresses::BidderItemsAddress(sUserID));
}

// ---- floating toolbar ----------------------------------------------------------------------

void FMain::ShowFloatingToolbar() {
    QString sItem;
    bool closedByUser = true;
    {
        FToolbar toolbar(this);
        hide();
        toolbar.exec();
        if (mUnloaded) return;  // the program is ending
        show();
        sItem = toolbar.ItemText();
        closedByUser = toolbar.ClosedByUser();
    }
    if (closedByUser) return;
    SSTab1->setCurrentIndex(0);
    brwSnipe->navigate(Addresses::SnipeAddress(sItem));
}

// ---- new-version check --------------------------------------------------------------------

bool FMain::OffersNewVersion(const QString& sPage) {
    static const QString kMarker = QStringLiteral("Version =");
    const qsizetype marker = sPage.indexOf(kMarker);
    if (marker < 0) return false;
    const qsizetype start = marker + kMarker.size();
    const qsizetype plus = sPage.indexOf(u'+', start);
    if (plus < 0) return false;
    return sPage.mid(start, plus - start) != QLatin1String(Version::kCompareText);
}

void FMain::StartVersionCheck() {
    if (!intUpdate) {
        intUpdate = new QNetworkAccessManager(this);
        // An answer that does not come is given up, not waited for.
        intUpdate->setTransferTimeout(kVersionCheckTimeoutMs);
        connect(intUpdate, &QNetworkAccessManager::finished, this, &FMain::VersionReplyComplete);
    }
    intUpdate->get(QNetworkRequest(QUrl(Addresses::VersionPageAddress())));
}

void FMain::VersionReplyComplete(QNetworkReply* reply) {
    reply->deleteLater();
    if (mUnloaded) return;
    if (reply->error() != QNetworkReply::NoError) {
        // Offline, or the maker's site is down or silent (network and proxy
        // errors are numbered below 200): said, and the program goes on. A
        // page the site answers with an error offers nothing, as before.
        if (reply->error() < QNetworkReply::ContentAccessDenied)
            statusBar()->showMessage("The check for a new version could not reach " + reply->url().authority() + ".",
                                     kVersionCheckMessageMs);
        return;
    }
    const QString sPage = QString::fromLatin1(reply->read(5000));
    if (!OffersNewVersion(sPage)) return;
    mNewVersionOffered = true;
    if (mPainted) QTimer::singleShot(0, this, &FMain::OfferNewVersion);
}

// The offer waits until the window has been drawn: a dialog over a window
// not yet painted looks like a program that hangs at start.
void FMain::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (mPainted) return;
    mPainted = true;
    if (mNewVersionOffered) QTimer::singleShot(0, this, &FMain::OfferNewVersion);
}

void FMain::OfferNewVersion() {
    if (!mNewVersionOffered || mUnloaded) return;
    mNewVersionOffered = false;
    bool updating = false;
    {
        FNewVersion offer(this);
        offer.exec();
        updating = offer.Updating();
    }
    if (updating) close();
}
