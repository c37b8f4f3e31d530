#include "FToolbar.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QTimer>
#include <QToolBar>

#include "Help.h"
#include "SettingsStore.h"
#include "StarImages.h"

void ItemBox::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasText()) return QLineEdit::dropEvent(event);
    setText(event->mimeData()->text());
    event->acceptProposedAction();
}

FToolbar::FToolbar(QWidget* parent) : QDialog(parent) {
    setWindowTitle(SettingsStore::kProgramTitle);
    Help::BindKey(this, Help::kFloatingToolbar);
    // Top-most, keeping its place and size.
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    lblItem = new QLabel("&eBay Item #");
    txtItem = new ItemBox;
    lblItem->setBuddy(txtItem);
    Toolbar1 = new QToolBar;
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QIcon snipe;
    snipe.addPixmap(StarImages::Frame(1, false), QIcon::Normal);   // "Snipe"
    snipe.addPixmap(StarImages::Frame(4, false), QIcon::Active);   // "SnipeHot"
    cmdSnipe = Toolbar1->addAction(snipe, "Snipe!");
    timTimer = new QTimer(this);
    timTimer->setInterval(1);
    timTimer->setSingleShot(true);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(lblItem);
    layout->addWidget(txtItem);
    layout->addWidget(Toolbar1);

    connect(cmdSnipe, &QAction::triggered, this, &FToolbar::Snipe);
    connect(txtItem, &QLineEdit::textChanged, this, &FToolbar::UpdateSnipe);
    // Enter in the item box snipes, as the button would.
    connect(txtItem, &QLineEdit::returnPressed, this, [this] {
        if (cmdSnipe->isEnabled()) Snipe();
    });
    connect(timTimer, &QTimer::timeout, this, [this] { txtItem->setFocus(); });
    UpdateSnipe();
    timTimer->start();
}

bool FToolbar::IsNumeric(const QString& sText) {
    bool ok = false;
    QLocale().toDouble(sText.trimmed(), &ok);
    return ok;
}

void FToolbar::UpdateSnipe() { cmdSnipe->setEnabled(!txtItem->text().isEmpty() && IsNumeric(txtItem->text())); }

void FToolbar::Snipe() {
    mItemText = txtItem->text();
    accept();
}

// Every close but Snipe! counts as the user's: the close box, the window
// menu, Escape. The main window ignores the result while it unloads.
void FToolbar::closeEvent(QCloseEvent* event) {
    mClosedByUser = true;
    QDialog::closeEvent(event);
}

void FToolbar::reject() {
    mClosedByUser = true;
    QDialog::reject();
}
