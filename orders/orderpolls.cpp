#include "orders/orderpolls.h"

#include <QMediaPlayer>
#include <QNetworkAccessManager>
#include <QTimer>

#include "app/constants.h"
#include "app/log.h"
#include "app/sound.h"
#include "net/request.h"
#include "orders/corder.h"
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

QVariantList Commos(const Request::Answer& answer)
{
    return answer.InfoMap().value(QStringLiteral("commos")).toList();
}

QString FailureText(const Request::Answer& answer)
{
    if (answer.networkError)
        return answer.errorString;
    if (!answer.isObject)
        return QStringLiteral("not a JSON object");
    return QStringLiteral("status %1: %2").arg(answer.status).arg(answer.InfoText());
}

} // namespace

COrderPolls::COrderPolls(COrderBook* book, QObject* parent) : QObject(parent), book(book)
{
    connect(book, &COrderBook::StatusChanged, this, &COrderPolls::OnStatusChanged);
}

COrderPolls::~COrderPolls()
{
    // A reply aborted by its manager's end must not reach this half-destroyed object.
    for (QNetworkAccessManager* m : {manager, payFinishManager, detailManager}) {
        if (!m)
            continue;
        disconnect(m, nullptr, this, nullptr);
        for (QNetworkReply* pending : m->findChildren<QNetworkReply*>())
            disconnect(pending, nullptr, this, nullptr);
        delete m;
    }
    delete timer;
    delete payFinishTimer;
    delete player;
}

void COrderPolls::Start(CUser* newUser)
{
    if (!newUser)
        return;
    user = newUser;
    if (!player)
        player = new QMediaPlayer;
    HttpAllOrder();
}

// ---- requests

bool COrderPolls::HttpAllOrder()
{
    if (!manager)
        manager = Request::CreateManager(this);
    if (!user)
        return false;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("pager"), QStringLiteral("1")});
    return Request::Send(manager, Api::StaffOrderList(), Request::EncodeBody(fields), this,
                         &COrderPolls::replyAllOrder, &COrderPolls::slotError) != nullptr;
}

void COrderPolls::HttpNewOrder()
{
    if (!manager)
        manager = Request::CreateManager(this);
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("time"), newOrderTime.toString(timeFormat)});
    Request::Send(manager, Api::UpdateStaffOrderList(), Request::EncodeBody(fields), this,
                  &COrderPolls::ReplyNewOrder, &COrderPolls::ErrorNewOrder);
}

void COrderPolls::HttpPayFinishOrder()
{
    if (!payFinishManager)
        payFinishManager = Request::CreateManager(this);
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("ertime"), payFinishTime.toString(timeFormat)});
    Request::Send(payFinishManager, Api::PayFinishOrder(), Request::EncodeBody(fields), this,
                  &COrderPolls::ReplyPayFinishOrder, &COrderPolls::ErrorPayFinishOrder);
    // Orders whose fetch failed are asked for again with every pay/finish poll.
    StartFetches();
}

void COrderPolls::FetchDetail(qint64 id)
{
    if (!user || id <= 0)
        return;
    if (toFetch.size() >= maxWaitingFetches && !toFetch.contains(id)) {
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
    if (!detailManager)
        detailManager = Request::CreateManager(this);
    const QList<qint64> inFlight = fetching.values();
    for (qint64 id : qAsConst(toFetch)) {
        if (fetching.size() >= maxFetchesInFlight)
            return;
        if (inFlight.contains(id))
            continue;
        Request::Fields fields = Request::SessionFields(user);
        fields.append({QStringLiteral("oid"), QString::number(id)});
        // Several fetches may be in flight at once: each reply is read by its own connection.
        QNetworkReply* sent = Request::Post(detailManager, Api::StaffOrder2(), Request::EncodeBody(fields));
        if (!sent)
            return;
        fetching.insert(sent, id);
        connect(sent, &QNetworkReply::finished, this, [this, sent, id] { ReplyDetail(sent, id); });
    }
}

void COrderPolls::Schedule(QTimer*& which, int second, const std::function<void()>& run)
{
    if (!which)
        which = new QTimer(this);
    which->disconnect();
    connect(which, &QTimer::timeout, this, run);
    which->setSingleShot(true);
    which->start(PollClock::Msecs(second));
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

bool COrderPolls::Report(const QString& endpoint, bool succeeded, const QString& text)
{
    if (succeeded) {
        emit PollSucceeded(endpoint);
    } else {
        qCWarning(lcPolls, "%s poll failed: %s", qUtf8Printable(endpoint), qUtf8Printable(text));
        emit PollFailed(endpoint, text);
    }
    return succeeded;
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
    // A refusal or a garbled body is retried like a dead network: giving up here would leave the
    // shop without orders and without polls for the rest of the day.
    if (!Report(QStringLiteral("StaffOrderList"), answer.Succeeded(), FailureText(answer))) {
        RestartHttpAllOrder(5);
        return;
    }

    const QVariantMap info = answer.InfoMap();
    book->SetShop(info.value(QStringLiteral("shop_id")).toLongLong(),
                  info.value(QStringLiteral("shop_name")).toString(),
                  info.value(QStringLiteral("shop_catid")).toInt());
    const QVariantList entries = info.value(QStringLiteral("commos")).toList();

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
        for (const QVariant& entry : entries) {
            bool isNew = false;
            if (COrder* order = book->Take(entry.toMap(), COrderBook::Listed, &isNew)) {
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
    book->Announce(created, COrderBook::Listed);
    loaded = true;
    emit Loaded();
    HttpNewOrder();
    HttpPayFinishOrder();
}

void COrderPolls::ReplyNewOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();
    int added = 0;
    if (Report(QStringLiteral("UpdateStaffOrderList"), answer.Succeeded(), FailureText(answer))) {
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
            ++added;
            LogNew(order, QStringLiteral("UpdateStaffOrderList"));
            if (fetchNewDetails && order->GetStatus() == StatusPaid.first)
                FetchDetail(order->GetId());
        }
    }
    Ring(added > 0, false);
    RestartHttpNewOrder(20);
}

void COrderPolls::ReplyPayFinishOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();
    QList<COrder*> confirmations;
    bool becamePaid = false;
    if (Report(QStringLiteral("PayFinishOrder"), answer.Succeeded(), FailureText(answer))) {
        NotePlatformTime(answer.platformTime);
        for (const QVariant& value : Commos(answer)) {
            const QVariantMap entry = value.toMap();
            const qint64 id = entry.value(QStringLiteral("id")).toLongLong();
            if (id <= 0)
                continue;
            Advance(payFinishTime, ReadStamp(entry.value(QStringLiteral("ertime"))));
            COrder* order = book->Find(id);
            if (!order) {
                FetchDetail(id);
                continue;
            }
            const int reported = entry.value(QStringLiteral("status")).toInt();
            if (reported != order->GetStatus()) {
                book->ApplyEntry(order, entry);
                if (reported == StatusPaid.first)
                    becamePaid = true;
                continue;
            }
            // The same report seen again: the cursor stops at the platform's clock, so an entry
            // stamped a moment ahead of it comes back until the clock has passed it.
            const QDateTime ertime = ReadStamp(entry.value(QStringLiteral("ertime")));
            if (order->GetErtime().isValid() && (!ertime.isValid() || order->GetErtime().secsTo(ertime) <= 0))
                continue;
            book->ApplyEntry(order, entry);
            // Unchanged and still paid: the buyer asks the shop to confirm the service. An order
            // the shop itself just moved on (finished, replied to) comes back unchanged as well,
            // and has nothing to confirm.
            if (reported == StatusPaid.first && !confirmationAsked.contains(id)) {
                confirmationAsked.insert(id);
                confirmations.append(order);
            }
        }
    }
    if (!confirmations.isEmpty())
        emit ConfirmationAsked(confirmations);
    Ring(becamePaid, !confirmations.isEmpty());
    RestartHttpPayFinishOrder(3);
}

void COrderPolls::ReplyDetail(QNetworkReply* finished, qint64 id)
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
    COrder* order = book->TakeDetail(info, COrderBook::Fetched);
    if (!order)
        return;
    if (!known) {
        LogNew(order, QStringLiteral("PayFinishOrder"));
        if (order->GetStatus() == StatusPaid.first)
            Ring(true, false);
    }
    emit DetailFetched(order);
}

void COrderPolls::CatchUp()
{
    if (!user || catchingUp)
        return;
    if (!detailManager)
        detailManager = Request::CreateManager(this);
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("pager"), QStringLiteral("1")});
    QNetworkReply* sent = Request::Post(detailManager, Api::StaffOrderList(), Request::EncodeBody(fields));
    if (!sent)
        return;
    catchingUp = true;
    qCInfo(lcPolls, "catching up: asking for the full list again");
    connect(sent, &QNetworkReply::finished, this, [this, sent] {
        catchingUp = false;
        const Request::Answer answer = Request::Read(sent);
        sent->deleteLater();
        if (!answer.Succeeded())
            return; // the polls go on; the next recovery tries again
        int added = 0;
        for (const QVariant& value : answer.InfoMap().value(QStringLiteral("commos")).toList()) {
            const QVariantMap entry = value.toMap();
            bool created = false;
            COrder* order = book->Take(entry, COrderBook::New, &created);
            if (!order)
                continue;
            if (created) {
                ++added;
                LogNew(order, QStringLiteral("StaffOrderList (catch-up)"));
                if (fetchNewDetails && order->GetStatus() == StatusPaid.first)
                    FetchDetail(order->GetId());
            } else if (entry.value(QStringLiteral("status")).toInt() != order->GetStatus()) {
                book->ApplyEntry(order, entry);
            }
        }
        qCInfo(lcPolls, "caught up: %d order(s) the client did not know", added);
        Ring(added > 0, false);
        emit CaughtUp(added);
    });
}

void COrderPolls::LogNew(const COrder* order, const QString& poll)
{
    const qint64 late = order->GetCtime().isValid() ? order->GetCtime().secsTo(QDateTime::currentDateTime()) : -1;
    qCInfo(lcOrders, "new order %lld (status %d) from %s, %lld s after its ctime",
           static_cast<long long>(order->GetId()), order->GetStatus(), qUtf8Printable(poll),
           static_cast<long long>(late));
}

void COrderPolls::OnStatusChanged(COrder* order, int)
{
    if (order && order->GetStatus() != StatusPaid.first)
        confirmationAsked.remove(order->GetId());
}

// ---- sounds

// One sound per reply. The new-order sound matters most: a confirmation's sound never cuts it
// off but waits until it has been heard.
void COrderPolls::Ring(bool newOrder, bool confirmation)
{
    if (!player)
        return;
    if (newOrder) {
        PlaySound(newOrderSound);
        if (!confirmation)
            return;
    } else if (!confirmation) {
        return;
    } else if (player->state() != QMediaPlayer::PlayingState || lastSound != newOrderSound) {
        PlaySound(notifySound);
        return;
    }
    // After the new-order sound, or after a while if the player never tells that it ended.
    auto* wait = new QTimer(player);
    wait->setSingleShot(true);
    connect(wait, &QTimer::timeout, this, [this, wait] {
        PlaySound(notifySound);
        wait->deleteLater();
    });
    connect(player, &QMediaPlayer::stateChanged, wait, [wait](QMediaPlayer::State state) {
        if (state == QMediaPlayer::StoppedState && wait->isActive())
            wait->start(0);
    });
    wait->start(notifyWaitMsecs);
}

void COrderPolls::PlaySound(const QString& path)
{
    lastSound = path;
    Sound::Play(player, path);
}
