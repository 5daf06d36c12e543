#include "net/connectionstate.h"

#include <QElapsedTimer>
#include <QTimer>

#include "app/log.h"

namespace {

constexpr int defaultThresholdMsecs = 40000;

qint64 monotonicNow()
{
    static QElapsedTimer started;
    if (!started.isValid())
        started.start();
    return started.elapsed();
}

} // namespace

CConnectionState::CConnectionState(QObject* parent)
    : QObject(parent), clock(monotonicNow), threshold(DefaultThreshold()), checkTimer(new QTimer(this)),
      tickTimer(new QTimer(this))
{
    checkTimer->setSingleShot(true);
    connect(checkTimer, &QTimer::timeout, this, &CConnectionState::Check);
    tickTimer->setInterval(1000);
    connect(tickTimer, &QTimer::timeout, this, &CConnectionState::Tick);
}

int CConnectionState::DefaultThreshold()
{
    // The demo and the headless run shorten the wait, so that the band shows within seconds.
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("TARVIK_OFFLINE_AFTER_SECONDS", &ok);
    return ok && seconds > 0 && seconds <= 3600 ? seconds * 1000 : defaultThresholdMsecs;
}

void CConnectionState::SetClock(Clock value)
{
    clock = value ? std::move(value) : Clock(monotonicNow);
}

void CConnectionState::SetThreshold(int msecs)
{
    threshold = qMax(0, msecs);
}

void CConnectionState::SetTickInterval(int msecs)
{
    tickTimer->setInterval(qMax(1, msecs));
}

const CConnectionState::Run* CConnectionState::Longest() const
{
    const Run* longest = nullptr;
    const qint64 now = clock();
    for (const Run& run : failing)
        if (now - run.firstFailure >= threshold && (!longest || run.firstFailure < longest->firstFailure))
            longest = &run;
    return longest;
}

QDateTime CConnectionState::Since() const
{
    const Run* run = lost ? Longest() : nullptr;
    return run ? run->since : QDateTime();
}

int CConnectionState::SecondsLost() const
{
    const Run* run = lost ? Longest() : nullptr;
    return run ? int((clock() - run->firstFailure) / 1000) : 0;
}

QString CConnectionState::Refusal() const
{
    if (!lost)
        return QString();
    const qint64 now = clock();
    for (const Run& run : failing)
        if (now - run.firstFailure >= threshold && !run.refusal.isEmpty())
            return run.refusal;
    return QString();
}

void CConnectionState::Succeeded(const QString& source)
{
    const int seconds = SecondsLost();
    const QDateTime lostSince = Since();
    if (!failing.remove(source))
        return;
    if (lost && Longest())
        return; // another poll still fails
    const bool wasLost = lost;
    lost = false;
    tickTimer->stop();
    Check(); // a poll that has failed for less long goes on counting
    if (!wasLost)
        return;
    qCInfo(lcPolls, "connection restored after %d s (lost since %s)", seconds,
           qUtf8Printable(lostSince.toString(QStringLiteral("hh:mm:ss"))));
    emit Restored();
}

void CConnectionState::Failed(const QString& source, const QString& refusal)
{
    auto it = failing.find(source);
    if (it == failing.end())
        it = failing.insert(source, Run{clock(), QDateTime::currentDateTime(), QString()});
    it->refusal = refusal;
    Check();
}

void CConnectionState::Check()
{
    if (failing.isEmpty()) {
        checkTimer->stop();
        return;
    }
    if (lost)
        return;
    const qint64 now = clock();
    const Run* longest = nullptr;
    QString source;
    qint64 wait = threshold;
    for (auto it = failing.cbegin(); it != failing.cend(); ++it) {
        const qint64 failingFor = now - it->firstFailure;
        if (failingFor >= threshold && (!longest || it->firstFailure < longest->firstFailure)) {
            longest = &it.value();
            source = it.key();
        }
        wait = qMin(wait, threshold - failingFor);
    }
    if (!longest) {
        // The timer may fire early, or the clock is a test's: look again when the time is up.
        checkTimer->start(int(qMax<qint64>(0, wait)));
        return;
    }
    lost = true;
    checkTimer->stop();
    qCWarning(lcPolls, "connection lost: %s has failed for %d s, since %s%s", qUtf8Printable(source),
              int((now - longest->firstFailure) / 1000),
              qUtf8Printable(longest->since.toString(QStringLiteral("hh:mm:ss"))),
              longest->refusal.isEmpty() ? "" : qUtf8Printable(QStringLiteral(", refused: ") + longest->refusal));
    emit Lost(longest->since);
    tickTimer->start();
    emit Ticking(SecondsLost());
}

void CConnectionState::Tick()
{
    if (lost)
        emit Ticking(SecondsLost());
}
