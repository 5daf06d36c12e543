#pragma once

#include <QMetaType>
#include <QSizeF>
#include <QString>

#include <optional>

// One print job for the system's spooler: a PDF file for one queue.
struct PrintJob
{
    QString printer;  // the queue
    QString file;     // the PDF to print; read when the job is handed over
    QString title;    // the job's name in the queue
    int copies = 1;
    QSizeF paperMm;   // the paper to print on, in millimetres; empty: the queue's own
};

// What became of a job: completed, or why not in the staff member's words.
struct PrintJobEnd
{
    int jobId = 0; // 0: the spooler never took the job
    bool completed = false;
    QString reason;
};

// A print queue as the spooler reports it.
struct PrintQueue
{
    QString name;
    bool spoolerReached = false; // the print service answered
    bool exists = false;
    bool accepting = false; // takes new jobs
    bool stopped = false;   // holds its jobs (disabled by hand, or stopped by a failed job)
    QString message;        // the queue's own state message, when it has one
    QSizeF paperMm;         // its default paper; empty when it does not say

    bool Ready() const { return spoolerReached && exists && accepting && !stopped; }
    QString Problem() const; // why it cannot print now; empty when it can
};

Q_DECLARE_METATYPE(PrintJob)
Q_DECLARE_METATYPE(PrintJobEnd)
Q_DECLARE_METATYPE(PrintQueue)

// Follows a job the spooler has accepted until it ends. The spooler asks again and again, on its
// own thread, until an answer comes; a follower may cancel a job that can no longer print (its
// queue was stopped), so that it does not come out later beside a receipt printed again.
class JobFollower
{
public:
    virtual ~JobFollower() = default;
    virtual std::optional<PrintJobEnd> Check(const PrintJob& job, int jobId) = 0;
};

// Where the spooler cannot say what became of a job, a job it accepted counts as printed.
class AcceptedJobFollower : public JobFollower
{
public:
    std::optional<PrintJobEnd> Check(const PrintJob& job, int jobId) override;
};
