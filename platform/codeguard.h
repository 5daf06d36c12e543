#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>

namespace Velm {

// How many wrong buyer's codes "StaffFinishOrder" takes before it stops checking them.
struct CodeLimits
{
    int orderTries = 5;    // per order, then it is locked for `lock`
    int sessionTries = 30; // per login within any span of `lock`
    std::chrono::milliseconds lock = std::chrono::minutes(10);
};

// Keeps a six-digit code from being guessed: an order that got `orderTries` wrong codes refuses
// every code, the right one too, until `lock` has passed; a login that typed `sessionTries` wrong
// codes within `lock` gets no code checked until the oldest of them is older than that.
// An attempt counts as wrong the moment it starts (Begin), so that parallel guesses cannot slip
// past the limit together; Settle takes back what turned out not to be a wrong code.
class CodeGuard
{
public:
    explicit CodeGuard(const CodeLimits& limits) : limits(limits) {}

    // The refusal text when the attempt may not be checked; otherwise the attempt is counted.
    std::optional<QString> Begin(qint64 order, const QString& session);
    // After the attempt: `wrong` keeps it counted, `finished` forgets the order.
    void Settle(qint64 order, const QString& session, bool wrong, bool finished);

private:
    using Clock = std::chrono::steady_clock;
    struct OrderTries
    {
        int wrong = 0;
        Clock::time_point last{};
        Clock::time_point lockedUntil{};
    };
    QString WaitText(Clock::duration left) const;
    void Prune(Clock::time_point now);

    const CodeLimits limits;
    std::mutex mutex;
    QHash<qint64, OrderTries> orders;
    QHash<QString, std::deque<Clock::time_point>> sessions;
    Clock::time_point lastPrune{};
};

} // namespace Velm
