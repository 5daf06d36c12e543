#include "app/singleapplication.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include "app/resources.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

SingleApplication* theApp = nullptr;

const QByteArray SingleApplication::probeQuestion = QByteArrayLiteral("tarvik?\n");
const QByteArray SingleApplication::probeAnswer = QByteArrayLiteral("tarvik!\n");

namespace {

// How long a start waits for a running instance to answer; a busy instance answers within this.
constexpr int probeMsecs = 1000;
// A connection that has not asked by then is dropped.
constexpr int idleConnectionMsecs = 2000;
// More open connections than this are refused at once: nobody but probes talks to the server.
constexpr int mostConnections = 32;

bool AnotherInstanceAnswers(const QString& name)
{
    QLocalSocket probe;
    const QDeadlineTimer deadline(probeMsecs);
    probe.connectToServer(name, QIODevice::ReadWrite);
    if (!probe.waitForConnected(int(deadline.remainingTime())))
        return false;
    probe.write(SingleApplication::probeQuestion);
    QByteArray answer;
    while (answer.size() < SingleApplication::probeAnswer.size() && !deadline.hasExpired() &&
           (probe.bytesAvailable() > 0 || probe.waitForReadyRead(int(deadline.remainingTime()))))
        answer += probe.read(SingleApplication::probeAnswer.size() - answer.size());
    return answer == SingleApplication::probeAnswer;
}

} // namespace

QString SingleApplication::ServerNameFor(const QString& executableName)
{
#ifdef Q_OS_WIN
    return executableName + QLatin1Char('-') + qEnvironmentVariable("USERNAME");
#else
    // The runtime folder is the user's own (mode 0700): nobody else can listen there.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return QDir(runtime).filePath(executableName);
    return QDir::temp().filePath(executableName + QLatin1Char('-') + QString::number(::getuid()));
#endif
}

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), running(false), localServer(nullptr),
      serverName(ServerNameFor(QFileInfo(QCoreApplication::applicationFilePath()).fileName()))
{
    InitTarvikResources();

    running = AnotherInstanceAnswers(serverName);
    if (running)
        return;

    localServer = new QLocalServer(this);
    localServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(localServer, &QLocalServer::newConnection, this, &SingleApplication::_newLocalConnection);
    if (!localServer->listen(serverName)) {
        // A crashed instance (or a listener that is not ours) holds the name; nobody answered the
        // probe, so take it over.
        if (localServer->serverError() == QAbstractSocket::AddressInUseError) {
            QLocalServer::removeServer(serverName);
            localServer->listen(serverName);
        }
    }
}

bool SingleApplication::IsRunning() const
{
    return running;
}

void SingleApplication::_newLocalConnection()
{
    while (QLocalSocket* socket = localServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (localServer->findChildren<QLocalSocket*>(QString(), Qt::FindDirectChildrenOnly).size() >
            mostConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Answered when its question has arrived, never waited for here.
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (socket->bytesAvailable() < probeQuestion.size())
                return;
            if (socket->read(probeQuestion.size()) == probeQuestion)
                socket->write(probeAnswer);
            socket->disconnectFromServer();
        });
        QTimer::singleShot(idleConnectionMsecs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}
