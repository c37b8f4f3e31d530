#include "PendingSaves.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSet>
#include <QTimer>

#include "SettingsStore.h"

namespace PendingSaves {
namespace {

constexpr int kRetryMs = 30000;

QMap<QString, QByteArray>& KeptFiles() {
    static QMap<QString, QByteArray> files;
    return files;
}

// Why each path could not be written, as last seen.
QMap<QString, QString>& Reasons() {
    static QMap<QString, QString> reasons;
    return reasons;
}

QSet<QString>& Told() {
    static QSet<QString> told;
    return told;
}

bool WriteWhole(const QString& sPath, const QByteArray& text, QString* sError) {
    QSaveFile file(sPath);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) return true;
    if (sError) *sError = file.errorString();
    return false;
}

// Retries every half minute while something waits: a folder made writable
// again, or a disk freed, takes the data without the user doing more.
void KeepRetrying() {
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(qApp);
        timer->setInterval(kRetryMs);
        QObject::connect(timer, &QTimer::timeout, [] {
            if (RetryAll()) timer->stop();
        });
    }
    if (!timer->isActive()) timer->start();
}

// Said once per place, after the write that failed has returned: a message
// box inside a browser's event would run the event loop within it.
void TellOnce(const QString& sPath, const QString& sWhat, const QString& sError) {
    if (Told().contains(sPath)) return;
    Told().insert(sPath);
    QTimer::singleShot(0, qApp, [sPath, sWhat, sError] {
        QWidget* owner =
            QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
        QMessageBox::warning(owner, SettingsStore::kProgramTitle,
                             sWhat + " could not be saved to " + sPath + ":\r\n" + sError +
                                 ".\r\nBidbench keeps the changes while it runs and saves them again at the next "
                                 "change; if they still cannot be saved when Bidbench closes, you are asked what "
                                 "to do with them.");
    });
}

QString ChooseFolder(QWidget* owner) {
    QFileDialog dialog(owner, "Save Bidbench's Unsaved Data In");
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(QDir::homePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

}  // namespace

bool WriteFile(const QString& sPath, const QByteArray& text, const QString& sWhat, QString* sError) {
    QString sWhy;
    if (WriteWhole(sPath, text, &sWhy)) {
        KeptFiles().remove(sPath);
        NoteSaved(sPath);
        return true;
    }
    KeptFiles()[sPath] = text;
    NoteFailure(sPath, sWhat, sWhy);
    if (sError) *sError = sWhy;
    return false;
}

std::optional<QByteArray> KeptText(const QString& sPath) {
    if (!KeptFiles().contains(sPath)) return std::nullopt;
    return KeptFiles().value(sPath);
}

void NoteFailure(const QString& sPath, const QString& sWhat, const QString& sError) {
    Reasons()[sPath] = sError;
    TellOnce(sPath, sWhat, sError);
    KeepRetrying();
}

void NoteSaved(const QString& sPath) {
    Reasons().remove(sPath);
    Told().remove(sPath);  // a later failure there is news again
}

bool Any() { return !KeptFiles().isEmpty() || SettingsStore::HasUnsaved(); }

bool RetryAll() {
    for (const QString& sPath : KeptFiles().keys()) {
        QString sWhy;
        if (WriteWhole(sPath, KeptFiles().value(sPath), &sWhy)) {
            KeptFiles().remove(sPath);
            NoteSaved(sPath);
        } else {
            Reasons()[sPath] = sWhy;
        }
    }
    SettingsStore::WriteUnsaved();
    return !Any();
}

QStringList Describe() {
    QStringList lines;
    for (const QString& sPath : KeptFiles().keys())
        lines << "- the list " + QFileInfo(sPath).fileName() + ", for " + sPath + " (" + Reasons().value(sPath) + ")";
    if (SettingsStore::HasUnsaved())
        lines << "- your settings (" + SettingsStore::UnsavedKeys().join(", ") + "), for " + SettingsStore::FilePath() +
                     " (" + SettingsStore::UnsavedReason() + ")";
    return lines;
}

bool SaveCopiesTo(const QString& sFolder, QString* sError) {
    for (const QString& sPath : KeptFiles().keys()) {
        const QString sCopy = QDir(sFolder).filePath(QFileInfo(sPath).fileName());
        if (!WriteWhole(sCopy, KeptFiles().value(sPath), sError)) return false;
    }
    if (SettingsStore::HasUnsaved() &&
        !SettingsStore::SaveCopyTo(QDir(sFolder).filePath(QFileInfo(SettingsStore::FilePath()).fileName()), sError))
        return false;
    DiscardAll();
    return true;
}

void DiscardAll() {
    KeptFiles().clear();
    Reasons().clear();
    Told().clear();
    SettingsStore::DiscardUnsaved();
}

void AskAtExit(QWidget* owner) {
    QString sNote;
    while (!RetryAll()) {
        QMessageBox box(QMessageBox::Warning, SettingsStore::kProgramTitle,
                        "Bidbench could not save:\r\n" + Describe().join("\r\n") + sNote +
                            "\r\n\r\nSave it in another folder, try again once the folder or disk is fixed, or "
                            "discard it: what it holds is then lost.",
                        QMessageBox::NoButton, owner);
        QPushButton* elsewhere = box.addButton("&Save Elsewhere...", QMessageBox::AcceptRole);
        QPushButton* retry = box.addButton("&Retry", QMessageBox::ActionRole);
        QPushButton* discard = box.addButton("&Discard", QMessageBox::DestructiveRole);
        box.setDefaultButton(elsewhere);
        box.setEscapeButton(retry);  // Escape never loses anything
        box.exec();
        sNote.clear();
        if (box.clickedButton() == discard) {
            DiscardAll();
            return;
        }
        if (box.clickedButton() != elsewhere) continue;
        const QString sFolder = ChooseFolder(owner);
        if (sFolder.isEmpty()) continue;
        QString sError;
        if (SaveCopiesTo(sFolder, &sError)) return;
        sNote = "\r\n\r\nIt could not be saved in " + sFolder + " either: " + sError;
    }
}

}  // namespace PendingSaves
