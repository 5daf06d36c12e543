#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>

#include "net/job.h"
#include "orders/orderentry.h"
#include "orders/pollclock.h"

class CNewOrders;
class CNewOrdersJob;
class COrder;
class COrderBook;
class COrderDetailJob;
class COrderListJob;
class CPayFinishJob;
struct OrderDetail;
namespace Sound {
class Service;
}
class QTimer;

// Keeps the order book in step with the platform: the full list once, then two polls for as long
// as it lives, each re-armed after every reply whatever the reply said: new orders every 20 seconds
// and paid/finished orders every 3 seconds. A failed full list is asked for again after 5 seconds.
//
// The cursors. The new-order poll asks for orders created after `NewOrderTime()`, the pay/finish
// poll for orders changed after `PayFinishTime()`. Both are the platform's times, never the PC's:
// the new-order cursor starts at the platform's clock when it answered the full list (its Date
// header), the pay/finish cursor at the latest change the list shows. They move forward with the
// stamps the polls report, but never past the platform's clock at its latest reply, so one entry
// stamped in the future cannot make every later order invisible.
//
// The pay/finish poll asks from one second before its cursor and counts each (order, status,
// stamp) once. An entry about an order the book does not know (an order beyond the first page of
// the full list, or one paid before the new-order poll listed it) is fetched in full and added;
// the client learns the order from that report, so the report asks for nothing. A paid order
// reported paid again, stamped later than anything the client learnt of it by any road (and later
// than its payment), asks for confirmation; the same stamp again is only the platform telling
// what the client already knows.
//
// Each reply rings once: the new-order sound when new paid orders arrived with it (CNewOrders
// counts them), the confirmation sound when buyers asked for confirmation.
//
// Every 10 minutes, and after a lost connection, the full list is read again and compared with the
// book (`CatchUp`): what the client missed or holds wrongly is put right, each correction logged.
//
// Each reply of the full list and of the polls is reported (PollSucceeded, PollFailed); a failed
// full list is asked for again after 5 s, or, while the platform refuses it, after 5 s doubling up
// to 5 minutes.
class COrderPolls : public QObject
{
    Q_OBJECT
public:
    // Every request goes through the session's `line`; a line without an account asks for nothing.
    COrderPolls(COrderBook* book, const ApiLine& line, QObject* parent = nullptr);
    ~COrderPolls() override;

    // Reads the full list; the polls follow it.
    void Start();
    // Where the new-order and confirmation sounds are asked for; none: silent.
    void SetSounds(Sound::Service* service) { sounds = service; }
    // The length of the polls' second (a session's options give it).
    void SetClock(const PollClock& given) { clock = given; }
    // Who counts the new paid orders; none: no new-order sound.
    void SetNewOrders(CNewOrders* counter) { newOrders = counter; }
    COrderBook* Book() const { return book; }
    QDateTime NewOrderTime() const { return newOrderTime; }
    QDateTime PayFinishTime() const { return payFinishTime; }
    bool FullListLoaded() const { return loaded; }
    int DetailsInFlight() const { return fetching.size(); }
    // Also fetch the full detail of every new paid order (auto-print needs it).
    void SetFetchNewDetails(bool on) { fetchNewDetails = on; }
    // Seconds between two new-order polls (20). The soak asks more often, so that the new-order
    // poll often falls between a payment and the pay/finish poll that reports it.
    void SetNewOrderSeconds(int seconds) { newOrderSeconds = qMax(1, seconds); }
    int NewOrderSeconds() const { return newOrderSeconds; }

public slots:
    bool HttpAllOrder();
    void HttpNewOrder();
    void HttpPayFinishOrder();
    void RestartHttpAllOrder(int second);
    void RestartHttpNewOrder(int second);
    void RestartHttpPayFinishOrder(int second);
    void replyAllOrder(const OrderListPage& page);
    void ReplyNewOrder(const OrderEntries& reply);
    void ReplyPayFinishOrder(const OrderEntries& reply);
    // After a lost connection: the full list again, compared with what the book holds; every
    // order it did not know arrives as a new one, every newer status is applied.
    void CatchUp();

signals:
    // The full list has arrived and the polls run.
    void Loaded();
    // Paid orders the platform reports again unchanged: their buyers ask the shop to confirm.
    void ConfirmationAsked(const QList<COrder*>& orders);
    // Each reply of a poll or of the full list. `refusal` is the platform's own text when it
    // answered and said no; empty when the line or the reply failed.
    void PollSucceeded(const QString& endpoint);
    void PollFailed(const QString& endpoint, const QString& refusal);
    // The full list asked for again has been compared with the book; `added` orders were new.
    void CaughtUp(int added);
    // The full detail of an order was fetched and written into it.
    void DetailFetched(COrder* order);

private:
    void Schedule(QTimer*& which, int second, const std::function<void()>& run);
    // The platform's clock at a reply; the last one known when the reply has no Date header.
    void NotePlatformTime(const QDateTime& time);
    void Advance(QDateTime& cursor, const QDateTime& seen) const;
    void FetchDetail(qint64 id);
    void StartFetches();
    void ReplyDetail(COrderDetailJob* job, const OrderDetail& detail, quint64 asked);
    void DetailFailed(COrderDetailJob* job, const JobFailure& failure);
    void ScheduleHeal();
    void ReadListAgain(bool catchUp);
    void CompareWithList(const OrderListPage& page, bool catchUp);
    void ListFailed(const JobFailure& failure);
    static QString SeenKey(qint64 id, int status, const QDateTime& stamp);
    void ForgetSeenBefore(const QDateTime& asked);
    quint64 Arrivals() const;
    // One sound for what a reply brought: new orders if any arrived since `arrivalsBefore`.
    void Ring(quint64 arrivalsBefore, bool confirmation);
    // A failed reply of a poll: logged and reported; the platform's words when it refused.
    void ReportFailure(const QString& endpoint, const JobFailure& failure);
    void LogNew(const COrder* order, const QString& poll);

    COrderBook* book;
    ApiLine line;
    PollClock clock;
    COrderListJob* listJob;
    CNewOrdersJob* newOrderJob;
    CPayFinishJob* payFinishJob;
    COrderListJob* rereadJob; // the full list read again
    bool started = false;
    QTimer* timer = nullptr;
    QTimer* payFinishTimer = nullptr;
    QTimer* healTimer = nullptr;
    Sound::Service* sounds = nullptr;
    CNewOrders* newOrders = nullptr;
    QDateTime newOrderTime;
    QDateTime payFinishTime;
    QDateTime platformTime; // the platform's clock at its latest reply
    bool loaded = false;
    bool fetchNewDetails = false;
    int newOrderSeconds = 20;
    bool rereadAgain = false;   // a catch-up waits for the read again in flight to end
    bool rereadCatchUp = false; // the read again in flight is a catch-up
    int refusedLists = 0;       // full lists refused in a row

    // Orders the pay/finish poll named without the book knowing them: fetched one by one, and
    // asked for again after a failure until the platform answers.
    QHash<COrderDetailJob*, qint64> fetching;
    QSet<qint64> toFetch;
    // Orders turned away while the waiting list was full: counted, and logged once rather than each
    // (a hostile reply may name hundreds of thousands).
    int turnedAway = 0;
    // The pay/finish entries seen in the second before the cursor and later, with their stamps.
    QHash<QString, QDateTime> seen;
};
