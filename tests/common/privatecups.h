#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A CUPS server of the test's own, with PDF queues of cups-pdf. It has its own configuration folder,
// spool, logs and socket, and listens on nothing else, so it never meets the system's cupsd; a test
// points libcups at it with CUPS_SERVER=Socket(). cupsd runs as root (it needs to, to run its
// filters and the cups-pdf backend) in a mount namespace of its own, where the folder that cups-pdf
// reads its configuration from (/etc/cups) is the test's: each queue writes its PDFs into a folder of
// its own under the test's. The server stops when the object goes, and with the test process if that
// dies first (the kernel sends it SIGTERM).
class PrivateCups
{
public:
    struct Queue
    {
        QString name;
        int rollMm; // the queue's default paper: a roll this wide
    };

    // Why this machine cannot run one (not root, a program missing); empty when it can.
    static QString Unavailable();

    PrivateCups();
    ~PrivateCups();

    // Starts the server with these queues, all enabled and accepting; the first is the default.
    bool Start(const QList<Queue>& queues, QString* error);
    void Stop();

    QString Socket() const;
    QString OutputFolder(const QString& queue) const;
    QStringList Pdfs(const QString& queue) const; // the PDFs the queue has written, oldest first
    QString ErrorLog() const;                     // the end of cupsd's log, for a failure's message

    // Runs a CUPS command (lpadmin, cupsdisable, cupsenable, cupsreject, cupsaccept, lpstat, cancel)
    // against this server; its standard output goes to `output`.
    bool Run(const QString& program, const QStringList& arguments, QString* output = nullptr) const;
    int CompletedJobs(const QString& queue) const;
    int UnfinishedJobs(const QString& queue) const;

private:
    bool WriteFile(const QString& path, const QByteArray& text, QString* error) const;
    QByteArray RollPpd(int rollMm, QString* error) const;

    QTemporaryDir root;
    std::unique_ptr<QProcess> cupsd;
};
