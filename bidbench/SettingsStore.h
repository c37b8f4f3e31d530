// The per-user settings store: application "Tarnbid Bidbench", section
// "Settings". On Linux the file is $XDG_CONFIG_HOME/Tarnbid/Tarnbid Bidbench.conf
// (~/.config when XDG_CONFIG_HOME is not set). Missing keys read as "".
// Values the file cannot take (a read-only folder, a full disk) are kept in
// memory and read from there; PendingSaves writes them again.
#pragma once

#include <QString>
#include <QStringList>

namespace SettingsStore {
inline const QString kProgramTitle = QStringLiteral("Tarnbid Bidbench");

QString Read(const QString& sKey);
void Write(const QString& sKey, const QString& sValue);
// Lists of texts (the address history).
QStringList ReadList(const QString& sKey);
void WriteList(const QString& sKey, const QStringList& values);

QString FilePath();
// Values kept in memory because the file could not take them.
bool HasUnsaved();
QStringList UnsavedKeys();
QString UnsavedReason();
// Writes the kept values to the file; true when none is left.
bool WriteUnsaved();
// Writes every setting, the file's and the kept ones, to another file.
bool SaveCopyTo(const QString& sPath, QString* sError);
void DiscardUnsaved();
}  // namespace SettingsStore
