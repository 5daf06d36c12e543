#include "orders/orderpolls.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QTimer>

#include "app/constants.h"
#include "app/log.h"
#include "app/sound.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderbook.h"
#include "orders/pollclock.h"
#include "session/cuser.h"

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

QVariantList Commos(const Request::Answer& answer)
{
    return answer.InfoMap().value(QStringLiteral("commos")).toList();
}

QDateTime EntryStamp(const QVariantMap& entry)
{
    return ReadStamp(entry.value(QStringLiteral("ertime")));
}

} // namespace

COrderPolls::COrderPolls(COrderBook* book, QNetworkAccessManager* network, CUser* user, QObject* parent)
    : QObject(parent), book(book), network(network), user(user)
{
}

COrderPolls::~COrderPolls()
{
    // A reply cut short as the session ends must not reach this half-destroyed object.
    if (network)
        for (QNetworkReply* pending : network->findChildren<QNetworkReply*>())
            disconnect(pending, nullptr, this, nullptr);
    delete timer;
    delete payFinishTimer;
    delete healTimer;
}

void COrderPolls::Start()
{
    if (!user || started)
        return;
    started = true;
    HttpAllOrder();
}

// ---- requests

bool COrderPolls::HttpAllOrder()
{
    if (!user)
        return false;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("pager"), QStringLiteral("1")});
    return Request::Send(network, Api::StaffOrderList(), Request::EncodeBody(fields), this,
                         &COrderPolls::replyAllOrder, &COrderPolls::slotError) != nullptr;
}

void COrderPolls::HttpNewOrder()
{
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("time"), newOrderTime.toString(timeFormat)});
    Request::Send(network, Api::UpdateStaffOrderList(), Request::EncodeBody(fields), this,
                  &COrderPolls::ReplyNewOrder, &COrderPolls::ErrorNewOrder);
}

void COrderPolls::HttpPayFinishOrder()
{
    if (!user)
        return;
    // From one second before the cursor: stamps have one-second resolution, and a change stamped in
    // the cursor's own second after the last reply would otherwise be skipped for good. What comes
    // back twice is recognised (`seen`).
    const QDateTime epoch(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    const QDateTime from = epoch < payFinishTime ? payFinishTime.addSecs(-1) : payFinishTime;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("ertime"), from.toString(timeFormat)});
    Request::Send(network, Api::PayFinishOrder(), Request::EncodeBody(fields), this,
                  &COrderPolls::ReplyPayFinishOrder, &COrderPolls::ErrorPayFinishOrder);
    // Orders whose fetch failed are asked for again with every pay/finish poll.
    StartFetches();
}

void COrderPolls::FetchDetail(qint64 id)
{
    if (!user || id <= 0)
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
    if (!user)
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
        Request::Fields fields = Request::SessionFields(user);
        fields.append({QStringLiteral("oid"), QString::number(id)});
        // Several fetches may be in flight at once: each reply is read by its own connection.
        QNetworkReply* sent = Request::Post(network, Api::StaffOrder2(), Request::EncodeBody(fields));
        if (!sent)
            return;
        fetching.insert(sent, id);
        const quint64 asked = book->RevisionOf(id);
        connect(sent, &QNetworkReply::finished, this, [this, sent, id, asked] { ReplyDetail(sent, id, asked); });
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

// The reply slots read the failure; these only have to exist for the envelope.
void COrderPolls::slotError(QNetworkReply::NetworkError) {}
void COrderPolls::ErrorNewOrder(QNetworkReply::NetworkError) {}
void COrderPolls::ErrorPayFinishOrder(QNetworkReply::NetworkError) {}

bool COrderPolls::Report(const QString& endpoint, const Request::Answer& answer)
{
    if (answer.Succeeded()) {
        emit PollSucceeded(endpoint);
        return true;
    }
    qCWarning(lcPolls, "%s poll failed: %s", qUtf8Printable(endpoint), qUtf8Printable(answer.FailureText()));
    emit PollFailed(endpoint, answer.RefusalText());
    return false;
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

void COrderPolls::replyAllOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();
    // Asked again whatever went wrong: giving up here would leave the shop without orders and
    // without polls for the rest of the day. A platform that refuses is not asked every 5 s.
    if (!Report(QStringLiteral("StaffOrderList"), answer)) {
        if (answer.RefusalText().isEmpty()) {
            refusedLists = 0;
            RestartHttpAllOrder(retrySeconds);
        } else {
            RestartHttpAllOrder(qMin(retrySeconds << qMin(refusedLists++, 10), longestRefusalWait));
        }
        return;
    }
    refusedLists = 0;

    // Read from the JSON as it came: ten thousand entries are not made into QVariantMaps first.
    const QJsonObject info = answer.InfoJson().toObject();
    book->SetShop(info.value(QStringLiteral("shop_id")).toVariant().toLongLong(),
                  info.value(QStringLiteral("shop_name")).toVariant().toString(),
                  info.value(QStringLiteral("shop_catid")).toVariant().toInt());
    const QJsonArray entries = info.value(QStringLiteral("commos")).toArray();

    // The cursors are set before anyone hears of the orders, so that whatever reacts to them sees
    // the polls ready. They start at the platform's clock, or failing that the newest order it
    // listed; the PC's clock only when the platform gives neither (an empty shop without a Date
    // header).
    QList<COrder*> listed;
    QList<COrder*> created;
    listed.reserve(entries.size());
    created.reserve(entries.size());
    {
        QSignalBlocker quiet(book);
        for (const QJsonValue& entry : entries) {
            bool isNew = false;
            if (COrder* order = book->Take(entry.toObject(), COrderBook::Listed, &isNew)) {
                listed.append(order);
                if (isNew)
                    created.append(order);
            }
        }
    }
    QDateTime newest;
    QDateTime lastChange;
    for (const COrder* order : qAsConst(listed)) {
        if (order->GetCtime().isValid() && (!newest.isValid() || newest.secsTo(order->GetCtime()) > 0))
            newest = order->GetCtime();
        if (order->GetErtime().isValid() && (!lastChange.isValid() || lastChange.secsTo(order->GetErtime()) > 0))
            lastChange = order->GetErtime();
    }
    NotePlatformTime(answer.platformTime);
    newOrderTime = answer.platformTime.isValid() ? answer.platformTime
                   : newest.isValid()            ? newest
                                                 : QDateTime::currentDateTime();
    if (!payFinishTime.isValid())
        payFinishTime = QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    Advance(payFinishTime, lastChange);
    // The pay/finish poll asks from a second before its cursor: what the list already told is seen.
    for (const COrder* order : qAsConst(listed))
        if (order->GetErtime().isValid() && !(order->GetErtime() < payFinishTime.addSecs(-1)))
            seen.insert(SeenKey(order->GetId(), order->GetStatus(), order->GetErtime()), order->GetErtime());
    book->Announce(created, COrderBook::Listed);
    loaded = true;
    emit Loaded();
    HttpNewOrder();
    HttpPayFinishOrder();
    ScheduleHeal();
}

void COrderPolls::ReplyNewOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();
    const quint64 arrivalsBefore = Arrivals();
    if (Report(QStringLiteral("UpdateStaffOrderList"), answer)) {
        NotePlatformTime(answer.platformTime);
        for (const QVariant& value : Commos(answer)) {
            const QVariantMap entry = value.toMap();
            bool created = false;
            COrder* order = book->Take(entry, COrderBook::New, &created);
            if (!order)
                continue;
            Advance(newOrderTime, ReadStamp(entry.value(QStringLiteral("ctime"))));
            if (!created)
                continue;
            LogNew(order, QStringLiteral("UpdateStaffOrderList"));
            if (fetchNewDetails && order->GetStatus() == StatusPaid.first)
                FetchDetail(order->GetId());
        }
    }
    Ring(arrivalsBefore, false);
    RestartHttpNewOrder(newOrderSeconds);
}

void COrderPolls::ReplyPayFinishOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();
    QList<COrder*> confirmations;
    const quint64 arrivalsBefore = Arrivals();
    if (Report(QStringLiteral("PayFinishOrder"), answer)) {
        NotePlatformTime(answer.platformTime);
        for (const QVariant& value : Commos(answer)) {
            const QVariantMap entry = value.toMap();
            const qint64 id = entry.value(QStringLiteral("id")).toLongLong();
            if (id <= 0)
                continue;
            const QDateTime stamp = EntryStamp(entry);
            const int reported = entry.value(QStringLiteral("status")).toInt();
            Advance(payFinishTime, stamp);
            // Asked from a second before the cursor, and stamped ahead of the platform's clock an
            // entry comes back until the clock has passed it: each change counts once.
            if (stamp.isValid()) {
                const QString key = SeenKey(id, reported, stamp);
                if (seen.contains(key))
                    continue;
                seen.insert(key, stamp);
            }
            COrder* order = book->Find(id);
            if (!order) {
                // Learnt from this report, which cannot tell a buyer's request from the payment
                // itself: a payment after the order was placed moves the stamp too, and stamps may
                // run seconds ahead of the payment's time. The order arrives as new; a later
                // report asks.
                FetchDetail(id);
                continue;
            }
            // Reported again as paid, stamped later than whatever the client learnt of the order:
            // the buyer asks the shop to confirm the service. The table ignores an order it
            // already shows.
            if (book->ApplyEntry(order, entry, "PayFinishOrder") == COrderBook::Renewed &&
                reported == StatusPaid.first)
                confirmations.append(order);
        }
        ForgetSeenBefore(payFinishTime.addSecs(-1));
    }
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

void COrderPolls::ReplyDetail(QNetworkReply* finished, qint64 id, quint64 asked)
{
    fetching.remove(finished);
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();
    if (answer.networkError || !answer.isObject)
        return; // asked for again with the next pay/finish poll
    toFetch.remove(id);
    StartFetches();
    if (answer.status != 1)
        return; // the platform does not know it either
    const QVariantMap info = answer.InfoMap();
    if (info.value(QStringLiteral("id")).toLongLong() != id)
        return;
    const bool known = book->Find(id) != nullptr;
    const quint64 arrivalsBefore = Arrivals();
    COrder* order = book->TakeDetail(info, COrderBook::Fetched, asked);
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
    if (!user)
        return;
    if (rereading) {
        // One list at a time; a catch-up asked for meanwhile follows the one in flight.
        rereadAgain = rereadAgain || catchUp;
        return;
    }
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("pager"), QStringLiteral("1")});
    QNetworkReply* sent = Request::Post(network, Api::StaffOrderList(), Request::EncodeBody(fields));
    if (!sent)
        return;
    rereading = true;
    if (catchUp)
        qCInfo(lcPolls, "catching up: asking for the full list again");
    else
        qCDebug(lcPolls, "reading the full list again to compare it with the client's");
    connect(sent, &QNetworkReply::finished, this, [this, sent, catchUp] {
        rereading = false;
        const Request::Answer answer = Request::Read(sent);
        sent->deleteLater();
        if (answer.Succeeded())
            CompareWithList(answer, catchUp);
        // The polls go on either way; the next pass tries again.
        ScheduleHeal();
        if (rereadAgain) {
            rereadAgain = false;
            ReadListAgain(true);
        }
    });
}

void COrderPolls::CompareWithList(const Request::Answer& answer, bool catchUp)
{
    const QString source = catchUp ? QStringLiteral("StaffOrderList (catch-up)") : QStringLiteral("StaffOrderList");
    int added = 0;
    int corrected = 0;
    const quint64 arrivalsBefore = Arrivals();
    const QJsonArray entries = answer.InfoJson().toObject().value(QStringLiteral("commos")).toArray();
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
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
        const int says = entry.value(QStringLiteral("status")).toVariant().toInt();
        if (says == had || book->ApplyEntry(order, entry, "StaffOrderList") != COrderBook::Changed)
            continue;
        ++corrected;
        qCWarning(lcOrders, "order %lld: client status %d, platform status %d, corrected",
                  static_cast<long long>(order->GetId()), had, says);
    }
    if (catchUp || added > 0 || corrected > 0)
        qCInfo(lcPolls, "full list compared: %d order(s) the client did not know, %d corrected", added, corrected);
    Ring(arrivalsBefore, false);
    emit CaughtUp(added);
}

void COrderPolls::LogNew(const COrder* order, const QString& poll)
{
    const qint64 late = order->GetCtime().isValid() ? order->GetCtime().secsTo(QDateTime::currentDateTime()) : -1;
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
