// One Bidbench per user. Two running copies would each write the favourite
// lists and the settings over the other's, so the first start holds a lock
// and listens on a local socket, both named after the user's data and
// settings folders; a later start asks the first to show its window, and
// ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QWidget;

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `sKey` names what one instance owns; UserKey() for the program.
    explicit SingleInstance(const QString& sKey, QObject* parent = nullptr);

    // The key of this user's data and settings folders.
    static QString UserKey();

    // True when no other instance runs with this key: this one then holds
    // the lock and listens for later starts (showRequested). Also true,
    // unguarded, when no lock can be made.
    bool BecomeFirst();
    // Asks the instance that holds the lock to show its window; false when
    // it does not answer within `milliseconds`.
    bool AskFirstToShow(int milliseconds = 10000);

    // Shows the window the user works in: an open dialog of the program
    // (the floating toolbar stands in for the hidden main window), else
    // `window`, unminimized, raised and active.
    static void BringToFront(QWidget* window);

signals:
    void showRequested();

private:
    QString mName;
    QLockFile mLock;
    QLocalServer mServer;
};
