// Where Bidbench keeps each user's data: the favourite lists in the user's
// data folder and the hosts file in the user's config folder (XDG), so that
// one read-only install serves every user of the machine.
#pragma once

#include <QList>
#include <QString>

namespace UserPlaces {

// $XDG_DATA_HOME/Tarnbid/Bidbench (~/.local/share/...), made when missing.
QString DataFolder();
// $XDG_CONFIG_HOME/Tarnbid (~/.config/...).
QString ConfigFolder();

QString SellersListPath();
QString BiddersListPath();
// Where a list was kept before it moved to the data folder: beside the
// program. Read only while the list has not reached its new place.
QString OldListPath(const QString& sListPath);

// The hosts file: the user's own (bidbench.ini in the config folder) when
// there is one, else the one installed beside the program.
QString HostsFilePath();

// A list that could not be moved: it stays where it was, and is read there.
struct FailedMove {
    QString from, to, error;
};
// Moves Sellers.txt and Bidders.txt from the old folder into the new one,
// once: a list already in the new folder is never overwritten, and the old
// file is removed only once its copy is complete (when the old folder is
// read-only it stays, unused).
QList<FailedMove> MoveOldLists(const QString& sFromFolder, const QString& sToFolder);

}  // namespace UserPlaces
