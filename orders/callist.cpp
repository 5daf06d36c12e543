#include "orders/callist.h"

#include <QAbstractScrollArea>
#include <QMediaPlayer>
#include <QNetworkAccessManager>
#include <QTimer>

#include "app/constants.h"
#include "app/screens.h"
#include "app/sound.h"
#include "confirm/cwservertable.h"
#include "detail/corderwidget.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/corderitem.h"
#include "orders/corderlist.h"
#include "orders/pollclock.h"
#include "session/cuser.h"

namespace {

const QString timeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

bool HasList(int status)
{
    return status == StatusPaid.first || status == StatusServed.first || status == StatusReviewed.first ||
           status == StatusCompleted.first || status == StatusRefunded.first;
}

QVariantList Commos(const Request::Answer& answer)
{
    return answer.InfoMap().value(QStringLiteral("commos")).toList();
}

// Cursors only ever move forward.
void Advance(QDateTime& cursor, const QDateTime& seen)
{
    if (cursor.secsTo(seen) > 0)
        cursor = seen;
}

} // namespace

class CAllList::LayoutHold
{
public:
    explicit LayoutHold(CAllList* pane) : pane(pane) { ++pane->layoutHold; }
    ~LayoutHold()
    {
        if (--pane->layoutHold == 0)
            pane->ReleaseLayouts();
    }
    LayoutHold(const LayoutHold&) = delete;
    LayoutHold& operator=(const LayoutHold&) = delete;

private:
    CAllList* pane;
};

CAllList::CAllList(CUser* user, QWidget* parent)
    : QWidget(parent), user(user), newOrderTime(QDateTime::currentDateTime()),
      payFinishTime(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::LocalTime)
{
    resize(parent ? parent->width() : width(), 0);
    resize(paneWidth, 0);
    const OrderStatus groups[] = {StatusPaid, StatusServed, StatusReviewed, StatusCompleted, StatusRefunded};
    for (const OrderStatus& status : groups) {
        auto* list = new COrderList(status.second, this);
        list->SetState(int(status.first));
        list->move(0, height());
        resize(width(), height() + list->height());
        lists.append(list);
    }
    if (user)
        Start(user);
}

CAllList::~CAllList()
{
    // Everything that shows an order goes before the orders do.
    delete serverTable.data();
    for (const QPointer<COrderWidget>& window : qAsConst(looseDetails))
        delete window.data();
    qDeleteAll(lists);
    lists.clear();
    qDeleteAll(orders);
    orders.clear();
    firstOrder.clear();

    // A reply aborted by its manager's end must not reach this half-destroyed pane.
    for (QNetworkAccessManager* m : {manager, payFinishManager}) {
        if (!m)
            continue;
        disconnect(m, nullptr, this, nullptr);
        for (QNetworkReply* pending : m->findChildren<QNetworkReply*>())
            disconnect(pending, nullptr, this, nullptr);
        delete m;
    }
    delete timer;
    delete payFinishTimer;
    delete player;
}

void CAllList::Start(CUser* newUser)
{
    if (!newUser)
        return;
    user = newUser;
    HttpAllOrder();
    if (!player)
        player = new QMediaPlayer;
}

CWServerTable* CAllList::ServerTable() const
{
    return serverTable;
}

COrderList* CAllList::FindList(int status) const
{
    for (COrderList* list : lists)
        if (list->GetState() == status)
            return list;
    return nullptr;
}

COrder* CAllList::FindOrder(qint64 id) const
{
    return firstOrder.value(id);
}

COrderItem* CAllList::FindOrderItem(qint64 id) const
{
    const COrder* order = FindOrder(id);
    if (!order)
        return nullptr;
    const COrderList* list = FindList(order->GetStatus());
    return list ? list->FindItem(id) : nullptr;
}

void CAllList::Remember(COrder* order)
{
    orders.append(order);
    if (!firstOrder.contains(order->GetId()))
        firstOrder.insert(order->GetId(), order);
}

COrder* CAllList::OrderFromEntry(const QVariantMap& entry) const
{
    auto* order = new COrder;
    order->SetId(entry.value(QStringLiteral("id")).toLongLong());
    order->SetMember(entry.value(QStringLiteral("member")).toString());
    order->SetAmount(entry.value(QStringLiteral("amount")).toFloat());
    order->SetStatus(entry.value(QStringLiteral("status")).toInt());
    order->SetCtime(entry.value(QStringLiteral("ctime")).toDateTime());
    order->SetStime(entry.value(QStringLiteral("stime")).toDateTime());
    order->SetPtime(entry.value(QStringLiteral("ptime")).toDateTime());
    order->SetErtime(entry.value(QStringLiteral("ertime")).toDateTime());
    return order;
}

void CAllList::AddOrderItem(COrder* order, int flag)
{
    COrderList* list = order ? FindList(order->GetStatus()) : nullptr;
    if (list) {
        auto* item = new COrderItem(order, user, list);
        if (flag == 1) {
            item->StartFlash();
            list->PrependItem(item);
        } else {
            list->AddItem(item, 0);
        }
    }
    Update();
}

void CAllList::ReinsertOrderItem(COrderItem* item)
{
    if (!item)
        return;
    COrderList* list = item->GetOrder() ? FindList(item->GetOrder()->GetStatus()) : nullptr;
    if (list) {
        list->PrependItem(item);
    } else {
        item->hide();
        item->deleteLater();
    }
    Update();
}

QList<COrder*>* CAllList::SearchOrders(QString text) const
{
    QList<COrder*>* found = nullptr;
    for (COrder* order : orders) {
        if (!QString::number(order->GetId()).contains(text, Qt::CaseInsensitive))
            continue;
        if (!found)
            found = new QList<COrder*>;
        found->append(order);
    }
    return found;
}

// ---- requests and polls

bool CAllList::HttpAllOrder()
{
    if (!manager)
        manager = Request::CreateManager(this);
    if (!user)
        return false;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("pager"), QStringLiteral("1")});
    reply = Request::Send(manager, Api::StaffOrderList(), Request::EncodeBody(fields), this,
                          &CAllList::replyAllOrder, &CAllList::slotError);
    return reply != nullptr;
}

void CAllList::HttpNewOrder()
{
    if (!manager)
        manager = Request::CreateManager(this);
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("time"), newOrderTime.toString(timeFormat)});
    reply = Request::Send(manager, Api::UpdateStaffOrderList(), Request::EncodeBody(fields), this,
                          &CAllList::ReplyNewOrder, &CAllList::ErrorNewOrder);
}

void CAllList::HttpPayFinishOrder()
{
    if (!payFinishManager)
        payFinishManager = Request::CreateManager(this);
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("ertime"), payFinishTime.toString(timeFormat)});
    payFinishReply = Request::Send(payFinishManager, Api::PayFinishOrder(), Request::EncodeBody(fields), this,
                                   &CAllList::ReplyPayFinishOrder, &CAllList::ErrorPayFinishOrder);
}

void CAllList::Schedule(QTimer*& which, int second, const std::function<void()>& run)
{
    if (!which)
        which = new QTimer(this);
    which->disconnect();
    connect(which, &QTimer::timeout, this, run);
    which->setSingleShot(true);
    which->start(PollClock::Msecs(second));
}

void CAllList::RestartHttpAllOrder(int second)
{
    Schedule(timer, second, [this] { HttpAllOrder(); });
}

void CAllList::RestartHttpNewOrder(int second)
{
    Schedule(timer, second, [this] { HttpNewOrder(); });
}

void CAllList::RestartHttpPayFinishOrder(int second)
{
    Schedule(payFinishTimer, second, [this] { HttpPayFinishOrder(); });
}

void CAllList::slotError(QNetworkReply::NetworkError) {}
void CAllList::ErrorNewOrder(QNetworkReply::NetworkError) {}
void CAllList::ErrorPayFinishOrder(QNetworkReply::NetworkError) {}

void CAllList::replyAllOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    // A refusal or a garbled body is retried like a dead network: giving up here would leave the
    // shop without orders and without polls for the rest of the day.
    if (!answer.Succeeded()) {
        finished->deleteLater();
        RestartHttpAllOrder(5);
        return;
    }

    const QVariantMap info = answer.InfoMap();
    shopId = info.value(QStringLiteral("shop_id")).toLongLong();
    shopName = info.value(QStringLiteral("shop_name")).toString();
    shopCatId = info.value(QStringLiteral("shop_catid")).toInt();
    const QVariantList entries = info.value(QStringLiteral("commos")).toList();
    {
        LayoutHold hold(this);
        orders.reserve(orders.size() + entries.size());
        firstOrder.reserve(firstOrder.size() + entries.size());
        for (const QVariant& entry : entries) {
            COrder* order = OrderFromEntry(entry.toMap());
            Advance(newOrderTime, order->GetCtime());
            Advance(payFinishTime, order->GetErtime());
            order->SetShopId(shopId);
            order->SetShopName(shopName);
            order->SetShopCatId(shopCatId);
            Remember(order);
            AddOrderItem(order, 0);
        }
    }
    HttpNewOrder();
    HttpPayFinishOrder();
    finished->deleteLater();
}

void CAllList::ReplyNewOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    int added = 0;
    if (answer.Succeeded()) {
        LayoutHold hold(this);
        for (const QVariant& value : Commos(answer)) {
            const QVariantMap entry = value.toMap();
            if (FindOrder(entry.value(QStringLiteral("id")).toLongLong()))
                continue;
            COrder* order = OrderFromEntry(entry);
            // Without these the detail window of every order that arrives during the day would
            // show an empty shop.
            order->SetShopId(shopId);
            order->SetShopName(shopName);
            order->SetShopCatId(shopCatId);
            Remember(order);
            Advance(newOrderTime, order->GetCtime());
            AddOrderItem(order, 1);
            ++added;
        }
    }
    if (added > 0 && player)
        Sound::Play(player, QStringLiteral("audio/neworder.mp3"));
    finished->deleteLater();
    RestartHttpNewOrder(20);
}

void CAllList::ReplyPayFinishOrder(QNetworkReply* finished)
{
    if (!finished)
        return;
    const Request::Answer answer = Request::Read(finished);
    int confirmations = 0;
    int appeared = 0;
    if (answer.Succeeded()) {
        LayoutHold hold(this);
        for (const QVariant& value : Commos(answer)) {
            const QVariantMap entry = value.toMap();
            const qint64 id = entry.value(QStringLiteral("id")).toLongLong();
            COrder* order = FindOrder(id);
            if (!order)
                continue;
            const int reported = entry.value(QStringLiteral("status")).toInt();
            COrderItem* item = FindOrderItem(id);
            if (!item) {
                // An order first seen unpaid has no row. Once it is paid (or moves on) it must
                // show up, or the shop never learns of it.
                if (reported == order->GetStatus() || !HasList(reported))
                    continue;
                order->SetStatus(reported);
                order->SetStime(entry.value(QStringLiteral("stime")).toDateTime());
                order->SetPtime(entry.value(QStringLiteral("ptime")).toDateTime());
                Advance(payFinishTime, entry.value(QStringLiteral("ertime")).toDateTime());
                AddOrderItem(order, 1);
                ++appeared;
                continue;
            }

            order->SetStime(entry.value(QStringLiteral("stime")).toDateTime());
            order->SetPtime(entry.value(QStringLiteral("ptime")).toDateTime());
            Advance(payFinishTime, entry.value(QStringLiteral("ertime")).toDateTime());

            if (reported != order->GetStatus()) {
                item->OperateMe(reported);
                continue;
            }
            // Unchanged and still paid: the buyer asks the shop to confirm the service. An order
            // the shop itself just moved on (finished, replied to) comes back unchanged as well,
            // and has nothing to confirm.
            if (reported != StatusPaid.first)
                continue;
            OpenServerTable();
            connect(serverTable, &CWServerTable::SignalMoveOrderItem, item, &COrderItem::ByTypeMove,
                    Qt::UniqueConnection);
            serverTable->AddOrder(order);
            const int paid = serverTable->CountPaidOrders();
            serverTable->SetTitle(QStringLiteral("待确认订单 ") +
                                  (paid < 1 ? QString() : QString::number(paid)));
            if (confirmations == 0)
                serverTable->SelectRow(0);
            ++confirmations;
        }
    }
    if (appeared > 0 && player)
        Sound::Play(player, QStringLiteral("audio/neworder.mp3"));
    if (confirmations > 0 && player)
        Sound::Play(player, QStringLiteral("audio/notify.wav"));
    finished->deleteLater();
    RestartHttpPayFinishOrder(3);
}

// ---- layout

void CAllList::ReleaseLayouts()
{
    for (COrderList* list : qAsConst(lists))
        list->FlushLayout();
    if (updatePending)
        Update();
}

void CAllList::Update()
{
    if (HoldsLayouts()) {
        updatePending = true;
        return;
    }
    updatePending = false;
    int height = 0;
    for (COrderList* list : qAsConst(lists)) {
        list->move(list->x(), height);
        height += list->height();
    }
    resize(width(), height);

    QWidget* parent = parentWidget();
    if (!parent)
        return;
    // A scroll area follows its widget's size by itself; anything else is shown again to pick
    // up the new size.
    auto* view = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
    if (view && view->viewport() == parent)
        return;
    parent->hide();
    parent->show();
}

// ---- windows

void CAllList::OpenServerTable()
{
    if (serverTable) {
        serverTable->Show();
        serverTable->activateWindow();
        return;
    }
    serverTable = new CWServerTable(user);
    serverTable->resize(1200, 700);
    serverTable->setMinimumSize(qRound(1200 / 2.0), qRound(700 / 2.0));
    const QRect area = AvailableAreaOf(this);
    serverTable->move(area.left() + (area.width() - serverTable->width()) / 2,
                      area.top() + (area.height() - serverTable->height()) / 2);
    serverTable->SetTitle(QStringLiteral("待确认订单"));
    serverTable->MoveTitle(5, 5);
    connect(serverTable, &CWServerTable::SignalOpenOrderDetail, this, &CAllList::SlotOpenOrderDetail);
    serverTable->Show();
}

void CAllList::SlotOpenOrderDetail(COrder* pOrder)
{
    if (!pOrder)
        return;
    if (COrderItem* item = FindOrderItem(pOrder->GetId())) {
        item->OpenOrderDetail();
        return;
    }
    auto* window = new COrderWidget(pOrder, user);
    window->SetTitle(
        QStringLiteral("%1 %2").arg(QString::number(pOrder->GetId()), QStringLiteral("订单详情")));
    window->Show();
    looseDetails.removeAll(nullptr);
    looseDetails.append(window);
}
