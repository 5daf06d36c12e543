#include "income/ui/cwincome.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
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
#include "income/incomejobs.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "session/csession.h"
#include "ui/msgbox.h"

namespace {

const char* const periodTitles[CWIncome::periodCount] = {"今 日", "七 日", "本 月", "所 有"};
const char* const periodWays[CWIncome::periodCount] = {"day", "week", "mon", "all"};

constexpr int cashPollSeconds = 5;
constexpr int networkBoxSeconds = 5;

const QString cashNetworkFailure = QStringLiteral("获取数据失败，请检查网络连接状况！\n谢谢！");
const QString ordersNetworkFailure = QStringLiteral("获取失败！请检查网络连接状况，\n谢谢！");
const QString noOrders = QStringLiteral("暂无订单\n要努力哟！");
const QString nothingToExport = QStringLiteral("本期暂无可导出的收入");

// Each row's entry (its index in the list held), so the rows can be read back in the order they are shown.
constexpr int orderRole = Qt::UserRole + 2;

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

CWIncome::CWIncome(CSession* session, QWidget* parent, Qt::WindowFlags f, int pollSecondMsecs)
    : CWidget(parent, f),
      user(session ? session->User() : nullptr),
      session(session),
      pollSecondMsecs(pollSecondMsecs > 0 ? pollSecondMsecs : 1000)
{
    Build();
}

CWIncome::CWIncome(QSize size, CSession* session, QWidget* parent, Qt::WindowFlags f, int pollSecondMsecs)
    : CWidget(size, parent, f),
      user(session ? session->User() : nullptr),
      session(session),
      pollSecondMsecs(pollSecondMsecs > 0 ? pollSecondMsecs : 1000)
{
    Build();
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
    balanceValue->setObjectName(QStringLiteral("lblYuErValue"));
    todayValue->setObjectName(QStringLiteral("lblTodayIncomeValue"));
    totalValue->setObjectName(QStringLiteral("lblAllIncomeValue"));
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

    if (session) {
        cashJob = new CCashJob(session->Line(), this);
        connect(cashJob, &CCashJob::Fetched, this, &CWIncome::ReplyFinishCashUpdate);
        connect(cashJob, &CJob::Failed, this, &CWIncome::CashUpdateFailed);
    }
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
    // Requests still in flight are abandoned without a result reaching a window that is going away.
    delete cashJob;
    qDeleteAll(listJobs.keys());
    listJobs.clear();

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
    for (const IncomeEntry& entry : entries) {
        // secsTo() is 0 for an invalid time, which would count an unreadable one as today's.
        if (!entry.ctime.isValid())
            continue;
        const qint64 seconds = start.secsTo(entry.ctime);
        if (seconds >= 0 && seconds <= 86400)
            sum += entry.addCash;
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
    if (!cashTimer) {
        cashTimer = new QTimer(this);
        cashTimer->setObjectName(QStringLiteral("cashPoll"));
    }
    disconnect(cashTimer, nullptr, nullptr, nullptr);
    connect(cashTimer, &QTimer::timeout, this, &CWIncome::HttpCashUpdate);
    cashTimer->setSingleShot(true);
    cashTimer->start(seconds * pollSecondMsecs);
}

void CWIncome::HttpCashUpdate()
{
    if (!user || !cashJob)
        return;
    // The poll re-arms from the answer; with no answer to wait for it must re-arm here or stop for good.
    if (!cashJob->Start())
        StartCashTimer(cashPollSeconds);
}

void CWIncome::ReplyFinishCashUpdate(const CashFigures& figures)
{
    if (user)
        user->SetBalance(figures.balance);
    totalIncome = figures.totalIncome;
    UpdateFigures();
    // A failure the poll reported earlier is over; any other box stays.
    if (!cashFailureText.isEmpty() && msgBox->MsgBoxLabel() && msgBox->MsgBoxLabel()->isVisible() &&
        msgBox->MsgBoxLabel()->text() == cashFailureText)
        HideMsgBox();
    cashFailureText.clear();
    StartCashTimer(cashPollSeconds);
}

void CWIncome::CashUpdateFailed(const JobFailure& failure)
{
    // An answer that is not the figures has no text of its own worth showing; a refusal has the
    // platform's words.
    ShowCashFailure(failure.kind == JobFailure::Refused ? failure.message : cashNetworkFailure);
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

// --- period list -------------------------------------------------------------------------------

void CWIncome::HttpAddShopCash(int index)
{
    if (!user || !session)
        return;
    auto* job = new CIncomeListJob(session->Line(), this);
    if (!job->Start(PeriodName())) {
        delete job;
        return;
    }
    listJobs.insert(job, index);
    connect(job, &CIncomeListJob::Fetched, this, &CWIncome::ReplyFinishAddShopCash);
    connect(job, &CJob::Failed, this, &CWIncome::AddShopCashFailed);
    ShowLoadingAnimation();
}

// The tab the answer at hand was asked for (0 for one this window did not ask for); its job is done.
int CWIncome::TakeListTab()
{
    auto* job = qobject_cast<CIncomeListJob*>(sender());
    if (!job)
        return 0;
    job->deleteLater();
    return listJobs.take(job);
}

void CWIncome::ReplyFinishAddShopCash(const IncomeEntries& list)
{
    // The user has moved on to another period: this answer is of no use any more. The held
    // entries stay those of the table on screen, so a double click still finds its order.
    const int tab = TakeListTab();
    if (!tabWidget || tab != tabWidget->currentIndex())
        return;
    HideLoadingAnimation();

    entries = list;
    ordersTab = tab;
    if (!entries.isEmpty()) {
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

void CWIncome::AddShopCashFailed(const JobFailure& failure)
{
    const int tab = TakeListTab();
    if (!tabWidget || tab != tabWidget->currentIndex())
        return;
    HideLoadingAnimation();
    // A refusal says so and leaves the earlier list alone: showing that list again under this
    // period's tab would pass it off as the answer. A line that failed may work again in a moment,
    // an answer that is not a list will not.
    switch (failure.kind) {
    case JobFailure::Line:
        ShowMsgBox(ordersNetworkFailure, networkBoxSeconds);
        break;
    case JobFailure::Malformed:
        ShowMsgBox(ordersNetworkFailure, 0);
        break;
    case JobFailure::Refused:
        ShowMsgBox(QStringLiteral("获取失败\n") + failure.message, 0);
        break;
    }
}

void CWIncome::ClearOrders()
{
    entries.clear();
}

const IncomeEntry* CWIncome::FindOrder(qint64 id) const
{
    for (const IncomeEntry& entry : entries)
        if (entry.orderId == id)
            return &entry;
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
    if (entries.isEmpty() || !tabWidget)
        return;
    QWidget* page = tabWidget->currentWidget();
    if (!page)
        return;

    DeleteTable();
    incomeTable = new QTableWidget(page);
    incomeTable->setObjectName(QStringLiteral("tblIncome"));
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
    for (int i = 0; i < entries.size(); ++i)
        AddRow(i);
    incomeTable->setSortingEnabled(true);
    incomeTable->show();
}

void CWIncome::AddRow(int index)
{
    if (!incomeTable || index < 0 || index >= entries.size())
        return;
    const IncomeEntry& entry = entries.at(index);
    // With sorting on, setting the sorted column's cell moves the new row away from row 0 and the
    // next cells would land in another order's row. The row is filled first, then sorted.
    const bool sorting = incomeTable->isSortingEnabled();
    incomeTable->setSortingEnabled(false);

    incomeTable->insertRow(0);
    const QColor shade = incomeTable->rowCount() % 2 == 0 ? QColor(255, 255, 255, 255) : lightColor;
    const QDateTime ctime = entry.ctime;
    QTableWidgetItem* cells[] = {
        new IncomeItem(ctime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                       ctime.isValid() ? double(ctime.toMSecsSinceEpoch()) : -1e300),
        new IncomeItem(QString::number(entry.orderId), double(entry.orderId)),
        new IncomeItem(QStringLiteral("+") + FormatMoney(entry.addCash), double(entry.addCash)),
    };
    cells[1]->setData(orderRole, index);
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
    const IncomeEntry* listed = FindOrder(id);
    if (!listed || !session)
        return;
    COrderBook* book = session->Book();
    COrder* order = book->Find(id);
    if (!order) {
        COrder copy;
        copy.SetId(listed->orderId);
        copy.SetAmount(listed->amount);
        copy.SetAddCash(listed->addCash);
        copy.SetCtime(listed->ctime);
        order = book->Adopt(copy);
    }
    if (order)
        emit SignalOpenOrderDetail(order);
}

void CWIncome::TableRowHover(int row, int column)
{
    if (!incomeTable)
        return;
    if (QTableWidgetItem* item = incomeTable->item(row, column))
        item->setData(Qt::BackgroundRole, QColor(0, 255, 0));
}

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
    chart->SetIncome(DailyIncome::Of(entries, PeriodName(), QDate::currentDate()));
    chart->show();
}

IncomeEntries CWIncome::RowsOnScreen() const
{
    IncomeEntries rows;
    if (!incomeTable || !HoldsCurrentPeriod())
        return rows;
    for (int row = 0; row < incomeTable->rowCount(); ++row)
        if (const QTableWidgetItem* item = incomeTable->item(row, 1))
            rows.append(entries.value(item->data(orderRole).toInt()));
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
    const IncomeEntries rows = RowsOnScreen();
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
