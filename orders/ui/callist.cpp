#include "orders/ui/callist.h"

#include <QAbstractScrollArea>

#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderpolls.h"
#include "orders/ui/corderitem.h"
#include "orders/ui/corderlist.h"
#include "session/csession.h"

CAllList::CAllList(CSession* session, QWidget* parent)
    : QWidget(parent), session(session), book(session->Book()), newOrders(session->NewOrders())
{
    resize(paneWidth, 0);
    for (int status : GroupStatuses()) {
        auto* list = new COrderList(StatusName(status), this);
        list->SetState(status);
        list->move(0, height());
        resize(width(), height() + list->height());
        connect(list, &COrderList::HeightChanged, this, &CAllList::Update);
        connect(list, &COrderList::RowMade, this, &CAllList::WireRow);
        lists.append(list);
    }
    connect(book, &COrderBook::OrderAdded, this, &CAllList::OnOrderAdded);
    connect(book, &COrderBook::StatusChanged, this, &CAllList::OnStatusChanged);
    connect(session->Polls(), &COrderPolls::ConfirmationAsked, this, &CAllList::OnConfirmationAsked);
    connect(newOrders, &CNewOrders::Arrived, this, &CAllList::FollowWaiting);
    connect(newOrders, &CNewOrders::Acknowledged, this, &CAllList::FollowWaiting);
}

CAllList::~CAllList()
{
    disconnect(book, nullptr, this, nullptr);
    disconnect(newOrders, nullptr, this, nullptr);
    qDeleteAll(lists);
    lists.clear();
}

COrderList* CAllList::FindList(int status) const
{
    for (COrderList* list : lists)
        if (list->GetState() == status)
            return list;
    return nullptr;
}

// ---- following the book

void CAllList::OnOrderAdded(COrder* order, COrderBook::Arrival how)
{
    // An order a window opened before any list brought it gets its row once its status changes.
    if (how == COrderBook::Adopted)
        return;
    PlaceRow(order, how != COrderBook::Listed);
}

void CAllList::OnStatusChanged(COrder* order, int previous)
{
    const qint64 id = order->GetId();
    // An order with a row sits in the group of its previous status.
    COrderList* from = FindList(previous);
    const bool listed = from && from->Contains(id);
    COrderItem* row = listed ? from->TakeOrder(id) : nullptr;
    COrderList* to = FindList(order->GetStatus());
    if (!to) {
        if (row)
            DropRow(row);
        return;
    }
    if (!listed) {
        PlaceRow(order, true);
        return;
    }
    to->AddOrder(order, true, row);
    if (row && (order->GetStatus() == StatusServed.first || order->GetStatus() == StatusCompleted.first))
        row->ShowNewOrderIcon(false);
    FollowWaiting(id);
}

COrderItem* CAllList::FindOrderItem(qint64 id) const
{
    const COrder* order = book->Find(id);
    COrderList* list = order ? FindList(order->GetStatus()) : nullptr;
    return list ? list->FindItem(id) : nullptr;
}

void CAllList::PlaceRow(COrder* order, bool atTop)
{
    COrderList* list = FindList(order->GetStatus());
    if (!list || list->Contains(order->GetId()))
        return;
    list->AddOrder(order, atTop);
    FollowWaiting(order->GetId());
}

void CAllList::FollowWaiting(qint64 id)
{
    const COrder* order = book->Find(id);
    COrderList* list = order ? FindList(order->GetStatus()) : nullptr;
    if (!list || !list->Contains(id))
        return;
    if (newOrders->IsWaiting(id)) {
        // Rows are made as they are first needed: a waiting order's row is made now, to blink.
        COrderItem* row = list->FindItem(id);
        if (row && !row->IsFlashing())
            row->StartFlash();
    } else if (COrderItem* row = list->MadeItem(id); row && row->IsFlashing()) {
        row->StopFlash();
    }
}

void CAllList::WireRow(COrderItem* row)
{
    connect(row, &COrderItem::OpenRequested, this, &CAllList::SlotOpenOrderDetail);
}

void CAllList::DropRow(COrderItem* row)
{
    // Later, not now: this may run inside a signal of the row's own detail window.
    row->hide();
    row->deleteLater();
}

void CAllList::OnConfirmationAsked(const QList<COrder*>& orders)
{
    emit ServerTableWanted(orders);
}

// ---- layout

// Groups report a new height after they lay out; many reports during one reply make one restack.
void CAllList::Update()
{
    if (updateQueued)
        return;
    updateQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            updateQueued = false;
            int height = 0;
            for (COrderList* list : qAsConst(lists)) {
                list->move(list->x(), height);
                height += list->height();
            }
            resize(width(), height);

            QWidget* parent = parentWidget();
            if (!parent)
                return;
            // A scroll area follows its widget's size by itself; anything else is shown again to
            // pick up the new size.
            auto* view = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
            if (view && view->viewport() == parent)
                return;
            parent->hide();
            parent->show();
        },
        Qt::QueuedConnection);
}

// ---- windows

void CAllList::OpenServerTable()
{
    emit ServerTableWanted(QList<COrder*>());
}

void CAllList::SlotOpenOrderDetail(COrder* pOrder)
{
    if (!pOrder)
        return;
    // A window's own record of an order becomes the book's.
    COrder* order = book->Find(pOrder->GetId()) == pOrder ? pOrder : book->Adopt(*pOrder);
    if (!order)
        return;
    // Opened by whatever road, a new order has been seen to.
    newOrders->Acknowledge(order->GetId());
    emit OrderDetailWanted(order);
}
