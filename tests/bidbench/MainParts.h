// The main window's controls, found by the names the window gives them, so
// that tests drive the real widgets without the window exposing them.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "Browser.h"
#include "FMain.h"
#include "LinkLabel.h"

template <class T>
T* Named(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(name);
    if (!found) ADD_FAILURE() << "the window has no " << name;
    return found;
}

struct MainParts {
    explicit MainParts(const FMain& w)
        : brwSnipe(Named<Browser>(w, "brwSnipe")),
          brwAuction(Named<Browser>(w, "brwAuction")),
          SSTab1(Named<QTabWidget>(w, "SSTab1")),
          tbrNavigate(Named<QToolBar>(w, "tbrNavigate")),
          tbrBack(Named<QAction>(w, "tbrBack")),
          tbrForward(Named<QAction>(w, "tbrForward")),
          cboAddress(Named<QComboBox>(w, "cboAddress")),
          tbrGo(Named<QToolButton>(w, "tbrGo")),
          tbrSnipe(Named<QToolButton>(w, "tbrSnipe")),
          lblTarnscope(static_cast<LinkLabel*>(Named<QLabel>(w, "lblTarnscope"))),
          sbPanel1(Named<QLabel>(w, "sbPanel1")),
          sbPanel2(Named<QLabel>(w, "sbPanel2")),
          sbPanel3(Named<QLabel>(w, "sbPanel3")),
          timTimer(Named<QTimer>(w, "timTimer")),
          timDate(Named<QTimer>(w, "timDate")),
          mnuNavigateSnipe(Named<QAction>(w, "mnuNavigateSnipe")),
          mnuFavoritesAdd(Named<QAction>(w, "mnuFavoritesAdd")),
          mnuOptionsText(Named<QAction>(w, "mnuOptionsText")),
          mnuButtonBarStatusViewLabels(Named<QAction>(w, "mnuButtonBarStatusViewLabels")),
          mnuButtonBarStatus(Named<QMenu>(w, "mnuButtonBarStatus")),
          mnuFavoritesButton(Named<QMenu>(w, "mnuFavoritesButton")),
          fraFind(Named<QWidget>(w, "fraFind")),
          txtFind(Named<QLineEdit>(w, "txtFind")),
          lblFindResult(Named<QLabel>(w, "lblFindResult")) {
        // Sites 1 to 7 at their numbers, as the design's control array has them.
        mnuOptionsSite = {nullptr};
        mnuOptionsSite += w.findChildren<QAction*>("mnuOptionsSite");
    }

    Browser* brwSnipe;
    Browser* brwAuction;
    QTabWidget* SSTab1;
    QToolBar* tbrNavigate;
    QAction* tbrBack;
    QAction* tbrForward;
    QComboBox* cboAddress;
    QToolButton* tbrGo;
    QToolButton* tbrSnipe;
    LinkLabel* lblTarnscope;
    QLabel* sbPanel1;
    QLabel* sbPanel2;
    QLabel* sbPanel3;
    QTimer* timTimer;
    QTimer* timDate;
    QAction* mnuNavigateSnipe;
    QAction* mnuFavoritesAdd;
    QAction* mnuOptionsText;
    QAction* mnuButtonBarStatusViewLabels;
    QMenu* mnuButtonBarStatus;
    QMenu* mnuFavoritesButton;
    QWidget* fraFind;
    QLineEdit* txtFind;
    QLabel* lblFindResult;
    QList<QAction*> mnuOptionsSite;
};

inline MainParts Ui(const FMain& window) { return MainParts(window); }
