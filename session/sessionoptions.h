#pragma once

#include <functional>

#include "orders/pollclock.h"

class QNetworkAccessManager;
class QObject;

// What a session is built with beyond its account: the limits on the platform's answers, the
// length of its clock's second, and where its network manager comes from. Production takes the
// defaults; tests and tools shorten the waits or put a network of their own under the session.
struct SessionOptions
{
    // An answer that brings nothing for this long fails; it is also the span over which an answer
    // must keep coming.
    int transferTimeoutMs = 30000;
    // The deadline an answer must be whole by, for its start and again for every 120 KiB it announces.
    int transferDeadlineMs = 30000;
    // The second of the polls, the full-list retry, the confirmation table and the reminder.
    PollClock clock;
    // Makes the network manager of a session (and of the login before it); null: the real network.
    std::function<QNetworkAccessManager*(QObject* parent)> makeNetwork;

    QNetworkAccessManager* MakeNetwork(QObject* parent) const;
};
