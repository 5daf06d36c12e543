#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QVector>

#include "app/money.h"

// One order that earned the shop money, as the income list ("AddShopCash") gives it.
struct IncomeEntry
{
    qint64 orderId = 0;
    Money amount = 0;  // what the buyer paid
    Money addCash = 0; // what the shop earned by it
    QDateTime ctime;   // when; invalid when the platform's time did not read
};
Q_DECLARE_METATYPE(IncomeEntry)

using IncomeEntries = QVector<IncomeEntry>;
Q_DECLARE_METATYPE(IncomeEntries)
