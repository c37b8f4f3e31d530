#include "FStart.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Addresses.h"
#include "Help.h"
#include "LinkLabel.h"
#include "SettingsStore.h"
#include "StarImages.h"

namespace {
QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}
}  // namespace

FStart::FStart(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Welcome to Tarnbid Bidbench");
    Help::BindKey(this, Help::kStartScreen);
    auto* lblTarnbid = new QLabel("Tarnbid", this);
    QFont big = lblTarnbid->font();
    big.setPointSize(big.pointSize() + 10);
    big.setBold(true);
    lblTarnbid->setFont(big);
    auto* lblFrom = new QLabel("brought to you by", this);
    // The "&" of the form's caption marked an access key; a link shows no
    // access key, and as plain text it would show the "&" itself.
    lblTarnscope = new LinkLabel("Tarnscope", Addresses::MakerSiteAddress(), this);
    lblTarnscope->setTextFormat(Qt::PlainText);
    auto* lblBidbench = new QLabel("Bidbench", this);
    lblBidbench->setFont(big);
    auto* Image1 = new QLabel(this);
    Image1->setPixmap(StarImages::Frame(1, true).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    auto* fraBody = new QGroupBox("Start Winning Auctions!", this);
    auto* body = new QVBoxLayout(fraBody);
    body->addWidget(WrappedLabel(
        "Tarnbid Bidbench allows you to place last-second bids in online auctions.  Your bid requests will be set "
        "up on a secure online server and placed for you automatically.  Your computer does not even have to have "
        "to be turned on when your bid is placed.",
        fraBody));
    body->addWidget(WrappedLabel(
        "Using Bidbench is easy and free!  When you are viewing an auction in the auction browser window, just "
        "press the Snipe! button to set up a bid.  View and manage your bids in the Tarnbid window.",
        fraBody));
    body->addWidget(WrappedLabel(
        "You need an account with Tarnbid to set up snipe bids.  It is free and only takes a moment to set up.",
        fraBody));

    auto* lblAccountQuery = new QLabel("Do you have an account with Tarnbid?", this);
    cmdYes = new QPushButton("&Yes", this);
    Command1 = new QPushButton("&No", this);
    chkHasAccount = new QCheckBox("I have a Tarnbid &account.  Do not show this message again.", this);

    auto* heading = new QHBoxLayout;
    heading->addWidget(Image1);
    auto* names = new QVBoxLayout;
    names->addWidget(lblTarnbid);
    auto* from = new QHBoxLayout;
    from->addWidget(lblFrom);
    from->addWidget(lblTarnscope);
    from->addStretch();
    names->addLayout(from);
    names->addWidget(lblBidbench);
    heading->addLayout(names, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblAccountQuery, 1);
    buttons->addWidget(cmdYes);
    buttons->addWidget(Command1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(heading);
    layout->addWidget(fraBody);
    layout->addLayout(buttons);
    layout->addWidget(chkHasAccount);
    setMinimumWidth(520);

    // "Yes" and "No" only hide the dialog; the main window reads it and unloads it.
    connect(cmdYes, &QPushButton::clicked, this, [this] {
        mHasAccount = true;
        accept();
    });
    connect(Command1, &QPushButton::clicked, this, &QDialog::reject);
}

FStart::~FStart() {
    if (chkHasAccount->isChecked()) SettingsStore::Write("StartScreen", "N");
}

void FStart::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
