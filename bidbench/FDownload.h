// A download: first asks where the file goes (the download folder is
// proposed), then stays open showing its progress and, once saved, offers
// to open the file or its folder.
#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWebEngineDownloadRequest;

class FDownload final : public QDialog {
    Q_OBJECT
public:
    // Asks about the download the page requested, modally: the engine
    // drops a download that is not accepted before the request returns.
    // Accepted, the dialog stays open (not modal) to show the progress.
    static void Ask(QWebEngineDownloadRequest* download, QWidget* owner);

    QLabel* lblFile;
    QLineEdit* txtPath;
    QPushButton* cmdBrowse;
    QProgressBar* barProgress;
    QLabel* lblState;
    QPushButton* cmdSave;
    QPushButton* cmdOpen;
    QPushButton* cmdOpenFolder;
    QPushButton* cmdClose;

private:
    FDownload(QWebEngineDownloadRequest* download, QWidget* owner);
    void ChooseFile();
    // Whether the download may be written to `sPath`: asks before replacing a file.
    bool MayWriteTo(const QString& sPath);
    void Start();
    void ShowProgress();
    void ShowEnd();

    QPointer<QWebEngineDownloadRequest> mDownload;
};
