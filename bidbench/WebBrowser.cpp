#include "WebBrowser.h"

#include "FDownload.h"

#include <QAction>
#include <algorithm>
#include <iterator>
#include <QApplication>
#include <QChildEvent>
#include <QEvent>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFindTextResult>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

WebBrowser::WebBrowser(QWebEngineProfile* profile, QWidget* parent)
    : Browser(parent), mView(new QWebEngineView(parent)) {
    mView->setPage(new QWebEnginePage(profile, mView));
    QWebEnginePage* page = mView->page();
    connect(page, &QWebEnginePage::loadingChanged, this, &WebBrowser::followLoading);
    connect(page, &QWebEnginePage::loadProgress, this, [this](int percent) {
        if (mBusy) emit progressChanged(percent);
    });
    connect(page, &QWebEnginePage::urlChanged, this,
            [this](const QUrl& url) { emit navigateComplete(url.toString()); });
    connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& sUrl) {
        emit statusTextChanged(sUrl.isEmpty() ? (mBusy ? tr("Working...") : tr("Done")) : sUrl);
    });
    // Back and forward availability follow the page's own actions.
    for (auto action : {QWebEnginePage::Back, QWebEnginePage::Forward})
        connect(page->action(action), &QAction::changed, this, &WebBrowser::reportCommandStates);
    connect(page, &QWebEnginePage::titleChanged, this, [this] { emit downloadComplete(); });
    connect(page, &QWebEnginePage::newWindowRequested, this, &WebBrowser::openNewWindow);
    connect(page, &QWebEnginePage::windowCloseRequested, this, &Browser::closeRequested);
    connect(profile, &QWebEngineProfile::downloadRequested, this, &WebBrowser::takeDownload);
    // Focus entering the page's render widget counts as focus on the browser.
    mView->installEventFilter(this);
}

// The load state as desktop browsers show it: the page being opened is
// named while it loads; the end says how it ended. A jump within the page
// (an address differing only after '#') starts no load.
void WebBrowser::followLoading(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        mBusy = true;
        mDownloadName.clear();
        mStopRequested = false;
        emit statusTextChanged(tr("Opening page %1...").arg(info.url().toString()));
        emit progressChanged(0);
        return;
    }
    mBusy = false;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus ||
        info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        mShownPage = true;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
        emit statusTextChanged(tr("Done"));
    } else if (!mDownloadName.isEmpty()) {
        emit statusTextChanged(tr("Downloading %1...").arg(mDownloadName));
    } else {
        emit statusTextChanged(failureText(info));
    }
    emit progressChanged(100);
    emit downloadComplete();
}

namespace {
constexpr int kAborted = -3;  // the engine's net::ERR_ABORTED
}

QString WebBrowser::failureText(const QWebEngineLoadingInfo& info) const {
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
        if (info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain)
            return tr("The site %1 could not be reached.").arg(info.url().authority());
        // The page the site sent with an error status is shown; the status
        // bar names the error.
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
            return tr("The site answered error %1 for %2.").arg(info.errorCode()).arg(info.url().toString());
    }
    // A load stopped by the user was canceled. One the engine gave up
    // itself turned out to be a download (said when it is asked for) or a
    // page with no content: the page shown stays, complete.
    if (mStopRequested || info.errorCode() != kAborted) return tr("Action canceled");
    return tr("Done");
}

// A page that asks for a window of its own gets a new browser on the same
// profile (so it shares the logins), which the window showing it takes.
void WebBrowser::openNewWindow(QWebEngineNewWindowRequest& request) {
    auto* browser = new WebBrowser(mView->page()->profile(), nullptr);
    browser->mBusy = true;
    request.openIn(browser->mView->page());
    emit newWindowOpened(browser, request.destination() == QWebEngineNewWindowRequest::InNewBackgroundTab);
    if (!browser->parent()) browser->deleteLater();  // nobody took it
}

// Downloads of this browser's page: the user chooses where the file goes.
void WebBrowser::takeDownload(QWebEngineDownloadRequest* download) {
    if (download->page() != mView->page() || download->state() != QWebEngineDownloadRequest::DownloadRequested) return;
    mDownloadName = download->downloadFileName();
    emit statusTextChanged(tr("Downloading %1...").arg(mDownloadName));
    FDownload::Ask(download, mView->window());
    // A window opened only for the download (a link to an invoice with a
    // target) would stay empty: it closes, as in desktop browsers.
    if (!mShownPage) QTimer::singleShot(0, this, &Browser::closeRequested);
}

QWidget* WebBrowser::widget() { return mView; }

void WebBrowser::navigate(const QString& sAddress) {
    const QUrl url = QUrl::fromUserInput(sAddress);
    // Busy from the request on, as the window expects; except for a jump
    // within the page shown, for which the engine starts no load.
    const bool samePage = url.hasFragment() && !mView->url().isEmpty() &&
                          url.adjusted(QUrl::RemoveFragment) == mView->url().adjusted(QUrl::RemoveFragment);
    if (!samePage) mBusy = true;
    mView->setUrl(url);
}

void WebBrowser::goBack() { mView->back(); }
void WebBrowser::goForward() { mView->forward(); }
void WebBrowser::stop() {
    mStopRequested = mBusy;
    mView->stop();
}
void WebBrowser::refresh() {
    if (!mView->url().isEmpty()) mView->reload();
}

QString WebBrowser::locationAddress() const { return mView->url().toString(); }

QString WebBrowser::locationName() const {
    const QString title = mView->title();
    return title.isEmpty() ? mView->url().toString() : title;
}

void WebBrowser::focus() { mView->setFocus(); }

void WebBrowser::editPage(PageEdit edit) {
    mView->page()->triggerAction(edit == PageEdit::Cut    ? QWebEnginePage::Cut
                                 : edit == PageEdit::Copy ? QWebEnginePage::Copy
                                                          : QWebEnginePage::Paste);
}

void WebBrowser::findText(const QString& sText, bool backward, FindDone done) {
    const QWebEnginePage::FindFlags flags = backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags();
    mView->page()->findText(sText, flags, [done](const QWebEngineFindTextResult& result) {
        if (done) done(result.activeMatch(), result.numberOfMatches());
    });
}

bool WebBrowser::print(QPrinter* printer, std::function<void(bool ok)> done) {
    if (mView->url().isEmpty()) return false;
    auto* connection = new QMetaObject::Connection;
    *connection = connect(mView, &QWebEngineView::printFinished, this, [connection, done](bool ok) {
        disconnect(*connection);
        delete connection;
        if (done) done(ok);
    });
    mView->print(printer);
    return true;
}

void WebBrowser::reportCommandStates() {
    QWebEnginePage* page = mView->page();
    const bool canGoForward = page->action(QWebEnginePage::Forward)->isEnabled();
    const bool canGoBack = page->action(QWebEnginePage::Back)->isEnabled();
    if (canGoForward != mCanGoForward) {
        mCanGoForward = canGoForward;
        emit commandStateChanged(kCommandForward, canGoForward);
    }
    if (canGoBack != mCanGoBack) {
        mCanGoBack = canGoBack;
        emit commandStateChanged(kCommandBack, canGoBack);
    }
}

bool WebBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ChildAdded) {
        // The engine renders into a child widget created later; watch it too.
        auto* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) child->installEventFilter(this);
    } else if (event->type() == QEvent::FocusIn) {
        emit focusReceived();
    }
    return Browser::eventFilter(watched, event);
}

namespace {
// The zoom levels desktop browsers step through, as factors.
constexpr double kZoomLevels[] = {0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                  1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};
}  // namespace

// Steps from the level nearest the current factor, which Ctrl+wheel in the
// page may have left between two levels.
void WebBrowser::zoom(int step) {
    if (step == 0) {
        mView->setZoomFactor(1.0);
        return;
    }
    const double now = mView->zoomFactor();
    const double* level = step > 0 ? std::upper_bound(std::begin(kZoomLevels), std::end(kZoomLevels), now + 0.001)
                                   : std::lower_bound(std::begin(kZoomLevels), std::end(kZoomLevels), now - 0.001) - 1;
    if (level >= std::begin(kZoomLevels) && level < std::end(kZoomLevels)) mView->setZoomFactor(*level);
}

double WebBrowser::zoomFactor() const { return mView->zoomFactor(); }

QWebEngineProfile* WebBrowser::SharedProfile() {
    static QWebEngineProfile* profile = [] {
        // A named profile keeps its cookies and storage on disk (under the
        // user's data folder); session cookies are kept too, so logins last.
        auto* p = new QWebEngineProfile("Bidbench", qApp);
        p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        p->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        // PDFs are shown in the browser, as desktop browsers show them.
        p->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
        p->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
        return p;
    }();
    return profile;
}
