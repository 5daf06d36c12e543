#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QVariantMap>

class COrder;

// The one owner of the session's orders. The full list, the new-order poll, the pay/finish poll,
// fetched details and windows that open an order the lists never brought all go through it; it is
// the only code that changes an order's status. Views (the order pane's rows, detail windows, the
// confirmation table, search) hold non-owning pointers and follow its signals. An order, once
// known, stays for the whole session: nothing the platform says makes the client forget it.
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
    QList<COrder*> Search(const QString& text) const;

    // The shop every order of the session belongs to; the full list names it, the other replies
    // do not, and each order the book creates gets it.
    void SetShop(qint64 id, const QString& name, int catId);

    // The order an entry of the full list or a poll names: the known one, untouched, or a new one
    // made from the entry. `created` tells which. An entry without a valid id makes nothing.
    COrder* Take(const QVariantMap& entry, Arrival how, bool* created = nullptr);
    // Tells of orders taken while the book's signals were blocked (a whole reply at once).
    void Announce(const QList<COrder*>& taken, Arrival how);
    // A pay/finish entry about a known order: its times, then its status.
    void ApplyEntry(COrder* order, const QVariantMap& entry);
    // The full detail (StaffOrder2's "info") written into a known order. False when the detail
    // names another order.
    bool ApplyDetail(COrder* order, const QVariantMap& info);
    // An order known only from its detail (fetched because a poll named it): created and filled.
    COrder* TakeDetail(const QVariantMap& info, Arrival how);
    // An order another window holds its own record of: the book's record, made from that copy when
    // the book does not know it yet.
    COrder* Adopt(const COrder& copy);

    // The only way an order's status changes.
    void SetStatus(COrder* order, int status);

signals:
    void OrderAdded(COrder* order, COrderBook::Arrival how);
    void StatusChanged(COrder* order, int previous);

private:
    COrder* Create(qint64 id);

    QList<COrder*> orders;
    QHash<qint64, COrder*> byId;
    qint64 shopId = 0;
    QString shopName;
    int shopCatId = 0;
};
