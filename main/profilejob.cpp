#include "main/profilejob.h"

#include "app/constants.h"
#include "net/request.h"
#include "session/cuser.h"

void Profile::WriteTo(CUser& user) const
{
    if (id)
        user.SetId(id);
    if (account)
        user.SetAccount(account);
    user.SetBalance(balance);
    user.SetMaiName(maiName);
    user.SetMaiPhone(maiPhone);
    user.SetMaiQQ(maiQQ);
    user.SetMaiCode(maiCode);
    user.SetPaymentCode(paymentCode);
    user.SetFace(face);
    user.SetSex(sex);
    user.SetNickname(nickname);
    user.SetCtime(ctime);
}

CProfileJob::CProfileJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<Profile>();
}

bool CProfileJob::Start()
{
    // The platform has always been sent the session's fields with a "&" after them here.
    return PostBody(Api::UserInfo(), Request::EncodeBody(Request::SessionFields(Line().user), true));
}

QString CProfileJob::Take(const Request::Answer& answer)
{
    if (!answer.InfoJson().isObject())
        return QStringLiteral("the profile is not an object");
    const QVariantMap info = answer.InfoMap();
    auto text = [&info](const char* key) {
        return info.value(QLatin1String(key)).toString();
    };
    Profile profile;
    bool ok = false;
    profile.id = info.value(QStringLiteral("id")).toInt(&ok);
    if (!ok)
        profile.id = 0;
    profile.account = info.value(QStringLiteral("name")).toLongLong(&ok);
    if (!ok)
        profile.account = 0;
    profile.balance = info.value(QStringLiteral("yuer")).toDouble();
    profile.maiName = text("mainame");
    profile.maiPhone = text("maidianhua");
    profile.maiQQ = text("maiqq");
    profile.maiCode = text("maicode");
    // "payment_code" is the newer name of "payment" and wins, given or not.
    profile.paymentCode = text("payment_code");
    profile.face = text("face");
    profile.sex = info.value(QStringLiteral("sex")).toBool();
    profile.nickname = text("nickname");
    profile.ctime = info.value(QStringLiteral("ctime")).toDateTime();
    emit Fetched(profile);
    return QString();
}
