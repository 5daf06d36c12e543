#pragma once

#include <QHash>
#include <QString>

#include "app/money.h"
#include "income/incomeentry.h"
#include "ui/cwidget.h"

class CCashJob;
class CIncomeListJob;
class CMsgBox;
class COrder;
class IncomeChart;
class QPushButton;
class CSession;
class CUser;
class QLabel;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;
class QTimer;
struct CashFigures;
struct JobFailure;

// The "收入流水" window: the shop's balance, today's and accumulated income in the top band,
// polled from "CashUpdate" every 5 seconds for as long as the window lives, and below, one tab
// per period with the orders that earned money in it ("AddShopCash", fetched on every tab change).
//
// The window holds the entries of its list, as the period's answer gives them. An order opened
// from the list is the session's own record of it (SignalOpenOrderDetail), made from the list's
// entry when the order book does not know the order yet.
//
// `pollSecondMsecs` is the length of one second of the balance poll: 1000 in the program; tests
// shorten it so that several polls pass in well under a second.
class CWIncome : public CWidget
{
    Q_OBJECT
public:
    explicit CWIncome(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags(),
                      int pollSecondMsecs = 1000);
    CWIncome(QSize size, CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags(),
             int pollSecondMsecs = 1000);
    ~CWIncome() override;

    static const int periodCount = 4;

    QString PeriodName() const; // "way=" value of the current tab
    void UpdateFigures();
    Money TodayIncome() const;
    void ShowTable();
    void AddRow(int entry);
    const IncomeEntry* FindOrder(qint64 id) const;
    void ClearOrders();
    void StartCashTimer(int seconds);

    // The held orders as the list shows them, top to bottom: what "导出" writes.
    IncomeEntries RowsOnScreen() const;
    // Writes the list on screen to that file as CSV; a failure says so in the message box.
    bool SaveCsv(const QString& path);

signals:
    void SignalOpenOrderDetail(COrder* pOrder);

public slots:
    void TableRowHover(int row, int column);
    void ShowLoadingAnimation();
    void ShowMsgBox(QString message, int second);
    void ShowMsgBox(QString message);
    void HideLoadingAnimation();
    void HideMsgBox();
    void HttpAddShopCash(int index);
    void ReplyFinishAddShopCash(const IncomeEntries& entries);
    void AddShopCashFailed(const JobFailure& failure);
    void HttpCashUpdate();
    void ReplyFinishCashUpdate(const CashFigures& figures);
    void CashUpdateFailed(const JobFailure& failure);
    void OpenOrderDetail(QTableWidgetItem* pItem);

    // The head's two buttons: the list or the chart of the period, and the list saved as CSV.
    void ShowChart(bool on);
    void ExportCsv();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void enterEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Build();
    void Watch(QWidget* widget);
    void ShowCashFailure(const QString& message);
    void DeleteTable();
    void ApplyView();
    void PlaceHeadButtons();
    bool HoldsCurrentPeriod() const;
    int TakeListTab();

    CUser* user = nullptr;
    CSession* session = nullptr;
    const int pollSecondMsecs;
    CCashJob* cashJob = nullptr;
    // The period lists on their way, each with the tab it was asked for: a fast user can have
    // several of them running at once.
    QHash<CIncomeListJob*, int> listJobs;
    CMsgBox* msgBox = nullptr;
    QTimer* cashTimer = nullptr;
    IncomeEntries entries;
    Money totalIncome = 0;
    // The text of a box the balance poll put up, taken down again once the poll succeeds.
    QString cashFailureText;
    QLabel* balanceCaption = nullptr;
    QLabel* balanceValue = nullptr;
    QLabel* todayCaption = nullptr;
    QLabel* todayValue = nullptr;
    QLabel* totalCaption = nullptr;
    QLabel* totalValue = nullptr;
    QTabWidget* tabWidget = nullptr;
    QWidget* periodPages[periodCount] = {};
    QTableWidget* incomeTable = nullptr;
    // The tab whose period `entries` holds; -1 before the first list.
    int ordersTab = -1;
    QPushButton* viewButton = nullptr;
    QPushButton* exportButton = nullptr;
    IncomeChart* chart = nullptr;
};
