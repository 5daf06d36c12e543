#pragma once

#include <QByteArray>

#include "common/fakenetwork.h"
#include "net/job.h"
#include "session/cuser.h"

// The line a job's test runs it on: a fake network that gives every request the same answer, for
// the account with id 7, key "k&y" and token "t". Each one starts with no request recorded.
struct FakeLine
{
    FakeNetworkManager network;
    CUser user;

    FakeLine()
    {
        FakeNetworkManager::Recorded().clear();
        user.SetId(7);
        user.SetKey(QStringLiteral("k&y"));
        user.SetToken(QStringLiteral("t"));
    }

    ApiLine Line()
    {
        ApiLine line;
        line.network = &network;
        line.user = &user;
        return line;
    }

    void Answer(const QByteArray& body)
    {
        network.SetHandler([body](const RecordedRequest&) { return FakeResponse::Json(body); });
    }

    // The first request: its endpoint (the last part of its path) and its form.
    static QString Endpoint() { return FakeNetworkManager::Recorded().value(0).request.url().fileName(); }
    static QByteArray Body() { return FakeNetworkManager::Recorded().value(0).body; }
};
