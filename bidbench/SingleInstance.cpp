#include "SingleInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include "UserPlaces.h"

namespace {
const QByteArray kShow = "show\n";
constexpr int kRetryMs = 100;
}  // namespace

SingleInstance::SingleInstance(const QString& sKey, QObject* parent)
    : QObject(parent), mName("bidbench-" + sKey), mLock(QDir::temp().filePath("bidbench-" + sKey + ".lock")) {
    // A lock left by an instance that ended without a word is taken over;
    // one whose process still runs is never stale, however old.
    mLock.setStaleLockTime(0);
    connect(&mServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = mServer.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->readAll().contains(kShow.trimmed())) return;
                socket->write("ok\n");
                socket->flush();
                emit showRequested();
            });
        }
    });
}

QString SingleInstance::UserKey() {
    const QByteArray places = (UserPlaces::DataFolder() + "\n" + UserPlaces::ConfigFolder()).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(places, QCryptographicHash::Sha1).toHex().left(16));
}

bool SingleInstance::BecomeFirst() {
    // A lock that cannot be made at all (no temporary folder to write in)
    // must not keep the program from starting: it then runs unguarded.
    if (!mLock.tryLock(0)) return mLock.error() != QLockFile::LockFailedError;
    // A socket left by a first instance that crashed is ours now.
    QLocalServer::removeServer(mName);
    mServer.setSocketOptions(QLocalServer::UserAccessOption);
    mServer.listen(mName);
    return true;
}

bool SingleInstance::AskFirstToShow(int milliseconds) {
    // The first may still be starting: it listens soon after it takes the lock.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QLocalSocket socket;
        socket.connectToServer(mName);
        if (socket.waitForConnected(kRetryMs * 10)) {
            socket.write(kShow);
            socket.flush();
            if (socket.waitForReadyRead(milliseconds) && socket.readAll().startsWith("ok")) return true;
        }
        QThread::msleep(kRetryMs);
    }
    return false;
}

void SingleInstance::BringToFront(QWidget* window) {
    QWidget* front = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : window;
    front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    front->show();
    front->raise();
    front->activateWindow();
}
