// A browser for the window logic tests: records what it is asked to do and
// lets the test raise its events and set its state.
#pragma once

#include <QLabel>
#include <functional>
#include <QStringList>
#include <stdexcept>

#include "Browser.h"

class FakeBrowser final : public Browser {
public:
    // Its widget takes the focus, as a real browser view does.
    explicit FakeBrowser(QWidget* parent) : mWidget(new QLabel("fake browser", parent)) {
        mWidget->setFocusPolicy(Qt::StrongFocus);
    }

    QWidget* widget() override { return mWidget; }
    void navigate(const QString& sAddress) override { navigations.append(sAddress); }
    void goBack() override { ++backs; }
    void goForward() override { ++forwards; }
    void stop() override { ++stops; }
    void refresh() override { ++refreshes; }
    QString locationAddress() const override { return address; }
    QString locationName() const override {
        if (failLocationName) throw std::runtime_error("no location name");
        return name;
    }
    bool busy() const override { return isBusy; }
    void focus() override { mWidget->setFocus(); }
    void editPage(PageEdit edit) override {
        edits.append(edit == PageEdit::Cut ? "cut" : edit == PageEdit::Copy ? "copy" : "paste");
    }
    void findText(const QString& sText, bool backward, FindDone done) override {
        finds.append((backward ? "<" : ">") + sText);
        if (done) done(sText.isEmpty() ? 0 : 1, sText.isEmpty() ? 0 : 2);
    }
    bool print(QPrinter*, std::function<void(bool)> done) override {
        if (address.isEmpty()) return false;
        ++prints;
        if (done) done(true);
        return true;
    }

    void zoom(int step) override { zoomLevel = step == 0 ? 1.0 : zoomLevel * (step > 0 ? 1.1 : 1 / 1.1); }
    double zoomFactor() const override { return zoomLevel; }

    // Completes a navigation as the engine would.
    void arrive(const QString& sAddress, const QString& sName) {
        address = sAddress;
        name = sName;
        isBusy = false;
        emit navigateComplete(sAddress);
        emit downloadComplete();
    }

    QStringList navigations;
    int backs = 0, forwards = 0, stops = 0, refreshes = 0, prints = 0;
    QStringList edits;
    QStringList finds;
    QString address, name;
    bool isBusy = false;
    double zoomLevel = 1.0;
    bool failLocationName = false;

private:
    QLabel* mWidget;
};
