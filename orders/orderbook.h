#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QVariantMap>

class COrder;
struct OrderEntry;

// The one owner of the session's orders. The full list, the new-order poll, the pay/finish poll,
// fetched details and windows that open an order the lists never brought all go through it; it is
// the only code that changes an order's status. Views (the order pane's rows, detail windows, the
// confirmation table, search) hold non-owning pointers and follow its signals. An order, once
// known, stays for the whole session: nothing the platform says makes the client forget it.
//
// The newest fact wins, not the last one to arrive. Replies travel for seconds on a slow line, so
// a reply sent before a change can arrive after it. Every status therefore comes with its time:
// - a list or pay/finish entry, or a detail that has one, carries the order's "ertime"; the book
//   keeps the newest one it applied (the order's ertime) and ignores a status stamped earlier;
// - a detail without a stamp applies its status only when no other status reached the book
//   between the request and the reply (the revision the caller took when it sent it);
// - the client's own action (finish, reply, confirmation) applies its result only while the order
//   still has the status it started from. Once applied it is newer than every stamp the book
//   knew, and newer than every stamp up to the platform's clock when it answered the action (the
//   reply's Date): a report of an earlier state stamped before then no longer undoes it.
// Ignored statuses are logged (tarvik.orders, debug), each with what the book held instead.
class COrderBook : public QObject
{
    Q_OBJECT
public:
    // How an order became known.
    enum Arrival
    {
        Listed,  // in the full list at login
        New,     // reported by the new-order poll during the session
        Fetched, // named by the pay/finish poll without being known, then fetched in full
        Adopted  // opened from another window (search, income) before any list brought it
    };
    Q_ENUM(Arrival)

    explicit COrderBook(QObject* parent = nullptr);
    ~COrderBook() override;

    COrder* Find(qint64 id) const { return byId.value(id); }
    const QList<COrder*>& Orders() const { return orders; }
    int Count() const { return orders.size(); }
    // The orders whose number contains `text`, in arrival order.
    QList<COrder*> SearchOrders(const QString& text) const;

    // The shop every order of the session belongs to; the full list names it, the other replies
    // do not, and each order the book creates gets it.
    void SetShop(qint64 id, const QString& name, int catId);

    // The order an entry of the full list or a poll names: the known one, untouched, or a new one
    // made from the entry. `created` tells which. An entry without a valid id makes nothing.
    COrder* Take(const OrderEntry& entry, Arrival how, bool* created = nullptr);
    // Tells of orders taken while the book's signals were blocked (a whole reply at once).
    void Announce(const QList<COrder*>& taken, Arrival how);
    // What became of a status the platform or an action reported.
    enum Outcome
    {
        Same,    // the order already had it, and the report is no newer than what the book knew
        Renewed, // the order already had it, and the report is stamped later than anything the book
                 // knew of it (and than its payment): the same status as a fresh fact, such as a
                 // buyer asking the shop to confirm a paid order
        Changed, // the order took it
        Stale    // older than what the book knows: ignored
    };

    // Counts the statuses an order has taken; a request about it keeps the count it was sent at.
    quint64 RevisionOf(qint64 id) const { return facts.value(id).revision; }

    // An entry of the full list or of the pay/finish poll about a known order: its times, then its
    // status when the entry is not older than what the book knows. `source` names the reply in the
    // log.
    Outcome ApplyEntry(COrder* order, const OrderEntry& entry, const char* source);
    // The full detail (StaffOrder2's "info") written into a known order; `asked` is the order's
    // revision when the request went out. False when the detail names another order.
    bool ApplyDetail(COrder* order, const QVariantMap& info, quint64 asked);
    // An order known only from its detail (fetched because a poll named it): created and filled.
    COrder* TakeDetail(const QVariantMap& info, Arrival how, quint64 asked);
    // An order another window holds its own record of: the book's record, made from that copy when
    // the book does not know it yet.
    COrder* Adopt(const COrder& copy);

    // The platform accepted the client's own action on the order, which moves it from `from` to
    // `to`, and answered at `answeredAt` by its own clock (invalid when its reply did not say).
    // Applied only while the order still has `from`.
    Outcome ApplyAction(COrder* order, int from, int to, const char* action,
                        const QDateTime& answeredAt = QDateTime());

signals:
    void OrderAdded(COrder* order, COrderBook::Arrival how);
    void StatusChanged(COrder* order, int previous);

private:
    // Beyond the order's ertime: how often its status changed, whether its status came from an
    // own action after the stamp it holds, and the platform's clock when it accepted that action.
    struct Fact
    {
        quint64 revision = 0;
        bool ownNewer = false;
        QDateTime actedAt;
    };

    COrder* Create(qint64 id);
    bool IsStale(const COrder* order, int status, const QDateTime& stamp) const;
    Outcome Apply(COrder* order, int status, const QDateTime& stamp, const char* source);
    void SetStatus(COrder* order, int status);
    void LogStale(const COrder* order, const char* source, int status, const QDateTime& stamp) const;

    QList<COrder*> orders;
    QHash<qint64, COrder*> byId;
    QHash<qint64, Fact> facts;
    qint64 shopId = 0;
    QString shopName;
    int shopCatId = 0;
};
