#include "FDownload.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QWebEngineDownloadRequest>

void FDownload::Ask(QWebEngineDownloadRequest* download, QWidget* owner) {
    auto* dialog = new FDownload(download, owner);
    if (dialog->exec() != QDialog::Accepted) {
        download->cancel();
        delete dialog;
        return;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);  // from here it lives until the user closes it
    dialog->Start();
}

FDownload::FDownload(QWebEngineDownloadRequest* download, QWidget* owner) : QDialog(owner), mDownload(download) {
    setWindowTitle("Download");
    const QString sFrom = download->url().host().isEmpty() ? download->url().toString() : download->url().host();
    lblFile = new QLabel(QString("Save \"%1\" from %2?").arg(download->downloadFileName(), sFrom));
    lblFile->setTextFormat(Qt::PlainText);
    txtPath = new QLineEdit(QDir(download->downloadDirectory()).filePath(download->downloadFileName()));
    txtPath->setMinimumWidth(360);
    auto* pathLabel = new QLabel("Save &to:");
    pathLabel->setBuddy(txtPath);
    cmdBrowse = new QPushButton("&Browse...");
    barProgress = new QProgressBar;
    barProgress->hide();
    lblState = new QLabel;
    lblState->setTextFormat(Qt::PlainText);
    lblState->setWordWrap(true);
    cmdSave = new QPushButton("&Save");
    cmdSave->setDefault(true);
    cmdOpen = new QPushButton("&Open");
    cmdOpenFolder = new QPushButton("Open &Folder");
    cmdClose = new QPushButton("Cancel");
    cmdOpen->hide();
    cmdOpenFolder->hide();

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblFile, 0, 0, 1, 3);
    grid->addWidget(pathLabel, 1, 0);
    grid->addWidget(txtPath, 1, 1);
    grid->addWidget(cmdBrowse, 1, 2);
    grid->addWidget(barProgress, 2, 0, 1, 3);
    grid->addWidget(lblState, 3, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* button : {cmdOpen, cmdOpenFolder, cmdSave, cmdClose}) buttons->addWidget(button);
    grid->addLayout(buttons, 4, 0, 1, 3);

    connect(cmdBrowse, &QPushButton::clicked, this, &FDownload::ChooseFile);
    connect(cmdSave, &QPushButton::clicked, this, [this] {
        if (!txtPath->text().trimmed().isEmpty() && MayWriteTo(txtPath->text().trimmed())) accept();
    });
    connect(cmdClose, &QPushButton::clicked, this, [this] {
        // Before the end Cancel stops the download; after it, it is Close.
        if (mDownload && !mDownload->isFinished() && mDownload->state() != QWebEngineDownloadRequest::DownloadRequested)
            mDownload->cancel();
        if (isModal())
            reject();
        else
            close();
    });
    connect(cmdOpen, &QPushButton::clicked, this, [this] {
        if (mDownload)
            QDesktopServices::openUrl(
                QUrl::fromLocalFile(QDir(mDownload->downloadDirectory()).filePath(mDownload->downloadFileName())));
    });
    connect(cmdOpenFolder, &QPushButton::clicked, this, [this] {
        if (mDownload) QDesktopServices::openUrl(QUrl::fromLocalFile(mDownload->downloadDirectory()));
    });
}

// A file typed in that is already there is replaced only when the user
// says so (the file dialog of Browse... asks by itself): an earlier
// invoice of the same name must not vanish under a new one.
bool FDownload::MayWriteTo(const QString& sPath) {
    const QFileInfo target(sPath);
    if (!target.exists()) return true;
    return QMessageBox::question(this, windowTitle(),
                                 QDir::toNativeSeparators(target.absoluteFilePath()) +
                                     " already exists.\r\nDo you want to replace it?") == QMessageBox::Yes;
}

void FDownload::ChooseFile() {
    const QString sPath = QFileDialog::getSaveFileName(this, "Save As", txtPath->text());
    if (sPath.isEmpty()) return;
    txtPath->setText(sPath);
    accept();
}

void FDownload::Start() {
    const QFileInfo target(txtPath->text().trimmed());
    QDir().mkpath(target.absolutePath());
    mDownload->setDownloadDirectory(target.absolutePath());
    mDownload->setDownloadFileName(target.fileName());
    connect(mDownload, &QWebEngineDownloadRequest::receivedBytesChanged, this, &FDownload::ShowProgress);
    connect(mDownload, &QWebEngineDownloadRequest::isFinishedChanged, this, &FDownload::ShowEnd);
    mDownload->accept();

    setModal(false);
    txtPath->setReadOnly(true);
    cmdBrowse->hide();
    cmdSave->hide();
    barProgress->show();
    lblFile->setText("Downloading \"" + target.fileName() + "\"");
    ShowProgress();
    show();
    if (mDownload->isFinished()) ShowEnd();
}

void FDownload::ShowProgress() {
    if (!mDownload) return;
    const qint64 total = mDownload->totalBytes(), received = mDownload->receivedBytes();
    const QLocale locale;
    if (total > 0) {
        barProgress->setRange(0, 1000);
        barProgress->setValue(static_cast<int>(received * 1000 / total));
        lblState->setText(locale.formattedDataSize(received) + " of " + locale.formattedDataSize(total));
    } else {
        barProgress->setRange(0, 0);  // size unknown: a busy bar
        lblState->setText(locale.formattedDataSize(received));
    }
}

void FDownload::ShowEnd() {
    if (!mDownload || !mDownload->isFinished()) return;
    const QString sPath = QDir(mDownload->downloadDirectory()).filePath(mDownload->downloadFileName());
    barProgress->setRange(0, 1);
    cmdClose->setText("Close");
    if (mDownload->state() == QWebEngineDownloadRequest::DownloadCompleted) {
        barProgress->setValue(1);
        lblFile->setText("Downloaded \"" + mDownload->downloadFileName() + "\"");
        lblState->setText("Saved to " + QDir::toNativeSeparators(sPath) + ".");
        cmdOpen->show();
        cmdOpenFolder->show();
        cmdOpen->setFocus();
    } else if (mDownload->state() == QWebEngineDownloadRequest::DownloadCancelled) {
        barProgress->setValue(0);
        lblState->setText("The download was canceled.");
    } else {
        barProgress->setValue(0);
        lblState->setText("The download failed: " + mDownload->interruptReasonString());
    }
}
