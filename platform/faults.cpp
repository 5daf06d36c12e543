#include "faults.h"

#include <QJsonObject>

#include <algorithm>
#include <chrono>

namespace Velm {

namespace {
struct KindEntry
{
    Fault::Kind kind;
    const char* name;
};
const KindEntry Kinds[] = {
    {Fault::Delay, "delay"},     {Fault::Hang, "hang"},       {Fault::Http500, "http500"},
    {Fault::NotJson, "notjson"}, {Fault::JsonArray, "array"}, {Fault::Refuse, "refuse"},
    {Fault::Close, "close"},
};
} // namespace

std::optional<Fault::Kind> Fault::KindFromName(const QString& name)
{
    for (const KindEntry& entry : Kinds) {
        if (name == QLatin1String(entry.name))
            return entry.kind;
    }
    return std::nullopt;
}

QString Fault::KindName(Kind kind)
{
    for (const KindEntry& entry : Kinds) {
        if (entry.kind == kind)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}

void Faults::Set(const QString& endpoint, const Fault& fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    faults.insert(endpoint, fault);
}

void Faults::Clear(const QString& endpoint)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (endpoint.isEmpty())
            faults.clear();
        else
            faults.remove(endpoint);
        ++clearCount;
    }
    changed.notify_all();
}

std::optional<Fault> Faults::Take(const QString& endpoint)
{
    std::lock_guard<std::mutex> lock(mutex);
    QString key = endpoint;
    if (!faults.contains(key)) {
        if (!faults.contains(QStringLiteral("*")) || endpoint == QLatin1String("img") ||
            endpoint == QLatin1String("download"))
            return std::nullopt;
        key = QStringLiteral("*");
    }
    Fault& stored = faults[key];
    const Fault fault = stored;
    if (stored.remaining > 0 && --stored.remaining == 0)
        faults.remove(key);
    return fault;
}

QJsonArray Faults::List() const
{
    std::lock_guard<std::mutex> lock(mutex);
    QJsonArray list;
    for (auto it = faults.cbegin(); it != faults.cend(); ++it) {
        QJsonObject entry;
        entry.insert(QStringLiteral("endpoint"), it.key());
        entry.insert(QStringLiteral("kind"), Fault::KindName(it.value().kind));
        entry.insert(QStringLiteral("ms"), it.value().ms);
        entry.insert(QStringLiteral("text"), it.value().text);
        entry.insert(QStringLiteral("times"), it.value().remaining);
        list.append(entry);
    }
    return list;
}

Faults::WaitEnd Faults::Wait(int ms, bool untilCleared, const std::function<bool()>& clientGone)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(untilCleared ? MaxHoldMs : ms);
    std::unique_lock<std::mutex> lock(mutex);
    const quint64 clearsBefore = clearCount;
    for (;;) {
        if (shuttingDown)
            return WaitEnd::ShuttingDown;
        if (untilCleared && clearCount != clearsBefore)
            return WaitEnd::Cleared;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return WaitEnd::Elapsed;
        changed.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(250)));
        lock.unlock();
        const bool gone = clientGone && clientGone();
        lock.lock();
        if (gone)
            return WaitEnd::ClientGone;
    }
}

void Faults::Shutdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        shuttingDown = true;
    }
    changed.notify_all();
}

} // namespace Velm
