#include "main/updatecheckjob.h"

#include "app/constants.h"
#include "net/request.h"

CUpdateCheckJob::CUpdateCheckJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<UpdateOffer>();
}

bool CUpdateCheckJob::Start()
{
    return PostBody(Api::UpdateSoftware(), QByteArray());
}

QString CUpdateCheckJob::Take(const Request::Answer& answer)
{
    if (!answer.InfoJson().isObject())
        return QStringLiteral("the offer is not an object");
    const QVariantMap info = answer.InfoMap();
    UpdateOffer offer;
    offer.build = info.value(QStringLiteral("build")).toString();
    offer.url = QUrl(info.value(QStringLiteral("url")).toString());
    offer.sha256 = info.value(QStringLiteral("sha256")).toString().trimmed().toLower();
    emit Offered(offer);
    return QString();
}
