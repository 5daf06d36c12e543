#include "session/cuser.h"

#include <QCryptographicHash>

static const QString logDateFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

void CUser::SetPassword(const QString& value)
{
    password = value;
    passwordMd5 = Md5Of(value);
}

QString CUser::Md5Of(const QString& password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(password.toLocal8Bit(), QCryptographicHash::Md5).toHex());
}

QString CUser::SexText() const
{
    return sex ? QStringLiteral("男") : QStringLiteral("女");
}

void CUser::SetLogDateText(const QString& text)
{
    logDate = QDateTime::fromString(text, logDateFormat);
}
