#pragma once

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
