#include "SettingsStore.h"

#include <QSettings>

namespace SettingsStore {

// Opened at each use, so that a change by another instance is seen and the
// value is on disk at once.
namespace {
QVariant Value(const QString& sKey) {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tarnbid", kProgramTitle).value("Settings/" + sKey);
}
void SetValue(const QString& sKey, const QVariant& value) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tarnbid", kProgramTitle).setValue("Settings/" + sKey, value);
}
}  // namespace

QString Read(const QString& sKey) { return Value(sKey).toString(); }
void Write(const QString& sKey, const QString& sValue) { SetValue(sKey, sValue); }
QStringList ReadList(const QString& sKey) { return Value(sKey).toStringList(); }
void WriteList(const QString& sKey, const QStringList& values) { SetValue(sKey, values); }

}  // namespace SettingsStore
