#include "alarms.h"

#include <QJsonObject>
#include <QMap>

#include "app/settings.h"
#include "app/sound.h"
#include "main/reminder.h"
#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"
#include "session/csession.h"

namespace {

const QString newOrderSound = QStringLiteral("audio/neworder.mp3");
const QString notifySound = QStringLiteral("audio/notify.wav");

QString StampOf(const COrder* order)
{
    return order->GetErtime().isValid() ? order->GetErtime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                        : QString();
}

QString Clock(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QStringLiteral("hh:mm:ss.zzz"));
}

// One line of the platform's log.
struct Event
{
    qint64 seq = 0;
    qint64 at = 0;
    qint64 id = 0;
    QString kind;
    int status = 0;
    int previous = -1;
    QString ertime;
    bool request = false;

    bool BecamePaid() const { return status == StatusPaid.first && previous != StatusPaid.first; }
    bool LeftPaid() const { return previous == StatusPaid.first && status != StatusPaid.first; }
};

QList<Event> ReadEvents(const QJsonArray& log)
{
    QList<Event> events;
    for (const QJsonValue& value : log) {
        const QJsonObject object = value.toObject();
        Event event;
        event.seq = object.value(QStringLiteral("seq")).toVariant().toLongLong();
        event.at = object.value(QStringLiteral("at")).toVariant().toLongLong();
        event.id = object.value(QStringLiteral("id")).toVariant().toLongLong();
        event.kind = object.value(QStringLiteral("kind")).toString();
        event.status = object.value(QStringLiteral("status")).toInt();
        event.previous = object.value(QStringLiteral("previous")).toInt(-1);
        event.ertime = object.value(QStringLiteral("ertime")).toString();
        event.request = object.value(QStringLiteral("request")).toBool();
        events.append(event);
    }
    return events;
}

// The first pay/finish reply the client took as an answer that was sent after `since`.
const AlarmWitness::Accepted* FirstAnswerAfter(const AlarmWitness& witness, qint64 since)
{
    for (const AlarmWitness::Accepted& accepted : witness.payFinishAccepted)
        if (accepted.sentAt > since)
            return &accepted;
    return nullptr;
}

} // namespace

AlarmWitness::AlarmWitness(const ReplyInHand* inHand, QObject* parent) : QObject(parent), inHand(inHand) {}

Moment AlarmWitness::Now()
{
    return Moment{++ticks, QDateTime::currentMSecsSinceEpoch()};
}

void AlarmWitness::Watch(CSession* watched)
{
    session = watched;
    connect(session->Book(), &COrderBook::OrderAdded, this,
            [this](COrder* order, COrderBook::Arrival how) { OnAdded(order, how == COrderBook::Listed); });
    connect(session->Book(), &COrderBook::StatusChanged, this, &AlarmWitness::OnStatusChanged);
    connect(session->NewOrders(), &CNewOrders::Arrived, this, &AlarmWitness::OnArrived);
    connect(session->NewOrders(), &CNewOrders::Acknowledged, this, [this](qint64 id) {
        if (!acknowledged.contains(id))
            acknowledged.insert(id, Now());
    });
    connect(session->Polls(), &COrderPolls::ConfirmationAsked, this, &AlarmWitness::OnConfirmationAsked);
    connect(session->Polls(), &COrderPolls::PollSucceeded, this, &AlarmWitness::OnPollSucceeded);
    connect(session->Reminder(), &CNewOrderReminder::Reminded, this, &AlarmWitness::OnReminded);
    connect(Sound::monitor(), &Sound::Monitor::Played, this, [this](const QString& path) {
        newOrderSounds += path == newOrderSound;
        notifySounds += path == notifySound;
    });
}

void AlarmWitness::Opened(qint64 id)
{
    if (!opened.contains(id))
        opened.insert(id, Now());
}

void AlarmWitness::OnAdded(COrder* order, bool listedAtLogin)
{
    const qint64 id = order->GetId();
    const Moment now = Now();
    if (listedAtLogin) {
        if (listed.isEmpty())
            loginList = now;
        listed.insert(id, order->GetStatus());
    }
    stamp.insert(id, StampOf(order));
    if (order->GetStatus() != StatusPaid.first)
        return;
    knownPaid.insert(id, now);
    if (!listedAtLogin && inHand->serial && inHand->endpoint == QLatin1String("UpdateStaffOrderList"))
        newOrderPaidStamp.insert(id, StampOf(order));
}

void AlarmWitness::OnStatusChanged(COrder* order, int previous)
{
    const qint64 id = order->GetId();
    const Moment now = Now();
    stamp.insert(id, StampOf(order));
    if (order->GetStatus() == StatusPaid.first && !knownPaid.contains(id))
        knownPaid.insert(id, now);
    if (previous == StatusPaid.first && order->GetStatus() != StatusPaid.first && !leftPaid.contains(id))
        leftPaid.insert(id, now);
}

void AlarmWitness::OnArrived(qint64 id)
{
    arrivals[id].append(Now());
    if (!inHand->serial) {
        ++silentArrivals;
        return;
    }
    arrivalReplies.insert(inHand->serial);
    if (!firstRoad.contains(id))
        firstRoad.insert(id, inHand->endpoint);
}

void AlarmWitness::OnConfirmationAsked(const QList<COrder*>& orders)
{
    if (inHand->serial)
        confirmationReplies.insert(inHand->serial);
    for (COrder* order : orders) {
        Confirmation confirmation;
        confirmation.when = Now();
        confirmation.id = order->GetId();
        confirmation.stamp = StampOf(order);
        confirmation.knownBefore = stamp.value(order->GetId());
        QStringList told;
        for (const ReplyInHand::Entry& entry : inHand->entries)
            if (entry.id == order->GetId())
                told << QStringLiteral("status %1 stamp %2").arg(entry.status).arg(entry.ertime);
        confirmation.reply = inHand->serial ? QStringLiteral("%1 reply #%2 sent at %3 (%4)")
                                                  .arg(inHand->endpoint)
                                                  .arg(inHand->serial)
                                                  .arg(Clock(inHand->sentAt))
                                                  .arg(told.isEmpty() ? QStringLiteral("nothing of it")
                                                                      : told.join(QStringLiteral(", ")))
                                            : QStringLiteral("no reply");
        stamp.insert(order->GetId(), confirmation.stamp);
        confirmations.append(confirmation);
    }
}

void AlarmWitness::OnReminded(const QList<qint64>& ids)
{
    Reminder reminder;
    reminder.when = Now();
    reminder.ids = ids;
    for (qint64 id : ids) {
        const COrder* order = session->Book()->Find(id);
        if (!order || order->GetStatus() != StatusPaid.first)
            reminder.notPaidInBook.insert(id);
    }
    reminders.append(reminder);
}

void AlarmWitness::OnPollSucceeded(const QString& endpoint)
{
    if (endpoint != QLatin1String("PayFinishOrder") || !inHand->serial || inHand->endpoint != endpoint)
        return;
    payFinishAccepted.append(Accepted{inHand->sentAt, Now()});
    for (const ReplyInHand::Entry& entry : inHand->entries) {
        const auto listedNew = newOrderPaidStamp.constFind(entry.id);
        if (entry.status == StatusPaid.first && listedNew != newOrderPaidStamp.constEnd() &&
            *listedNew == entry.ertime)
            raced.insert(entry.id);
    }
}

AlarmVerdict JudgeAlarms(const AlarmWitness& witness, const QJsonArray& log, const AlarmRules& rules)
{
    AlarmVerdict verdict;
    verdict.ok = !log.isEmpty();
    QHash<qint64, QList<Event>> history;  // every event of each order
    QHash<qint64, QList<Event>> payments; // became paid while the client watched
    QHash<qint64, QList<Event>> requests;
    QHash<qint64, QList<Event>> leaves;
    QSet<qint64> paidLater;
    for (const Event& event : ReadEvents(log)) {
        history[event.id].append(event);
        const bool paidAtLogin = witness.listed.value(event.id, -1) == StatusPaid.first;
        if (event.BecamePaid() && !paidAtLogin) {
            payments[event.id].append(event);
            if (event.previous == StatusUnpaid.first)
                paidLater.insert(event.id);
        }
        if (event.request) {
            requests[event.id].append(event);
            verdict.buyerRequests += event.at > witness.loginList.at;
        }
        if (event.LeftPaid())
            leaves[event.id].append(event);
    }
    // What the platform did with an order, for the lines that name one.
    const auto platformSide = [&](qint64 id) -> QString {
        QStringList steps;
        for (const Event& event : history.value(id))
            steps << QStringLiteral("%1 %2->%3 at %4 (stamp %5)")
                         .arg(event.kind)
                         .arg(event.previous)
                         .arg(event.status)
                         .arg(Clock(event.at))
                         .arg(event.ertime);
        return QStringLiteral("; platform: ") +
               (steps.isEmpty() ? QStringLiteral("nothing") : steps.join(QStringLiteral(", ")));
    };
    verdict.paidLater = paidLater.size();
    for (qint64 id : paidLater)
        verdict.raced += witness.raced.contains(id);
    verdict.opened = witness.opened.size();

    // New orders: each payment is announced once, after it was made.
    AlarmRow& news = verdict.newOrders;
    QSet<qint64> ids;
    for (auto it = payments.cbegin(); it != payments.cend(); ++it)
        ids.insert(it.key());
    for (auto it = witness.arrivals.cbegin(); it != witness.arrivals.cend(); ++it)
        ids.insert(it.key());
    QMap<QString, int> roads;
    for (qint64 id : qAsConst(ids)) {
        const QList<Event> paid = payments.value(id);
        const QList<Moment> rung = witness.arrivals.value(id);
        news.rung += rung.size();
        int matched = 0;
        for (const Moment& arrival : rung) {
            if (matched < paid.size() && paid.at(matched).at <= arrival.at) {
                ++matched;
                continue;
            }
            ++news.falseAlarms;
            const QString why =
                witness.listed.value(id, -1) == StatusPaid.first
                    ? QStringLiteral("it was listed paid at login")
                : paid.isEmpty() ? QStringLiteral("it was never paid during the run")
                : matched < paid.size()
                    ? QStringLiteral("its payment came only at %1").arg(Clock(paid.at(matched).at))
                    : QStringLiteral("it had been announced already");
            news.details
                << QStringLiteral("false new order %1 at %2: %3").arg(id).arg(Clock(arrival.at)).arg(why) +
                       platformSide(id);
        }
        for (int i = 0; i < paid.size(); ++i) {
            if (paid.at(i).at > rules.cut)
                continue;
            ++news.expected;
            if (i >= matched) {
                ++news.missed;
                news.details << QStringLiteral("missed new order %1: paid at %2 (%3), never announced")
                                        .arg(id)
                                        .arg(Clock(paid.at(i).at))
                                        .arg(paid.at(i).kind) +
                                    platformSide(id);
            }
        }
        if (!rung.isEmpty())
            ++roads[witness.firstRoad.value(id, QStringLiteral("no reply"))];
    }
    for (auto it = roads.cbegin(); it != roads.cend(); ++it)
        verdict.roads << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());

    // Confirmations: each hand-over answers one request of its own, made after what the client
    // knew of the order.
    AlarmRow& asks = verdict.confirmations;
    QSet<qint64> used;
    for (const AlarmWitness::Confirmation& confirmation : witness.confirmations) {
        ++asks.rung;
        const Event* answered = nullptr;
        const QList<Event>& asked = requests[confirmation.id];
        for (int i = asked.size() - 1; i >= 0 && !answered; --i) {
            const Event& request = asked.at(i);
            if (used.contains(request.seq) || request.at > confirmation.when.at)
                continue;
            if (confirmation.stamp.isEmpty() ||
                (request.ertime == confirmation.stamp &&
                 (confirmation.knownBefore.isEmpty() || confirmation.knownBefore < confirmation.stamp)))
                answered = &request;
        }
        if (answered) {
            used.insert(answered->seq);
            continue;
        }
        ++asks.falseAlarms;
        asks.details << QStringLiteral("false confirmation of order %1 at %2 while reading %6: stamp %3, the "
                                       "client knew %4; the buyer's requests: %5")
                            .arg(confirmation.id)
                            .arg(Clock(confirmation.when.at))
                            .arg(confirmation.stamp.isEmpty() ? QStringLiteral("none") : confirmation.stamp)
                            .arg(confirmation.knownBefore.isEmpty() ? QStringLiteral("none") : confirmation.knownBefore)
                            .arg(asked.isEmpty() ? QStringLiteral("none") : [&] {
                                QStringList stamps;
                                for (const Event& request : asked)
                                    stamps << request.ertime;
                                return stamps.join(QStringLiteral(", "));
                            }())
                            .arg(confirmation.reply) +
                        platformSide(confirmation.id);
    }
    for (auto it = requests.cbegin(); it != requests.cend(); ++it) {
        const qint64 id = it.key();
        for (const Event& request : it.value()) {
            // Due only when the client held the order as paid before the buyer asked, and a
            // pay/finish answer sent after the request reached it while the order was still paid.
            const auto paidKnown = witness.knownPaid.constFind(id);
            if (paidKnown == witness.knownPaid.constEnd() || paidKnown->at >= request.at)
                continue;
            const AlarmWitness::Accepted* answer = FirstAnswerAfter(witness, request.at);
            if (!answer || answer->received.at > rules.judgedAt)
                continue;
            bool left = false;
            for (const Event& leave : leaves.value(id))
                left = left || (leave.at > request.at && leave.at <= answer->received.at);
            if (left)
                continue;
            ++asks.expected;
            bool handed = false;
            for (const AlarmWitness::Confirmation& confirmation : witness.confirmations)
                handed = handed || (confirmation.id == id && confirmation.when.at > request.at &&
                                    (confirmation.stamp.isEmpty() || !(confirmation.stamp < request.ertime)));
            if (handed)
                continue;
            ++asks.missed;
            asks.details << QStringLiteral(
                                "missed confirmation of order %1: the buyer asked at %2 (stamp %3), "
                                "a pay/finish answer sent at %4 reached the client at %5")
                                    .arg(id)
                                    .arg(Clock(request.at))
                                    .arg(request.ertime)
                                    .arg(Clock(answer->sentAt))
                                    .arg(Clock(answer->received.at)) +
                                platformSide(id);
        }
    }

    // Reminders: only for a new paid order nobody opened, and every interval while it waits.
    AlarmRow& reminders = verdict.reminders;
    for (const AlarmWitness::Reminder& reminder : witness.reminders) {
        for (qint64 id : reminder.ids) {
            ++reminders.rung;
            QString why;
            const auto opened = witness.opened.constFind(id);
            const auto acknowledged = witness.acknowledged.constFind(id);
            if (opened != witness.opened.constEnd() && opened->tick < reminder.when.tick)
                why = QStringLiteral("the staff member opened it at %1").arg(Clock(opened->at));
            else if (acknowledged != witness.acknowledged.constEnd() &&
                     acknowledged->tick < reminder.when.tick)
                why = QStringLiteral("the client took it as dealt with at %1").arg(Clock(acknowledged->at));
            else if (reminder.notPaidInBook.contains(id))
                why = QStringLiteral("the client holds it as not paid");
            else if (payments.value(id).isEmpty())
                why = QStringLiteral("it was never a new order");
            for (const Event& leave : leaves.value(id)) {
                const AlarmWitness::Accepted* answer = FirstAnswerAfter(witness, leave.at);
                if (why.isEmpty() && answer && answer->received.tick < reminder.when.tick)
                    why = QStringLiteral("it left paid at %1 and a pay/finish answer told the client at %2")
                              .arg(Clock(leave.at))
                              .arg(Clock(answer->received.at));
            }
            if (why.isEmpty())
                continue;
            ++reminders.falseAlarms;
            reminders.details << QStringLiteral("false reminder of order %1 at %2: %3")
                                         .arg(id)
                                         .arg(Clock(reminder.when.at))
                                         .arg(why) +
                                     platformSide(id);
        }
    }
    const int interval = qMax(1, rules.reminderMsecs);
    for (auto it = witness.arrivals.cbegin(); it != witness.arrivals.cend(); ++it) {
        const qint64 id = it.key();
        if (it.value().isEmpty() || payments.value(id).isEmpty())
            continue; // a false arrival is counted above
        const Moment arrived = it.value().first();
        qint64 end = rules.judgedAt;
        for (const QHash<qint64, Moment>* ended :
             {&witness.opened, &witness.acknowledged, &witness.leftPaid}) {
            const auto found = ended->constFind(id);
            if (found != ended->constEnd() && found->tick > arrived.tick)
                end = qMin(end, found->at);
        }
        if (end <= arrived.at)
            continue;
        reminders.expected += int((end - arrived.at) / interval);
        qint64 previous = arrived.at;
        const auto late = [&](qint64 from, qint64 to) {
            const qint64 overdue = to - from - rules.toleranceMsecs;
            if (overdue < interval)
                return;
            const int count = int(overdue / interval);
            reminders.missed += count;
            reminders.details << QStringLiteral("missed reminder of order %1: no reminder from %2 to %3")
                                         .arg(id)
                                         .arg(Clock(from))
                                         .arg(Clock(to)) +
                                     platformSide(id);
        };
        for (const AlarmWitness::Reminder& reminder : witness.reminders) {
            if (reminder.when.tick < arrived.tick || reminder.when.at > end || !reminder.ids.contains(id))
                continue;
            late(previous, reminder.when.at);
            verdict.reminderLateness = qMax(verdict.reminderLateness, reminder.when.at - previous - interval);
            previous = reminder.when.at;
        }
        late(previous, end);
    }
    return verdict;
}
