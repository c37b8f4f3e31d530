// The main window's layout, from the design's table in twips, its size,
// place and address history kept between runs, and the keys and mouse
// events it watches for.
#include "FMain.h"

#include <algorithm>
#include <cstdlib>

#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "FMainShared.h"
#include "Help.h"
#include "LinkLabel.h"

using namespace FMainShared;

// ---- layout ---------------------------------------------------------------------

int MainLayout::Pixels(int twips) { return (twips + 7) / 15; }

MainLayout MainLayout::Compute(int innerWidth, int innerHeight, bool labelsShown) {
    // The table is in twips; the window measures in pixels.
    const int w = innerWidth * 15, h = innerHeight * 15;
    MainLayout l{};
    const int tabWidthTwips = w - 50;
    const int tabHeightTwips = std::abs(h - (labelsShown ? 950 : 780));
    l.tabTop = Pixels(labelsShown ? 660 : 500);
    l.tabWidth = Pixels(tabWidthTwips);
    l.tabHeight = Pixels(tabHeightTwips);
    l.browserWidth = Pixels(tabWidthTwips - 30);
    l.browserHeight = Pixels(std::abs(tabHeightTwips - 830));
    l.goLeft = Pixels(std::abs(w - 900));
    l.addressWidth = Pixels(std::abs(w - 2150));
    l.starLeft = Pixels(std::abs(w - 550));
    l.linkLeft = Pixels(std::abs(tabWidthTwips - 1200));
    return l;
}

// ---- layout ---------------------------------------------------------------------------------

void FMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Layout();
    if (isVisible()) mGeometrySaver->start();
}

void FMain::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (isVisible()) mGeometrySaver->start();
}

// The window's size and place, and the address history, are kept from one
// run to the next; written as they change, so that a crash keeps them.
void FMain::RestoreWindowState() {
    const QByteArray geometry = QByteArray::fromBase64(SettingsStore::Read("WindowGeometry").toLatin1());
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    v_bFillingAddressList = true;
    for (const QString& sAddress : SettingsStore::ReadList("AddressHistory").mid(0, kHistoryLength))
        if (!sAddress.isEmpty()) cboAddress->addItem(sAddress);
    v_bFillingAddressList = false;
}

void FMain::SaveGeometry() { SettingsStore::Write("WindowGeometry", QString::fromLatin1(saveGeometry().toBase64())); }

void FMain::SaveHistory() {
    QStringList history;
    for (int i = 0; i < cboAddress->count(); ++i) history << cboAddress->itemText(i);
    SettingsStore::WriteList("AddressHistory", history);
}

void FMain::Layout() {
    const bool labels = LabelsShown();
    const int innerWidth = mCentral->width();
    const int innerHeight = mCentral->height() + (statusBar()->isVisible() ? statusBar()->height() : 0);
    MainLayout l = MainLayout::Compute(innerWidth, innerHeight, labels);
    // The table measures from the form's inner height, status bar included:
    // the tab strip and browsers end where the status bar begins.
    const int overrun = l.tabTop + l.tabHeight - mCentral->height();
    if (overrun > 0) {
        l.tabHeight -= overrun;
        l.browserHeight = std::max(0, l.browserHeight - overrun);
    }
    const int starSize = labels ? 32 : 20;
    // Labels under the icons need the smaller icons to fit the toolbar row.
    tbrNavigate->setIconSize(labels ? QSize(16, 16) : QSize(22, 22));
    tbrNavigate->setGeometry(0, 0, std::max(0, l.starLeft - 4), l.tabTop - 2);
    picSnipe->setGeometry(l.starLeft, (l.tabTop - starSize) / 2, starSize, starSize);
    SSTab1->setGeometry(0, l.tabTop, l.tabWidth, l.tabHeight);
    // The browsers fill the lower part of each page; the row above holds
    // the link label or the address controls.
    // The shown page's height: the tab widget resizes only the page it
    // shows, so the other page's height is that of its last showing.
    const QWidget* shown = SSTab1->currentWidget();
    const int pageHeight = shown && shown->height() > 0 ? shown->height() : l.tabHeight;
    const int browserTop = std::max(0, pageHeight - l.browserHeight);
    brwSnipe->widget()->setGeometry(0, browserTop, l.browserWidth, l.browserHeight);
    brwAuction->widget()->setGeometry(0, browserTop, l.browserWidth, l.browserHeight);
    const int rowHeight = std::max(22, browserTop - 4);
    lblTarnscope->setGeometry(l.linkLeft, 2, MainLayout::Pixels(1100), rowHeight);
    tbrSnipe->setGeometry(2, 2, MainLayout::Pixels(1150), rowHeight);
    cboAddress->setGeometry(MainLayout::Pixels(1250), 2, l.addressWidth, rowHeight);
    tbrGo->setGeometry(l.goLeft, 2, MainLayout::Pixels(800), rowHeight);
    timStar->start();
}

bool FMain::eventFilter(QObject* watched, QEvent* event) {
    if (!SSTab1 || !lblTarnscope) return QMainWindow::eventFilter(watched, event);  // still being built
    // The mouse over the window or the tab strip resets the link label.
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)
        if (watched == mCentral || watched == SSTab1->tabBar()) lblTarnscope->resetLook();
    if (watched == SSTab1->tabBar() && event->type() == QEvent::Resize) QTimer::singleShot(0, this, &FMain::Layout);
    HoldSelectionForMenus(watched, event);
    // Shift+Enter in the find bar finds the previous match.
    if (watched == txtFind && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::ShiftModifier) {
            FindNext(true);
            return true;
        }
    }
    // Escape in the find bar closes it, rather than stopping the browser.
    if (watched == txtFind && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (event->type() == QEvent::ShortcutOverride)
            event->accept();
        else
            CloseFindBar();
        return true;
    }
    // F1 in an open menu opens the menu's help page.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1)
        if (auto* menu = qobject_cast<QMenu*>(watched); menu && menu->property(kHelpPageProperty).isValid()) {
            menu->close();
            Help::Open(menu->property(kHelpPageProperty).toString(), this);
            return true;
        }
    return QMainWindow::eventFilter(watched, event);
}

// A text box forgets its selection when the menu bar takes the focus (Alt,
// then E): the selection is kept here so that Edit > Copy still has it, and
// given back when the focus returns.
void FMain::HoldSelectionForMenus(QObject* watched, QEvent* event) {
    // The address box has the focus for its text box, which it hands the
    // focus events without passing them through filters.
    auto* line = watched == cboAddress ? cboAddress->lineEdit() : qobject_cast<QLineEdit*>(watched);
    if (!line) return;
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if ((reason == Qt::MenuBarFocusReason || reason == Qt::PopupFocusReason) && line->hasSelectedText())
            mHeldSelection = {line, line->text(), line->selectionStart(),
                              static_cast<int>(line->selectedText().size())};
        else
            mHeldSelection = {};
    } else if (event->type() == QEvent::FocusIn && mHeldSelection.line == line) {
        RestoreHeldSelection();
        mHeldSelection = {};
    }
}

// The text box whose selection is held, with that selection back on it;
// null when none is held or its text has changed since.
QLineEdit* FMain::RestoreHeldSelection() {
    QLineEdit* line = mHeldSelection.line;
    if (!line || line->text() != mHeldSelection.text) return nullptr;
    if (!line->hasSelectedText()) line->setSelection(mHeldSelection.start, mHeldSelection.length);
    return line;
}
