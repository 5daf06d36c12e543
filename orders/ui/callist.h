#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include "orders/orderbook.h"

class COrder;
class COrderItem;
class COrderList;
class COrderPolls;
class CNewOrders;
class CSession;

// The order pane: one group per order status with a row for each order of the session that has a
// group. It shows what the session's order book holds: an order that arrives during the session
// goes to the top of its group, and blinks while the session counts it as a new order nobody has
// dealt with (CNewOrders); an order whose status changes moves to the top of its new group, or
// loses its row while its status has none and gets it back when it reaches one. It opens no window:
// it asks for an order's detail (asking acknowledges a new order) and for the confirmation table,
// with the orders whose confirmation the platform asks for.
class CAllList : public QWidget
{
    Q_OBJECT
public:
    CAllList(CSession* session, QWidget* parent);
    ~CAllList() override;

    static constexpr int paneWidth = 288;

    CSession* Session() const { return session; }
    COrderBook* Book() const { return book; }
    COrderList* FindList(int status) const;
    // The order's row (made now if it has none yet); null for an order without a group.
    COrderItem* FindOrderItem(qint64 id) const;
    const QList<COrderList*>& Lists() const { return lists; }

signals:
    // The detail window of `order`, the book's record of it, is wanted.
    void OrderDetailWanted(COrder* order);
    // The confirmation table is wanted, with `asked` to add to it (none: only the table).
    void ServerTableWanted(const QList<COrder*>& asked);

public slots:
    void Update();
    void OpenServerTable();
    // Takes an order into the book when a window holds a record of its own, acknowledges it as a
    // new order, and asks for its detail window.
    void SlotOpenOrderDetail(COrder* pOrder);

private:
    void OnOrderAdded(COrder* order, COrderBook::Arrival how);
    void OnStatusChanged(COrder* order, int previous);
    void OnConfirmationAsked(const QList<COrder*>& orders);
    void PlaceRow(COrder* order, bool atTop);
    // The row blinks while its order waits as a new one.
    void FollowWaiting(qint64 id);
    void DropRow(COrderItem* row);
    void WireRow(COrderItem* row);

    CSession* session;
    COrderBook* book;
    CNewOrders* newOrders;
    QList<COrderList*> lists;
    bool updateQueued = false;
};
