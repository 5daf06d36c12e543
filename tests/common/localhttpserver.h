#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

#include <atomic>
#include <functional>
#include <thread>

// A bare HTTP server on a free local port, for answers the platform never gives (redirects, odd
// heads): each request is answered with the raw bytes `respond(path)` returns, then the
// connection is closed.
class LocalHttpServer : public QObject
{
    Q_OBJECT
public:
    using Responder = std::function<QByteArray(const QByteArray& path)>;

    explicit LocalHttpServer(Responder respond, QObject* parent = nullptr);

    bool isListening() const { return server.isListening(); }
    QString hostPort() const; // "127.0.0.1:PORT"
    QString url(const QString& path) const { return QStringLiteral("http://") + hostPort() + path; }

    // A whole answer: status line, the given header lines, Content-Length and the body.
    static QByteArray Answer(int status, const QByteArray& headers, const QByteArray& body = QByteArray());

    QList<QByteArray> paths; // every path asked for, in order

private:
    void Accept(QTcpSocket* socket);

    QTcpServer server;
    Responder respond;
};

// Answers one request from a thread of its own, so it keeps sending while the test's event loop is
// busy, as a real server does: `head` (status line and headers, blank line included), then blanks
// as fast as the client takes them, or one blank every `trickleMsecs`, until the client goes; or
// paced: `chunkBytes` blanks every `everyMsecs` (on a steady schedule) until `bodyBytes` are sent,
// then `tail`, and the connection stays open until the client goes.
class FloodServer
{
public:
    struct Pace
    {
        int chunkBytes = 64 * 1024;
        int everyMsecs = 0;
        qint64 bodyBytes = -1; // -1: no end
        QByteArray tail;
    };

    explicit FloodServer(const QByteArray& head, int trickleMsecs = 0);
    FloodServer(const QByteArray& head, const Pace& pace);
    ~FloodServer();

    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    std::atomic<bool> asked{false}; // the request has come
    std::atomic<qint64> sent{0};    // bytes the client's side has taken

private:
    std::atomic<bool> stop{false};
    quint16 port = 0;
    std::thread worker;
};
