#pragma once

#include <QHash>
#include <QJsonArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace Velm {

// A fault that the admin API sets on an endpoint for tests and demonstrations.
struct Fault
{
    enum Kind
    {
        Delay,     // answer normally after `ms` milliseconds
        Hang,      // never answer (until the fault is cleared or the server stops)
        Http500,   // HTTP 500
        NotJson,   // a body that is not JSON
        JsonArray, // a JSON array instead of an object
        Refuse,    // status 0 with `text`
        Close,     // close the connection without a word
    };
    Kind kind = Delay;
    int ms = 0;
    QString text;
    int remaining = 0; // answers left before the fault clears itself; 0: until cleared

    static std::optional<Kind> KindFromName(const QString& name);
    static QString KindName(Kind kind);
};

// Faults by endpoint name ("StaffOrderList", "img", "download", "*" for every API endpoint).
// Thread-safe; waits are bounded and end at once when the faults are cleared or on Shutdown().
class Faults
{
public:
    // Longest a held request is kept open.
    static constexpr int MaxHoldMs = 10 * 60 * 1000;

    void Set(const QString& endpoint, const Fault& fault);
    void Clear(const QString& endpoint = QString()); // empty: every fault
    // The fault to apply to one request, counting it against `remaining`.
    std::optional<Fault> Take(const QString& endpoint);
    QJsonArray List() const;

    enum class WaitEnd
    {
        Elapsed,
        Cleared,
        ClientGone,
        ShuttingDown
    };
    // Waits `ms`, or with untilCleared until a Clear() after this call (at most MaxHoldMs). A
    // client that gave up must not keep a worker thread for ten minutes, so `clientGone` is asked
    // four times a second.
    WaitEnd Wait(int ms, bool untilCleared, const std::function<bool()>& clientGone);
    void Shutdown();

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    QHash<QString, Fault> faults;
    quint64 clearCount = 0;
    bool shuttingDown = false;
};

} // namespace Velm
