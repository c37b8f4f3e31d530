#include "FPageWindow.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

#include "Browser.h"
#include "SettingsStore.h"

namespace {
constexpr int kTabTextLength = 30;  // characters of a page title on its tab
}

FPageWindow::FPageWindow(QWidget* parent) : QMainWindow(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("FPageWindow");
    tabPages = new QTabWidget;
    tabPages->setObjectName("tabPages");
    tabPages->setTabsClosable(true);
    tabPages->setDocumentMode(true);
    setCentralWidget(tabPages);
    sbStatus = new QLabel;
    sbStatus->setObjectName("sbStatus");
    statusBar()->addWidget(sbStatus, 1);
    resize(900, 680);

    auto* closeTab = new QAction(this);
    closeTab->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
    closeTab->setShortcutContext(Qt::WindowShortcut);
    addAction(closeTab);
    connect(closeTab, &QAction::triggered, this, [this] { ClosePage(tabPages->currentIndex()); });
    connect(tabPages, &QTabWidget::tabCloseRequested, this, &FPageWindow::ClosePage);
    connect(tabPages, &QTabWidget::currentChanged, this, &FPageWindow::ShowTitles);
}

void FPageWindow::AddPage(Browser* browser, bool inBackground) {
    browser->setParent(this);
    const int index = tabPages->addTab(browser->widget(), "Opening...");
    connect(browser, &Browser::downloadComplete, this, &FPageWindow::ShowTitles);
    connect(browser, &Browser::navigateComplete, this, &FPageWindow::ShowTitles);
    connect(browser, &Browser::statusTextChanged, this, [this, browser](const QString& sText) {
        if (tabPages->currentWidget() == browser->widget()) sbStatus->setText(sText);
    });
    connect(browser, &Browser::closeRequested, this, [this, browser] { ClosePage(IndexOf(browser)); });
    // A page opened from one of these pages opens beside it.
    connect(browser, &Browser::newWindowOpened, this, &FPageWindow::AddPage);
    if (!inBackground || tabPages->count() == 1) tabPages->setCurrentIndex(index);
    ShowTitles();
    show();
    if (!inBackground) {
        raise();
        activateWindow();
    }
}

void FPageWindow::ClosePage(int index) {
    Browser* browser = PageAt(index);
    if (!browser) return;
    tabPages->removeTab(index);
    browser->widget()->deleteLater();
    browser->deleteLater();
    if (tabPages->count() == 0)
        close();
    else
        ShowTitles();
}

int FPageWindow::PageCount() const { return tabPages->count(); }

Browser* FPageWindow::PageAt(int index) const {
    QWidget* page = tabPages->widget(index);
    if (!page) return nullptr;
    for (Browser* browser : findChildren<Browser*>(QString(), Qt::FindDirectChildrenOnly))
        if (browser->widget() == page) return browser;
    return nullptr;
}

int FPageWindow::IndexOf(const Browser* browser) const {
    for (int index = 0; index < tabPages->count(); ++index)
        if (PageAt(index) == browser) return index;
    return -1;
}

void FPageWindow::ShowTitles() {
    for (int index = 0; index < tabPages->count(); ++index) {
        const Browser* browser = PageAt(index);
        const QString sName = browser->locationName();
        tabPages->setTabText(index,
                             sName.isEmpty() ? "Opening..." : QString(sName.left(kTabTextLength)).replace('&', "&&"));
        tabPages->setTabToolTip(index, sName);
    }
    const Browser* current = PageAt(tabPages->currentIndex());
    setWindowTitle(SettingsStore::kProgramTitle + " > " + (current ? current->locationName() : QString()));
}
