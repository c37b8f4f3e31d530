#include "WebBrowser.h"

#include <QAction>
#include <QApplication>
#include <QChildEvent>
#include <QEvent>
#include <QWebEngineFindTextResult>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

WebBrowser::WebBrowser(QWebEngineProfile* profile, QWidget* parent)
    : Browser(parent), mView(new QWebEngineView(parent)) {
    mView->setPage(new QWebEnginePage(profile, mView));
    QWebEnginePage* page = mView->page();
    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        mBusy = true;
        emit statusTextChanged(tr("Opening page %1...").arg(mView->url().toString()));
        emit progressChanged(0);
    });
    connect(page, &QWebEnginePage::loadProgress, this, [this](int percent) { emit progressChanged(percent); });
    // A load that failed for want of a connection says so; one the user
    // stopped keeps the old "Action canceled".
    connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) mFailure.clear();
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
            info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain) {
            mFailure = tr("The site %1 could not be reached.").arg(info.url().authority());
            if (!mBusy) emit statusTextChanged(mFailure);  // the load has already ended
        }
    });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        mBusy = false;
        emit statusTextChanged(ok ? tr("Done") : mFailure.isEmpty() ? tr("Action canceled") : mFailure);
        emit progressChanged(100);
        emit downloadComplete();
    });
    connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        emit navigateComplete(url.toString());
    });
    connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& sUrl) {
        emit statusTextChanged(sUrl.isEmpty() ? (mBusy ? tr("Working...") : tr("Done")) : sUrl);
    });
    // Back and forward availability follow the page's own actions.
    for (auto action : {QWebEnginePage::Back, QWebEnginePage::Forward})
        connect(page->action(action), &QAction::changed, this, &WebBrowser::reportCommandStates);
    connect(page, &QWebEnginePage::titleChanged, this, [this] { emit downloadComplete(); });
    // Focus entering the page's render widget counts as focus on the browser.
    mView->installEventFilter(this);
}

QWidget* WebBrowser::widget() { return mView; }

void WebBrowser::navigate(const QString& sAddress) {
    mBusy = true;  // busy from the request on, as the window expects
    mView->setUrl(QUrl::fromUserInput(sAddress));
}

void WebBrowser::goBack() { mView->back(); }
void WebBrowser::goForward() { mView->forward(); }
void WebBrowser::stop() { mView->stop(); }
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

QWebEngineProfile* WebBrowser::SharedProfile() {
    static QWebEngineProfile* profile = [] {
        // A named profile keeps its cookies and storage on disk (under the
        // user's data folder); session cookies are kept too, so logins last.
        auto* p = new QWebEngineProfile("Bidbench", qApp);
        p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        p->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        return p;
    }();
    return profile;
}
