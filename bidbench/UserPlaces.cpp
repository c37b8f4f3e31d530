#include "UserPlaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "Addresses.h"

namespace UserPlaces {
namespace {

const QString kSellers = QStringLiteral("Sellers.txt");
const QString kBidders = QStringLiteral("Bidders.txt");

}  // namespace

QString DataFolder() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Tarnbid/Bidbench";
    QDir().mkpath(folder);
    return folder;
}

QString ConfigFolder() { return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Tarnbid"; }

QString SellersListPath() { return DataFolder() + "/" + kSellers; }
QString BiddersListPath() { return DataFolder() + "/" + kBidders; }

QString OldListPath(const QString& sListPath) {
    return Addresses::ProgramFolder() + "/" + QFileInfo(sListPath).fileName();
}

QString HostsFilePath() {
    const QString own = ConfigFolder() + "/bidbench.ini";
    return QFileInfo(own).isFile() ? own : Addresses::ProgramFolder() + "/bidbench.ini";
}

QList<FailedMove> MoveOldLists(const QString& sFromFolder, const QString& sToFolder) {
    QList<FailedMove> failures;
    for (const QString& name : {kSellers, kBidders}) {
        const QString from = sFromFolder + "/" + name, to = sToFolder + "/" + name;
        if (!QFileInfo(from).isFile() || QFileInfo::exists(to)) continue;
        QFile source(from);
        // QFile::copy writes a temporary file and renames it: the list
        // appears whole or not at all.
        if (!QDir().mkpath(sToFolder) || !source.copy(to)) {
            failures.append({from, to, source.errorString()});
            continue;
        }
        QFile::remove(from);
    }
    return failures;
}

}  // namespace UserPlaces
