#pragma once

#include <memory>

#include "common/fakenetwork.h"
#include "common/platformprocess.h"
#include "session/csession.h"
#include "session/sessionoptions.h"

// What a test builds its sessions, logins and clients with: production's limits unless the test
// shortens them, a clock whose second is `secondMs`, and the fake network whenever a test has
// installed it (FakeNetworkManager::Install), the real one otherwise.
inline SessionOptions TestOptions(int secondMs = 1000, int transferTimeoutMs = 30000)
{
    SessionOptions options;
    options.clock.secondMs = secondMs;
    options.transferTimeoutMs = transferTimeoutMs;
    options.makeNetwork = &FakeNetworkManager::Make;
    return options;
}

// A session as a login makes one, for a test account: `id`, `key` and `token` go with every
// request. A test that wants the fake network installs it first: the session makes its one
// manager as it starts.
inline std::unique_ptr<CSession> MakeSession(const CUser& user, const SessionOptions& options = TestOptions())
{
    return std::make_unique<CSession>(user, nullptr, nullptr, options);
}

inline std::unique_ptr<CSession> MakeSession(int id, const QString& key, const QString& token, qint64 account = 0,
                                             const SessionOptions& options = TestOptions())
{
    CUser user;
    user.SetId(id);
    user.SetKey(key);
    user.SetToken(token);
    user.SetAccount(account);
    return MakeSession(user, options);
}

inline std::unique_ptr<CSession> MakeSession(const PlatformProcess::Session& login, qint64 account = 0,
                                             const SessionOptions& options = TestOptions())
{
    return MakeSession(login.id, login.key, login.token, account, options);
}
