#include "FAbout.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "Addresses.h"
#include "Help.h"
#include "LinkLabel.h"
#include "SettingsStore.h"
#include "StarImages.h"
#include "Version.h"

const QStringList FAbout::kSystemInfoTools = {"hardinfo", "kinfocenter", "gnome-system-monitor"};

FAbout::FAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Bidbench");
    Help::BindKey(this, Help::kAbout);
    auto* Image1 = new QLabel(this);
    Image1->setPixmap(StarImages::Frame(1, true));
    lblTitle = new QLabel(SettingsStore::kProgramTitle, this);
    QFont bold = lblTitle->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 4);
    lblTitle->setFont(bold);
    lblVersion =
        new QLabel(QString("Version %1.%2.%3").arg(Version::kMajor).arg(Version::kMinor).arg(Version::kRevision), this);
    auto* lblDescription = new QLabel(
        "Tarnbid Bidbench allows you to place bids in the waning moments of online auctions.  Visit us at:", this);
    lblDescription->setWordWrap(true);
    lblTarnscope = new LinkLabel(Addresses::CurrentHosts().makerHost, Addresses::MakerSiteAddress(), this);
    auto* Label2 = new QLabel("for other great services and software for online auction users.", this);
    Label2->setWordWrap(true);
    auto* Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    auto* lblDisclaimer = new QLabel(
        "This program is distributed free of charge and as it is, without any warranty.  You may copy and give it "
        "away unchanged; it may not be sold or bundled with other software without the maker's permission.",
        this);
    lblDisclaimer->setWordWrap(true);
    cmdOK = new QPushButton("OK", this);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton("&System Info...", this);

    auto* titles = new QVBoxLayout;
    titles->addWidget(lblTitle);
    titles->addWidget(lblVersion);
    titles->addWidget(lblDescription);
    titles->addWidget(lblTarnscope);
    titles->addWidget(Label2);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(titles, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    bottom->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Line1);
    layout->addLayout(bottom);
    setMinimumWidth(460);

    // OK answers both Enter (default button) and Escape (reject).
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &FAbout::StartSysInfo);
}

void FAbout::StartSysInfo() {
    for (const QString& tool : kSystemInfoTools) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (!path.isEmpty() && QProcess::startDetached(path, {})) return;
    }
    QMessageBox::information(this, SettingsStore::kProgramTitle, "System Information Is Unavailable At This Time");
}
