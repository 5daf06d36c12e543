#include "income/dailyincome.h"

namespace {

QDate MonthOf(const QDate& day)
{
    return QDate(day.year(), day.month(), 1);
}

int MonthsBetween(const QDate& from, const QDate& to)
{
    return (to.year() - from.year()) * 12 + to.month() - from.month();
}

} // namespace

QDate DailyIncome::Start(int index) const
{
    return step == Step::Day ? first.addDays(index) : first.addMonths(index);
}

QDate DailyIncome::End(int index) const
{
    const QDate end = step == Step::Day ? Start(index) : Start(index + 1).addDays(-1);
    return qMin(end, last);
}

DailyIncome DailyIncome::Of(const IncomeEntries& orders, const QString& way, const QDate& today)
{
    const bool all = way == QLatin1String("all");
    QDate first = today;
    if (way == QLatin1String("week"))
        first = today.addDays(-6);
    else if (way == QLatin1String("mon"))
        first = MonthOf(today);
    QDate last = today;
    const QDate earliest = all ? MonthOf(today).addMonths(-(mostMonths - 1)) : first.addDays(-1);

    auto dayOf = [](const IncomeEntry& order) {
        return order.ctime.date();
    };
    for (const IncomeEntry& order : orders) {
        const QDate day = dayOf(order);
        if (!day.isValid() || day < earliest || day > today.addDays(1))
            continue;
        first = qMin(first, day);
        last = qMax(last, day);
    }

    DailyIncome income;
    income.last = last;
    if (first.daysTo(last) + 1 > mostDays) {
        income.step = Step::Month;
        income.first = MonthOf(first);
        income.sums.fill(0, MonthsBetween(income.first, last) + 1);
    } else {
        income.first = first;
        income.sums.fill(0, int(first.daysTo(last)) + 1);
    }
    for (const IncomeEntry& order : orders) {
        const QDate day = dayOf(order);
        const Money cash = order.addCash;
        if (!day.isValid() || day < first || day > last) {
            ++income.leftOut;
            income.leftOutTotal += cash;
            continue;
        }
        const int index =
            income.step == Step::Day ? int(first.daysTo(day)) : MonthsBetween(income.first, day);
        income.sums[index] += cash;
        income.total += cash;
    }
    for (int i = 0; i < income.sums.size(); ++i)
        if (income.sums[i] > 0 && (income.best < 0 || income.sums[i] > income.sums[income.best]))
            income.best = i;
    return income;
}
