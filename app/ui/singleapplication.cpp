#include "app/ui/singleapplication.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "app/accountlock.h"
#include "app/ui/resources.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

SingleApplication* theApp = nullptr;

const QByteArray SingleApplication::probeQuestion = QByteArrayLiteral("tarvik?\n");
const QByteArray SingleApplication::probeAnswer = QByteArrayLiteral("tarvik!\n");

namespace {

// How long a start without a lock file waits for a running instance to answer.
constexpr int probeMsecs = 1000;
// A connection that has not asked by then is dropped.
constexpr int idleConnectionMsecs = 2000;
// Connections kept open while they have not asked yet. Past this the oldest silent one makes room:
// a probe asks the moment it connects, so the newest connection is the likeliest to be one.
constexpr int mostSilentConnections = 128;

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

// The instance's local server, on the thread of its own. Every connection is served from events:
// one that has asked is answered and closed, one that has not is kept (at most
// mostSilentConnections of them, each for idleConnectionMsecs) until it asks or its time is up.
class InstanceServer : public QObject
{
public:
    explicit InstanceServer(const QString& name) : name(name) {}

    void Listen()
    {
        localServer = new QLocalServer(this);
        localServer->setSocketOptions(QLocalServer::UserAccessOption);
        connect(localServer, &QLocalServer::newConnection, this, &InstanceServer::_newLocalConnection);
        if (!localServer->listen(name))
            qWarning("the instance cannot listen on %s (%s): later starts will not find it",
                     qUtf8Printable(QDir::toNativeSeparators(name)),
                     qUtf8Printable(localServer->errorString()));
    }

    void _newLocalConnection()
    {
        while (QLocalSocket* socket = localServer->nextPendingConnection()) {
            if (Answered(socket))
                continue;
            silent.removeAll(nullptr);
            while (silent.size() >= mostSilentConnections)
                Drop(silent.takeFirst());
            silent.append(socket);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { Answered(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(idleConnectionMsecs, socket, [socket] { Drop(socket); });
        }
    }

private:
    // Answers a connection once its question is in, and closes it either way it has spoken.
    bool Answered(QLocalSocket* socket)
    {
        const QByteArray& question = SingleApplication::probeQuestion;
        if (socket->bytesAvailable() < question.size())
            return false;
        if (socket->read(question.size()) == question)
            socket->write(SingleApplication::probeAnswer);
        silent.removeAll(socket);
        socket->disconnectFromServer();
        if (socket->state() == QLocalSocket::UnconnectedState)
            socket->deleteLater();
        else
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater, Qt::UniqueConnection);
        return true;
    }

    static void Drop(QLocalSocket* socket)
    {
        if (!socket)
            return;
        socket->abort();
        socket->deleteLater();
    }

    QString name;
    QLocalServer* localServer = nullptr;
    QList<QPointer<QLocalSocket>> silent; // oldest first
};

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

QString SingleApplication::LockFileFor(const QString& serverName)
{
    const QString name = serverName + QStringLiteral(".lock");
    return QDir::isAbsolutePath(name) ? name : QDir::temp().filePath(name);
}

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), running(false),
      serverName(ServerNameFor(QFileInfo(QCoreApplication::applicationFilePath()).fileName()))
{
    InitTarvikResources();

    const QString lockPath = LockFileFor(serverName);
    instanceLock = std::make_unique<QLockFile>(lockPath);
    // The instance holds its lock for days: age alone never makes it look abandoned, only an owner
    // process that is gone (or a file nobody finished writing, which IsHeldByLiveSession clears).
    instanceLock->setStaleLockTime(0);
    const bool heldElsewhere = AccountLock::IsHeldByLiveSession(lockPath);
    if (!heldElsewhere && instanceLock->tryLock(0)) {
        // Whatever holds the name now was left by an instance that is gone.
        QLocalServer::removeServer(serverName);
        Serve();
        return;
    }
    if (heldElsewhere || instanceLock->error() == QLockFile::LockFailedError) {
        running = true;
        return;
    }
    qWarning("the instance lock %s cannot be written: only a handshake tells whether another copy runs",
             qUtf8Printable(QDir::toNativeSeparators(lockPath)));
    instanceLock.reset();
    running = AnotherInstanceAnswers(serverName);
    if (!running)
        Serve(); // without removing anything: a name in use stays with whoever holds it
}

SingleApplication::~SingleApplication()
{
    if (serverThread) {
        serverThread->quit();
        serverThread->wait();
    }
}

void SingleApplication::Serve()
{
    // Listening here, before the constructor returns, so that a start right after this one finds
    // the socket; then the server moves to its own thread, and goes with it (its socket file too).
    auto* server = new InstanceServer(serverName);
    server->Listen();
    serverThread = new QThread(this);
    serverThread->setObjectName(QStringLiteral("instance server"));
    server->moveToThread(serverThread);
    connect(serverThread, &QThread::finished, server, &QObject::deleteLater);
    serverThread->start();
}

bool SingleApplication::IsRunning() const
{
    return running;
}
