#pragma once

#include <QDate>
#include <QString>
#include <QVector>

#include "app/money.h"
#include "income/incomeentry.h"

// A period's income as the chart draws it: one sum for every day of the period, days without
// income included (as 0), so the chart has a place for every day. A period of more than `mostDays`
// days has one sum per calendar month instead, so the bars stay few and wide whatever the dates.
// Orders dated outside the period are counted apart, never stretched into it.
struct DailyIncome
{
    enum class Step
    {
        Day,
        Month
    };

    static constexpr int mostDays = 90;
    // "all" reaches back ten years at most: an older date is far more likely a broken one.
    static constexpr int mostMonths = 120;

    Step step = Step::Day;
    QDate first;         // the first day of sums[0]; the 1st of its month when by month
    QDate last;          // the last day of the period
    QVector<Money> sums; // consecutive days (or months) from `first`
    Money total = 0;     // of the orders in the sums
    int best = -1;       // index of the highest sum (the earliest of equal ones); -1 without any income
    int leftOut = 0;     // orders dated outside the period (or not dated at all), in no sum
    Money leftOutTotal = 0;

    int BarCount() const { return sums.size(); }
    QDate Start(int index) const; // the first day bar `index` covers
    QDate End(int index) const;   // its last day, never after `last`

    // The period of a "way=" name: "day" is today alone, "week" today and the six days before,
    // "mon" this month up to today, "all" from the day of the oldest order up to today, but no
    // further back than `mostMonths` months. The platform's clock is not ours: an order dated the day
    // just after the period (or just before it, but for "all") belongs to it and widens it by that
    // day; anything further out is left out.
    static DailyIncome Of(const IncomeEntries& orders, const QString& way, const QDate& today);
};
