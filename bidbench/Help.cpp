#include "Help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeySequence>
#include <QMessageBox>
#include <QShortcut>
#include <QUrl>
#include <QWidget>

#include "Addresses.h"
#include "SettingsStore.h"

namespace Help {

QString Folder() { return Addresses::ProgramFolder() + "/help"; }

QString PagePath(const QString& sPage) { return Folder() + "/" + sPage; }

bool Open(const QString& sPage, QWidget* window) {
    const QString sPath = PagePath(sPage);
    if (QFileInfo(sPath).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(sPath))) return true;
    QMessageBox::warning(window, SettingsStore::kProgramTitle,
                         QFileInfo(sPath).isFile() ? "No web browser could open the help page " + sPath + "."
                                                   : "The help page " + sPath + " is not installed.");
    return false;
}

void BindKey(QWidget* window, const QString& sPage) {
    auto* key = new QShortcut(QKeySequence::HelpContents, window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [window, sPage] { Open(sPage, window); });
}

}  // namespace Help
