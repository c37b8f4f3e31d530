// The help: one HTML page per window and per menu, in the folder "help"
// installed beside the program, opened in the user's browser.
#pragma once

#include <QString>

class QWidget;

namespace Help {

// Page names, files in the help folder.
inline const QString kContents = QStringLiteral("Bidbench_help.htm");
inline const QString kMainWindow = QStringLiteral("main-window.htm");
inline const QString kStartScreen = QStringLiteral("start-screen.htm");
inline const QString kAbout = QStringLiteral("about.htm");
inline const QString kNewVersion = QStringLiteral("new-version.htm");
inline const QString kFavoriteLists = QStringLiteral("favorite-lists.htm");
inline const QString kAddUserID = QStringLiteral("add-user-id.htm");
inline const QString kBrowserFavorites = QStringLiteral("browser-favorites.htm");
inline const QString kFloatingToolbar = QStringLiteral("floating-toolbar.htm");
inline const QString kMenuFile = QStringLiteral("menu-file.htm");
inline const QString kMenuEdit = QStringLiteral("menu-edit.htm");
inline const QString kMenuNavigate = QStringLiteral("menu-navigate.htm");
inline const QString kMenuFavorites = QStringLiteral("menu-favorites.htm");
inline const QString kMenuTools = QStringLiteral("menu-tools.htm");
inline const QString kMenuHelp = QStringLiteral("menu-help.htm");

QString Folder();
QString PagePath(const QString& sPage);
// Opens the page in the user's browser; false (and a message on the
// window) when the page is not installed or no browser takes it.
bool Open(const QString& sPage, QWidget* window);
// F1 in the window, or in any of its children, opens the page.
void BindKey(QWidget* window, const QString& sPage);

}  // namespace Help
