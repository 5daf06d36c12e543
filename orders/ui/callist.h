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
class COrderWidget;
class CSession;
class CWServerTable;

// The order pane: one group per order status with a row for each order of the session that has a
// group. It shows what the session's order book holds: an order that arrives during the session
// goes to the top of its group, and blinks while the session counts it as a new order nobody has
// dealt with (CNewOrders); an order whose status changes moves to the top of its new group, or
// loses its row while its status has none and gets it back when it reaches one. It also opens the
// detail windows (one per order; opening one acknowledges a new order) and hands orders that await
// confirmation to the confirmation table.
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
    CWServerTable* ServerTable() const;
    COrderWidget* DetailWindow(qint64 id) const;

public slots:
    void Update();
    void OpenServerTable();
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
    // One detail window per order. Held as QObject: a window is forgotten from its destroyed(),
    // when it is no longer a COrderWidget.
    QHash<qint64, QPointer<QObject>> details;
    QPointer<CWServerTable> serverTable;
    bool updateQueued = false;
};
