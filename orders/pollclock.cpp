#include "orders/pollclock.h"

#include <QtGlobal>

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
    return seconds * secondLength;
}

} // namespace PollClock
