#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

// One order as the order lists name it: an entry of the full list (StaffOrderList), of the
// new-order poll (UpdateStaffOrderList) or of the pay/finish poll (PayFinishOrder). The pay/finish
// poll names no member, amount or creation time; a time the platform sent as null, or not at all,
// is invalid here. The order jobs make these from the replies; the book takes them.
struct OrderEntry
{
    qint64 id = 0; // 0 or less: the entry names no order
    int status = 0;
    QString member;
    double amount = 0;
    QDateTime ctime;  // placed
    QDateTime stime;  // served
    QDateTime ptime;  // paid
    QDateTime ertime; // the platform's update stamp: when the status last changed
};

// What the new-order poll and the pay/finish poll answered.
struct OrderEntries
{
    QVector<OrderEntry> entries;
    QDateTime platformTime; // the platform's clock when it answered; invalid when it did not say
};
Q_DECLARE_METATYPE(OrderEntries)

// A page of the full list, with the shop the session's orders belong to.
struct OrderListPage
{
    int pager = 1; // the page asked for
    qint64 shopId = 0;
    QString shopName;
    int shopCatId = 0;
    QVector<OrderEntry> entries;
    QDateTime platformTime; // the platform's clock when it answered; invalid when it did not say
};
Q_DECLARE_METATYPE(OrderListPage)
