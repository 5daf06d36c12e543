#include "orders/pollclock.h"

#include <QtGlobal>

#include <limits>

int PollClock::Msecs(int seconds) const
{
    // A stretched second (the benchmark's hour) must not wrap a 10-minute wait around.
    return int(qBound<qint64>(0, qint64(seconds) * qMax(1, secondMs), std::numeric_limits<int>::max()));
}
