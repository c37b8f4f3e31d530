// The real browser: a QWebEngineView on the program's persistent profile,
// so cookies and logins survive a restart.
#pragma once

#include "Browser.h"

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

    QWebEngineView* view() const { return mView; }

    // The profile every browser of the program uses, made on first use.
    static QWebEngineProfile* SharedProfile();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reportCommandStates();

    QWebEngineView* mView;
    bool mBusy = false;
    QString mFailure;  // why the load under way failed, when it did
    bool mCanGoBack = false;
    bool mCanGoForward = false;
};
