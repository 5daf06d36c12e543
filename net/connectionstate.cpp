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

int CConnectionState::SecondsLost() const
{
    return lost ? int((clock() - firstFailure) / 1000) : 0;
}

void CConnectionState::Succeeded()
{
    const bool wasLost = lost;
    const int seconds = SecondsLost();
    failing = false;
    lost = false;
    checkTimer->stop();
    tickTimer->stop();
    if (!wasLost)
        return;
    qCInfo(lcPolls, "connection restored after %d s (lost since %s)", seconds,
           qUtf8Printable(since.toString(QStringLiteral("hh:mm:ss"))));
    emit Restored();
}

void CConnectionState::Failed()
{
    if (!failing) {
        failing = true;
        firstFailure = clock();
        since = QDateTime::currentDateTime();
        checkTimer->start(threshold);
    }
    Check();
}

void CConnectionState::Check()
{
    if (!failing || lost)
        return;
    const qint64 failingFor = clock() - firstFailure;
    if (failingFor < threshold) {
        // The timer may fire early, or the clock is a test's: look again when the time is up.
        checkTimer->start(int(threshold - failingFor));
        return;
    }
    lost = true;
    checkTimer->stop();
    qCWarning(lcPolls, "connection lost: the polls have failed for %d s, since %s", int(failingFor / 1000),
              qUtf8Printable(since.toString(QStringLiteral("hh:mm:ss"))));
    emit Lost(since);
    tickTimer->start();
    emit Ticking(SecondsLost());
}

void CConnectionState::Tick()
{
    if (lost)
        emit Ticking(SecondsLost());
}
