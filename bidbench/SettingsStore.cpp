#include "SettingsStore.h"

#include <QFileInfo>
#include <QMap>
#include <QSettings>

#include "PendingSaves.h"

namespace SettingsStore {

// Opened at each use, so that a change by another instance is seen and the
// value is on disk at once.
namespace {
#define BIDBENCH_SETTINGS(name) QSettings name(QSettings::NativeFormat, QSettings::UserScope, "Tarnbid", kProgramTitle)

const QString kSection = QStringLiteral("Settings/");

QMap<QString, QVariant>& Unsaved() {
    static QMap<QString, QVariant> values;
    return values;
}

QString& Reason() {
    static QString reason;
    return reason;
}

QString Why(const QSettings& settings) {
    const QFileInfo file(settings.fileName());
    if (file.isDir()) return "a folder has its name";
    if (settings.status() == QSettings::FormatError) return "it is not a settings file";
    return "it cannot be written";
}

QVariant Value(const QString& sKey) {
    if (Unsaved().contains(sKey)) return Unsaved().value(sKey);
    BIDBENCH_SETTINGS(settings);
    return settings.value(kSection + sKey);
}

void SetValue(const QString& sKey, const QVariant& value) {
    Unsaved()[sKey] = value;  // until the file has it
    WriteUnsaved();
}
}  // namespace

QString Read(const QString& sKey) { return Value(sKey).toString(); }
void Write(const QString& sKey, const QString& sValue) { SetValue(sKey, sValue); }
QStringList ReadList(const QString& sKey) { return Value(sKey).toStringList(); }
void WriteList(const QString& sKey, const QStringList& values) { SetValue(sKey, values); }

QString FilePath() {
    BIDBENCH_SETTINGS(settings);
    return settings.fileName();
}

bool HasUnsaved() { return !Unsaved().isEmpty(); }
QStringList UnsavedKeys() { return Unsaved().keys(); }
QString UnsavedReason() { return Reason(); }

bool WriteUnsaved() {
    if (Unsaved().isEmpty()) return true;
    BIDBENCH_SETTINGS(settings);
    for (auto it = Unsaved().cbegin(); it != Unsaved().cend(); ++it) settings.setValue(kSection + it.key(), it.value());
    settings.sync();
    if (settings.status() == QSettings::NoError) {
        Unsaved().clear();
        PendingSaves::NoteSaved(settings.fileName());
        return true;
    }
    Reason() = Why(settings);
    PendingSaves::NoteFailure(settings.fileName(),
                              "Your settings (the window's place, the address history, the "
                              "start-up site)",
                              Reason());
    return false;
}

bool SaveCopyTo(const QString& sPath, QString* sError) {
    QSettings copy(sPath, QSettings::IniFormat);
    {
        BIDBENCH_SETTINGS(settings);
        for (const QString& key : settings.allKeys()) copy.setValue(key, settings.value(key));
    }
    for (auto it = Unsaved().cbegin(); it != Unsaved().cend(); ++it) copy.setValue(kSection + it.key(), it.value());
    copy.sync();
    if (copy.status() == QSettings::NoError) return true;
    if (sError) *sError = Why(copy);
    return false;
}

void DiscardUnsaved() { Unsaved().clear(); }

#undef BIDBENCH_SETTINGS

}  // namespace SettingsStore
