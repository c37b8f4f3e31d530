#include "TestHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent) {
    mServer.listen(QHostAddress::Any, 0);
    connect(&mServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = mServer.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool TestHttpServer::seen(int hostNumber, const QString& target) const {
    const QString wanted = host(hostNumber);
    for (const RecordedRequest& r : mRequests)
        if (r.host == wanted && r.target == target) return true;
    return false;
}

void TestHttpServer::serve(QTcpSocket* socket) {
    // Gather the request head; bodies are not used by these pages.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    const int end = head.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool()) return;
    socket->setProperty("answered", true);
    const QList<QByteArray> lines = head.left(end).split('\n');
    RecordedRequest request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.target = QString::fromLatin1(first.value(1));
    for (const QByteArray& line : lines.mid(1)) {
        const int colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QString value = QString::fromLatin1(line.mid(colon + 1).trimmed());
        if (name == "host")
            request.host = value;
        else if (name == "cookie")
            request.cookie = value;
    }
    mRequests.append(request);
    if (dropped.contains(request.target)) {
        socket->abort();
        return;
    }

    QByteArray extraHeaders;
    if (request.target.startsWith("/setcookie")) extraHeaders = "Set-Cookie: login=yes; Path=/\r\n";
    QByteArray body = "<html><head><title>Page " + request.target.toUtf8() + "</title></head><body><h1>" +
                      request.target.toHtmlEscaped().toUtf8() + "</h1><p>Served for " + request.host.toUtf8() +
                      "</p><a id='next' href='/next'>next</a></body></html>";
    if (pages.contains(request.target)) body = pages.value(request.target);
    TestReply reply;
    reply.body = body;
    reply.headers = extraHeaders;
    if (replies.contains(request.target)) reply = replies.value(request.target);
    const QByteArray response = "HTTP/1.1 " + reply.status + "\r\nContent-Type: " + reply.contentType +
                                "\r\nCache-Control: no-store\r\n" + reply.headers +
                                "Content-Length: " + QByteArray::number(reply.body.size()) +
                                "\r\nConnection: close\r\n\r\n" + reply.body;
    auto answer = [socket, response] {
        socket->write(response);
        socket->disconnectFromHost();
    };
    if (request.target.startsWith("/slow"))
        QTimer::singleShot(slowMilliseconds, socket, answer);
    else
        answer();
}
