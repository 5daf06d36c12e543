#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QVector>

#include "app/money.h"

class COrder;

// A period's income day by day: one sum for every day of the period, days without income included
// (as 0), so a chart of it has a place for every day.
struct DailyIncome
{
    QDate first;         // the day of sums[0]
    QVector<Money> sums; // consecutive days from `first`
    Money total = 0;
    int bestDay = -1; // index of the highest sum (the earliest of equal ones); -1 without any income

    int DayCount() const { return sums.size(); }
    QDate Day(int index) const { return first.addDays(index); }

    // The days of a period, by its "way=" name: "day" is today alone, "week" today and the six days
    // before, "mon" this month up to today, "all" from the day of the oldest order up to today. Orders
    // dated outside those days (the platform's clock is not ours) widen the range instead of being
    // left out, so the sums always add up to the list. Orders without a readable time are left out.
    static DailyIncome Of(const QList<COrder*>& orders, const QString& way, const QDate& today);
};
