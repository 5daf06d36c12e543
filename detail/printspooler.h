#pragma once

#include <QObject>
#include <QStringList>
#include <QThread>

#include <memory>

#include "detail/printjob.h"

class SpoolerWorker;

// The system's print spooler as the client uses it: what printers there are, what state a queue is
// in, and print jobs handed over and followed until they end. Everything that talks to the spooler
// runs on a thread of its own, so a busy or silent print service never holds up a window; each
// call returns at once and its answer comes later as a signal, never before the call returns.
// `ticket` is the caller's own number for the request.
//
// How a job is followed is the one part that depends on what the platform's spooler can tell: a
// CupsJobFollower follows it to its end; an AcceptedJobFollower counts it done once handed over.
class CPrintSpooler : public QObject
{
    Q_OBJECT
public:
    explicit CPrintSpooler(std::unique_ptr<JobFollower> follower = nullptr, QObject* parent = nullptr);
    ~CPrintSpooler() override; // waits for a request in progress (its time is limited)

    void ListPrinters();                              // PrintersListed
    void Describe(int ticket, const QString& printer); // Described; empty: the default printer
    void Submit(int ticket, const PrintJob& job);     // Accepted (when it was), then Ended
    void WatchQueue(const QString& printer);          // QueueReady once the queue takes jobs again

    // How often a job in progress and a watched queue are asked about.
    static int PollMsecs();
    static void SetPollMsecs(int msecs); // tests make it shorter

signals:
    void PrintersListed(bool reached, const QStringList& names, const QString& defaultName);
    void Described(int ticket, const PrintQueue& queue);
    void Accepted(int ticket, int jobId);
    void Ended(int ticket, const PrintJobEnd& end);
    void QueueReady(const QString& printer);

private:
    QThread thread;
    SpoolerWorker* worker;
};
