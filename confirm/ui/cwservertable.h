#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>

#include "orders/actionjobs.h"
#include "orders/pollclock.h"
#include "ui/cwidget.h"
#include "ui/msgbox.h"

class COrder;
class COrderBook;
class CSession;
namespace Sound {
class Service;
}
class QTableWidget;
class QTableWidgetItem;
class QTimer;

// "待确认订单": the paid orders whose buyers ask the shop to confirm the service. A click on a
// row's last cell sends the confirmation; several may be in flight at once, each with a job of its
// own that knows its order. A confirmed order's new status goes to the order book; its row leaves
// about five seconds later, and a failed one offers "重 试". The title counts the paid orders shown.
// Closing the window only hides it: it keeps its rows for the next time.
class CWServerTable : public CWidget
{
    Q_OBJECT
public:
    explicit CWServerTable(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    CWServerTable(CSession* session, QSize size, QWidget* parent = nullptr,
                  Qt::WindowFlags f = Qt::WindowFlags());
    ~CWServerTable() override;

    enum Column
    {
        IdColumn = 0,
        MemberColumn,
        StatusColumn,
        AmountColumn,
        PaidColumn,
        ConfirmColumn,
        ColumnCount
    };
    enum ConfirmState
    {
        Idle = 0, // waiting or failed: a click confirms
        InFlight = 1,
        Confirmed = 2
    };

    bool AddOrder(COrder* order);
    // Many at once (a reply may name thousands): the table is rebuilt once, not once per order.
    int AddOrders(const QList<COrder*>& orders);
    COrder* FindOrder(qlonglong id) const { return byId.value(id); }
    int CountPaidOrders() const;
    void SelectRow(int row);

    // Where the confirmation of an order's row stands (ConfirmState); Idle for an order without row.
    // The table itself is the child "confirmTable", its rows found by the id in their first column.
    int GetConfirmState(qlonglong id) const { return confirmState.value(id); }

signals:
    void SignalOpenOrderDetail(COrder* pOrder);

public slots:
    void StartRemoveOrderItem(COrder* pOrder, int second);
    void StartRemoveOrderItem(COrder* pOrder) { StartRemoveOrderItem(pOrder, 5); }
    void RemoveOrderItem();
    void SlotOrderOk(QTableWidgetItem* item);
    void OpenOrderDetail(QTableWidgetItem* pItem);
    void HttpOrderOk(qlonglong orderId);
    void ReplyFinishOrderOk(const OrderAction& action);
    void ErrorOrderOk(qlonglong orderId, const JobFailure& failure);
    void ShowMsgBox(const QString& message, int second) { msgBox->ShowMsgBox(message, second); }
    void ShowMsgBox(const QString& message) { msgBox->ShowMsgBox(message); }
    void HideMsgBox() { msgBox->HideMsgBox(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void SetUp();
    void Attach(CSession* session);
    void RefreshTitle();
    void OnStatusChanged(COrder* order);
    void ShowMovedOn(COrder* order);
    void ShowDone(QTableWidgetItem* cell, const QString& text, int status);
    void MarkFailed(QTableWidgetItem* cell, qlonglong id, const QString& message);
    void DropJob(qlonglong id);

    QTableWidget* table = nullptr;
    QPointer<CSession> session;
    PollClock clock; // the session's second, for the delayed removal of a row
    Sound::Service* sounds = nullptr;
    COrderBook* book = nullptr;
    QList<COrder*> orders;
    QHash<qlonglong, COrder*> byId;
    QMap<qlonglong, int> confirmState;
    QHash<qlonglong, CConfirmOrderJob*> confirmJobs; // the confirmations in flight, by order
    QMap<qlonglong, QTableWidgetItem*> confirmCells;
    QMap<COrder*, QPointer<QTimer>> removeTimers;
    CMsgBox* msgBox = nullptr;
    int rowsAdded = 0; // rows take turns in shade, the first one grey
};
