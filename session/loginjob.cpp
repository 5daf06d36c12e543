#include "session/loginjob.h"

#include <QJsonObject>

#include "app/constants.h"
#include "net/request.h"

CLoginJob::CLoginJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<CUser>();
}

bool CLoginJob::Start(const CUser& typed)
{
    account = typed;
    return Post(Api::LoginMd5(),
                {{QStringLiteral("account"), QString::number(typed.GetAccount())},
                 {QStringLiteral("pass"), typed.GetPasswordMd5()}},
                false);
}

QString CLoginJob::Take(const Request::Answer& answer)
{
    const QJsonValue info = answer.InfoJson();
    if (!info.isObject())
        return QStringLiteral("the account is not an object");
    const QVariantMap fields = info.toObject().toVariantMap();
    CUser loggedIn = account;
    loggedIn.SetId(fields.value(QStringLiteral("id")).toInt());
    loggedIn.SetKey(fields.value(QStringLiteral("key")).toString());
    loggedIn.SetToken(fields.value(QStringLiteral("token")).toString());
    loggedIn.SetNickname(fields.value(QStringLiteral("nickname")).toString());
    loggedIn.SetFace(fields.value(QStringLiteral("face")).toString());
    loggedIn.SetSex(fields.value(QStringLiteral("sex")).toBool());
    loggedIn.SetLogDate(QDateTime::currentDateTime());
    emit LoggedIn(loggedIn);
    return QString();
}
