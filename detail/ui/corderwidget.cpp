#include "detail/ui/corderwidget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <utility>

#include "app/constants.h"
#include "app/log.h"
#include "app/sound.h"
#include "detail/ui/receipt.h"
#include "detail/ui/receiptprinter.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "session/csession.h"
#include "ui/cweblabel.h"
#include "ui/msgbox.h"

namespace {

const int topBandHeight = 80;
const int heightWithoutItems = 400;
const int heightWithItems = 595;
const int itemsAreaHeight = 180;
const int rowHeight = 80;
const int lineGap = 30;

const char* const fieldStyle =
    "QLineEdit{ color: #333;border: 1px solid rgba(255, 85, 0, 0.5);}border-right: none; "
    "QLineEdit:hover{border: 1px solid rgba(255, 85, 0, 1); }";
const char* const buttonStyle =
    "QPushButton{background: #f50; color: #fff;border: 1px solid rgba(255, 85, 0, 0.5);border-left: "
    "none;font-size: 14px;}QPushButton:hover{background: rgba(255, 85, 0, 0.8);}";
const char* const busyStyle =
    "QPushButton{background: #ccc; color: #fff;border: 1px solid rgba(255, 85, 0, 0.5);border-left: "
    "none;font-size: 14px;}QPushButton:hover{background: rgba(255, 85, 0, 0.8);}";
const char* const restoredStyle =
    "QPushButton{background: #f50; color: #fff;border: 1px solid rgba(255, 85, 0, 0.5);;font-size: "
    "14px;}QPushButton:hover{background: rgba(255, 85, 0, 0.8);}";

QString dateText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// A part of the window, found by its member's name.
template <class Widget, class... Args> Widget* named(const char* name, Args&&... args)
{
    auto* widget = new Widget(std::forward<Args>(args)...);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A job the window no longer wants: its request stops and nothing of it reaches the window. It may
// be the very job whose signal is being delivered, so it goes once that is over.
template <class Job> void dropJob(Job*& job, QObject* owner)
{
    if (!job)
        return;
    job->disconnect(owner);
    job->Abort();
    job->deleteLater();
    job = nullptr;
}

} // namespace

COrderWidget::COrderWidget(COrder* order, CSession* session, QWidget* parent)
    : CWidget(parent), passwordHint(QStringLiteral("请输入订单密码")),
      reviewHint(QStringLiteral("请输入评价内容")), order(order)
{
    this->session = session;
    if (session) {
        book = session->Book();
        sounds = session->Sounds();
    }
    msgBox = new CMsgBox(this, CMsgBox::ForOrderWidget());
    // The order's status may change elsewhere (the confirmation table, a poll): the window follows.
    if (book)
        connect(book, &COrderBook::StatusChanged, this, [this](COrder* changed) {
            if (changed == this->order && this->order && !settingStatus)
                FollowStatus();
        });
    if (InitWidgets()) {
        ClearItemWidgets();
        HttpOrderDetail();
    }
}

COrderWidget::~COrderWidget()
{
    LetGoOfOrder();
}

// Nothing may reach the order once the window is on its way out: the order lists may delete it
// together with the row that opened this window, and a reply finishing during teardown must not
// call back into a half-destroyed window.
void COrderWidget::LetGoOfOrder()
{
    if (book)
        book->disconnect(this);
    order = nullptr;
    book = nullptr;
    session = nullptr;
    sounds = nullptr;
    dropJob(detailJob, this);
    dropJob(actionJob, this);
}

bool COrderWidget::InitWidgets()
{
    setAttribute(Qt::WA_DeleteOnClose);

    QWidget* band = BottomBand();
    takerLabel = named<QLabel>("takerLabel", band);
    telLabel = named<QLabel>("telLabel", band);
    addressLabel = named<QLabel>("addressLabel", band);
    shopLabel = named<QLabel>("shopLabel", band);
    statusLabel = named<QLabel>("statusLabel", band);
    payTimeLabel = named<QLabel>("payTimeLabel", band);
    serviceTimeLabel = named<QLabel>("serviceTimeLabel", band);
    amountLabel = named<QLabel>("amountLabel", band);
    savingLabel = named<QLabel>("savingLabel", band);
    takeoutLabel = named<QLabel>("takeoutLabel", band);
    messageLabel = named<QLabel>("messageLabel", band);
    reviewLabel = named<QLabel>("reviewLabel", band);
    actionButton = named<QPushButton>("actionButton", band);
    printButton = named<QPushButton>("printButton", band);
    itemsArea = named<QScrollArea>("itemsArea", band);
    itemsContainer = named<QWidget>("itemsContainer");
    inputEdit = named<QLineEdit>("inputEdit", band);
    retryButton = named<QPushButton>("retryButton", band);
    reprintButton = named<QPushButton>("reprintButton", QStringLiteral("重新打印"), band);

    SetResizable(false);
    TopBand()->setFixedHeight(topBandHeight);

    inputEdit->installEventFilter(this);
    actionButton->hide();

    itemsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    itemsArea->resize(width() - 40, 0);
    itemsArea->setWidget(itemsContainer);
    itemsContainer->setGeometry(0, 0, itemsArea->width(), 0);
    itemsArea->setStyleSheet(QStringLiteral("background: transparent;border: none;"));

    printButton->hide();
    printButton->resize(50, 32);
    connect(printButton, &QPushButton::clicked, this, &COrderWidget::ShowPrintWindow);
    printButton->setStyleSheet(
        QStringLiteral("QPushButton{background: transparent; color: #f50;border: none;font-size: 14px;}"
                       "QPushButton:hover{color: #fff;background: #f50;}"));

    retryButton->setText(QStringLiteral("失败，请点击重试！"));
    const QFontMetrics metrics(QApplication::font());
    retryButton->resize(int(1.4 * metrics.horizontalAdvance(retryButton->text())), 3 * metrics.height());
    retryButton->move((width() - retryButton->width()) / 2, (BottomBandHeight() - retryButton->height()) / 2);
    retryButton->setStyleSheet(
        QStringLiteral("QPushButton{background: rgba(255, 85, 0, 1); color: #fff;border: none;border-radius: "
                       "3px;font-size: 14px;}"
                       "QPushButton:hover{color: #fff;background: rgba(255, 85, 0, 0.8);}"));
    retryButton->hide();
    connect(retryButton, &QPushButton::clicked, this, [this] {
        retryButton->hide();
        HttpOrderDetail();
    });
    reprintButton->setStyleSheet(retryButton->styleSheet());
    reprintButton->resize(int(1.4 * metrics.horizontalAdvance(retryButton->text())), 2 * metrics.height());
    reprintButton->hide();
    connect(reprintButton, &QPushButton::clicked, this, [this] {
        reprintButton->hide();
        ShowPrintWindow();
    });

    FillOrderDetail();
    return true;
}

void COrderWidget::FillOrderDetail()
{
    if (!order)
        return;
    const int w = width();
    const QFontMetrics metrics(messageLabel->font());

    takerLabel->setText(QStringLiteral("收件人：") + order->GetTaker());
    telLabel->setText(QStringLiteral("手机：") + order->GetTel());
    addressLabel->resize(w - 40, metrics.height());
    addressLabel->setText(
        metrics.elidedText(QStringLiteral("收件地址：") + order->GetAddress(), Qt::ElideRight, w - 40));
    addressLabel->setToolTip(order->GetAddress());
    shopLabel->setText(QStringLiteral("店铺：") + order->GetShopName());
    takeoutLabel->setText(order->GetTakeoutName());
    statusLabel->setText(QStringLiteral("状态：") + order->GetStatusName());
    payTimeLabel->setText(QStringLiteral("支付日期：") + dateText(order->GetPtime()));
    serviceTimeLabel->setText(QStringLiteral("服务日期：") + dateText(order->GetStime()));
    messageLabel->resize(w - 40, metrics.height());
    messageLabel->setText(
        metrics.elidedText(QStringLiteral("买家留言：") + order->GetMessage(), Qt::ElideRight, w - 40));
    messageLabel->setToolTip(order->GetMessage());
    const qint64 totalNum = order->GetTotalNum();
    const QString prefix =
        totalNum < 1 ? QString()
                     : QStringLiteral("共计 ") + QString::number(totalNum) + QStringLiteral(" 件商品，");
    amountLabel->setText(prefix + QStringLiteral("实付金额：") + FormatMoney(order->GetAmount()) +
                         QStringLiteral(" 元"));
    savingLabel->setText(QStringLiteral("Velm为您省：") + FormatMoney(order->GetSaving()) + QStringLiteral(" 元"));
    printButton->setText(QStringLiteral("打印"));

    // A window filled again (a retried detail) replaces its rows rather than stacking new ones.
    ClearItemWidgets();
    itemsArea->hide();
    itemsContainer->resize(itemsContainer->width(), 0);
    itemsContainer->setStyleSheet(QStringLiteral("background: transparent;"));
    const QList<CCommodity*>& items = order->GetCommodities();
    for (int i = 0; i < items.size(); ++i) {
        const CCommodity* item = items.at(i);
        AddItemRow(i, item->GetPics(), item->GetName(), item->GetPrice(), item->GetNum());
    }

    // Lines never given a width of their own take their text's width.
    for (QLabel* line : {takerLabel, telLabel, shopLabel, takeoutLabel, statusLabel, payTimeLabel,
                         serviceTimeLabel, amountLabel, savingLabel})
        line->adjustSize();

    printButton->move(w - printButton->width() - 20, 1);
    takerLabel->move(20, printButton->y() + printButton->height());
    addressLabel->move(20, takerLabel->y() + lineGap);
    shopLabel->move(20, addressLabel->y() + lineGap);
    itemsArea->move(20, shopLabel->y() + lineGap);
    itemsArea->resize(w - 40, items.isEmpty() ? 0 : itemsAreaHeight);
    statusLabel->move(20, itemsArea->y() + itemsArea->height() + 10);
    payTimeLabel->move(20, statusLabel->y() + lineGap);
    serviceTimeLabel->move(20, payTimeLabel->y() + lineGap);
    messageLabel->move(20, serviceTimeLabel->y() + lineGap);

    telLabel->move(w - telLabel->width() - 20, takerLabel->y());
    takeoutLabel->move(w - takeoutLabel->width() - 20, shopLabel->y());
    amountLabel->move(w - amountLabel->width() - 20, statusLabel->y());
    savingLabel->move(w - savingLabel->width() - 20, amountLabel->y() + lineGap);

    printButton->hide();
    retryButton->hide();
    for (QLabel* line : {takerLabel, telLabel, addressLabel, shopLabel, statusLabel, payTimeLabel,
                         serviceTimeLabel, messageLabel, amountLabel, savingLabel, takeoutLabel})
        line->show();
    actionButton->hide();
    inputEdit->hide();
    if (!items.isEmpty())
        itemsArea->show();
}

void COrderWidget::AddItemRow(int index, const QString& pics, const QString& name, Money price, int num)
{
    auto* row = new QWidget(itemsContainer);
    auto* background = new QLabel(row);
    auto* picture = named<CWebLabel>("pictureLabel", QUrl(pics), row, true);
    auto* nameLabel = named<QLabel>("nameLabel", QStringLiteral("商品名称：") + name, row);
    auto* priceLabel = named<QLabel>(
        "priceLabel", QStringLiteral("现价：") + FormatMoney(price) + QStringLiteral(" 元"), row);
    auto* countLabel = named<QLabel>("countLabel", QStringLiteral("数量：") + QString::number(num), row);

    background->setObjectName(index % 2 == 0 ? QStringLiteral("lblBackground_1")
                                             : QStringLiteral("lblBackground_2"));
    background->setStyleSheet(QStringLiteral(
        "QLabel#lblBackground_1{background: rgba( 244, 244, 244, 1 );}"
        "QLabel#lblBackground_2{background: rgba( 255, 85, 0, 0.08 );}"
        "QLabel#lblBackground_1:hover,QLabel#lblBackground_2:hover{background: rgba( 255, 85, 0, 0.3 );}"));
    itemRows.append(row);
    pictureLabels.append(picture);
    nameLabels.append(nameLabel);
    priceLabels.append(priceLabel);
    countLabels.append(countLabel);

    row->setGeometry(0, itemsContainer->height() + 10, itemsContainer->width(), rowHeight);
    background->setGeometry(0, 0, row->width(), row->height());
    const QPixmap pixmap = picture->pixmap(Qt::ReturnByValue);
    const int pictureWidth = !pixmap.isNull() && pixmap.height() > 0
                                 ? rowHeight * pixmap.width() / pixmap.height()
                                 : rowHeight * 150 / 91;
    picture->setGeometry(0, 0, pictureWidth, rowHeight);
    nameLabel->adjustSize();
    priceLabel->adjustSize();
    countLabel->adjustSize();
    nameLabel->move(picture->x() + picture->width() + 10, picture->y());
    priceLabel->move(nameLabel->x(), nameLabel->y() + nameLabel->height());
    countLabel->move(nameLabel->x(), priceLabel->y() + priceLabel->height());
    itemsContainer->resize(itemsContainer->width(), itemsContainer->height() + row->height() + 10);
}

void COrderWidget::ClearItemWidgets()
{
    // The picture, name, price and quantity labels are children of their row.
    qDeleteAll(itemRows);
    itemRows.clear();
    pictureLabels.clear();
    nameLabels.clear();
    priceLabels.clear();
    countLabels.clear();
}

bool COrderWidget::HttpOrderDetail()
{
    if (!session || !order)
        return false;
    dropJob(detailJob, this);
    detailJob = new COrderDetailJob(session->Line(), this);
    connect(detailJob, &COrderDetailJob::Fetched, this, &COrderWidget::ReplyOrderDetail);
    connect(detailJob, &CJob::Failed, this, &COrderWidget::slotOrderDetailError);
    if (!detailJob->Start(order->GetId()))
        return false;
    detailAsked = book ? book->RevisionOf(order->GetId()) : 0;
    ShowLoadingAnimation();
    return true;
}

void COrderWidget::ReplyOrderDetail(const OrderDetail& detail)
{
    HideLoadingAnimation();
    if (!order)
        return;

    // Whoever follows the order (its row, this window's opener) hears of a new status through the
    // book; a slot of signalOperateMe may close this window.
    QPointer<COrderWidget> self(this);
    const int previousStatus = order->GetStatus();
    if (!book || !book->ApplyDetail(order, detail.info, detailAsked))
        return;
    if (order->GetStatus() != previousStatus) {
        emit signalOperateMe(order->GetStatus());
        if (!self || !order)
            return;
    }

    FillOrderDetail();
    connect(this, &CWidget::FinishedAnimationResize, this, &COrderWidget::SetStatusButton,
            Qt::UniqueConnection);
    AnimationResize(QSize(width(), order->GetTotalNum() > 0 ? heightWithItems : heightWithoutItems));
    retryButton->hide();
    printButton->show();
}

// Without an answer the staff member may ask again; an answer that is no detail (the platform's
// refusal, a text that is not the detail of this order) is shown as it came.
void COrderWidget::slotOrderDetailError(const JobFailure& failure)
{
    if (failure.kind == JobFailure::Line) {
        ShowMsgBox(QStringLiteral("失败：获取订单详情！\n请检查网络连接，谢谢！"), 0);
        ShowRetryButton();
        return;
    }
    HideLoadingAnimation();
    ShowMsgBox(failure.message, 0);
}

// The failure box sits in the middle of the window; the retry button goes under it so that the
// box never covers it.
void COrderWidget::ShowRetryButton()
{
    ShowUnderBox(retryButton);
}

void COrderWidget::ShowUnderBox(QPushButton* button)
{
    int y = (BottomBandHeight() - button->height()) / 2;
    const QLabel* box = msgBox->MsgBoxLabel();
    if (box && box->isVisible()) {
        const int boxBottom = BottomBand()->mapFrom(this, box->geometry().bottomLeft()).y();
        y = qMax(y, boxBottom + 10);
    }
    button->move((width() - button->width()) / 2, y);
    button->raise();
    button->show();
}

void COrderWidget::SetStatusButton()
{
    if (!actionButton || !inputEdit || !messageLabel)
        return;
    const int status = order ? order->GetStatus() : -1;
    const int w = width();
    const int bandHeight = BottomBandHeight();
    // While an action is on its way the row stays busy; otherwise the status's action can be sent.
    const bool busy = actionFrom >= 0;

    if (status == StatusPaid.first) {
        actionButton->installEventFilter(this);
        actionButton->setText(QStringLiteral("结束服务"));
        inputEdit->setText(passwordHint);
        actionButton->resize(70, inputEdit->height());
        inputEdit->resize(w / 3 - 70, actionButton->height());
        inputEdit->move((w - inputEdit->width() - actionButton->width()) / 2,
                        bandHeight - actionButton->height() - 10);
        actionButton->move(inputEdit->x() + inputEdit->width(), inputEdit->y());
        actionButton->show();
        inputEdit->show();
        reviewLabel->hide();
    } else if (status == StatusReviewed.first) {
        actionButton->installEventFilter(this);
        actionButton->setText(QStringLiteral("回复评价"));
        inputEdit->setText(reviewHint);
        actionButton->resize(70, inputEdit->height());
        inputEdit->resize(w - 70 - 40, actionButton->height());
        reviewLabel->resize(inputEdit->size());
        const QString review = QStringLiteral("买家评价：") + order->GetContent();
        reviewLabel->setToolTip(review);
        reviewLabel->setText(
            QFontMetrics(actionButton->font()).elidedText(review, Qt::ElideRight, reviewLabel->width()));
        inputEdit->move(20, bandHeight - actionButton->height() - 10);
        actionButton->move(inputEdit->x() + inputEdit->width(), inputEdit->y());
        reviewLabel->move(inputEdit->x(), inputEdit->y() - reviewLabel->height());
        actionButton->show();
        inputEdit->show();
        reviewLabel->show();
    } else {
        actionButton->hide();
        inputEdit->hide();
        reviewLabel->hide();
    }
    inputEdit->setStyleSheet(QLatin1String(fieldStyle));
    actionButton->setEnabled(!busy);
    if (busy) {
        actionButton->setText(QStringLiteral("请稍候"));
        actionButton->setStyleSheet(QLatin1String(busyStyle));
    } else {
        actionButton->setStyleSheet(QLatin1String(buttonStyle));
    }
}

// The field holds no input while its text is empty or any piece of one of the hints.
bool COrderWidget::HoldsNoInput() const
{
    const QString text = inputEdit->text();
    return passwordHint.contains(text) || reviewHint.contains(text);
}

bool COrderWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (inputEdit && watched == inputEdit) {
        switch (event->type()) {
        case QEvent::FocusIn:
            if (HoldsNoInput())
                inputEdit->clear();
            break;
        case QEvent::FocusOut:
            if (HoldsNoInput() && order) {
                if (order->GetStatus() == StatusPaid.first)
                    inputEdit->setText(passwordHint);
                else if (order->GetStatus() == StatusReviewed.first)
                    inputEdit->setText(reviewHint);
            }
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && actionButton && actionButton->isEnabled())
                Submit();
            break;
        }
        default:
            break;
        }
    } else if (actionButton && watched == actionButton && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && inputEdit) {
        if (HoldsNoInput())
            inputEdit->setFocus(Qt::OtherFocusReason);
        if (actionButton->isEnabled())
            Submit();
    }
    return CWidget::eventFilter(watched, event);
}

void COrderWidget::Submit()
{
    if (!inputEdit || !order || HoldsNoInput())
        return;
    inputEdit->selectAll();
    if (order->GetStatus() == StatusPaid.first)
        HttpFinishOrder();
    else if (order->GetStatus() == StatusReviewed.first)
        HttpReplayOrder();
}

template <class Job, class Start>
bool COrderWidget::SendAction(void (COrderWidget::*replySlot)(const OrderAction&),
                              void (COrderWidget::*errorSlot)(const JobFailure&), Start start)
{
    if (!inputEdit || !session || !order)
        return false;
    dropJob(actionJob, this);
    auto* job = new Job(session->Line(), this);
    actionJob = job;
    connect(job, &COrderActionJob::Accepted, this, replySlot);
    connect(job, &CJob::Failed, this, errorSlot);
    if (!start(job))
        return false;
    actionFrom = order->GetStatus();
    HideMsgBox();
    actionButton->setEnabled(false);
    actionButton->setText(QStringLiteral("请稍候"));
    actionButton->setStyleSheet(QLatin1String(busyStyle));
    return true;
}

bool COrderWidget::HttpFinishOrder()
{
    return SendAction<CFinishOrderJob>(
        &COrderWidget::ReplyFinishOrder, &COrderWidget::slotFinishOrderError,
        [this](CFinishOrderJob* job) { return job->Start(order->GetId(), inputEdit->text()); });
}

bool COrderWidget::HttpReplayOrder()
{
    return SendAction<CReplyReviewJob>(
        &COrderWidget::ReplyReplayOrder, &COrderWidget::slotReplayError,
        [this](CReplyReviewJob* job) { return job->Start(order->GetId(), inputEdit->text()); });
}

void COrderWidget::ActionFailed(const JobFailure& failure, const QString& buttonText,
                                const QString& networkFailure, const QString& refusalPrefix)
{
    const int from = actionFrom;
    actionFrom = -1;
    const bool unreadable = failure.kind != JobFailure::Refused;
    const bool movedOn = order && order->GetStatus() != from;
    if (unreadable && movedOn) {
        // The answer was lost, but the order has moved on meanwhile (perhaps by this very action):
        // there is nothing to retry and no failure to report, only its new status.
        ShowMsgBox(QStringLiteral("订单状态已更新：") + order->GetStatusName(), 5);
    } else {
        ShowMsgBox(unreadable ? networkFailure : refusalPrefix + failure.message, 0);
    }
    if (movedOn) {
        // Its own action row replaces this one.
        FollowStatus();
        return;
    }
    // Back to idle: the typed text stays and the box stays until something replaces it.
    actionButton->setText(buttonText);
    actionButton->setStyleSheet(QLatin1String(restoredStyle));
    actionButton->setEnabled(true);
}

void COrderWidget::FollowStatus()
{
    statusLabel->setText(QStringLiteral("状态：") + order->GetStatusName());
    statusLabel->adjustSize();
    // Before the detail has arrived the action row waits for it.
    if (printButton->isVisible())
        SetStatusButton();
}

void COrderWidget::ActionDone(const OrderAction& done, const QString& message)
{
    const int newStatus = done.status;
    const int from = actionFrom;
    actionFrom = -1;
    if (!order || !book)
        return;
    QPointer<COrderWidget> self(this);
    const char* action = newStatus == StatusServed.first ? "service finished" : "review answered";
    // The window's own change: it keeps the buyer's review in sight after a reply.
    settingStatus = true;
    const COrderBook::Outcome outcome = book->ApplyAction(order, from, newStatus, action, done.platformTime);
    if (!self)
        return;
    settingStatus = false;
    qCInfo(lcOrders, "order %lld: %s in its detail window, status now %d", static_cast<long long>(order->GetId()),
           action, order->GetStatus());
    if (outcome == COrderBook::Stale) {
        // A newer fact reached the book while the action travelled: the window shows that one.
        FollowStatus();
        ShowMsgBox(message, 5);
        return;
    }
    statusLabel->setText(QStringLiteral("状态：") + StatusName(newStatus));
    statusLabel->adjustSize();
    emit signalOperateMe(newStatus);
    if (!self)
        return;
    inputEdit->hide();
    actionButton->hide();
    ShowMsgBox(message, 5);
}

void COrderWidget::ReplyFinishOrder(const OrderAction& action)
{
    if (sounds)
        sounds->Play(QStringLiteral("audio/server.mp3"));
    ActionDone(action, QStringLiteral("成功：结束服务"));
}

void COrderWidget::ReplyReplayOrder(const OrderAction& action)
{
    ActionDone(action, QStringLiteral("成功：评价！"));
}

void COrderWidget::slotFinishOrderError(const JobFailure& failure)
{
    ActionFailed(failure, QStringLiteral("结束服务"),
                 QStringLiteral("失败：结束服务！\n请检查网络连接，谢谢！"),
                 QStringLiteral("失败：结束服务\n"));
}

void COrderWidget::slotReplayError(const JobFailure& failure)
{
    ActionFailed(failure, QStringLiteral("回复评价"), QStringLiteral("失败：评价！\n请检查网络连接，谢谢！"),
                 QStringLiteral("失败：评价！\n"));
}

// Prints at once on the shop's receipt printer, without a dialog; what became of it is said when
// its job has ended.
void COrderWidget::ShowPrintWindow()
{
    if (!order)
        return;
    if (!receipts) {
        receipts = session ? static_cast<CReceiptService*>(CReceiptPrinter::ForSession(session))
                           : new CReceiptPrinter(nullptr, this);
        connect(receipts, &CReceiptService::Finished, this, &COrderWidget::PrintFinished);
    }
    reprintButton->hide();
    printTickets.append(receipts->Print(*order));
}

void COrderWidget::PrintFinished(int ticket, const PrintOutcome& outcome)
{
    if (!printTickets.removeOne(ticket))
        return;
    switch (outcome.result) {
    case PrintOutcome::Result::Printed:
        ShowMsgBox(QStringLiteral("小票已打印：") + outcome.printer);
        break;
    case PrintOutcome::Result::SavedAsFile:
        // Without a printer the receipt became a file: the staff member has to know where it went.
        ShowMsgBox(QStringLiteral("未找到打印机，小票已保存：\n") + QDir::toNativeSeparators(outcome.file));
        break;
    case PrintOutcome::Result::Failed:
        ShowMsgBox(outcome.FailureText(), 0);
        ShowUnderBox(reprintButton);
        break;
    }
}

void COrderWidget::printPreview(QPrinter* printer)
{
    if (!order || !printer)
        return;
    Receipt::Paint(printer, *order);
}

void COrderWidget::ShowLoadingAnimation()
{
    msgBox->ShowLoadingAnimation();
}

void COrderWidget::ShowMsgBox(QString message, int second)
{
    msgBox->ShowMsgBox(message, second);
}

void COrderWidget::ShowMsgBox(QString message)
{
    msgBox->ShowMsgBox(message);
}

void COrderWidget::HideLoadingAnimation()
{
    msgBox->HideLoadingAnimation();
}

void COrderWidget::HideMsgBox()
{
    msgBox->HideMsgBox();
}

void COrderWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_W && (event->modifiers() & Qt::ControlModifier)) {
        FadeOut();
        return;
    }
    CWidget::keyPressEvent(event);
}

void COrderWidget::resizeEvent(QResizeEvent* event)
{
    CWidget::resizeEvent(event);
    if (msgBox)
        msgBox->Reposition();
}

void COrderWidget::closeEvent(QCloseEvent* event)
{
    LetGoOfOrder();
    CWidget::closeEvent(event);
}
