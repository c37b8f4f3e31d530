// The real browser: a QWebEngineView on the program's persistent profile,
// so cookies and logins survive a restart.
#pragma once

#include "Browser.h"

class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;
class QWebEngineView;

class WebBrowser final : public Browser {
    Q_OBJECT
public:
    WebBrowser(QWebEngineProfile* profile, QWidget* parent);

    QWidget* widget() override;
    void navigate(const QString& sAddress) override;
    void goBack() override;
    void goForward() override;
    void stop() override;
    void refresh() override;
    QString locationAddress() const override;
    QString locationName() const override;
    bool busy() const override { return mBusy; }
    void focus() override;
    void editPage(PageEdit edit) override;
    void findText(const QString& sText, bool backward, FindDone done) override;
    bool print(QPrinter* printer, std::function<void(bool ok)> done) override;
    void zoom(int step) override;
    double zoomFactor() const override;

    QWebEngineView* view() const { return mView; }

    // The profile every browser of the program uses, made on first use.
    static QWebEngineProfile* SharedProfile();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reportCommandStates();
    void followLoading(const QWebEngineLoadingInfo& info);
    QString failureText(const QWebEngineLoadingInfo& info) const;
    void openNewWindow(QWebEngineNewWindowRequest& request);
    void takeDownload(QWebEngineDownloadRequest* download);

    QWebEngineView* mView;
    bool mBusy = false;
    bool mShownPage = false;      // a page has been shown (not only a download)
    bool mStopRequested = false;  // the user stopped the load under way
    QString mDownloadName;        // the file the load under way turned into, if any
    bool mCanGoBack = false;
    bool mCanGoForward = false;
};
