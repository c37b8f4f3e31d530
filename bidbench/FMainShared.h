// What the parts of the main window share: its texts, its navigation
// buttons' design, and how its event handlers treat a browser's errors.
// Internal to the main window.
#pragma once

#include <QDesktopServices>
#include <QString>
#include <QStyle>
#include <QUrl>

#include "SettingsStore.h"

namespace FMainShared {

inline const QString kTitle = SettingsStore::kProgramTitle;
inline const QString kWorkingPanel = QStringLiteral("Working . . .");
inline const char* const kHelpPageProperty = "helpPage";
inline constexpr int kHistoryLength = 25;  // addresses kept in the address box

// Errors raised by a browser inside an event handler are ignored; the
// handler carries on with its next step.
template <class Step>
void IgnoringErrors(Step step) {
    try {
        step();
    } catch (...) {}
}

struct ButtonDesign {
    const char* label;
    const char* tooltip;
    QStyle::StandardPixmap icon;
};

inline const ButtonDesign kNavigateButtons[] = {
    {"Back", "Go back to the page you viewed before this one.", QStyle::SP_ArrowBack},
    {"Forward", "Go forward to the page you viewed after this one.", QStyle::SP_ArrowForward},
    {"Stop", "Stop the current browser from navigating.", QStyle::SP_BrowserStop},
    {"Refresh", "Refresh the page in the current browser.", QStyle::SP_BrowserReload},
    {"Home", "Go to the home page for the current browser.", QStyle::SP_DirHomeIcon},
    {"Favorites", "View your favorites lists.", QStyle::SP_DirOpenIcon},
    {"", "Transform Bidbench into a small floating toolbar.", QStyle::SP_TitleBarNormalButton},
};

inline void OpenInShell(const QString& sAddress) { QDesktopServices::openUrl(QUrl(sAddress)); }

}  // namespace FMainShared
