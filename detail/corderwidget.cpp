#include "detail/corderwidget.h"

#include <QLabel>

#include "orders/corder.h"

COrderWidget::COrderWidget(COrder* order, CUser* user, QWidget* parent)
    : CWidget(QSize(380, 300), parent), order(order), user(user)
{
    setAttribute(Qt::WA_DeleteOnClose);
    SetResizable(false);
    TopBand()->setFixedHeight(40);
    summary = new QLabel(BottomBand());
    summary->setGeometry(10, 10, 360, 40);
    if (order)
        summary->setText(QStringLiteral("订单号：%1  %2").arg(order->GetId()).arg(order->GetStatusName()));
}
