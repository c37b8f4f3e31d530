#include "FNewVersion.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include "Addresses.h"
#include "Help.h"
#include "SettingsStore.h"
#include "StarImages.h"

FNewVersion::FNewVersion(QWidget* parent) : QDialog(parent) {
    setWindowTitle("New Version Available");
    Help::BindKey(this, Help::kNewVersion);
    auto* Image1 = new QLabel(this);
    Image1->setPixmap(StarImages::Frame(1, true));
    auto* Label1 = new QLabel("A New Version of", this);
    auto* lblShunlist = new QLabel("Tarnbid Bidbench", this);
    QFont bold = lblShunlist->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 4);
    lblShunlist->setFont(bold);
    auto* Label2 = new QLabel("is available.", this);
    auto* lblRefresher = new QLabel(
        "Auto-update can connect to the Internet to download a small update patch.  Would you like to connect now "
        "to update?",
        this);
    lblRefresher->setWordWrap(true);
    cmdUpdateNow = new QPushButton("Update Now", this);
    cmdUpdateNow->setDefault(true);
    cmdLater = new QPushButton("Update Later", this);

    auto* text = new QVBoxLayout;
    text->addWidget(Label1);
    text->addWidget(lblShunlist);
    text->addWidget(Label2);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdUpdateNow);
    buttons->addWidget(cmdLater);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lblRefresher);
    layout->addLayout(buttons);
    setMinimumWidth(380);

    connect(cmdUpdateNow, &QPushButton::clicked, this, &FNewVersion::UpdateNow);
    connect(cmdLater, &QPushButton::clicked, this, &QDialog::reject);
}

void FNewVersion::UpdateNow() {
    // The updater runs on its own; Bidbench ends once the dialog returns.
    // When it cannot be started, say so and keep running.
    if (!QProcess::startDetached(Addresses::UpdaterPath(), {}, Addresses::ProgramFolder())) {
        QMessageBox::warning(this, SettingsStore::kProgramTitle,
                             "The updater could not be started:\n" + Addresses::UpdaterPath());
        reject();
        return;
    }
    mUpdating = true;
    accept();
}
