#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>

#include <functional>

class QTimer;

// Whether the client still reaches the platform, judged from the polls: when any one poll (a
// source) has failed for a while with no success of its own in between (40 s unless
// TARVIK_OFFLINE_AFTER_SECONDS says otherwise), the connection counts as lost, even while another
// poll succeeds, until every such poll has succeeded again. A poll the platform refused (it
// answered, and said no) is lost the same way, with the platform's words as `Refusal()`. Single
// requests of windows are not fed in: their failures are shown where they happen.
class CConnectionState : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // a monotonic time in milliseconds

    explicit CConnectionState(QObject* parent = nullptr);

    static int DefaultThreshold(); // milliseconds: TARVIK_OFFLINE_AFTER_SECONDS × 1000, else 40 000

    bool IsLost() const { return lost; }
    QDateTime Since() const; // the first failure of the longest lost run
    int SecondsLost() const;
    // The platform's text when a lost poll was refused rather than cut off; empty otherwise.
    QString Refusal() const;

    // Seams for tests: the clock, the failing time that counts as lost and the pace of Ticking().
    void SetClock(Clock clock);
    void SetThreshold(int msecs);
    void SetTickInterval(int msecs);

public slots:
    void Succeeded(const QString& source = QString());
    // `refusal`: the platform's own text when it answered and refused; empty for a failed line.
    void Failed(const QString& source = QString(), const QString& refusal = QString());
    // Looks at the clock again; a failing run turns lost here even when no further failure comes in
    // (a poll waiting for its time-out). Called by a timer, and by tests after moving their clock.
    void Check();

signals:
    void Lost(const QDateTime& since);
    void Ticking(int seconds); // every tick while lost: seconds since the first failure
    void Restored();

private:
    struct Run
    {
        qint64 firstFailure = 0; // on the clock
        QDateTime since;         // the same moment on the wall clock, for people
        QString refusal;         // the latest failure's refusal text
    };

    void Tick();
    // The lost run that began first, or null.
    const Run* Longest() const;

    Clock clock;
    int threshold;
    bool lost = false;
    QHash<QString, Run> failing; // by source
    QTimer* checkTimer;
    QTimer* tickTimer;
};
