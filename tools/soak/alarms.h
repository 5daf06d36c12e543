#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class COrder;
class CSession;

// The alarms' side of the soak: what the client rang, recorded as it happens, and the verdict on
// it against the platform's event log ("GET /admin/events"). main.cpp's header comment defines
// expected, rung, false and missed for each kind.

// When something happened in the client: its place in the GUI thread's order of events (two
// moments of the client are never equal) and the wall clock in ms since the epoch, the clock the
// platform stamps its events with (both run on this machine).
struct Moment
{
    quint64 tick = 0;
    qint64 at = 0;
};

// The reply the client is handling right now, as the soak's network manager saw it finish: its
// endpoint, when it was sent, and for the pay/finish poll the entries it carried.
struct ReplyInHand
{
    quint64 serial = 0; // 0: none
    QString endpoint;
    qint64 sentAt = 0; // ms since the epoch
    struct Entry
    {
        qint64 id = 0;
        int status = 0;
        QString ertime;
    };
    QList<Entry> entries;
};

class AlarmWitness : public QObject
{
public:
    // `inHand` is updated by the soak's network manager before the client reads each reply.
    explicit AlarmWitness(const ReplyInHand* inHand, QObject* parent = nullptr);

    // Follows the session from before its first full list arrives.
    void Watch(CSession* session);
    // The soak's staff member opens the order's detail window (which acknowledges it).
    void Opened(qint64 id);

    struct Confirmation
    {
        Moment when;
        qint64 id = 0;
        QString stamp;       // the order's update stamp in the book when it was handed over
        QString knownBefore; // the stamp the client held before ("" when none)
        QString reply;       // the reply that brought it, and what it said of the order
    };
    struct Reminder
    {
        Moment when;
        QList<qint64> ids;
        QSet<qint64> notPaidInBook; // named orders the book itself held as not paid
    };
    struct Accepted
    {
        qint64 sentAt = 0;
        Moment received;
    };

    const ReplyInHand* inHand;
    quint64 ticks = 0;
    Moment loginList;                // the login's full list reached the book
    QHash<qint64, int> listed;       // the login's full list: status of each order
    QHash<qint64, Moment> knownPaid; // the book first held the order as paid
    QHash<qint64, QString> stamp;    // the stamp the book held, as last seen
    QHash<qint64, QList<Moment>> arrivals;
    QHash<qint64, QString> firstRoad;         // the endpoint whose reply brought the first arrival
    QHash<qint64, QString> newOrderPaidStamp; // listed paid by the new-order poll, with this stamp
    QSet<qint64> raced;                       // ... and then reported unchanged by the pay/finish poll
    QList<Confirmation> confirmations;
    QList<Reminder> reminders;
    QHash<qint64, Moment> opened;       // the staff member's first opening
    QHash<qint64, Moment> acknowledged; // the session's first acknowledgement
    QHash<qint64, Moment> leftPaid;     // the book first moved it away from paid
    QList<Accepted> payFinishAccepted;  // pay/finish replies the client took as answers
    QSet<quint64> arrivalReplies;       // replies that brought new orders
    QSet<quint64> confirmationReplies;  // replies that asked for confirmations
    int silentArrivals = 0;             // arrivals outside any reply
    int newOrderSounds = 0;
    int notifySounds = 0;

private:
    Moment Now();
    void OnAdded(COrder* order, bool listedAtLogin);
    void OnStatusChanged(COrder* order, int previous);
    void OnArrived(qint64 id);
    void OnConfirmationAsked(const QList<COrder*>& orders);
    void OnReminded(const QList<qint64>& ids);
    void OnPollSucceeded(const QString& endpoint);

    CSession* session = nullptr;
};

struct AlarmRow
{
    int expected = 0;
    int rung = 0;
    int falseAlarms = 0;
    int missed = 0;
    QStringList details; // one line for each false or missed alarm
};

struct AlarmVerdict
{
    bool ok = false; // the platform's log could be read
    AlarmRow newOrders;
    AlarmRow confirmations;
    AlarmRow reminders;
    int paidLater = 0;           // orders paid after they were placed, during the run
    int raced = 0;               // of those, listed paid by the new-order poll, then reported again
    int buyerRequests = 0;       // requests for confirmation after the login's full list
    int opened = 0;              // orders the staff member opened
    qint64 reminderLateness = 0; // the longest wait for a reminder beyond its interval, in ms
    QStringList roads;           // where the arrivals came from
};

struct AlarmRules
{
    qint64 cut = 0;         // orders paid after this (ms since the epoch) are not judged missed
    qint64 judgedAt = 0;    // the end of the run: waits shorter than this are judged
    int reminderMsecs = 0;  // the reminder's interval
    int toleranceMsecs = 0; // lateness allowed to a reminder
};

AlarmVerdict JudgeAlarms(const AlarmWitness& witness, const QJsonArray& events, const AlarmRules& rules);
