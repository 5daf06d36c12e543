#pragma once

#include <QDateTime>
#include <QString>

#include "app/money.h"
#include "net/job.h"

class CUser;

// What "UserInfo" says of the staff member, as the session record takes it.
struct Profile
{
    // The answer's "id" and "name"; 0 when it left them out or gave something that is no number.
    int id = 0;
    qint64 account = 0;
    Money balance = 0;
    QString maiName;
    QString maiPhone;
    QString maiQQ;
    QString maiCode;
    QString paymentCode;
    QString face;
    bool sex = false;
    QString nickname;
    QDateTime ctime;

    // Writes the profile into the record. A field the answer left out is cleared there too, except
    // the id and the account: they identify the session to every later request and name its folder.
    void WriteTo(CUser& user) const;
};
Q_DECLARE_METATYPE(Profile)

// UserInfo: the logged-in staff member's profile.
class CProfileJob : public CJob
{
    Q_OBJECT
public:
    explicit CProfileJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start();

signals:
    void Fetched(const Profile& profile);

protected:
    QString Take(const Request::Answer& answer) override;
};
