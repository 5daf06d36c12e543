#pragma once

#include <QApplication>

#include <memory>

class QLockFile;
class QThread;

// The application object. At start-up it finds out whether another copy of the same executable
// already runs for this user. A second copy is not stopped: it only never logs in automatically.
//
// A lock file beside the local server's socket decides which process is the instance: the one that
// holds it. A start that cannot take it is a second copy and leaves the socket alone, however busy
// or flooded the instance is; a start that takes it may clear a socket a crashed instance left.
// Only where no lock file can be written at all (no runtime folder, a full disk) does a handshake on
// the socket decide, and then nothing is removed. The instance answers that handshake from a thread
// of its own, so neither a busy window nor connections that never speak keep it from answering.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int& argc, char** argv);
    ~SingleApplication() override;

    bool IsRunning() const;

    // The local server name of an executable called `executableName` for the user running this
    // process: <runtime folder>/<name> (on Windows, where pipe names are shared by the machine, the
    // name followed by the user's name).
    static QString ServerNameFor(const QString& executableName);
    // The instance's lock file for that server name: "<name>.lock" beside the socket (on Windows,
    // in the user's temporary folder).
    static QString LockFileFor(const QString& serverName);

    // What a probe sends and what a running instance answers.
    static const QByteArray probeQuestion;
    static const QByteArray probeAnswer;

private:
    void Serve();

    bool running;
    QString serverName;
    std::unique_ptr<QLockFile> instanceLock; // held for the whole run by the instance
    QThread* serverThread = nullptr;         // where the instance's local server lives
};

// The process's application object; windows connect their Close() to its quit().
extern SingleApplication* theApp;
