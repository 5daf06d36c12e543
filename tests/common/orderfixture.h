#pragma once

#include <QVariantMap>

#include "orders/corder.h"
#include "orders/orderbook.h"

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
    return book.ApplyEntry(order,
                           QVariantMap{{"id", order->GetId()},
                                       {"status", status},
                                       {"ertime", known.addSecs(later)},
                                       {"stime", order->GetStime()},
                                       {"ptime", order->GetPtime()}},
                           "test");
}
