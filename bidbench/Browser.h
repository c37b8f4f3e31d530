// The embedded browser as the windows see it: navigation, location, busy
// state and the events the main window follows. WebBrowser puts the real
// engine behind it; tests use a fake.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QPrinter;
class QWidget;

class Browser : public QObject {
    Q_OBJECT
public:
    // Command ids of commandStateChanged, as the window logic knows them.
    static constexpr int kCommandForward = 1;
    static constexpr int kCommandBack = 2;

    using QObject::QObject;
    ~Browser() override = default;

    virtual QWidget* widget() = 0;
    virtual void navigate(const QString& sAddress) = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual void stop() = 0;
    virtual void refresh() = 0;
    virtual QString locationAddress() const = 0;
    virtual QString locationName() const = 0;
    virtual bool busy() const = 0;
    virtual void focus() = 0;

    // The page's own edit and search operations: cut, copy and paste act on
    // the page's selection or the form field that has the focus.
    enum class PageEdit { Cut, Copy, Paste };
    virtual void editPage(PageEdit edit) = 0;
    // Finds the next (or previous) occurrence and highlights it; `done`
    // gets the active match (from 1) and the number of matches. An empty
    // text clears the highlight.
    using FindDone = std::function<void(int activeMatch, int matches)>;
    virtual void findText(const QString& sText, bool backward, FindDone done) = 0;
    // Prints the page; false, doing nothing, when no page is loaded.
    // `done` follows when the printer has the page.
    virtual bool print(QPrinter* printer, std::function<void(bool ok)> done) = 0;
    // Page zoom as desktop browsers step it: +1 one step larger, -1 one
    // step smaller, 0 back to the actual size.
    virtual void zoom(int step) = 0;
    virtual double zoomFactor() const = 0;

signals:
    void statusTextChanged(const QString& sText);
    void progressChanged(int percent);
    void commandStateChanged(int command, bool enabled);
    void downloadComplete();
    void navigateComplete(const QString& sAddress);
    void focusReceived();
    // The page asked for a window of its own (a link with a target, a
    // script's window.open, a middle click, "Open link in new tab"); the new
    // browser already holds that page, and whoever receives it owns it.
    void newWindowOpened(Browser* newBrowser, bool inBackground);
    // The page closed itself (a script's window.close()).
    void closeRequested();
};
