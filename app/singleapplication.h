#pragma once

#include <QApplication>

class QLocalServer;

// The application object. At start-up it asks whether another copy of the same executable already
// runs for this user, through a local server named after the executable file in the user's own
// runtime folder. A second copy is not stopped: it only never logs in automatically.
//
// The probe counts an instance only when it answers a short handshake, so a listener that is not
// ours (or hangs) costs a new start at most a second and never its auto-login. The running
// instance answers from its event loop without waiting on any connection.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);

    bool IsRunning() const;

    // The local server name of an executable called `executableName` for the user running this
    // process: <runtime folder>/<name> (on Windows, where pipe names are shared by the machine, the
    // name followed by the user's name).
    static QString ServerNameFor(const QString& executableName);

    // What a probe sends and what a running instance answers.
    static const QByteArray probeQuestion;
    static const QByteArray probeAnswer;

private slots:
    void _newLocalConnection();

private:
    bool running;
    QLocalServer* localServer;
    QString serverName;
};

// The process's application object; windows connect their Close() to its quit().
extern SingleApplication* theApp;
