#include "BrowserFavorites.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include "BookmarkFile.h"
#include "ShortcutFile.h"

namespace BrowserFavorites {
namespace {

constexpr int kAddressRoom = 254;  // a profile-string read of 255 characters
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
    return DecodeText(ShortcutFile::Url(file.read(1 << 20).toStdString())).left(kAddressRoom);
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

QString WriteShortcut(const QString& sFolder, const QString& sTitle, const QString& sAddress, QString* sError) {
    const QString base = sFolder + "/" + SafeFileName(sTitle);
    QString path = base + ".url";
    for (int n = 2; QFileInfo::exists(path); ++n) path = base + " (" + QString::number(n) + ").url";
    QSaveFile file(path);
    const QByteArray text = QByteArray::fromStdString(ShortcutFile::Text(sAddress.toStdString()));
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) return path;
    if (sError) *sError = file.errorString();
    return {};
}

ImportResult Import(const QString& sBookmarkFile, const QString& sFolder) {
    ImportResult result;
    QFile file(sBookmarkFile);
    if (sFolder.isEmpty() || !file.open(QIODevice::ReadOnly)) return result;
    result.read = true;
    const BookmarkFile::Contents contents = BookmarkFile::Parse(file.readAll().toStdString());
    auto folderOf = [&](const BookmarkFile::FolderPath& names) {
        QString path = sFolder;
        for (const std::string& name : names) path += "/" + SafeFileName(QString::fromStdString(name));
        return path;
    };
    for (const BookmarkFile::FolderPath& folder : contents.folders) QDir().mkpath(folderOf(folder));
    for (const BookmarkFile::Bookmark& bookmark : contents.bookmarks) {
        const QString title = QString::fromStdString(bookmark.title.empty() ? bookmark.url : bookmark.title);
        if (WriteShortcut(folderOf(bookmark.folder), title, QString::fromStdString(bookmark.url), nullptr).isEmpty())
            ++result.failed;
        else
            ++result.written;
    }
    return result;
}

}  // namespace BrowserFavorites
