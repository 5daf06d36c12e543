#include "main/ui/windowkeeper.h"

#include "app/ui/screens.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "detail/ui/receiptprinter.h"
#include "income/ui/cwincome.h"
#include "main/ui/cwsettings.h"
#include "main/ui/cwuserinfo.h"
#include "orders/corder.h"
#include "session/csession.h"

CWindowKeeper::CWindowKeeper(CSession* session, QWidget* anchor, QObject* parent)
    : QObject(parent), session(session), anchor(anchor)
{
}

CWindowKeeper::~CWindowKeeper()
{
    delete settings.data();
    delete userInfo.data();
    delete income.data();
    delete serverTable.data();
    const QList<QPointer<QObject>> windows = details.values();
    for (const QPointer<QObject>& window : windows)
        delete window.data();
}

bool CWindowKeeper::Raise(CWidget* window, bool toFront) const
{
    if (!window)
        return false;
    // Hidden, a window was closed and is about to be deleted (Qt has cleared its WA_DeleteOnClose
    // by then): a new one takes its place. Only the confirmation table stays to be shown again.
    if (window->isHidden() && window != serverTable)
        return false;
    if (window->isHidden())
        window->Show();
    else if (toFront)
        window->showNormal();
    if (toFront)
        window->raise();
    window->activateWindow();
    return true;
}

void CWindowKeeper::Place(CWidget* window) const
{
    window->CentreIn(AvailableAreaOf(anchor));
    window->Show();
}

void CWindowKeeper::OpenUserInfo()
{
    if (Raise(userInfo))
        return;
    userInfo = new CWUserInfo(session);
    userInfo->resize(560, 580);
    userInfo->SetTitle(QStringLiteral("我的资料"));
    Place(userInfo);
}

void CWindowKeeper::OpenIncome()
{
    if (Raise(income))
        return;
    income = new CWIncome(session);
    income->resize(1200, 700);
    income->setMinimumSize(qRound(1200 / 2.0), qRound(700 / 2.0));
    income->SetTitle(QStringLiteral("收入流水"));
    income->MoveTitle(5, 5);
    connect(income, &CWIncome::SignalOpenOrderDetail, this, &CWindowKeeper::OrderDetailAsked);
    Place(income);
}

void CWindowKeeper::OpenSettings()
{
    if (Raise(settings))
        return;
    settings = new CWSettings(session->Settings(), CReceiptPrinter::ForSession(session));
    Place(settings);
}

void CWindowKeeper::OpenOrderDetail(COrder* order)
{
    if (!order)
        return;
    if (Raise(qobject_cast<COrderWidget*>(details.value(order->GetId()).data())))
        return;
    auto* window = new COrderWidget(order, session);
    window->SetTitle(QStringLiteral("%1 %2").arg(QString::number(order->GetId()), QStringLiteral("订单详情")));
    details.insert(order->GetId(), window);
    connect(window, &QObject::destroyed, this, [this, id = order->GetId()](QObject* gone) {
        const QPointer<QObject> held = details.value(id);
        if (!held || held.data() == gone)
            details.remove(id);
    });
    Place(window);
}

void CWindowKeeper::OpenServerTable(const QList<COrder*>& asked)
{
    // Asked for by the platform, the table shows itself without pushing aside the window in front.
    if (!Raise(serverTable, asked.isEmpty())) {
        serverTable = new CWServerTable(session);
        serverTable->resize(1200, 700);
        serverTable->setMinimumSize(qRound(1200 / 2.0), qRound(700 / 2.0));
        serverTable->MoveTitle(5, 5);
        connect(serverTable, &CWServerTable::SignalOpenOrderDetail, this, &CWindowKeeper::OrderDetailAsked);
        Place(serverTable);
    }
    if (asked.isEmpty())
        return;
    serverTable->AddOrders(asked);
    serverTable->SelectRow(0);
}
