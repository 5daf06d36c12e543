#include "income/dailyincome.h"

#include "orders/corder.h"

DailyIncome DailyIncome::Of(const QList<COrder*>& orders, const QString& way, const QDate& today)
{
    QDate first = today;
    if (way == QLatin1String("week"))
        first = today.addDays(-6);
    else if (way == QLatin1String("mon"))
        first = QDate(today.year(), today.month(), 1);
    QDate last = today;
    for (const COrder* order : orders) {
        const QDate day = order->GetCtime().date();
        if (!day.isValid())
            continue;
        // "all" starts at the oldest order; any period stretches to an order outside its days.
        first = qMin(first, day);
        last = qMax(last, day);
    }

    DailyIncome income;
    income.first = first;
    income.sums.fill(0, int(first.daysTo(last)) + 1);
    for (const COrder* order : orders) {
        const QDate day = order->GetCtime().date();
        if (!day.isValid())
            continue;
        income.sums[int(first.daysTo(day))] += order->GetAddCash();
        income.total += order->GetAddCash();
    }
    for (int i = 0; i < income.sums.size(); ++i)
        if (income.sums[i] > 0 && (income.bestDay < 0 || income.sums[i] > income.sums[income.bestDay]))
            income.bestDay = i;
    return income;
}
