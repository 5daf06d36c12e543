#include "common/localhttpserver.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <memory>

LocalHttpServer::LocalHttpServer(Responder respond, QObject* parent)
    : QObject(parent), respond(std::move(respond))
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection())
            Accept(socket);
    });
    server.listen(QHostAddress::LocalHost);
}

QString LocalHttpServer::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
}

QByteArray LocalHttpServer::Answer(int status, const QByteArray& headers, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void LocalHttpServer::Accept(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto received = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
        received->append(socket->readAll());
        const int end = received->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray path = received->left(received->indexOf("\r\n")).split(' ').value(1);
        received->clear();
        paths << path;
        socket->write(respond(path));
        socket->disconnectFromHost();
    });
}

FloodServer::FloodServer(const QByteArray& head, int trickleMsecs)
    : FloodServer(head, Pace{trickleMsecs > 0 ? 1 : 64 * 1024, trickleMsecs, -1, QByteArray()})
{
}

FloodServer::FloodServer(const QByteArray& head, const Pace& pace)
{
    std::atomic<int> listening{-1};
    worker = std::thread([this, head, pace, &listening] {
        QTcpServer server;
        listening = server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
        if (!server.waitForNewConnection(10000))
            return;
        QScopedPointer<QTcpSocket> socket(server.nextPendingConnection());
        QByteArray request = socket->readAll();
        while (!request.contains("\r\n\r\n") && socket->waitForReadyRead(1000))
            request += socket->readAll();
        asked = true;
        QObject::connect(socket.data(), &QTcpSocket::bytesWritten, [this](qint64 bytes) { sent += bytes; });
        socket->write(head);
        const QByteArray chunk(pace.chunkBytes, ' ');
        QElapsedTimer clock;
        clock.start();
        qint64 body = 0;
        qint64 chunks = 0;
        // Until the client goes, or the tail has been written out after a disconnect.
        while (!stop && socket->state() != QAbstractSocket::UnconnectedState) {
            const bool more = pace.bodyBytes < 0 || body < pace.bodyBytes;
            if (more && socket->bytesToWrite() == 0 && clock.elapsed() >= chunks * pace.everyMsecs) {
                const qint64 size =
                    pace.bodyBytes < 0 ? chunk.size() : qMin(qint64(chunk.size()), pace.bodyBytes - body);
                socket->write(chunk.constData(), size);
                body += size;
                ++chunks;
                if (body == pace.bodyBytes) {
                    socket->write(pace.tail);
                    socket->disconnectFromHost(); // after what is written, and ends an answer of no length
                }
            }
            socket->waitForBytesWritten(200);
            if (pace.everyMsecs > 0)
                QThread::msleep(ulong(qMax(qint64(0), chunks * pace.everyMsecs - clock.elapsed())));
        }
    });
    while (listening < 0)
        QThread::yieldCurrentThread();
    port = quint16(listening);
}

FloodServer::~FloodServer()
{
    stop = true;
    worker.join();
}
