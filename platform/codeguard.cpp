#include "codeguard.h"

namespace Velm {

std::optional<QString> CodeGuard::Begin(qint64 order, const QString& session)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    Prune(now);
    OrderTries& tries = orders[order];
    if (tries.lockedUntil > now)
        return QStringLiteral("该订单的订单密码错误次数过多，请%1后再试")
            .arg(WaitText(tries.lockedUntil - now));
    if (tries.lockedUntil != Clock::time_point{} || now - tries.last > limits.lock)
        tries = OrderTries{};

    std::deque<Clock::time_point>& typed = sessions[session];
    while (!typed.empty() && now - typed.front() > limits.lock)
        typed.pop_front();
    if (static_cast<int>(typed.size()) >= limits.sessionTries)
        return QStringLiteral("订单密码错误次数过多，请%1后再试")
            .arg(WaitText(typed.front() + limits.lock - now));

    ++tries.wrong;
    tries.last = now;
    if (tries.wrong >= limits.orderTries)
        tries.lockedUntil = now + limits.lock;
    typed.push_back(now);
    return std::nullopt;
}

void CodeGuard::Settle(qint64 order, const QString& session, bool wrong, bool finished)
{
    if (wrong)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    auto typed = sessions.find(session);
    if (typed != sessions.end() && !typed->empty())
        typed->pop_back();
    if (finished) {
        orders.remove(order);
        return;
    }
    auto tries = orders.find(order);
    if (tries != orders.end() && tries->wrong > 0 && --tries->wrong < limits.orderTries)
        tries->lockedUntil = Clock::time_point{};
}

QString CodeGuard::WaitText(Clock::duration left) const
{
    const qint64 seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    if (seconds < 60)
        return QStringLiteral("%1秒").arg(qMax<qint64>(1, seconds));
    return QStringLiteral("%1分钟").arg((seconds + 59) / 60);
}

void CodeGuard::Prune(Clock::time_point now)
{
    // Entries nobody typed into for longer than the lock hold nothing; once a minute they go, so
    // that guesses spread over many orders and logins do not pile up.
    if (now - lastPrune < std::chrono::minutes(1))
        return;
    lastPrune = now;
    for (auto it = orders.begin(); it != orders.end();) {
        if (it->lockedUntil <= now && now - it->last > limits.lock)
            it = orders.erase(it);
        else
            ++it;
    }
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (it->empty() || now - it->back() > limits.lock)
            it = sessions.erase(it);
        else
            ++it;
    }
}

} // namespace Velm
