#include "orders/orderpolls.h"

#include <QTimer>

#include "app/log.h"
#include "app/sound.h"
#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderbook.h"
#include "orders/orderjobs.h"
#include "orders/pollclock.h"

namespace {

const QString timeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString newOrderSound = QStringLiteral("audio/neworder.mp3");
const QString notifySound = QStringLiteral("audio/notify.wav");
// Orders fetched at once, and waiting to be fetched, when polls name orders the client does not know.
constexpr int maxFetchesInFlight = 4;
constexpr int maxWaitingFetches = 10000;
// The longest a confirmation's sound waits for the new-order sound it must not cut off.
constexpr int notifyWaitMsecs = 4000;
// The full list is read again this often and compared with the book.
constexpr int healSeconds = 600;
// The full list's retry: a dead line is asked again after 5 s; a refusal waits 5 s, then twice as
// long after each further refusal, at most 5 minutes.
constexpr int retrySeconds = 5;
constexpr int longestRefusalWait = 300;

} // namespace

COrderPolls::COrderPolls(COrderBook* book, const ApiLine& line, QObject* parent)
    : QObject(parent), book(book), line(line), listJob(new COrderListJob(line, this)),
      newOrderJob(new CNewOrdersJob(line, this)), payFinishJob(new CPayFinishJob(line, this)),
      rereadJob(new COrderListJob(line, this))
{
    connect(listJob, &COrderListJob::Fetched, this, &COrderPolls::replyAllOrder);
    connect(listJob, &CJob::Failed, this, &COrderPolls::ListFailed);
    connect(newOrderJob, &CNewOrdersJob::Fetched, this, &COrderPolls::ReplyNewOrder);
    connect(newOrderJob, &CJob::Failed, this, [this](const JobFailure& failure) {
        ReportFailure(QStringLiteral("UpdateStaffOrderList"), failure);
        RestartHttpNewOrder(newOrderSeconds);
    });
    connect(payFinishJob, &CPayFinishJob::Fetched, this, &COrderPolls::ReplyPayFinishOrder);
    connect(payFinishJob, &CJob::Failed, this, [this](const JobFailure& failure) {
        ReportFailure(QStringLiteral("PayFinishOrder"), failure);
        RestartHttpPayFinishOrder(3);
    });
    // The polls go on either way; the next pass tries again.
    connect(rereadJob, &COrderListJob::Fetched, this, [this](const OrderListPage& page) {
        CompareWithList(page, rereadCatchUp);
        ScheduleHeal();
        if (rereadAgain) {
            rereadAgain = false;
            ReadListAgain(true);
        }
    });
    connect(rereadJob, &CJob::Failed, this, [this] {
        ScheduleHeal();
        if (rereadAgain) {
            rereadAgain = false;
            ReadListAgain(true);
        }
    });
}

COrderPolls::~COrderPolls()
{
    // The jobs go first, and their requests with them: nothing answers into a half-destroyed object.
    qDeleteAll(fetching.keys());
    delete listJob;
    delete newOrderJob;
    delete payFinishJob;
    delete rereadJob;
    delete timer;
    delete payFinishTimer;
    delete healTimer;
}

void COrderPolls::Start()
{
    if (!line.user || started)
        return;
    started = true;
    HttpAllOrder();
}

// ---- requests

bool COrderPolls::HttpAllOrder()
{
    return line.user && listJob->Start(1);
}

void COrderPolls::HttpNewOrder()
{
    if (line.user)
        newOrderJob->Start(newOrderTime);
}

void COrderPolls::HttpPayFinishOrder()
{
    if (!line.user)
        return;
    // From one second before the cursor: stamps have one-second resolution, and a change stamped in
    // the cursor's own second after the last reply would otherwise be skipped for good. What comes
    // back twice is recognised (`seen`).
    const QDateTime epoch(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    const QDateTime from = epoch < payFinishTime ? payFinishTime.addSecs(-1) : payFinishTime;
    payFinishJob->Start(from);
    // Orders whose fetch failed are asked for again with every pay/finish poll.
    StartFetches();
}

void COrderPolls::FetchDetail(qint64 id)
{
    if (!line.user || id <= 0)
        return;
    if (toFetch.size() >= maxWaitingFetches && !toFetch.contains(id)) {
        if (turnedAway++ == 0)
            qCWarning(lcPolls, "order %lld not fetched: %d orders already wait for their detail",
                      static_cast<long long>(id), maxWaitingFetches);
        return;
    }
    toFetch.insert(id);
    StartFetches();
}

// A few fetches at a time, however many orders a reply names.
void COrderPolls::StartFetches()
{
    if (!line.user)
        return;
    if (turnedAway > 0 && toFetch.size() < maxWaitingFetches) {
        qCWarning(lcPolls, "%d order(s) were not fetched while %d waited for their detail", turnedAway,
                  maxWaitingFetches);
        turnedAway = 0;
    }
    if (fetching.size() >= maxFetchesInFlight)
        return;
    const QList<qint64> inFlight = fetching.values();
    for (qint64 id : qAsConst(toFetch)) {
        if (fetching.size() >= maxFetchesInFlight)
            return;
        if (inFlight.contains(id))
            continue;
        // Several fetches may be in flight at once, each a job of its own.
        auto* job = new COrderDetailJob(line, this);
        const quint64 asked = book->RevisionOf(id);
        connect(job, &COrderDetailJob::Fetched, this,
                [this, job, asked](const OrderDetail& detail) { ReplyDetail(job, detail, asked); });
        connect(job, &CJob::Failed, this,
                [this, job](const JobFailure& failure) { DetailFailed(job, failure); });
        if (!job->Start(id)) {
            delete job;
            return;
        }
        fetching.insert(job, id);
    }
}

void COrderPolls::Schedule(QTimer*& which, int second, const std::function<void()>& run)
{
    if (!which)
        which = new QTimer(this);
    which->disconnect();
    connect(which, &QTimer::timeout, this, run);
    which->setSingleShot(true);
    which->start(clock.Msecs(second));
}

void COrderPolls::RestartHttpAllOrder(int second)
{
    Schedule(timer, second, [this] { HttpAllOrder(); });
}

void COrderPolls::RestartHttpNewOrder(int second)
{
    Schedule(timer, second, [this] { HttpNewOrder(); });
}

void COrderPolls::RestartHttpPayFinishOrder(int second)
{
    Schedule(payFinishTimer, second, [this] { HttpPayFinishOrder(); });
}

void COrderPolls::ReportFailure(const QString& endpoint, const JobFailure& failure)
{
    qCWarning(lcPolls, "%s poll failed: %s", qUtf8Printable(endpoint), qUtf8Printable(failure.logText));
    emit PollFailed(endpoint, failure.kind == JobFailure::Refused ? failure.message : QString());
}

// ---- the platform's clock

void COrderPolls::NotePlatformTime(const QDateTime& time)
{
    if (time.isValid())
        platformTime = time;
}

// Cursors only ever move forward, and never past the platform's clock.
void COrderPolls::Advance(QDateTime& cursor, const QDateTime& seen) const
{
    if (!seen.isValid() || cursor.secsTo(seen) <= 0)
        return;
    if (platformTime.isValid() && platformTime.secsTo(seen) > 0) {
        if (cursor.secsTo(platformTime) > 0)
            cursor = platformTime;
        return;
    }
    cursor = seen;
}

// ---- replies

// Asked again whatever went wrong: giving up here would leave the shop without orders and without
// polls for the rest of the day. A platform that refuses is not asked every 5 s.
void COrderPolls::ListFailed(const JobFailure& failure)
{
    ReportFailure(QStringLiteral("StaffOrderList"), failure);
    if (failure.kind != JobFailure::Refused) {
        refusedLists = 0;
        RestartHttpAllOrder(retrySeconds);
    } else {
        RestartHttpAllOrder(qMin(retrySeconds << qMin(refusedLists++, 10), longestRefusalWait));
    }
}

void COrderPolls::replyAllOrder(const OrderListPage& page)
{
    emit PollSucceeded(QStringLiteral("StaffOrderList"));
    refusedLists = 0;
    book->SetShop(page.shopId, page.shopName, page.shopCatId);

    // The cursors are set before anyone hears of the orders, so that whatever reacts to them sees
    // the polls ready. They start at the platform's clock, or failing that the newest order it
    // listed; the PC's clock only when the platform gives neither (an empty shop without a Date
    // header).
    QList<COrder*> listed;
    QList<COrder*> created;
    listed.reserve(page.entries.size());
    created.reserve(page.entries.size());
    {
        QSignalBlocker quiet(book);
        for (const OrderEntry& entry : page.entries) {
            bool isNew = false;
            if (COrder* order = book->Take(entry, COrderBook::Listed, &isNew)) {
                listed.append(order);
                if (isNew)
                    created.append(order);
            }
        }
    }
    QDateTime newest;
    QDateTime lastChange;
    for (const COrder* order : qAsConst(listed)) {
        // secsTo() asks the C library for the zone twice; the comparison first spares that for
        // the many times that are not newer.
        const QDateTime ctime = order->GetCtime();
        if (ctime.isValid() && (!newest.isValid() || (newest < ctime && newest.secsTo(ctime) > 0)))
            newest = ctime;
        const QDateTime ertime = order->GetErtime();
        if (ertime.isValid() &&
            (!lastChange.isValid() || (lastChange < ertime && lastChange.secsTo(ertime) > 0)))
            lastChange = ertime;
    }
    NotePlatformTime(page.platformTime);
    newOrderTime = page.platformTime.isValid() ? page.platformTime
                   : newest.isValid()          ? newest
                                               : QDateTime::currentDateTime();
    if (!payFinishTime.isValid())
        payFinishTime = QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    Advance(payFinishTime, lastChange);
    // The pay/finish poll asks from a second before its cursor: what the list already told is seen.
    const qint64 askedFrom = payFinishTime.addSecs(-1).toMSecsSinceEpoch();
    for (const COrder* order : qAsConst(listed))
        if (order->GetErtime().isValid() && order->GetErtime().toMSecsSinceEpoch() >= askedFrom)
            seen.insert(SeenKey(order->GetId(), order->GetStatus(), order->GetErtime()), order->GetErtime());
    book->Announce(created, COrderBook::Listed);
    loaded = true;
    emit Loaded();
    HttpNewOrder();
    HttpPayFinishOrder();
    ScheduleHeal();
}

void COrderPolls::ReplyNewOrder(const OrderEntries& reply)
{
    const quint64 arrivalsBefore = Arrivals();
    emit PollSucceeded(QStringLiteral("UpdateStaffOrderList"));
    NotePlatformTime(reply.platformTime);
    for (const OrderEntry& entry : reply.entries) {
        bool created = false;
        COrder* order = book->Take(entry, COrderBook::New, &created);
        if (!order)
            continue;
        Advance(newOrderTime, entry.ctime);
        if (!created)
            continue;
        LogNew(order, QStringLiteral("UpdateStaffOrderList"));
        if (fetchNewDetails && order->GetStatus() == StatusPaid.first)
            FetchDetail(order->GetId());
    }
    Ring(arrivalsBefore, false);
    RestartHttpNewOrder(newOrderSeconds);
}

void COrderPolls::ReplyPayFinishOrder(const OrderEntries& reply)
{
    QList<COrder*> confirmations;
    const quint64 arrivalsBefore = Arrivals();
    emit PollSucceeded(QStringLiteral("PayFinishOrder"));
    NotePlatformTime(reply.platformTime);
    for (const OrderEntry& entry : reply.entries) {
        if (entry.id <= 0)
            continue;
        Advance(payFinishTime, entry.ertime);
        // Asked from a second before the cursor, and stamped ahead of the platform's clock an
        // entry comes back until the clock has passed it: each change counts once.
        if (entry.ertime.isValid()) {
            const QString key = SeenKey(entry.id, entry.status, entry.ertime);
            if (seen.contains(key))
                continue;
            seen.insert(key, entry.ertime);
        }
        COrder* order = book->Find(entry.id);
        if (!order) {
            // Learnt from this report, which cannot tell a buyer's request from the payment
            // itself: a payment after the order was placed moves the stamp too, and stamps may
            // run seconds ahead of the payment's time. The order arrives as new; a later
            // report asks.
            FetchDetail(entry.id);
            continue;
        }
        // Reported again as paid, stamped later than whatever the client learnt of the order:
        // the buyer asks the shop to confirm the service. The table ignores an order it
        // already shows.
        if (book->ApplyEntry(order, entry, "PayFinishOrder") == COrderBook::Renewed &&
            entry.status == StatusPaid.first)
            confirmations.append(order);
    }
    ForgetSeenBefore(payFinishTime.addSecs(-1));
    if (!confirmations.isEmpty())
        emit ConfirmationAsked(confirmations);
    Ring(arrivalsBefore, !confirmations.isEmpty());
    RestartHttpPayFinishOrder(3);
}

QString COrderPolls::SeenKey(qint64 id, int status, const QDateTime& stamp)
{
    return QStringLiteral("%1/%2/%3").arg(id).arg(status).arg(stamp.toString(timeFormat));
}

// Entries stamped before `asked` are never sent again. Those stamped in its very second are kept: a
// platform whose filter includes that second sends them again on every poll.
void COrderPolls::ForgetSeenBefore(const QDateTime& asked)
{
    for (auto it = seen.begin(); it != seen.end();) {
        if (it.value() < asked)
            it = seen.erase(it);
        else
            ++it;
    }
}

// A fetch the platform answered, whatever it said, is done; one the line or a broken answer lost is
// asked for again with the next pay/finish poll.
void COrderPolls::DetailFailed(COrderDetailJob* job, const JobFailure& failure)
{
    const qint64 id = fetching.take(job);
    job->deleteLater();
    const bool answered =
        failure.kind == JobFailure::Refused || (failure.kind == JobFailure::Malformed && failure.status == 1);
    if (!answered)
        return;
    toFetch.remove(id); // the platform does not know it either
    StartFetches();
}

void COrderPolls::ReplyDetail(COrderDetailJob* job, const OrderDetail& detail, quint64 asked)
{
    const qint64 id = fetching.take(job);
    job->deleteLater();
    toFetch.remove(id);
    StartFetches();
    const bool known = book->Find(id) != nullptr;
    const quint64 arrivalsBefore = Arrivals();
    COrder* order = book->TakeDetail(detail.info, COrderBook::Fetched, asked);
    if (!order)
        return;
    if (!known)
        LogNew(order, QStringLiteral("PayFinishOrder"));
    Ring(arrivalsBefore, false);
    emit DetailFetched(order);
}

void COrderPolls::CatchUp()
{
    ReadListAgain(true);
}

void COrderPolls::ScheduleHeal()
{
    Schedule(healTimer, healSeconds, [this] { ReadListAgain(false); });
}

// The full list once more, compared order by order with the book: an order the client never knew
// arrives as a new one, a newer status is applied and its row moves, an older one is ignored.
// After a lost connection (`catchUp`) this is what brings the missed orders; every 10 minutes it
// is the quiet check that the book still agrees with the platform.
void COrderPolls::ReadListAgain(bool catchUp)
{
    if (!line.user)
        return;
    if (rereadJob->Running()) {
        // One list at a time; a catch-up asked for meanwhile follows the one in flight.
        rereadAgain = rereadAgain || catchUp;
        return;
    }
    if (!rereadJob->Start(1))
        return;
    rereadCatchUp = catchUp;
    if (catchUp)
        qCInfo(lcPolls, "catching up: asking for the full list again");
    else
        qCDebug(lcPolls, "reading the full list again to compare it with the client's");
}

void COrderPolls::CompareWithList(const OrderListPage& page, bool catchUp)
{
    const QString source =
        catchUp ? QStringLiteral("StaffOrderList (catch-up)") : QStringLiteral("StaffOrderList");
    int added = 0;
    int corrected = 0;
    const quint64 arrivalsBefore = Arrivals();
    for (const OrderEntry& entry : page.entries) {
        bool created = false;
        COrder* order = book->Take(entry, COrderBook::New, &created);
        if (!order)
            continue;
        if (created) {
            ++added;
            LogNew(order, source);
            if (fetchNewDetails && order->GetStatus() == StatusPaid.first)
                FetchDetail(order->GetId());
            continue;
        }
        const int had = order->GetStatus();
        if (entry.status == had || book->ApplyEntry(order, entry, "StaffOrderList") != COrderBook::Changed)
            continue;
        ++corrected;
        qCWarning(lcOrders, "order %lld: client status %d, platform status %d, corrected",
                  static_cast<long long>(order->GetId()), had, entry.status);
    }
    if (catchUp || added > 0 || corrected > 0)
        qCInfo(lcPolls, "full list compared: %d order(s) the client did not know, %d corrected", added,
               corrected);
    Ring(arrivalsBefore, false);
    emit CaughtUp(added);
}

void COrderPolls::LogNew(const COrder* order, const QString& poll)
{
    const qint64 late =
        order->GetCtime().isValid() ? order->GetCtime().secsTo(QDateTime::currentDateTime()) : -1;
    qCInfo(lcOrders, "new order %lld (status %d) from %s, %lld s after its ctime",
           static_cast<long long>(order->GetId()), order->GetStatus(), qUtf8Printable(poll),
           static_cast<long long>(late));
}

// ---- sounds

quint64 COrderPolls::Arrivals() const
{
    return newOrders ? newOrders->Arrivals() : 0;
}

// One sound per reply. The new-order sound matters most: a confirmation's sound never cuts it
// off but waits until it has been heard.
void COrderPolls::Ring(quint64 arrivalsBefore, bool confirmation)
{
    const bool newOrder = Arrivals() > arrivalsBefore;
    if (!sounds || (!newOrder && !confirmation))
        return;
    if (newOrder)
        sounds->Play(newOrderSound);
    if (!confirmation)
        return;
    if (!sounds->IsPlaying(newOrderSound) && !newOrder) {
        sounds->Play(notifySound);
        return;
    }
    // After the new-order sound, or after a while if the player never tells that it ended.
    auto* wait = new QTimer(this);
    wait->setSingleShot(true);
    connect(wait, &QTimer::timeout, this, [this, wait] {
        sounds->Play(notifySound);
        wait->deleteLater();
    });
    connect(sounds, &Sound::Service::Stopped, wait, [wait](const QString& path) {
        if (path == newOrderSound && wait->isActive())
            wait->start(0);
    });
    wait->start(notifyWaitMsecs);
}
