#include "FToolbar.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
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
    snipe.addPixmap(StarImages::Frame(1, false), QIcon::Normal);  // "Snipe"
    snipe.addPixmap(StarImages::Frame(4, false), QIcon::Active);  // "SnipeHot"
    cmdSnipe = Toolbar1->addAction(snipe, "Snipe!");
    timTimer = new QTimer(this);
    timTimer->setInterval(1);
    timTimer->setSingleShot(true);

    lblWhyNot = new QLabel;
    lblWhyNot->setObjectName("lblWhyNot");
    // One line kept for it, so that the window does not jump as it speaks.
    lblWhyNot->setMinimumHeight(lblWhyNot->fontMetrics().height());

    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(lblItem);
    row->addWidget(txtItem);
    row->addWidget(Toolbar1);
    layout->addLayout(row);
    layout->addWidget(lblWhyNot);

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

// Item numbers are digits only: "1e5", "inf" or "1,234", which pass for
// numbers elsewhere, would reach the service as some other item or none.
QString FToolbar::WhyNotAnItem(const QString& sText) {
    const QString sTrimmed = sText.trimmed();
    for (const QChar c : sTrimmed) {
        if (c >= u'0' && c <= u'9') continue;
        const QString sWhat = c.isSpace() ? QStringLiteral("blanks") : "\"" + QString(c) + "\"";
        return "Item numbers are digits only: no " + sWhat + ".";
    }
    return {};
}

void FToolbar::UpdateSnipe() {
    const QString sText = txtItem->text();
    lblWhyNot->setText(WhyNotAnItem(sText));
    cmdSnipe->setEnabled(!sText.trimmed().isEmpty() && lblWhyNot->text().isEmpty());
}

void FToolbar::Snipe() {
    if (!cmdSnipe->isEnabled()) return;
    mItemText = txtItem->text().trimmed();
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
