#pragma once

#include "net/job.h"
#include "session/cuser.h"

// LoginMd5: logs an account in. It sends the account and its password's MD5 (no session fields: there
// is no session yet) and, when the platform lets it in, hands back the account as typed with what the
// platform said of it (id, key, token, nickname, face, sex) and the time of the login.
class CLoginJob : public CJob
{
    Q_OBJECT
public:
    explicit CLoginJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start(const CUser& typed);

signals:
    void LoggedIn(const CUser& account);

protected:
    QString Take(const Request::Answer& answer) override;

private:
    CUser account;
};
