#pragma once

#include <memory>

#include "common/platformprocess.h"
#include "session/csession.h"

// A session as a login makes one, for a test account: `id`, `key` and `token` go with every
// request. A test that wants the fake network installs it first: the session makes its one
// manager as it starts.
inline std::unique_ptr<CSession> MakeSession(int id, const QString& key, const QString& token, qint64 account = 0)
{
    CUser user;
    user.SetId(id);
    user.SetKey(key);
    user.SetToken(token);
    user.SetAccount(account);
    return std::make_unique<CSession>(user);
}

inline std::unique_ptr<CSession> MakeSession(const CUser& user)
{
    return std::make_unique<CSession>(user);
}

inline std::unique_ptr<CSession> MakeSession(const PlatformProcess::Session& login, qint64 account = 0)
{
    return MakeSession(login.id, login.key, login.token, account);
}
