#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

#include <functional>

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
