#pragma once

#include <QHash>
#include <QStringList>

#include "detail/printjob.h"

// The system's print spooler on Linux, reached through libcups (the server CUPS_SERVER names, else
// the system's). Every call talks to the server and can take a while when it is busy: they are
// made on the print spooler's own thread, never on the GUI thread. Each call opens its own
// connection with a time limit, so a server that has gone away costs seconds, not a hang.
namespace Cups {

struct Printers
{
    bool reached = false; // the print service answered
    QStringList names;    // sorted
    QString defaultName;  // empty when the system has no default printer
};
Printers List();

// `name` empty: the default printer of the system (or of the user's own CUPS options).
PrintQueue Describe(const QString& name);

// Hands the job over; its id, or 0 with `reason` set.
int Submit(const PrintJob& job, QString* reason);

bool Cancel(const QString& printer, int jobId);

} // namespace Cups

// Follows a job through CUPS. It ends as the job does: completed, cancelled or aborted. A job that
// is stopped or held, or waits in a queue that was stopped or removed, will not print by itself: it
// is cancelled and ends as failed. A print service that stays silent for MissesAllowed checks in a
// row ends the job as failed too.
class CupsJobFollower : public JobFollower
{
public:
    static constexpr int MissesAllowed = 10;
    std::optional<PrintJobEnd> Check(const PrintJob& job, int jobId) override;

private:
    QHash<int, int> misses; // by job id
};
