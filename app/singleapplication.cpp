#include "app/singleapplication.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include "app/resources.h"

SingleApplication* theApp = nullptr;

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), running(false), localServer(nullptr),
      serverName(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
{
    InitTarvikResources();

    {
        QLocalSocket probe;
        probe.connectToServer(serverName, QIODevice::ReadWrite);
        if (probe.waitForConnected(500))
            running = true;
    }
    if (running)
        return;

    localServer = new QLocalServer(this);
    connect(localServer, &QLocalServer::newConnection, this, &SingleApplication::_newLocalConnection);
    if (!localServer->listen(serverName)) {
        // A crashed instance left its server name behind; nobody answered the probe, so take it over.
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
    QLocalSocket* socket = localServer->nextPendingConnection();
    if (!socket)
        return;
    socket->waitForReadyRead(1000);
    delete socket;
}
