#include "detail/printspooler.h"

#include <QTimer>

#include <atomic>

#include "detail/cupsspooler.h"

namespace {
std::atomic<int> pollMsecs{500}; // read on the spooler's thread
} // namespace

// The spooler's side: lives on the spooler's thread and makes every call to libcups there.
class SpoolerWorker : public QObject
{
    Q_OBJECT
public:
    explicit SpoolerWorker(std::unique_ptr<JobFollower> follower)
        : follower(std::move(follower)), timer(new QTimer(this))
    {
        connect(timer, &QTimer::timeout, this, &SpoolerWorker::Round);
    }

    void List()
    {
        const Cups::Printers printers = Cups::List();
        emit PrintersListed(printers.reached, printers.names, printers.defaultName);
    }

    void Describe(int ticket, const QString& printer) { emit Described(ticket, Cups::Describe(printer)); }

    void Submit(int ticket, const PrintJob& job)
    {
        QString reason;
        const int jobId = Cups::Submit(job, &reason);
        if (jobId <= 0) {
            emit Ended(ticket, PrintJobEnd{0, false, reason});
            return;
        }
        emit Accepted(ticket, jobId);
        followed.append({ticket, job, jobId});
        Arm();
    }

    void Watch(const QString& printer)
    {
        if (!watched.contains(printer))
            watched.append(printer);
        Arm();
    }

signals:
    void PrintersListed(bool reached, const QStringList& names, const QString& defaultName);
    void Described(int ticket, const PrintQueue& queue);
    void Accepted(int ticket, int jobId);
    void Ended(int ticket, const PrintJobEnd& end);
    void QueueReady(const QString& printer);

private:
    struct Followed
    {
        int ticket;
        PrintJob job;
        int jobId;
    };

    void Arm()
    {
        timer->setInterval(pollMsecs.load());
        if (!timer->isActive())
            timer->start();
    }

    void Round()
    {
        for (int i = 0; i < followed.size();) {
            const Followed job = followed.at(i);
            const std::optional<PrintJobEnd> end = follower->Check(job.job, job.jobId);
            if (!end) {
                ++i;
                continue;
            }
            followed.removeAt(i);
            emit Ended(job.ticket, *end);
        }
        for (int i = 0; i < watched.size();) {
            if (!Cups::Describe(watched.at(i)).Ready()) {
                ++i;
                continue;
            }
            emit QueueReady(watched.takeAt(i));
        }
        if (followed.isEmpty() && watched.isEmpty())
            timer->stop();
    }

    std::unique_ptr<JobFollower> follower;
    QTimer* timer;
    QList<Followed> followed;
    QStringList watched;
};

CPrintSpooler::CPrintSpooler(std::unique_ptr<JobFollower> follower, QObject* parent)
    : QObject(parent), worker(new SpoolerWorker(follower ? std::move(follower) : std::make_unique<CupsJobFollower>()))
{
    qRegisterMetaType<PrintJob>("PrintJob");
    qRegisterMetaType<PrintJobEnd>("PrintJobEnd");
    qRegisterMetaType<PrintQueue>("PrintQueue");
    thread.setObjectName(QStringLiteral("print spooler"));
    worker->moveToThread(&thread);
    // The worker goes on its own thread, after the thread's last event.
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &SpoolerWorker::PrintersListed, this, &CPrintSpooler::PrintersListed);
    connect(worker, &SpoolerWorker::Described, this, &CPrintSpooler::Described);
    connect(worker, &SpoolerWorker::Accepted, this, &CPrintSpooler::Accepted);
    connect(worker, &SpoolerWorker::Ended, this, &CPrintSpooler::Ended);
    connect(worker, &SpoolerWorker::QueueReady, this, &CPrintSpooler::QueueReady);
    thread.start();
}

CPrintSpooler::~CPrintSpooler()
{
    thread.quit();
    thread.wait();
}

void CPrintSpooler::ListPrinters()
{
    SpoolerWorker* w = worker;
    QMetaObject::invokeMethod(w, [w] { w->List(); }, Qt::QueuedConnection);
}

void CPrintSpooler::Describe(int ticket, const QString& printer)
{
    SpoolerWorker* w = worker;
    QMetaObject::invokeMethod(w, [w, ticket, printer] { w->Describe(ticket, printer); }, Qt::QueuedConnection);
}

void CPrintSpooler::Submit(int ticket, const PrintJob& job)
{
    SpoolerWorker* w = worker;
    QMetaObject::invokeMethod(w, [w, ticket, job] { w->Submit(ticket, job); }, Qt::QueuedConnection);
}

void CPrintSpooler::WatchQueue(const QString& printer)
{
    SpoolerWorker* w = worker;
    QMetaObject::invokeMethod(w, [w, printer] { w->Watch(printer); }, Qt::QueuedConnection);
}

int CPrintSpooler::PollMsecs()
{
    return pollMsecs.load();
}

void CPrintSpooler::SetPollMsecs(int msecs)
{
    pollMsecs.store(qMax(10, msecs));
}

#include "printspooler.moc"
