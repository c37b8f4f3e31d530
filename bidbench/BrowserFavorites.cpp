#include "BrowserFavorites.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include "BookmarkFile.h"
#include "ShortcutFile.h"

namespace BrowserFavorites {
namespace {

constexpr int kNameBytes = 200;

// Shortcut files are UTF-8; a file written elsewhere in an 8-bit code page
// is read as Latin-1 rather than mangled.
QString DecodeText(const std::string& bytes) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(QByteArray::fromStdString(bytes));
    return utf8.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

}  // namespace

QString Folder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) return {};
    const QString folder = data + "/Tarnbid/Bidbench/Favorites";
    return QDir().mkpath(folder) ? folder : QString();
}

QString ReadShortcut(const QString& sPath) {
    QFile file(sPath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    // Whole, however long: an address cut short opens another page.
    return DecodeText(ShortcutFile::Url(file.readAll().toStdString()));
}

QString SafeFileName(const QString& sTitle) {
    QString name;
    for (const QChar c : sTitle)
        name += (c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c)) ? QChar(u'_') : c;
    // No leading dots: no hidden files, no "." or "..".
    name = name.left(kNameBytes).trimmed();  // a character is at least one byte
    while (name.startsWith(u'.')) name.remove(0, 1);
    while (name.toUtf8().size() > kNameBytes) name.chop(1);
    if (!name.isEmpty() && name.back().isHighSurrogate()) name.chop(1);
    if (name.isEmpty()) name = "Untitled";
    return name;
}

namespace {

// The shortcut paths a title gets in a folder: "Title.url", then
// "Title (2).url", ...; `taken` says whether a path is in use.
template <class Taken>
QString FreePath(const QString& sFolder, const QString& sTitle, Taken taken) {
    const QString base = sFolder + "/" + SafeFileName(sTitle);
    QString path = base + ".url";
    for (int n = 2; taken(path); ++n) path = base + " (" + QString::number(n) + ").url";
    return path;
}

// Whether the folder holds a shortcut of that title (or one numbered after
// it) that leads to the address.
bool AlreadyThere(const QString& sFolder, const QString& sTitle, const QString& sAddress) {
    bool found = false;
    FreePath(sFolder, sTitle, [&](const QString& path) {
        if (!QFileInfo::exists(path)) return false;
        found = found || ReadShortcut(path) == sAddress;
        return !found;
    });
    return found;
}

// Bookmarks that run script or name a browser's saved search: no page to
// open.
bool IsScript(const std::string& url) {
    const QString scheme = QString::fromStdString(url.substr(0, url.find(':'))).trimmed().toLower();
    return url.find(':') != std::string::npos && (scheme == "javascript" || scheme == "place");
}

}  // namespace

QString WriteShortcut(const QString& sFolder, const QString& sTitle, const QString& sAddress, QString* sError) {
    const QString path = FreePath(sFolder, sTitle, [](const QString& p) { return QFileInfo::exists(p); });
    QSaveFile file(path);
    const QByteArray text = QByteArray::fromStdString(ShortcutFile::Text(sAddress.toStdString()));
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) return path;
    if (sError) *sError = file.errorString();
    return {};
}

bool IsBookmarkFile(const QByteArray& bytes, const BookmarkFile::Contents& contents) {
    if (bytes.left(4096).contains('\0')) return false;  // a binary file
    return bytes.left(4096).toLower().contains("netscape-bookmark-file-1") || !contents.bookmarks.empty() ||
           !contents.folders.empty();
}

ImportResult Import(const QString& sBookmarkFile, const QString& sFolder, const ImportProgress& progress) {
    ImportResult result;
    QFile file(sBookmarkFile);
    if (sFolder.isEmpty() || !file.open(QIODevice::ReadOnly)) return result;
    result.read = true;
    const QByteArray bytes = file.readAll();
    const BookmarkFile::Contents contents = BookmarkFile::Parse(bytes.toStdString());
    result.bookmarkFile = IsBookmarkFile(bytes, contents);
    if (!result.bookmarkFile) return result;
    const int total = static_cast<int>(contents.bookmarks.size());
    auto folderOf = [&](const BookmarkFile::FolderPath& names) {
        QString path = sFolder;
        for (const std::string& name : names) path += "/" + SafeFileName(QString::fromStdString(name));
        return path;
    };
    for (const BookmarkFile::FolderPath& folder : contents.folders)
        if (QDir().mkpath(folderOf(folder))) ++result.folders;
    int done = 0;
    for (const BookmarkFile::Bookmark& bookmark : contents.bookmarks) {
        if (progress && !progress(done++, total)) {
            result.canceled = true;
            break;
        }
        if (IsScript(bookmark.url)) {
            ++result.scripts;
            continue;
        }
        const QString title = QString::fromStdString(bookmark.title.empty() ? bookmark.url : bookmark.title);
        const QString address = QString::fromStdString(bookmark.url);
        const QString folder = folderOf(bookmark.folder);
        if (AlreadyThere(folder, title, address))
            ++result.duplicates;
        else if (WriteShortcut(folder, title, address, nullptr).isEmpty())
            ++result.failed;
        else
            ++result.written;
    }
    return result;
}

QString ImportReport(const ImportResult& result) {
    if (!result.read) return "The bookmark file could not be read.";
    if (!result.bookmarkFile)
        return "This is not a bookmark file: nothing was imported.\nBrowsers export their bookmarks as an HTML "
               "file (\"Export bookmarks to HTML\").";
    const auto count = [](int n, const char* one, const char* many) {
        return QString::number(n) + " " + (n == 1 ? one : many);
    };
    QString report = "Imported " + count(result.written, "bookmark", "bookmarks") + " in " +
                     count(result.folders, "folder", "folders") + ".";
    QStringList skipped;
    if (result.duplicates)
        skipped << count(result.duplicates, "bookmark already in your favorites",
                         "bookmarks already in your favorites");
    if (result.scripts)
        skipped << count(result.scripts, "script or saved search (javascript:, place:)",
                         "scripts and saved searches (javascript:, place:)");
    if (!skipped.isEmpty()) report += "\nSkipped " + skipped.join(" and ") + ".";
    if (result.failed) report += "\n" + count(result.failed, "bookmark", "bookmarks") + " could not be written.";
    if (result.canceled) report += "\nThe import was stopped before the end of the file.";
    return report;
}

}  // namespace BrowserFavorites
