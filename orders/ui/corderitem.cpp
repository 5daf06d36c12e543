#include "orders/ui/corderitem.h"

#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QTimer>

#include "app/ui/resources.h"
#include "orders/corder.h"
#include "ui/cwidget.h"

COrderItem* COrderItem::selectedItem = nullptr;

namespace {

constexpr int iconSize = 42;
constexpr int timeWidth = 53;
constexpr int textX = 57;
constexpr int textHeight = 26;
constexpr int selectedAlpha = 127;
constexpr int hoverAlpha = 75;

const QString& plainIcon()
{
    static const QString path = QStringLiteral(":/img/img/order.png");
    return path;
}

const QString& newOrderIconPath()
{
    static const QString path = QStringLiteral(":/img/img/orderNew.png");
    return path;
}

} // namespace

COrderItem::COrderItem(COrder* order, QWidget* parent) : QWidget(parent), order(order)
{
    resize(parent ? parent->width() : 180, rowHeight);
    // Not shown here: the group's layout shows the row when the group is unfolded, and a row
    // that is never shown never pays for its labels.
}

COrderItem::~COrderItem()
{
    if (selectedItem == this)
        selectedItem = nullptr;
    delete flashTimer;
    delete bgPalette;
}

void COrderItem::CreateLabels()
{
    if (iconLabel)
        return;
    const int w = width();
    const int textWidth = w - iconSize - timeWidth;

    // Their looks come from the group's style sheet, by object name.
    iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("orderIcon"));
    iconLabel->setScaledContents(true);
    iconLabel->setAlignment(Qt::AlignCenter);
    iconLabel->setGeometry(5, 5, iconSize, iconSize);

    const QString idText = QStringLiteral("订单号：") + QString::number(order ? order->GetId() : 0);
    idLabel = new QLabel(idText, this);
    idLabel->setObjectName(QStringLiteral("orderId"));
    idLabel->setToolTip(idText);
    idLabel->setGeometry(textX, 0, textWidth, textHeight);

    const QString moneyText =
        QStringLiteral("金额：") + FormatMoney(order ? order->GetAmount() : 0);
    moneyLabel = new QLabel(moneyText, this);
    moneyLabel->setObjectName(QStringLiteral("orderMoney"));
    moneyLabel->setToolTip(moneyText);
    moneyLabel->setGeometry(textX, textHeight + 1, textWidth, textHeight);

    timeLabel =
        new QLabel(order ? order->GetCtime().toString(QStringLiteral("MM-dd hh:mm")) : QString(), this);
    timeLabel->setObjectName(QStringLiteral("orderTime"));
    timeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    timeLabel->setWordWrap(true);
    timeLabel->setGeometry(w - 73, 0, timeWidth, rowHeight);

    ShowIcon(newOrderIcon);
    iconLabel->setVisible(iconVisible);
    for (QLabel* label : {idLabel, moneyLabel, timeLabel})
        label->show();
}

void COrderItem::ShowIcon(bool newOrder)
{
    newOrderIcon = newOrder;
    if (iconLabel)
        iconLabel->setPixmap(TarvikPixmap(newOrder ? newOrderIconPath() : plainIcon()));
}

void COrderItem::StartFlash()
{
    if (!flashTimer) {
        flashTimer = new QTimer;
        connect(flashTimer, &QTimer::timeout, this, &COrderItem::AnimateNewOrder);
    }
    flashTimer->start(CWidget::Animated() ? flashMsecs : flashMsecs / 5);
    flashing = true;
    if (order && order->GetStatus() == StatusPaid.first)
        ShowIcon(true);
}

void COrderItem::StopFlash()
{
    flashing = false;
    delete flashTimer;
    flashTimer = nullptr;
    iconVisible = true;
    if (iconLabel)
        iconLabel->show();
}

void COrderItem::AnimateNewOrder()
{
    iconVisible = !iconVisible;
    if (iconLabel)
        iconLabel->setVisible(iconVisible);
}

void COrderItem::OpenOrderDetail()
{
    emit OpenRequested(order);
}

void COrderItem::SetHighlight(int newAlpha)
{
    alpha = newAlpha;
    if (!bgPalette)
        bgPalette = new QPalette;
    bgPalette->setBrush(QPalette::All, QPalette::Window, QColor(255, 85, 0, alpha));
    update();
}

void COrderItem::paintEvent(QPaintEvent*)
{
    // Not created here: the labels appear right after this paint, outside of it.
    if (!iconLabel && !labelsRequested) {
        labelsRequested = true;
        QTimer::singleShot(0, this, &COrderItem::CreateLabels);
    }
    // The group's style sheet makes every widget in it transparent, so the row paints its own
    // highlight from its palette.
    if (!bgPalette || alpha == 0)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), bgPalette->brush(QPalette::Active, QPalette::Window));
}

void COrderItem::enterEvent(QEvent*)
{
    if (selectedItem != this)
        SetHighlight(hoverAlpha);
}

void COrderItem::leaveEvent(QEvent*)
{
    if (selectedItem != this)
        SetHighlight(0);
}

void COrderItem::mousePressEvent(QMouseEvent* event)
{
    if (selectedItem && selectedItem != this)
        selectedItem->SetHighlight(0);
    selectedItem = this;
    SetHighlight(selectedAlpha);
    event->accept();
}

void COrderItem::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::RightButton || !rect().contains(event->pos()))
        return;
    // Without a parent: the menu runs its own event loop, in which a poll may delete this row.
    QMenu menu;
    menu.setStyleSheet(QStringLiteral("QMenu{ background: #fff; }"));
    QAction* action = menu.addAction(tr("查看信息"));
    connect(action, &QAction::triggered, this, &COrderItem::OpenOrderDetail);
    menu.exec(event->globalPos());
}

void COrderItem::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    OpenOrderDetail();
}
