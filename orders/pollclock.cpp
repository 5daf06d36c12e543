#include "orders/pollclock.h"

#include <QtGlobal>

#include <limits>

namespace PollClock {

static int secondLength = 1000;

int SecondLength()
{
    return secondLength;
}

void SetSecondLength(int msecs)
{
    secondLength = qMax(1, msecs);
}

int Msecs(int seconds)
{
    // A stretched second (the benchmark's hour) must not wrap a 10-minute wait around.
    return int(qBound<qint64>(0, qint64(seconds) * secondLength, std::numeric_limits<int>::max()));
}

} // namespace PollClock
