#pragma once

// The length of one "second" for the order polls, the full-list retry and the confirmation table's
// delayed row removal. Production keeps 1000 ms; tests shorten it so that a 20-second poll does not
// make them wait 20 seconds.
namespace PollClock {

int SecondLength(); // milliseconds
void SetSecondLength(int msecs);
int Msecs(int seconds); // seconds × SecondLength()

} // namespace PollClock
