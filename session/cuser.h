#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include "app/money.h"

// One staff account: who it is, how it logs in, what the platform said at login and what the
// profile window learned later. A plain value class.
class CUser
{
public:
    CUser() = default;

    int GetId() const { return id; }
    void SetId(int value) { id = value; }
    qint64 GetAccount() const { return account; }
    void SetAccount(qint64 value) { account = value; }
    QString GetPassword() const { return password; }
    void SetPassword(const QString& value);
    QString GetPasswordMd5() const { return passwordMd5; }
    QDateTime GetCtime() const { return ctime; }
    void SetCtime(const QDateTime& value) { ctime = value; }
    Money GetBalance() const { return balance; }
    void SetBalance(Money value) { balance = value; }
    QString GetMaiName() const { return maiName; }
    void SetMaiName(const QString& value) { maiName = value; }
    QString GetMaiPhone() const { return maiPhone; }
    void SetMaiPhone(const QString& value) { maiPhone = value; }
    QString GetUserAddress() const { return userAddress; }
    void SetUserAddress(const QString& value) { userAddress = value; }
    QString GetMaiQQ() const { return maiQQ; }
    void SetMaiQQ(const QString& value) { maiQQ = value; }
    QString GetMaiCode() const { return maiCode; }
    void SetMaiCode(const QString& value) { maiCode = value; }
    QString GetPaymentCode() const { return paymentCode; }
    void SetPaymentCode(const QString& value) { paymentCode = value; }
    QString GetNickname() const { return nickname; }
    void SetNickname(const QString& value) { nickname = value; }
    QString GetFace() const { return face; }
    void SetFace(const QString& value) { face = value; }
    bool GetSex() const { return sex; }
    void SetSex(bool value) { sex = value; }
    QDateTime GetBirthday() const { return birthday; }
    void SetBirthday(const QDateTime& value) { birthday = value; }
    QDateTime GetLogDate() const { return logDate; }
    void SetLogDate(const QDateTime& value) { logDate = value; }
    QString GetKey() const { return key; }
    void SetKey(const QString& value) { key = value; }
    QString GetToken() const { return token; }
    void SetToken(const QString& value) { token = value; }
    bool GetRememberPassword() const { return rememberPassword; }
    void SetRememberPassword(bool value) { rememberPassword = value; }
    bool GetAutoLogin() const { return autoLogin; }
    void SetAutoLogin(bool value) { autoLogin = value; }

    QString SexText() const;                  // "男" or "女"
    void SetLogDateText(const QString& text); // "yyyy-MM-dd hh:mm:ss"; anything else gives an invalid date
    static QString Md5Of(const QString& password); // 32 lower-case hex digits of the local 8-bit bytes

private:
    int id = 0;
    qint64 account = 0;
    QString password;
    QString passwordMd5;
    QDateTime ctime;
    Money balance = 0;
    QString maiName;
    QString maiPhone;
    QString userAddress;
    QString maiQQ;
    QString maiCode;
    QString paymentCode;
    QString nickname;
    QString face;
    bool sex = false;
    QDateTime birthday;
    QDateTime logDate;
    QString key;
    QString token;
    bool rememberPassword = false;
    bool autoLogin = false;
};

Q_DECLARE_METATYPE(CUser)
