#include "orders/orderjobs.h"

#include "app/constants.h"
#include "net/request.h"

COrderDetailJob::COrderDetailJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<OrderDetail>();
}

bool COrderDetailJob::Start(qint64 orderId)
{
    id = orderId;
    return Post(Api::StaffOrder2(), {{QStringLiteral("oid"), QString::number(orderId)}});
}

QString COrderDetailJob::Take(const Request::Answer& answer)
{
    const QJsonValue info = answer.InfoJson();
    if (!info.isObject())
        return QStringLiteral("the detail is not an object");
    OrderDetail detail;
    detail.info = info.toObject().toVariantMap();
    detail.id = detail.info.value(QStringLiteral("id")).toLongLong();
    if (detail.id != id)
        return QStringLiteral("the detail names order %1, not %2").arg(detail.id).arg(id);
    detail.platformTime = answer.platformTime;
    emit Fetched(detail);
    return QString();
}
