// Adding a page to the browser favourites and importing bookmark files, as
// the shell's helper does elsewhere: adding asks for the favourite's name in
// a dialog of ours and writes a shortcut file into the favourites folder;
// importing reads an HTML bookmark file into that folder.
#pragma once

#include <QDialog>

#include "BrowserFavorites.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the name of a new favourite.
class FAddFavorite final : public QDialog {
    Q_OBJECT
public:
    FAddFavorite(const QString& sTitle, const QString& sAddress, QWidget* parent = nullptr);

    QLineEdit* txtName;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
};

class ShellUIHelper {
public:
    explicit ShellUIHelper(QWidget* owner) : mOwner(owner) {}

    // Asks for the name (the title proposed), then writes the shortcut;
    // a failure to write is shown in a message box. The path written, or
    // empty when cancelled or failed.
    QString AddFavorite(const QString& sAddress, const QString& sTitle);
    // Import (fImport true) of an HTML bookmark file into the favourites
    // folder, with a progress dialog, then a message saying what was
    // imported and skipped, or that the file is no bookmark file; export
    // is not offered. False when nothing could be read.
    bool ImportExportFavorites(bool fImport, const QString& strImpExpPath);

private:
    BrowserFavorites::ImportResult ImportWithProgress(const QString& sFile, const QString& sFolder);

    QWidget* mOwner;
};
