#include "ShellUIHelper.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "BrowserFavorites.h"
#include "Help.h"
#include "SettingsStore.h"

FAddFavorite::FAddFavorite(const QString& sTitle, const QString& sAddress, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Add Favorite");
    Help::BindKey(this, Help::kBrowserFavorites);
    auto* layout = new QVBoxLayout(this);
    auto* address = new QLabel(sAddress);
    address->setTextFormat(Qt::PlainText);
    address->setWordWrap(true);
    layout->addWidget(new QLabel("Add this page to your browser favorites:"));
    layout->addWidget(address);
    auto* nameLabel = new QLabel("&Name:");
    txtName = new QLineEdit(sTitle);
    nameLabel->setBuddy(txtName);
    layout->addWidget(nameLabel);
    layout->addWidget(txtName);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    cmdOK = buttons->button(QDialogButtonBox::Ok);
    cmdCancel = buttons->button(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(txtName, &QLineEdit::textChanged, this, [this] { cmdOK->setEnabled(!txtName->text().trimmed().isEmpty()); });
}

QString ShellUIHelper::AddFavorite(const QString& sAddress, const QString& sTitle) {
    QString sName;
    {
        FAddFavorite dialog(sTitle, sAddress, mOwner);
        if (dialog.exec() != QDialog::Accepted) return {};
        sName = dialog.txtName->text();
    }
    QString sError = "the favorites folder cannot be made";
    const QString folder = BrowserFavorites::Folder();
    const QString path = folder.isEmpty() ? QString() : BrowserFavorites::WriteShortcut(folder, sName, sAddress, &sError);
    if (path.isEmpty())
        QMessageBox::warning(mOwner, SettingsStore::kProgramTitle, "The favorite could not be added: " + sError);
    return path;
}

bool ShellUIHelper::ImportExportFavorites(bool fImport, const QString& strImpExpPath) {
    if (!fImport) return false;
    const BrowserFavorites::ImportResult result = BrowserFavorites::Import(strImpExpPath, BrowserFavorites::Folder());
    QMessageBox::information(mOwner, "Import Netscape Favorites", BrowserFavorites::ImportReport(result));
    return result.read;
}
