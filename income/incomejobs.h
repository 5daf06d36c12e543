#pragma once

#include "app/money.h"
#include "income/incomeentry.h"
#include "net/job.h"

// The shop's figures as "CashUpdate" gives them.
struct CashFigures
{
    Money balance = 0;     // "yuer"
    Money totalIncome = 0; // "allcash"
};
Q_DECLARE_METATYPE(CashFigures)

// CashUpdate: the balance and the income so far. An answer without both figures is malformed.
class CCashJob : public CJob
{
    Q_OBJECT
public:
    explicit CCashJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start();

signals:
    void Fetched(const CashFigures& figures);

protected:
    QString Take(const Request::Answer& answer) override;
};

// AddShopCash: the orders that earned money in a period ("day", "week", "mon" or "all"). An entry
// that lacks one of its four fields is left out; a payload that is not a list is malformed.
class CIncomeListJob : public CJob
{
    Q_OBJECT
public:
    explicit CIncomeListJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start(const QString& way);
    QString Way() const { return way; }

signals:
    void Fetched(const IncomeEntries& entries);

protected:
    QString Take(const Request::Answer& answer) override;

private:
    QString way;
};
