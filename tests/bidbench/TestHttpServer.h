// A small HTTP server on loopback that stands for the auction site, the
// sniping service and the maker's site. Every request is recorded with its
// Host and Cookie headers. Pages answer with a title naming their path;
// "/slow" answers after a delay; "/setcookie" sets a login cookie; targets
// in `dropped` get their connection closed without an answer; `replies`
// gives any other answer (a download, an error page).
#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>

// An answer other than the default page: any status, type and headers.
struct TestReply {
    QByteArray status = "200 OK";
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray headers;  // further header lines, each ending in CR LF
    QByteArray body;
};

struct RecordedRequest {
    QString host;    // as sent, with the port
    QString target;  // path and query
    QString cookie;
};

class TestHttpServer final : public QObject {
    Q_OBJECT
public:
    explicit TestHttpServer(QObject* parent = nullptr);
    quint16 port() const { return mServer.serverPort(); }
    // "127.0.0.N:port": every host name of the program is a loopback address.
    QString host(int n) const { return QString("127.0.0.%1:%2").arg(n).arg(port()); }

    const QList<RecordedRequest>& requests() const { return mRequests; }
    bool seen(int hostNumber, const QString& target) const;
    void clear() {
        mRequests.clear();
        pages.clear();
        dropped.clear();
        replies.clear();
    }
    // Bodies for given targets, in place of the default page.
    QMap<QString, QByteArray> pages;
    QSet<QString> dropped;
    QMap<QString, TestReply> replies;
    int slowMilliseconds = 2500;

private:
    void serve(QTcpSocket* socket);
    QTcpServer mServer;
    QList<RecordedRequest> mRequests;
};
