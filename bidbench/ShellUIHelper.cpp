#include "ShellUIHelper.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>
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
    connect(txtName, &QLineEdit::textChanged, this,
            [this] { cmdOK->setEnabled(!txtName->text().trimmed().isEmpty()); });
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
    const QString path =
        folder.isEmpty() ? QString() : BrowserFavorites::WriteShortcut(folder, sName, sAddress, &sError);
    if (path.isEmpty())
        QMessageBox::warning(mOwner, SettingsStore::kProgramTitle, "The favorite could not be added: " + sError);
    return path;
}

bool ShellUIHelper::ImportExportFavorites(bool fImport, const QString& strImpExpPath) {
    if (!fImport) return false;
    const BrowserFavorites::ImportResult result = ImportWithProgress(strImpExpPath, BrowserFavorites::Folder());
    const QString sReport = BrowserFavorites::ImportReport(result);
    if (result.read && !result.bookmarkFile)
        QMessageBox::warning(mOwner, "Import Netscape Favorites", QFileInfo(strImpExpPath).fileName() + ": " + sReport);
    else
        QMessageBox::information(mOwner, "Import Netscape Favorites", sReport);
    return result.read && result.bookmarkFile;
}

// Writing thousands of shortcut files takes seconds: the import runs on a
// thread of its own while the window goes on drawing itself and a progress
// dialog counts the bookmarks, with a button to stop.
BrowserFavorites::ImportResult ShellUIHelper::ImportWithProgress(const QString& sFile, const QString& sFolder) {
    std::atomic<int> done{0}, total{0};
    std::atomic<bool> stop{false};
    BrowserFavorites::ImportResult result;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        result = BrowserFavorites::Import(sFile, sFolder, [&](int doneSoFar, int all) {
            done = doneSoFar;
            total = all;
            return !stop;
        });
    }));
    QProgressDialog progress("Importing bookmarks...", "&Stop", 0, 0, mOwner);
    progress.setWindowTitle("Import Netscape Favorites");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QEventLoop waiting;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] {
        if (total > 0) {
            progress.setMaximum(total);
            progress.setValue(done);
            progress.setLabelText(QString("Importing bookmark %1 of %2...").arg(done + 1).arg(total));
        }
    });
    QObject::connect(&progress, &QProgressDialog::canceled, [&] { stop = true; });
    QObject::connect(worker.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    tick.start(50);
    worker->start();
    waiting.exec();
    worker->wait();
    return result;
}
