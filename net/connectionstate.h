#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>

class QTimer;

// Whether the client still reaches the platform, judged from the polls: when they have failed for
// a while with no success in between (40 s unless TARVIK_OFFLINE_AFTER_SECONDS says otherwise), the
// connection counts as lost until the next success. Single requests of windows are not fed in:
// their failures are shown where they happen.
class CConnectionState : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // a monotonic time in milliseconds

    explicit CConnectionState(QObject* parent = nullptr);

    static int DefaultThreshold(); // milliseconds: TARVIK_OFFLINE_AFTER_SECONDS × 1000, else 40 000

    bool IsLost() const { return lost; }
    QDateTime Since() const { return lost ? since : QDateTime(); } // the first failure of the run
    int SecondsLost() const;

    // Seams for tests: the clock, the failing time that counts as lost and the pace of Ticking().
    void SetClock(Clock clock);
    void SetThreshold(int msecs);
    void SetTickInterval(int msecs);

public slots:
    void Succeeded();
    void Failed();
    // Looks at the clock again; a failing run turns lost here even when no further failure comes in
    // (a poll waiting for its time-out). Called by a timer, and by tests after moving their clock.
    void Check();

signals:
    void Lost(const QDateTime& since);
    void Ticking(int seconds); // every tick while lost: seconds since the first failure
    void Restored();

private:
    void Tick();

    Clock clock;
    int threshold;
    bool failing = false;
    bool lost = false;
    qint64 firstFailure = 0; // on the clock
    QDateTime since;         // the same moment on the wall clock, for people
    QTimer* checkTimer;
    QTimer* tickTimer;
};
