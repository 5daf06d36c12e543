#pragma once

#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/orderentry.h"

// An entry of the full list or of a poll about order `id`, with its status and update stamp.
inline OrderEntry Entry(qint64 id, int status, const QDateTime& ertime = QDateTime())
{
    OrderEntry entry;
    entry.id = id;
    entry.status = status;
    entry.ertime = ertime;
    return entry;
}

// An order of the book, as the windows that show one get it in a session. The test fills the
// rest of the record through its setters before it opens a window on it.
inline COrder& NewOrder(COrderBook& book, qint64 id)
{
    COrder seed;
    seed.SetId(id);
    return *book.Adopt(seed);
}

// The platform reports `status` for the order, stamped `later` seconds after what the book knows.
inline COrderBook::Outcome Report(COrderBook& book, COrder* order, int status, int later = 1)
{
    const QDateTime known = order->GetErtime().isValid() ? order->GetErtime() : QDateTime::currentDateTime();
    OrderEntry entry = Entry(order->GetId(), status, known.addSecs(later));
    entry.stime = order->GetStime();
    entry.ptime = order->GetPtime();
    return book.ApplyEntry(order, entry, "test");
}
