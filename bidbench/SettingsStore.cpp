#include "SettingsStore.h"

#include <QSettings>

namespace SettingsStore {

// Opened at each use, so that a change by another instance is seen and the
// value is on disk at once.
QString Read(const QString& sKey) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Tarnbid", kProgramTitle);
    return store.value("Settings/" + sKey).toString();
}

void Write(const QString& sKey, const QString& sValue) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Tarnbid", kProgramTitle);
    store.setValue("Settings/" + sKey, sValue);
}

}  // namespace SettingsStore
