#pragma once

#include <QList>
#include <QPointer>
#include <QString>

#include "app/money.h"
#include "orders/actionjobs.h"
#include "orders/orderjobs.h"
#include "ui/cwidget.h"

class CMsgBox;
class COrder;
class CReceiptService;
struct PrintOutcome;
class COrderBook;
class CSession;
namespace Sound {
class Service;
}
class CWebLabel;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QScrollArea;

// The window in which a staff member serves one order: it shows what the order record holds, asks
// the platform for the full detail (written into the order through the order book, so every view
// sees it), finishes the service with the buyer's order password or replies to the buyer's review,
// and prints the receipt.
//
// The order belongs to the order book. The window never outlives its use of it: once the window
// is closing it lets go of the order and drops the request in flight.
class COrderWidget : public CWidget
{
    Q_OBJECT

public:
    COrderWidget(COrder* order, CSession* session, QWidget* parent = nullptr);
    ~COrderWidget() override;

    // The order shown; null once the window is closing. Its parts carry their member's name as
    // object name ("inputEdit", "actionButton", ...; in each item row "nameLabel", "pictureLabel").
    COrder* Order() const { return order; }

signals:
    void signalOperateMe(int state);

private slots:
    void ShowPrintWindow();
    void printPreview(QPrinter* printer);
    bool HttpOrderDetail();
    bool HttpFinishOrder();
    bool HttpReplayOrder();
    void ReplyFinishOrder(const OrderAction& action);
    void ReplyReplayOrder(const OrderAction& action);
    void ReplyOrderDetail(const OrderDetail& detail);
    void slotOrderDetailError(const JobFailure& failure);
    void slotFinishOrderError(const JobFailure& failure);
    void slotReplayError(const JobFailure& failure);
    void ShowLoadingAnimation();
    void ShowMsgBox(QString message, int second);
    void ShowMsgBox(QString message);
    void HideLoadingAnimation();
    void HideMsgBox();
    void SetStatusButton();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool InitWidgets();
    void FillOrderDetail();
    void ClearItemWidgets();
    void AddItemRow(int index, const QString& pics, const QString& name, Money price, int num);
    void ShowRetryButton();
    void ShowUnderBox(QPushButton* button);
    void PrintFinished(int ticket, const PrintOutcome& outcome);
    bool HoldsNoInput() const;
    void Submit();
    // Starts the finish or the reply: `start` posts it through the job made for it.
    template <class Job, class Start>
    bool SendAction(void (COrderWidget::*replySlot)(const OrderAction&),
                    void (COrderWidget::*errorSlot)(const JobFailure&), Start start);
    // A finish or reply that brought nothing: the action row returns to idle with the line's text or
    // the platform's refusal behind its prefix.
    void ActionFailed(const JobFailure& failure, const QString& buttonText, const QString& networkFailure,
                      const QString& refusalPrefix);
    void ActionDone(const OrderAction& action, const QString& message);
    void FollowStatus();
    void LetGoOfOrder();

    QString passwordHint;
    QString reviewHint;
    QLabel* takerLabel = nullptr;
    QLabel* telLabel = nullptr;
    QLabel* addressLabel = nullptr;
    QLabel* shopLabel = nullptr;
    QList<CWebLabel*> pictureLabels;
    QList<QLabel*> nameLabels;
    QList<QLabel*> priceLabels;
    QList<QLabel*> countLabels;
    QList<QWidget*> itemRows; // each row owns its picture, name, price and quantity labels
    QLabel* statusLabel = nullptr;
    QLabel* payTimeLabel = nullptr;
    QLabel* serviceTimeLabel = nullptr;
    QLabel* amountLabel = nullptr;
    QLabel* savingLabel = nullptr;
    QLabel* takeoutLabel = nullptr;
    QLabel* messageLabel = nullptr;
    QLabel* reviewLabel = nullptr;
    QPushButton* actionButton = nullptr;
    QPushButton* printButton = nullptr;
    QLineEdit* inputEdit = nullptr;
    QScrollArea* itemsArea = nullptr;
    QWidget* itemsContainer = nullptr;
    COrderDetailJob* detailJob = nullptr;
    COrderActionJob* actionJob = nullptr; // the finish or reply sent last
    QPushButton* retryButton = nullptr;
    QPushButton* reprintButton = nullptr;
    QPointer<CSession> session;
    QPointer<CReceiptService> receipts; // made on the first print
    QList<int> printTickets;            // this window's receipts on their way
    COrderBook* book = nullptr;
    COrder* order = nullptr;
    CMsgBox* msgBox = nullptr; // the message box and loading indicator
    Sound::Service* sounds = nullptr;
    bool settingStatus = false; // the window itself is changing its order's status
    quint64 detailAsked = 0;    // the order's revision in the book when the detail was asked for
    int actionFrom = -1;        // the status a finish or reply in flight started from
};
