#pragma once

#include <QList>
#include <QObject>
#include <QSet>

#include "orders/orderbook.h"

class COrder;

// The new paid orders nobody has dealt with yet: the one owner of what blinks in the order pane,
// what the reminder rings for and what the new-order sound announces.
//
// An order arrives when the platform tells of a paid order the client did not know during the
// session (the new-order poll, a fetched order, a reading of the full list that finds one), or when
// an order it knew becomes paid. The orders of the full list at login, and orders a window opened
// before any list brought them, arrive as known. An arrived order waits until it is acknowledged:
// its detail window is opened, by whatever road (its row, search, the confirmation table, the
// income list), or it leaves "paid" (finished, confirmed, refunded, here or elsewhere).
class CNewOrders : public QObject
{
    Q_OBJECT
public:
    explicit CNewOrders(COrderBook* book, QObject* parent = nullptr);

    // Waiting orders, by number.
    QList<qint64> Waiting() const;
    bool IsWaiting(qint64 id) const { return waiting.contains(id); }
    // How many orders have arrived in the session: a reply that raised it announces them.
    quint64 Arrivals() const { return arrivals; }

public slots:
    // The staff member opened the order.
    void Acknowledge(qint64 id);

signals:
    void Arrived(qint64 id);
    void Acknowledged(qint64 id);

private:
    void OnOrderAdded(COrder* order, COrderBook::Arrival how);
    void OnStatusChanged(COrder* order, int previous);
    void Arrive(qint64 id);

    QSet<qint64> waiting;
    quint64 arrivals = 0;
};
