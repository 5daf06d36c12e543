#pragma once

#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QString>

#include "app/money.h"
#include "ui/cwidget.h"

class CMsgBox;
class COrder;
class IncomeChart;
class QPushButton;
class CSession;
class CUser;
class QLabel;
class QNetworkAccessManager;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

// The "收入流水" window: the shop's balance, today's and accumulated income in the top band,
// polled from "CashUpdate" every 5 seconds for as long as the window lives, and below, one tab
// per period with the orders that earned money in it ("AddShopCash", fetched on every tab change).
//
// The window owns the orders of its list, as the period's answer describes them. An order opened
// from the list is the session's own record of it (SignalOpenOrderDetail), made from the list's
// when the order book does not know the order yet.
class CWIncome : public CWidget
{
    Q_OBJECT
public:
    explicit CWIncome(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    CWIncome(QSize size, CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWIncome() override;

    static const int periodCount = 4;

    QString PeriodName() const; // "way=" value of the current tab
    void UpdateFigures();
    Money TodayIncome() const;
    void ShowTable();
    void AddRow(COrder* order);
    COrder* FindOrder(qint64 id) const;
    void ClearOrders();
    void StartCashTimer(int seconds);

    // Length of one second of the balance poll, in milliseconds: 1000 in the program; tests
    // shorten it so that several polls pass in well under a second.
    static void SetPollSecond(int msecs);
    static int PollSecond();

    // For the window's tests and demo.
    QLabel* BalanceValue() const { return balanceValue; }
    QLabel* TodayValue() const { return todayValue; }
    QLabel* TotalValue() const { return totalValue; }
    QLabel* BalanceCaption() const { return balanceCaption; }
    QLabel* TodayCaption() const { return todayCaption; }
    QLabel* TotalCaption() const { return totalCaption; }
    QTabWidget* TabWidget() const { return tabWidget; }
    QTableWidget* IncomeTable() const { return incomeTable; }
    const QList<COrder*>& Orders() const { return orders; }
    Money TotalIncome() const { return totalIncome; }
    CMsgBox* MsgBox() const { return msgBox; }
    QTimer* CashTimer() const { return cashTimer; }
    QPushButton* ViewButton() const { return viewButton; }
    QPushButton* ExportButton() const { return exportButton; }
    IncomeChart* Chart() const { return chart; }

    // The held orders as the list shows them, top to bottom: what "导出" writes.
    QList<const COrder*> RowsOnScreen() const;
    // Writes the list on screen to that file as CSV; a failure says so in the message box.
    bool SaveCsv(const QString& path);

signals:
    void SignalOpenOrderDetail(COrder* pOrder);

public slots:
    void EmitFinishReply();
    void TableRowHover(int row, int column);
    void ShowLoadingAnimation();
    void ShowMsgBox(QString message, int second);
    void ShowMsgBox(QString message);
    void HideLoadingAnimation();
    void HideMsgBox();
    void HttpAddShopCash(int index);
    void ReplyFinishAddShopCash(QNetworkReply* reply);
    void ErrorAddShopCash(QNetworkReply::NetworkError);
    void HttpCashUpdate();
    void ReplyFinishCashUpdate(QNetworkReply* reply);
    void ErrorCashUpdate(QNetworkReply::NetworkError);
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

    CUser* user = nullptr;
    CSession* session = nullptr;
    QNetworkAccessManager* manager = nullptr;
    QNetworkReply* cashReply = nullptr;
    QMap<QNetworkReply*, int> replyTabs;
    CMsgBox* msgBox = nullptr;
    QTimer* cashTimer = nullptr;
    QList<COrder*> orders;
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
    // The tab whose period `orders` holds; -1 before the first list.
    int ordersTab = -1;
    QPushButton* viewButton = nullptr;
    QPushButton* exportButton = nullptr;
    IncomeChart* chart = nullptr;
};
