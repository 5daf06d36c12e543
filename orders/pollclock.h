#pragma once

// The length of one "second" for the order polls, the full-list retry, the confirmation table's
// delayed row removal and the new-order reminder. A session keeps 1000 ms; tests and tools give
// their sessions a shorter one, so that a 20-second poll does not make them wait 20 seconds, or a
// longer one, so that no poll comes while they measure.
struct PollClock
{
    int secondMs = 1000;

    int Msecs(int seconds) const; // seconds × secondMs, bounded to an int
};
