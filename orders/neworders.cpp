#include "orders/neworders.h"

#include <algorithm>

#include "app/log.h"
#include "orders/corder.h"

CNewOrders::CNewOrders(COrderBook* book, QObject* parent) : QObject(parent)
{
    if (!book)
        return;
    connect(book, &COrderBook::OrderAdded, this, &CNewOrders::OnOrderAdded);
    connect(book, &COrderBook::StatusChanged, this, &CNewOrders::OnStatusChanged);
}

QList<qint64> CNewOrders::Waiting() const
{
    QList<qint64> ids = waiting.values();
    std::sort(ids.begin(), ids.end());
    return ids;
}

void CNewOrders::OnOrderAdded(COrder* order, COrderBook::Arrival how)
{
    if (how == COrderBook::Listed || how == COrderBook::Adopted)
        return;
    if (order->GetStatus() == StatusPaid.first)
        Arrive(order->GetId());
}

void CNewOrders::OnStatusChanged(COrder* order, int previous)
{
    const bool paid = order->GetStatus() == StatusPaid.first;
    if (paid && previous != StatusPaid.first)
        Arrive(order->GetId());
    else if (!paid)
        Acknowledge(order->GetId());
}

void CNewOrders::Arrive(qint64 id)
{
    if (waiting.contains(id))
        return;
    waiting.insert(id);
    ++arrivals;
    emit Arrived(id);
}

void CNewOrders::Acknowledge(qint64 id)
{
    if (!waiting.remove(id))
        return;
    qCDebug(lcOrders, "order %lld acknowledged", static_cast<long long>(id));
    emit Acknowledged(id);
}
