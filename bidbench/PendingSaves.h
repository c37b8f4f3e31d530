// What Bidbench could not write where it belongs: a favourites list (a
// read-only, full or missing data folder) or the settings file. Nothing of
// it is lost: it is kept in memory while the program runs, written again at
// its next change and every half minute, and at exit the user decides about
// what still cannot be written: save it in another folder, retry, or
// discard it knowingly.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace PendingSaves {

// Writes a file whole, or leaves it as it was; on failure the text is kept
// for that path, `sError` says why, and the user is told once, by `sWhat`
// ("The favorites list").
bool WriteFile(const QString& sPath, const QByteArray& text, const QString& sWhat, QString* sError);
// The text kept for a path that could not be written; none when nothing waits.
std::optional<QByteArray> KeptText(const QString& sPath);

// A write that failed elsewhere (the settings): tells the user once, and
// has it retried with the rest.
void NoteFailure(const QString& sPath, const QString& sWhat, const QString& sError);
// A write there succeeded: a later failure is told again.
void NoteSaved(const QString& sPath);

// Whether anything waits to be written.
bool Any();
// Writes everything kept again; true when nothing waits any more.
bool RetryAll();
// One line per thing that waits: what it is, where it belongs, and why not.
QStringList Describe();
// Writes copies of everything kept into another folder: the lists under
// their own file names, the settings as the settings file; nothing waits
// after. False, with the reason, when a copy cannot be written there.
bool SaveCopiesTo(const QString& sFolder, QString* sError);
void DiscardAll();

// At exit: asks until everything is written, saved elsewhere, or
// discarded by the user's choice.
void AskAtExit(QWidget* owner);

}  // namespace PendingSaves
