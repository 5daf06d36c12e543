#pragma once

#include <QApplication>

class QLocalServer;

// The application object. At start-up it asks whether another copy of the same executable already
// runs on this machine, through a local server named after the executable file. A second copy is
// not stopped: it only never logs in automatically.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);

    bool IsRunning() const;

private slots:
    void _newLocalConnection();

private:
    bool running;
    QLocalServer* localServer;
    QString serverName;
};

// The process's application object; windows connect their Close() to its quit().
extern SingleApplication* theApp;
