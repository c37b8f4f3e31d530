// The browser favourites: a per-user folder of Internet shortcut files,
// $XDG_DATA_HOME/Tarnbid/Bidbench/Favorites (~/.local/share when
// XDG_DATA_HOME is not set), made on first use. Subfolders group them.
#pragma once

#include <QByteArray>
#include <QString>

#include "BookmarkFile.h"
#include <functional>

namespace BrowserFavorites {

// The folder, without a trailing separator; made when missing. Empty
// when it cannot be determined or made.
QString Folder();

// The address of a shortcut file, whole; empty when the file cannot be
// read or has none.
QString ReadShortcut(const QString& sPath);

// A file name for a title: characters that cannot be in a file name on
// this or the Windows platform become '_', leading dots are dropped, and an
// empty name becomes "Untitled"; at most 200 bytes.
QString SafeFileName(const QString& sTitle);

// Writes a shortcut to `sAddress` named after the title into the folder,
// never over an existing file (" (2)", " (3)", ... are added). Returns its
// path; empty, with `sError` set, on failure.
QString WriteShortcut(const QString& sFolder, const QString& sTitle, const QString& sAddress, QString* sError);

struct ImportResult {
    bool read = false;          // the bookmark file could be read
    bool bookmarkFile = false;  // it is a bookmark file (else nothing was imported)
    bool canceled = false;      // the user stopped the import part way
    int written = 0;            // shortcut files made
    int failed = 0;             // bookmarks that could not be written
    int folders = 0;            // folders of the file, made or already there
    int scripts = 0;            // skipped: javascript: and place: bookmarks, which are no pages
    int duplicates = 0;         // skipped: a shortcut of that name and address is already there
};

// Adds the bookmarks of an HTML bookmark file to the folder, one shortcut
// file per bookmark, its folders as subfolders. A bookmark already there
// (same folder, name and address) is not added again, so importing a file
// twice adds nothing the second time.
// `progress` (bookmarks done, bookmarks in the file) is called as the
// import goes; false from it stops the import. It runs on the importing
// thread: the import may run on any thread.
using ImportProgress = std::function<bool(int done, int total)>;
ImportResult Import(const QString& sBookmarkFile, const QString& sFolder, const ImportProgress& progress = {});

// Whether the bytes are a bookmark file: text, with the header browsers
// write or at least one folder or bookmark.
bool IsBookmarkFile(const QByteArray& bytes, const BookmarkFile::Contents& contents);

// What an import did, in a sentence or two for the user.
QString ImportReport(const ImportResult& result);

}  // namespace BrowserFavorites
