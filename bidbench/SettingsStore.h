// The per-user settings store: application "Tarnbid Bidbench", section
// "Settings". On Linux the file is $XDG_CONFIG_HOME/Tarnbid/Tarnbid Bidbench.conf
// (~/.config when XDG_CONFIG_HOME is not set). Missing keys read as "".
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
}  // namespace SettingsStore
