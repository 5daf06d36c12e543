#include "confirm/ui/cwservertable.h"

#include <QHeaderView>
#include <QNetworkAccessManager>
#include <QTableWidget>
#include <QTimer>

#include "app/constants.h"
#include "app/log.h"
#include "app/sound.h"
#include "session/csession.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/pollclock.h"
#include "session/cuser.h"

int CWServerTable::rowCounter = 0;

namespace {

const QString networkFailure = QStringLiteral("都是网络的错！\n请检查网络连接，谢谢！");

QString TitleWithCount(int paid)
{
    return QStringLiteral("待确认订单 ") + (paid < 1 ? QString() : QString::number(paid));
}

} // namespace

CWServerTable::CWServerTable(CSession* session, QWidget* parent, Qt::WindowFlags f) : CWidget(parent, f)
{
    Attach(session);
    SetUp();
}

CWServerTable::CWServerTable(CSession* session, QSize size, QWidget* parent, Qt::WindowFlags f)
    : CWidget(size, parent, f)
{
    Attach(session);
    SetUp();
}

CWServerTable::~CWServerTable()
{
    for (QNetworkReply* pending : qAsConst(pendingReplies))
        if (pending)
            disconnect(pending, nullptr, this, nullptr);
    manager = nullptr;
    pendingReplies.clear();
    replyOrders.clear();
    confirmCells.clear();
    confirmState.clear();
    removeTimers.clear();
    orders.clear();
    byId.clear();
}

void CWServerTable::Attach(CSession* session)
{
    if (!session)
        return;
    manager = session->Network();
    sounds = session->Sounds();
    user = session->User();
    book = session->Book();
    clock = session->Clock();
}

void CWServerTable::SetUp()
{
    msgBox = new CMsgBox(this, CMsgBox::ForServerTable());
    MoveTitle(10, (TopBandHeight() - 18) / 2);
    TopBand()->setFixedHeight(80);

    table = new QTableWidget(0, ColumnCount, BottomBand());
    table->setHorizontalHeaderLabels({QStringLiteral("订单号"), QStringLiteral("账号"),
                                      QStringLiteral("状态"), QStringLiteral("金额"),
                                      QStringLiteral("支付时间"), QStringLiteral("确认")});
    table->setGeometry(0, 0, width() - 2, BottomBandHeight() - 1);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSortingEnabled(true);
    table->setShowGrid(false);
    table->setFocusPolicy(Qt::NoFocus);
    table->setFrameShape(QFrame::NoFrame);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->horizontalHeader()->setFixedHeight(32);
    table->verticalHeader()->hide();
    table->setStyleSheet(QStringLiteral(
        "background: transparent;selection-background-color: rgba( 255, 85, 0, 0.5 );border: none;"
        "border-bottom-left-radius: 3px;border-bottom-right-radius: 3px;"));
    table->horizontalHeader()->setStyleSheet(QStringLiteral(
        "QHeaderView::section{background: transparent;border: none;}QHeaderView::section:checked{}"));

    connect(table, &QTableWidget::itemClicked, this, &CWServerTable::SlotOrderOk);
    connect(table, &QTableWidget::itemDoubleClicked, this, &CWServerTable::OpenOrderDetail);
    if (book)
        connect(book, &COrderBook::StatusChanged, this, &CWServerTable::OnStatusChanged);
    RefreshTitle();
}

// An order served elsewhere (its detail window, another PC) while it waits here is done with.
// While its own confirmation travels the reply settles the row: a poll that hears of the served
// order first must not take the "完成" and its sound from the staff member who confirmed it.
void CWServerTable::OnStatusChanged(COrder* order)
{
    if (!order || !table || FindOrder(order->GetId()) != order || order->GetStatus() == StatusPaid.first)
        return;
    if (confirmState.value(order->GetId(), Idle) == Idle)
        ShowMovedOn(order);
}

void CWServerTable::ShowMovedOn(COrder* order)
{
    const qlonglong id = order->GetId();
    confirmState.insert(id, Confirmed);
    if (QTableWidgetItem* cell = confirmCells.value(id))
        ShowDone(cell, QStringLiteral("已完成"), order->GetStatus());
    StartRemoveOrderItem(order, 5);
    RefreshTitle();
}

// A confirmed row takes its row's shade again, says so and shows the order's new status.
void CWServerTable::ShowDone(QTableWidgetItem* cell, const QString& text, int status)
{
    const QTableWidgetItem* first = table->item(cell->row(), IdColumn);
    const QBrush shade = first ? first->background() : QBrush();
    cell->setBackground(shade.style() == Qt::NoBrush ? QBrush(Qt::white) : shade);
    cell->setForeground(QColor(0, 0, 0, 255));
    cell->setToolTip(QString());
    cell->setText(text);
    if (QTableWidgetItem* statusCell = table->item(cell->row(), StatusColumn))
        statusCell->setText(StatusName(status));
}

// Drawn in the window's head and given to the window system alike.
void CWServerTable::RefreshTitle()
{
    const QString title = TitleWithCount(CountPaidOrders());
    SetTitle(title);
    setWindowTitle(title);
}

bool CWServerTable::AddOrder(COrder* order)
{
    return AddOrders({order}) == 1;
}

int CWServerTable::AddOrders(const QList<COrder*>& incoming)
{
    QList<COrder*> fresh;
    for (COrder* order : incoming)
        if (order && !byId.contains(order->GetId()) && !fresh.contains(order))
            fresh.append(order);
    if (!table || fresh.isEmpty())
        return 0;

    // With sorting on, the table re-sorts as soon as one cell lands and the row index no longer
    // names the new row: the cells of one order would end up in several rows. The new rows go in
    // as one block on top, the last order of the batch topmost, as if added one by one.
    const bool sorting = table->isSortingEnabled();
    table->setSortingEnabled(false);
    table->setUpdatesEnabled(false);
    table->model()->insertRows(0, fresh.size());
    for (int i = 0; i < fresh.size(); ++i) {
        COrder* order = fresh.at(i);
        const int row = fresh.size() - 1 - i;
        const int shade = ++rowCounter;
        const bool white = shade % 2 == 0;
        const QColor rowColour = white ? QColor(255, 255, 255, 255) : lightColor;
        const QColor confirmColour = white ? QColor(255, 0, 0, 200) : QColor(255, 0, 0, 127);
        const QString texts[ColumnCount] = {QString::number(order->GetId()),
                                            order->GetMember(),
                                            order->GetStatusName(),
                                            FormatMoney(order->GetAmount()),
                                            order->GetPtime().toString(QStringLiteral("MM-dd hh:mm")),
                                            QStringLiteral("待确认")};
        QTableWidgetItem* confirmCell = nullptr;
        for (int column = 0; column < ColumnCount; ++column) {
            auto* cell = new QTableWidgetItem(texts[column]);
            cell->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
            if (column == ConfirmColumn) {
                cell->setBackground(confirmColour);
                cell->setForeground(QColor(255, 255, 255));
                confirmCell = cell;
            } else {
                cell->setBackground(rowColour);
                cell->setToolTip(QStringLiteral("双击查看详情"));
            }
            table->setItem(row, column, cell);
        }
        confirmCells.insert(order->GetId(), confirmCell);
        confirmState.insert(order->GetId(), Idle);
        orders.append(order);
        byId.insert(order->GetId(), order);
    }
    table->setSortingEnabled(sorting);
    table->setUpdatesEnabled(true);
    RefreshTitle();
    return fresh.size();
}

int CWServerTable::CountPaidOrders() const
{
    int paid = 0;
    for (const COrder* order : orders)
        if (order && order->GetStatus() == StatusPaid.first)
            ++paid;
    return paid;
}

void CWServerTable::SelectRow(int row)
{
    if (table)
        table->selectRow(row);
}

void CWServerTable::SlotOrderOk(QTableWidgetItem* item)
{
    if (!table || !item)
        return;
    const qlonglong id = confirmCells.key(item, 0);
    if (!FindOrder(id))
        return;
    if (confirmState.value(id, Idle) != Idle)
        return;
    confirmState.insert(id, InFlight);
    item->setBackground(QColor(255, 255, 255, 0));
    item->setForeground(QColor(0, 0, 0, 255));
    item->setText(QStringLiteral("确认中..."));
    item->setToolTip(QString());
    HttpOrderOk(id);
}

void CWServerTable::HttpOrderOk(qlonglong orderId)
{
    HideMsgBox();
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("oid"), QString::number(orderId)});
    QNetworkReply* sent = Request::Post(manager, Api::ToFinishOrder(), Request::EncodeBody(fields));
    if (!sent) {
        MarkFailed(confirmCells.value(orderId), orderId, networkFailure);
        return;
    }
    replyOrders.insert(sent, orderId);
    pendingReplies.append(sent);
    connect(sent, &QNetworkReply::finished, this, &CWServerTable::ReplyFinishOrderOk);
    connect(sent, &QNetworkReply::errorOccurred, this, &CWServerTable::ErrorOrderOk);
}

void CWServerTable::ErrorOrderOk(QNetworkReply::NetworkError) {}

void CWServerTable::MarkFailed(QTableWidgetItem* cell, qlonglong id, const QString& message)
{
    ShowMsgBox(message, 0);
    if (!cell)
        return;
    cell->setBackground(QColor(255, 85, 0, 120));
    cell->setForeground(QColor(51, 51, 51, 255));
    cell->setText(QStringLiteral("重 试"));
    cell->setToolTip(QStringLiteral("重 试"));
    confirmState.insert(id, Idle);
}

void CWServerTable::ReplyFinishOrderOk()
{
    // Each reply finds its own row: the one that finished is the sender; failing that, the
    // first pending reply that reports it has finished.
    auto* finished = qobject_cast<QNetworkReply*>(sender());
    if (!finished || !pendingReplies.contains(finished)) {
        finished = nullptr;
        for (QNetworkReply* pending : qAsConst(pendingReplies))
            if (pending->isFinished()) {
                finished = pending;
                break;
            }
    }
    if (!finished)
        return;
    pendingReplies.removeAll(finished);

    const Request::Answer answer = Request::Read(finished);
    bool confirmed = false;
    int newStatus = StatusServed.first;
    QString message = networkFailure;
    if (!answer.networkError && answer.isObject) {
        if (answer.status == 1) {
            confirmed = true;
        } else if (answer.status == 3) {
            // The order moved on without us; "info" names its status. Anything but a number
            // would overwrite the order's status with 0.
            bool number = false;
            newStatus = answer.InfoText().trimmed().toInt(&number);
            confirmed = number;
            if (!number)
                message = QStringLiteral("失败：确认服务！\n") + answer.InfoText();
        } else if (answer.status == 2) {
            message = answer.InfoText();
        } else {
            message = QStringLiteral("失败：确认服务！\n") + answer.InfoText();
        }
    }

    const qlonglong id = replyOrders.value(finished);
    QTableWidgetItem* cell = confirmCells.value(id);
    if (confirmed)
        qCInfo(lcOrders, "order %lld confirmed, status now %d", static_cast<long long>(id), newStatus);
    else
        qCWarning(lcOrders, "confirming order %lld failed: %s", static_cast<long long>(id),
                  qUtf8Printable(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    COrder* order = FindOrder(id);
    if (cell && !confirmed && order && order->GetStatus() != StatusPaid.first) {
        // The answer was lost, but the order has moved on meanwhile: nothing is left to retry.
        ShowMovedOn(order);
    } else if (cell && !confirmed) {
        MarkFailed(cell, id, message);
    } else if (cell && table) {
        confirmState.insert(id, Confirmed);
        const bool servedNow = newStatus == StatusServed.first && answer.status == 1;
        const QString done = servedNow ? QStringLiteral("完成") : QStringLiteral("已完成");
        ShowDone(cell, done, newStatus);
        if (servedNow) {
            if (sounds)
                sounds->Play(QStringLiteral("audio/server.mp3"));
        }
        if (order) {
            // Applied only while the order is still paid: a newer status that reached the book
            // while the confirmation travelled stands, and the row shows it.
            if (book && book->ApplyAction(order, StatusPaid.first, newStatus, "ToFinishOrder",
                                          answer.platformTime) == COrderBook::Stale)
                ShowDone(cell, done, order->GetStatus());
            StartRemoveOrderItem(order, 5);
        }
        RefreshTitle();
    }

    replyOrders.remove(finished);
    finished->deleteLater();
}

void CWServerTable::StartRemoveOrderItem(COrder* pOrder, int second)
{
    auto* removal = new QTimer(this);
    removal->setSingleShot(true);
    removeTimers.insert(pOrder, removal);
    connect(removal, &QTimer::timeout, this, &CWServerTable::RemoveOrderItem);
    // A replaced timer still sweeps when it fires; then it is done with.
    connect(removal, &QTimer::timeout, removal, &QObject::deleteLater);
    removal->start(clock.Msecs(second));
}

// Sweeps every row whose order is no longer paid, but a row whose confirmation is still travelling:
// its reply settles it ("完成" and its sound) and sweeps it later.
void CWServerTable::RemoveOrderItem()
{
    for (int i = 0; i < orders.size();) {
        COrder* order = orders.at(i);
        if (order && (order->GetStatus() == StatusPaid.first || confirmState.value(order->GetId()) == InFlight)) {
            ++i;
            continue;
        }
        orders.removeAt(i);
        if (!order)
            continue;
        const qlonglong id = order->GetId();
        byId.remove(id);
        if (QTableWidgetItem* cell = confirmCells.take(id))
            if (table)
                table->removeRow(cell->row());
        confirmState.remove(id);
        if (QPointer<QTimer> removal = removeTimers.take(order)) {
            removal->stop();
            removal->deleteLater();
        }
    }
}

void CWServerTable::OpenOrderDetail(QTableWidgetItem* pItem)
{
    if (!table || !pItem || pItem->column() == ConfirmColumn)
        return;
    const QTableWidgetItem* first = table->item(pItem->row(), IdColumn);
    if (!first)
        return;
    if (COrder* order = FindOrder(first->text().toLongLong()))
        emit SignalOpenOrderDetail(order);
}

void CWServerTable::resizeEvent(QResizeEvent* event)
{
    CWidget::resizeEvent(event);
    if (table)
        table->resize(BottomBand()->size());
    if (msgBox)
        msgBox->Reposition();
}
