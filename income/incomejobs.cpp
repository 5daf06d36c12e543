#include "income/incomejobs.h"

#include <QJsonArray>

#include "app/constants.h"
#include "net/request.h"

namespace {

// A JSON null counts as missing.
bool Present(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return !value.isUndefined() && !value.isNull();
}

} // namespace

CCashJob::CCashJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<CashFigures>();
}

bool CCashJob::Start()
{
    return Post(Api::CashUpdate(), {});
}

QString CCashJob::Take(const Request::Answer& answer)
{
    const QJsonObject info = answer.InfoJson().toObject();
    if (!Present(info, QStringLiteral("yuer")) || !Present(info, QStringLiteral("allcash")))
        return QStringLiteral("the figures are missing");
    CashFigures figures;
    figures.balance = info.value(QStringLiteral("yuer")).toVariant().toDouble();
    figures.totalIncome = info.value(QStringLiteral("allcash")).toVariant().toDouble();
    emit Fetched(figures);
    return QString();
}

CIncomeListJob::CIncomeListJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<IncomeEntries>();
}

bool CIncomeListJob::Start(const QString& period)
{
    way = period;
    return Post(Api::AddShopCash(), {{QStringLiteral("way"), way}});
}

QString CIncomeListJob::Take(const Request::Answer& answer)
{
    const QJsonValue info = answer.InfoJson();
    if (!info.isArray())
        return QStringLiteral("the income list is not a list");
    const QJsonArray list = info.toArray();
    IncomeEntries entries;
    entries.reserve(list.size());
    for (const QJsonValue& element : list) {
        const QJsonObject entry = element.toObject();
        if (!Present(entry, QStringLiteral("order_id")) || !Present(entry, QStringLiteral("amount")) ||
            !Present(entry, QStringLiteral("addcash")) || !Present(entry, QStringLiteral("ctime")))
            continue;
        IncomeEntry income;
        income.orderId = entry.value(QStringLiteral("order_id")).toVariant().toLongLong();
        income.amount = entry.value(QStringLiteral("amount")).toVariant().toDouble();
        income.addCash = entry.value(QStringLiteral("addcash")).toVariant().toDouble();
        income.ctime = entry.value(QStringLiteral("ctime")).toVariant().toDateTime();
        entries.append(income);
    }
    emit Fetched(entries);
    return QString();
}
