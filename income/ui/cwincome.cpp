#include "income/ui/cwincome.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include "app/constants.h"
#include "income/dailyincome.h"
#include "income/ui/incomechart.h"
#include "income/incomecsv.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "session/csession.h"
#include "ui/msgbox.h"

namespace {

const char* const periodTitles[CWIncome::periodCount] = {"今 日", "七 日", "本 月", "所 有"};
const char* const periodWays[CWIncome::periodCount] = {"day", "week", "mon", "all"};

constexpr int cashPollSeconds = 5;
constexpr int networkBoxSeconds = 5;

int pollSecondMsecs = 1000;

const QString cashNetworkFailure = QStringLiteral("获取数据失败，请检查网络连接状况！\n谢谢！");
const QString ordersNetworkFailure = QStringLiteral("获取失败！请检查网络连接状况，\n谢谢！");
const QString noOrders = QStringLiteral("暂无订单\n要努力哟！");
const QString nothingToExport = QStringLiteral("本期暂无可导出的收入");

// Each row's order, so the rows can be read back in the order they are shown.
constexpr int orderRole = Qt::UserRole + 2;

// A JSON null arrives as a variant holding nullptr, which is not "present" for the reply rules.
bool present(const QVariantMap& map, const QString& key)
{
    const auto found = map.constFind(key);
    return found != map.constEnd() && !found->isNull() && found->userType() != QMetaType::Nullptr;
}

// Cells sort by their value, not their text: "+9.50" comes before "+10.00".
class IncomeItem : public QTableWidgetItem
{
public:
    IncomeItem(const QString& text, double sortKey) : QTableWidgetItem(text) { setData(sortRole, sortKey); }

    bool operator<(const QTableWidgetItem& other) const override
    {
        return data(sortRole).toDouble() < other.data(sortRole).toDouble();
    }

private:
    static constexpr int sortRole = Qt::UserRole + 1;
};

} // namespace

CWIncome::CWIncome(CSession* session, QWidget* parent, Qt::WindowFlags f)
    : CWidget(parent, f),
      user(session ? session->User() : nullptr),
      session(session),
      manager(session ? session->Network() : nullptr)
{
    Build();
}

CWIncome::CWIncome(QSize size, CSession* session, QWidget* parent, Qt::WindowFlags f)
    : CWidget(size, parent, f),
      user(session ? session->User() : nullptr),
      session(session),
      manager(session ? session->Network() : nullptr)
{
    Build();
}

void CWIncome::SetPollSecond(int msecs)
{
    pollSecondMsecs = msecs > 0 ? msecs : 1000;
}

int CWIncome::PollSecond()
{
    return pollSecondMsecs;
}

void CWIncome::Build()
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose);
    msgBox = new CMsgBox(this, CMsgBox::ForIncome());

    QWidget* top = TopBand();
    balanceCaption = new QLabel(QStringLiteral("余额（元）："), top);
    balanceValue = new QLabel(QStringLiteral("0"), top);
    todayCaption = new QLabel(QStringLiteral("今日收益（元）"), top);
    todayValue = new QLabel(QStringLiteral("0"), top);
    totalCaption = new QLabel(QStringLiteral("累计收益（元）："), top);
    totalValue = new QLabel(QStringLiteral("0"), top);

    tabWidget = new QTabWidget(BottomBand());
    tabWidget->setMouseTracking(true);
    tabWidget->tabBar()->setMouseTracking(true);
    for (QWidget*& page : periodPages) {
        page = new QWidget;
        Watch(page);
    }
    for (QLabel* label : {balanceCaption, balanceValue, todayCaption, todayValue, totalCaption, totalValue})
        Watch(label);

    balanceCaption->setObjectName(QStringLiteral("lbl_YuEr"));
    todayCaption->setObjectName(QStringLiteral("lbl_TodayIncome"));
    totalCaption->setObjectName(QStringLiteral("lbl_AllIncome"));
    tabWidget->setObjectName(QStringLiteral("tabwgMainContent"));
    todayValue->setStyleSheet(QStringLiteral("color: #fff;font-size: 58px;"));
    balanceValue->setStyleSheet(QStringLiteral("color: #fff;font-size: 20px;"));
    totalValue->setStyleSheet(QStringLiteral("color: #fff;font-size: 20px;margin: 0 20px 0 0;"));
    for (QLabel* caption : {balanceCaption, todayCaption, totalCaption})
        caption->setStyleSheet(QStringLiteral("color: #fff;"));

    UpdateFigures();

    for (int i = 0; i < periodCount; ++i)
        tabWidget->addTab(periodPages[i], QString::fromUtf8(periodTitles[i]));
    tabWidget->setStyleSheet(QStringLiteral("QTabWidget{background: #f00;}QTabBar::tab{font-size: 14px;}"));
    periodPages[0]->setStyleSheet(QStringLiteral("border: none;background: transparent;"));
    for (int i = 1; i < periodCount; ++i)
        periodPages[i]->setStyleSheet(periodPages[0]->styleSheet());

    connect(tabWidget, &QTabWidget::currentChanged, this, &CWIncome::HttpAddShopCash);

    viewButton = new QPushButton(QStringLiteral("图表"), top);
    viewButton->setObjectName(QStringLiteral("pbtnIncomeView"));
    viewButton->setToolTip(QStringLiteral("按天查看本期收入"));
    viewButton->setCheckable(true);
    exportButton = new QPushButton(QStringLiteral("导出"), top);
    exportButton->setObjectName(QStringLiteral("pbtnIncomeExport"));
    exportButton->setToolTip(QStringLiteral("把本期收入流水保存为 CSV 文件"));
    for (QPushButton* button : {viewButton, exportButton}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QStringLiteral(
            "QPushButton{color: #fff;font-size: 12px;background: transparent;"
            "border: 1px solid rgba(255, 255, 255, 0.7);border-radius: 3px;}"
            "QPushButton:hover{background: rgba(255, 255, 255, 0.2);}"
            "QPushButton:checked{background: #fff;color: #f50;}"));
        Watch(button);
    }
    connect(viewButton, &QPushButton::toggled, this, &CWIncome::ShowChart);
    connect(exportButton, &QPushButton::clicked, this, &CWIncome::ExportCsv);
    PlaceHeadButtons();

    HttpCashUpdate();
    HttpAddShopCash(tabWidget->currentIndex());
}

void CWIncome::Watch(QWidget* widget)
{
    // Without tracking, a child never sees a move with no button held, and the frame would keep a
    // resize cursor after the pointer left the margin over it.
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

CWIncome::~CWIncome()
{
    // Removing the pages below changes the current tab; that must not send a request any more.
    if (tabWidget)
        disconnect(tabWidget, nullptr, this, nullptr);
    if (cashTimer) {
        cashTimer->stop();
        disconnect(cashTimer, nullptr, nullptr, nullptr);
        delete cashTimer;
    }
    // Requests still in flight are abandoned without a reply slot running on a window that is
    // going away.
    Request::Drop(cashReply, this);
    for (auto it = replyTabs.cbegin(); it != replyTabs.cend(); ++it)
        Request::Drop(it.key(), this);
    cashReply = nullptr;
    replyTabs.clear();

    if (msgBox) {
        delete msgBox->MsgBoxTimer();
        delete msgBox->MsgBoxLabel();
        delete msgBox->LoadingLabel();
        delete msgBox;
    }
    delete balanceCaption;
    delete balanceValue;
    delete todayCaption;
    delete todayValue;
    delete totalCaption;
    delete totalValue;
    for (QPushButton* button : {viewButton, exportButton}) {
        disconnect(button, nullptr, this, nullptr);
        delete button;
    }
    DeleteTable();
    delete chart;
    for (QWidget* page : periodPages)
        delete page;
    delete tabWidget;
    ClearOrders();
}

QString CWIncome::PeriodName() const
{
    const int index = tabWidget ? tabWidget->currentIndex() : 0;
    if (index < 1 || index >= periodCount)
        return QString::fromLatin1(periodWays[0]);
    return QString::fromLatin1(periodWays[index]);
}

// --- figures -----------------------------------------------------------------------------------

Money CWIncome::TodayIncome() const
{
    QDateTime start = QDateTime::currentDateTime();
    start.setTime(QTime(0, 0));
    Money sum = 0;
    for (const COrder* order : orders) {
        // secsTo() is 0 for an invalid time, which would count an unreadable one as today's.
        if (!order->GetCtime().isValid())
            continue;
        const qint64 seconds = start.secsTo(order->GetCtime());
        if (seconds >= 0 && seconds <= 86400)
            sum += order->GetAddCash();
    }
    return sum;
}

void CWIncome::UpdateFigures()
{
    if (!user || !balanceCaption || !balanceValue || !todayCaption || !todayValue || !totalCaption ||
        !totalValue)
        return;
    const int visibleWidth = width();
    const int bandHeight = TopBandHeight();
    auto textWidth = [](const QLabel* label) {
        return QFontMetrics(label->font()).horizontalAdvance(label->text());
    };

    // Each label is sized to its new text before it is placed by that size.
    todayValue->setText(FormatMoney(TodayIncome()));
    balanceValue->setText(FormatMoney(user->GetBalance() > 0 ? user->GetBalance() : 0));
    totalValue->setText(FormatMoney(totalIncome));
    for (QLabel* label : {balanceCaption, balanceValue, todayCaption, todayValue, totalCaption, totalValue})
        label->adjustSize();

    todayValue->move((visibleWidth - todayValue->width()) / 2,
                     (bandHeight - todayValue->height()) / 2 - todayCaption->height());
    todayCaption->move((visibleWidth - todayCaption->width()) / 2,
                       int(todayCaption->height() * 1.4 + (bandHeight - todayCaption->height()) / 2));

    balanceCaption->move(20, bandHeight - todayCaption->height() - 5);
    balanceValue->move(balanceCaption->x() + textWidth(balanceCaption) + 7,
                       balanceCaption->y() + balanceCaption->height() - balanceValue->height() + 3);

    totalValue->move(visibleWidth - 20 - textWidth(totalValue) - 5, balanceValue->y());
    totalCaption->move(totalValue->x() - textWidth(totalCaption), balanceCaption->y());

    for (QLabel* label : {balanceCaption, balanceValue, todayCaption, todayValue, totalCaption, totalValue})
        label->hide();
    for (QLabel* label : {balanceCaption, balanceValue, todayCaption, todayValue, totalCaption, totalValue})
        label->show();
}

// --- balance poll ------------------------------------------------------------------------------

void CWIncome::StartCashTimer(int seconds)
{
    if (!cashTimer)
        cashTimer = new QTimer(this);
    disconnect(cashTimer, nullptr, nullptr, nullptr);
    connect(cashTimer, &QTimer::timeout, this, &CWIncome::HttpCashUpdate);
    cashTimer->setSingleShot(true);
    cashTimer->start(seconds * pollSecondMsecs);
}

void CWIncome::HttpCashUpdate()
{
    if (!user)
        return;
    const QByteArray body = Request::EncodeBody(Request::SessionFields(user));
    cashReply = Request::Send(manager, Api::CashUpdate(), body, this, &CWIncome::ReplyFinishCashUpdate,
                              &CWIncome::ErrorCashUpdate);
    // The poll re-arms from the reply; with no reply to wait for it must re-arm here or stop for good.
    if (!cashReply)
        StartCashTimer(cashPollSeconds);
}

void CWIncome::ReplyFinishCashUpdate(QNetworkReply* reply)
{
    if (!reply)
        return;
    if (reply == cashReply)
        cashReply = nullptr;

    const Request::Answer answer = Request::Read(reply);
    if (answer.networkError || !answer.isObject) {
        // A body that is not a JSON object has no text of its own worth showing.
        ShowCashFailure(cashNetworkFailure);
    } else if (answer.status != 1) {
        const QVariant info = answer.Info();
        ShowCashFailure(info.isNull() || info.userType() == QMetaType::Nullptr ? cashNetworkFailure
                                                                               : info.toString());
    } else {
        const QVariantMap info = answer.InfoMap();
        if (present(info, QStringLiteral("yuer")) && present(info, QStringLiteral("allcash"))) {
            if (user)
                user->SetBalance(info.value(QStringLiteral("yuer")).toDouble());
            totalIncome = info.value(QStringLiteral("allcash")).toDouble();
            UpdateFigures();
            // A failure the poll reported earlier is over; any other box stays.
            if (!cashFailureText.isEmpty() && msgBox->MsgBoxLabel() && msgBox->MsgBoxLabel()->isVisible() &&
                msgBox->MsgBoxLabel()->text() == cashFailureText)
                HideMsgBox();
            cashFailureText.clear();
        }
    }

    reply->deleteLater();
    StartCashTimer(cashPollSeconds);
}

void CWIncome::ShowCashFailure(const QString& message)
{
    cashFailureText = message;
    // A period list still on its way keeps its loading indicator; the failure shows once the
    // list has arrived.
    if (msgBox->LoadingLabel() && msgBox->LoadingLabel()->isVisible())
        return;
    ShowMsgBox(message, 0);
}

void CWIncome::ErrorCashUpdate(QNetworkReply::NetworkError) {}

// --- period list -------------------------------------------------------------------------------

void CWIncome::HttpAddShopCash(int index)
{
    if (!user)
        return;
    Request::Fields fields = Request::SessionFields(user);
    fields.append({QStringLiteral("way"), PeriodName()});
    QNetworkReply* reply = Request::Send(manager, Api::AddShopCash(), Request::EncodeBody(fields), this,
                                         &CWIncome::ReplyFinishAddShopCash, &CWIncome::ErrorAddShopCash);
    if (!reply)
        return;
    replyTabs.insert(reply, index);
    ShowLoadingAnimation();
}

void CWIncome::ReplyFinishAddShopCash(QNetworkReply* reply)
{
    if (!reply)
        return;
    const int tab = replyTabs.take(reply); // 0 for a reply this window did not send
    const Request::Answer answer = Request::Read(reply);
    reply->deleteLater();

    // The user has moved on to another period: this answer is of no use any more. The held
    // orders stay those of the table on screen, so a double click still finds its order.
    if (!tabWidget || tab != tabWidget->currentIndex())
        return;

    HideLoadingAnimation();
    if (answer.networkError) {
        ShowMsgBox(ordersNetworkFailure, networkBoxSeconds);
        return;
    }
    if (!answer.isObject) {
        ShowMsgBox(ordersNetworkFailure, 0);
        return;
    }
    // A refusal says so and leaves the earlier list alone: showing that list again under this
    // period's tab would pass it off as the answer.
    if (answer.status != 1) {
        ShowMsgBox(QStringLiteral("获取失败\n") + answer.InfoText(), 0);
        return;
    }

    ClearOrders();
    ordersTab = tab;
    const QVariantList list = answer.InfoList();
    for (const QVariant& element : list) {
        if (element.userType() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = element.toMap();
        if (!present(entry, QStringLiteral("order_id")) || !present(entry, QStringLiteral("amount")) ||
            !present(entry, QStringLiteral("addcash")) || !present(entry, QStringLiteral("ctime")))
            continue;
        auto* order = new COrder;
        order->SetId(entry.value(QStringLiteral("order_id")).toLongLong());
        order->SetAmount(entry.value(QStringLiteral("amount")).toDouble());
        order->SetAddCash(entry.value(QStringLiteral("addcash")).toDouble());
        order->SetCtime(entry.value(QStringLiteral("ctime")).toDateTime());
        orders.append(order);
    }

    if (!orders.isEmpty()) {
        ShowTable();
        if (!cashFailureText.isEmpty())
            ShowMsgBox(cashFailureText, 0);
    } else {
        // The rows of an older table would name orders that are gone now.
        DeleteTable();
        ShowMsgBox(noOrders, 0);
    }
    ApplyView();
    // Today's figure is taken from the list, so it follows the list at once, not at the next poll.
    UpdateFigures();
}

void CWIncome::ErrorAddShopCash(QNetworkReply::NetworkError) {}

void CWIncome::ClearOrders()
{
    qDeleteAll(orders);
    orders.clear();
}

COrder* CWIncome::FindOrder(qint64 id) const
{
    for (COrder* order : orders)
        if (order->GetId() == id)
            return order;
    return nullptr;
}

// --- table -------------------------------------------------------------------------------------

void CWIncome::DeleteTable()
{
    if (!incomeTable)
        return;
    disconnect(incomeTable, nullptr, this, nullptr);
    delete incomeTable;
    incomeTable = nullptr;
}

void CWIncome::ShowTable()
{
    if (orders.isEmpty() || !tabWidget)
        return;
    QWidget* page = tabWidget->currentWidget();
    if (!page)
        return;

    DeleteTable();
    incomeTable = new QTableWidget(page);
    QHeaderView* header = incomeTable->horizontalHeader();
    incomeTable->setMouseTracking(true);
    incomeTable->installEventFilter(this);
    header->setMouseTracking(true);
    header->installEventFilter(this);

    incomeTable->setColumnCount(3);
    incomeTable->setHorizontalHeaderLabels(
        {QStringLiteral("时间"), QStringLiteral("订单号"), QStringLiteral("收益金额（元）")});
    incomeTable->resize(BottomBand()->width(), BottomBandHeight() - tabWidget->tabBar()->height());
    incomeTable->move(0, 0);

    header->setSectionResizeMode(QHeaderView::Stretch);
    incomeTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Adding the columns pushed the header's sort indicator past the last one; newest first.
    header->setSortIndicator(0, Qt::DescendingOrder);
    incomeTable->setSortingEnabled(true);
    incomeTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    incomeTable->setShowGrid(false);
    incomeTable->setFocusPolicy(Qt::NoFocus);
    incomeTable->setFrameShape(QFrame::NoFrame);
    header->setFixedHeight(32);
    incomeTable->verticalHeader()->hide();

    incomeTable->setStyleSheet(
        QStringLiteral("selection-background-color: rgba( 255, 85, 0, 0.5 );border: none;"
                       "border-bottom-left-radius: 3px;border-bottom-right-radius: 3px;"));
    header->setStyleSheet(QStringLiteral(
        "QHeaderView::section{background: transparent;border: none; }QHeaderView::section:checked{}"));

    connect(incomeTable, &QTableWidget::itemDoubleClicked, this, &CWIncome::OpenOrderDetail);

    // One sort once every row is in, rather than one per row.
    incomeTable->setSortingEnabled(false);
    for (COrder* order : qAsConst(orders))
        AddRow(order);
    incomeTable->setSortingEnabled(true);
    incomeTable->show();
}

void CWIncome::AddRow(COrder* order)
{
    if (!incomeTable || !order)
        return;
    // With sorting on, setting the sorted column's cell moves the new row away from row 0 and the
    // next cells would land in another order's row. The row is filled first, then sorted.
    const bool sorting = incomeTable->isSortingEnabled();
    incomeTable->setSortingEnabled(false);

    incomeTable->insertRow(0);
    const QColor shade = incomeTable->rowCount() % 2 == 0 ? QColor(255, 255, 255, 255) : lightColor;
    const QDateTime ctime = order->GetCtime();
    QTableWidgetItem* cells[] = {
        new IncomeItem(ctime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                       ctime.isValid() ? double(ctime.toMSecsSinceEpoch()) : -1e300),
        new IncomeItem(QString::number(order->GetId()), double(order->GetId())),
        new IncomeItem(QStringLiteral("+") + FormatMoney(order->GetAddCash()), double(order->GetAddCash())),
    };
    cells[1]->setData(orderRole, QVariant::fromValue(quintptr(order)));
    for (int column = 0; column < 3; ++column) {
        cells[column]->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        cells[column]->setBackground(shade);
        incomeTable->setItem(0, column, cells[column]);
    }

    incomeTable->setSortingEnabled(sorting);
}

void CWIncome::OpenOrderDetail(QTableWidgetItem* pItem)
{
    if (!pItem || !incomeTable)
        return;
    const int row = pItem->tableWidget() ? pItem->row() : -1;
    const QTableWidgetItem* idItem = incomeTable->item(row, 1);
    if (!idItem)
        return;
    bool ok = false;
    const qint64 id = idItem->text().toLongLong(&ok);
    if (!ok)
        return;
    COrder* listed = FindOrder(id);
    if (!listed)
        return;
    if (!session) {
        emit SignalOpenOrderDetail(listed);
        return;
    }
    COrderBook* book = session->Book();
    COrder* known = book->Find(id);
    if (COrder* order = known ? known : book->Adopt(*listed))
        emit SignalOpenOrderDetail(order);
}

void CWIncome::TableRowHover(int row, int column)
{
    if (!incomeTable)
        return;
    if (QTableWidgetItem* item = incomeTable->item(row, column))
        item->setData(Qt::BackgroundRole, QColor(0, 255, 0));
}

void CWIncome::EmitFinishReply() {}

// --- chart and export ----------------------------------------------------------------------------

bool CWIncome::HoldsCurrentPeriod() const
{
    return tabWidget && ordersTab == tabWidget->currentIndex();
}

void CWIncome::PlaceHeadButtons()
{
    if (!viewButton || !exportButton || !minButton)
        return;
    const QSize size(48, 22);
    exportButton->resize(size);
    viewButton->resize(size);
    exportButton->move(minButton->x() - 10 - size.width(), 4);
    viewButton->move(exportButton->x() - 6 - size.width(), 4);
}

void CWIncome::ShowChart(bool on)
{
    if (viewButton) {
        const QSignalBlocker quiet(viewButton);
        viewButton->setChecked(on);
        viewButton->setText(on ? QStringLiteral("列表") : QStringLiteral("图表"));
    }
    ApplyView();
}

void CWIncome::ApplyView()
{
    const bool chartOn = viewButton && viewButton->isChecked();
    if (incomeTable)
        incomeTable->setVisible(!chartOn);
    // The chart shows the list the window holds, and only under the tab that list belongs to:
    // while another period loads there is nothing to draw yet.
    if (!chartOn || !HoldsCurrentPeriod()) {
        if (chart)
            chart->hide();
        return;
    }
    QWidget* page = tabWidget->currentWidget();
    if (!page)
        return;
    if (!chart)
        chart = new IncomeChart(page);
    else if (chart->parentWidget() != page)
        chart->setParent(page);
    chart->setGeometry(0, 0, BottomBand()->width(), BottomBandHeight() - tabWidget->tabBar()->height());
    chart->SetIncome(DailyIncome::Of(orders, PeriodName(), QDate::currentDate()));
    chart->show();
}

QList<const COrder*> CWIncome::RowsOnScreen() const
{
    QList<const COrder*> rows;
    if (!incomeTable || !HoldsCurrentPeriod())
        return rows;
    for (int row = 0; row < incomeTable->rowCount(); ++row)
        if (const QTableWidgetItem* item = incomeTable->item(row, 1))
            if (const auto* order = reinterpret_cast<const COrder*>(item->data(orderRole).value<quintptr>()))
                rows.append(order);
    return rows;
}

void CWIncome::ExportCsv()
{
    if (RowsOnScreen().isEmpty()) {
        ShowMsgBox(nothingToExport, networkBoxSeconds);
        return;
    }
    QString period = tabWidget->tabText(tabWidget->currentIndex());
    period.remove(QLatin1Char(' '));
    const QString name = QStringLiteral("收入流水-%1-%2.csv")
                             .arg(period, QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    const QDir folder(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出收入流水"), folder.filePath(name),
                                                      QStringLiteral("CSV 文件 (*.csv)"));
    if (!path.isEmpty())
        SaveCsv(path);
}

bool CWIncome::SaveCsv(const QString& path)
{
    const QList<const COrder*> rows = RowsOnScreen();
    if (rows.isEmpty()) {
        ShowMsgBox(nothingToExport, networkBoxSeconds);
        return false;
    }
    QString error;
    if (!IncomeCsv::Save(path, IncomeCsv::Write(rows), &error)) {
        // The failure stays until it is read: the timer of an earlier box must not take it down.
        HideMsgBox();
        ShowMsgBox(QStringLiteral("导出失败\n") + error, 0);
        return false;
    }
    // The box is narrow: the count, not the path the user has just chosen.
    ShowMsgBox(QStringLiteral("导出成功\n共 %1 条").arg(rows.size()));
    return true;
}

// --- message box and loading indicator -----------------------------------------------------------

void CWIncome::ShowLoadingAnimation()
{
    msgBox->ShowLoadingAnimation();
}

void CWIncome::ShowMsgBox(QString message, int second)
{
    msgBox->ShowMsgBox(message, second);
}

void CWIncome::ShowMsgBox(QString message)
{
    msgBox->ShowMsgBox(message);
}

void CWIncome::HideLoadingAnimation()
{
    msgBox->HideLoadingAnimation();
}

void CWIncome::HideMsgBox()
{
    msgBox->HideMsgBox();
}

// --- events ------------------------------------------------------------------------------------

bool CWIncome::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        CWidget::mouseMoveEvent(static_cast<QMouseEvent*>(event));
    return CWidget::eventFilter(watched, event);
}

void CWIncome::enterEvent(QEvent*)
{
    setCursor(Qt::ArrowCursor);
}

void CWIncome::resizeEvent(QResizeEvent* event)
{
    CWidget::resizeEvent(event);
    if (tabWidget) {
        tabWidget->resize(width(), BottomBandHeight());
        // The tabs share the visible width. A bar wider than the window (five quarters of it, say)
        // would push "所 有" past the right edge, where no click can reach it.
        tabWidget->tabBar()->setFixedWidth(width());
        if (incomeTable)
            incomeTable->resize(BottomBand()->width(), BottomBandHeight() - tabWidget->tabBar()->height());
        if (chart)
            chart->resize(BottomBand()->width(), BottomBandHeight() - tabWidget->tabBar()->height());
    }
    PlaceHeadButtons();
    if (msgBox)
        msgBox->Reposition();
    UpdateFigures();
}
