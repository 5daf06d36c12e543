#include "confirm/ui/cwservertable.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>

#include "app/constants.h"
#include "app/log.h"
#include "app/sound.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/pollclock.h"
#include "session/csession.h"

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
    // Their requests stop, and nothing of them reaches a table on its way out.
    for (CConfirmOrderJob* job : qAsConst(confirmJobs))
        job->disconnect(this);
    qDeleteAll(confirmJobs);
    confirmJobs.clear();
    confirmCells.clear();
    confirmState.clear();
    removeTimers.clear();
    orders.clear();
    byId.clear();
}

void CWServerTable::Attach(CSession* session)
{
    this->session = session;
    if (!session)
        return;
    sounds = session->Sounds();
    book = session->Book();
    clock = session->Clock();
}

void CWServerTable::SetUp()
{
    msgBox = new CMsgBox(this, CMsgBox::ForServerTable());
    MoveTitle(10, (TopBandHeight() - 18) / 2);
    TopBand()->setFixedHeight(80);

    table = new QTableWidget(0, ColumnCount, BottomBand());
    table->setObjectName(QStringLiteral("confirmTable"));
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
        const int shade = ++rowsAdded;
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
    if (!session)
        return;
    DropJob(orderId);
    auto* job = new CConfirmOrderJob(session->Line(), this);
    confirmJobs.insert(orderId, job);
    connect(job, &COrderActionJob::Accepted, this, &CWServerTable::ReplyFinishOrderOk);
    connect(job, &CJob::Failed, this,
            [this, orderId](const JobFailure& failure) { ErrorOrderOk(orderId, failure); });
    if (!job->Start(orderId)) {
        DropJob(orderId);
        MarkFailed(confirmCells.value(orderId), orderId, networkFailure);
    }
}

// A confirmation done with: its job goes once the signal that told of it is over.
void CWServerTable::DropJob(qlonglong id)
{
    if (CConfirmOrderJob* job = confirmJobs.take(id)) {
        job->disconnect(this);
        job->Abort();
        job->deleteLater();
    }
}

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

void CWServerTable::ReplyFinishOrderOk(const OrderAction& action)
{
    const qlonglong id = action.id;
    DropJob(id);
    qCInfo(lcOrders, "order %lld confirmed, status now %d", static_cast<long long>(id), action.status);
    QTableWidgetItem* cell = confirmCells.value(id);
    if (!cell || !table)
        return;
    confirmState.insert(id, Confirmed);
    // Served by this very confirmation: the staff member hears it. An order that had moved on
    // without it is only shown as done.
    const bool servedNow = !action.movedOn && action.status == StatusServed.first;
    const QString done = servedNow ? QStringLiteral("完成") : QStringLiteral("已完成");
    ShowDone(cell, done, action.status);
    if (servedNow && sounds)
        sounds->Play(QStringLiteral("audio/server.mp3"));
    if (COrder* order = FindOrder(id)) {
        // Applied only while the order is still paid: a newer status that reached the book while
        // the confirmation travelled stands, and the row shows it.
        if (book && book->ApplyAction(order, StatusPaid.first, action.status, "ToFinishOrder",
                                      action.platformTime) == COrderBook::Stale)
            ShowDone(cell, done, order->GetStatus());
        StartRemoveOrderItem(order, 5);
    }
    RefreshTitle();
}

// "status" 2 carries the platform's own words; any other refusal says what failed before them,
// and a lost or unreadable answer blames the line.
void CWServerTable::ErrorOrderOk(qlonglong orderId, const JobFailure& failure)
{
    DropJob(orderId);
    QString message = networkFailure;
    if (failure.kind == JobFailure::Refused)
        message =
            failure.status == 2 ? failure.message : QStringLiteral("失败：确认服务！\n") + failure.message;
    qCWarning(lcOrders, "confirming order %lld failed: %s", static_cast<long long>(orderId),
              qUtf8Printable(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    QTableWidgetItem* cell = confirmCells.value(orderId);
    if (!cell)
        return;
    // The answer was lost or refused, but the order has moved on meanwhile: nothing is left to retry.
    COrder* order = FindOrder(orderId);
    if (order && order->GetStatus() != StatusPaid.first)
        ShowMovedOn(order);
    else
        MarkFailed(cell, orderId, message);
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
