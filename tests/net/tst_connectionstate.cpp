#include <QSignalSpy>

#include "common/coretestmain.h"
#include "net/connectionstate.h"

// The connection counts as lost after one poll has failed for 40 s with no success in between.
class TestConnectionState : public QObject
{
    Q_OBJECT

    qint64 now = 0;

    void useFakeClock(CConnectionState& state)
    {
        now = 1000000;
        state.SetClock([this] { return now; });
    }

private slots:
    void threshold_isFortySecondsUnlessTheEnvironmentSaysOtherwise_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("msecs");
        QTest::newRow("unset") << QByteArray() << 40000;
        QTest::newRow("eight seconds") << QByteArray("8") << 8000;
        QTest::newRow("not a number") << QByteArray("soon") << 40000;
        QTest::newRow("zero") << QByteArray("0") << 40000;
        QTest::newRow("negative") << QByteArray("-5") << 40000;
    }
    void threshold_isFortySecondsUnlessTheEnvironmentSaysOtherwise()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, msecs);
        if (value.isNull())
            qunsetenv("TARVIK_OFFLINE_AFTER_SECONDS");
        else
            qputenv("TARVIK_OFFLINE_AFTER_SECONDS", value);
        QCOMPARE(CConnectionState::DefaultThreshold(), msecs);
        qunsetenv("TARVIK_OFFLINE_AFTER_SECONDS");
    }

    // Each step: a poll at `at` seconds after the first failure, failing ("F"), refused ("R") or
    // succeeding ("S"), or the timer looking ("C"); ":name" tells which poll it was.
    void failuresInARow_turnLostAtForty_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("lost");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("40 s of failures") << QStringList{"F0", "F3", "F20", "F40"} << true << "";
        QTest::newRow("only 39 s") << QStringList{"F0", "F3", "F20", "F39"} << false << "";
        QTest::newRow("a success in between")
            << QStringList{"F0", "F20", "S25", "F30", "F40", "F60"} << false << "";
        QTest::newRow("failing again after a success")
            << QStringList{"F0", "S10", "F12", "F30", "F52"} << true << "";
        QTest::newRow("a single failure, then silence") << QStringList{"F0", "C45"} << true << "";
        QTest::newRow("successes only") << QStringList{"S0", "S50", "C100"} << false << "";
        QTest::newRow("one poll dead while the other succeeds")
            << QStringList{"F0:pay", "S10:new", "F20:pay", "S30:new", "F40:pay", "S41:new"} << true << "";
        QTest::newRow("each poll fails a while, neither for 40 s")
            << QStringList{"F0:pay", "S30:pay", "F31:new", "S60:new", "C80"} << false << "";
        QTest::newRow("refused for 40 s") << QStringList{"R0:pay", "S20:new", "R40:pay"} << true << "登录已过期";
    }
    void failuresInARow_turnLostAtForty()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, lost);
        QFETCH(QString, refusal);
        CConnectionState state;
        state.SetThreshold(40000);
        useFakeClock(state);
        QSignalSpy lostSpy(&state, &CConnectionState::Lost);
        const qint64 start = now;
        for (const QString& step : steps) {
            const QString source = step.section(QLatin1Char(':'), 1);
            now = start + step.section(QLatin1Char(':'), 0, 0).mid(1).toInt() * 1000;
            if (step.startsWith(QLatin1Char('F')))
                state.Failed(source);
            else if (step.startsWith(QLatin1Char('R')))
                state.Failed(source, QStringLiteral("登录已过期"));
            else if (step.startsWith(QLatin1Char('S')))
                state.Succeeded(source);
            else
                state.Check(); // what the timer does when no poll reports for a while
        }
        QCOMPARE(state.IsLost(), lost);
        QCOMPARE(lostSpy.count(), lost ? 1 : 0);
        QCOMPARE(state.Refusal(), refusal);
    }

    void lost_ticksEverySecond_andASuccessRestores()
    {
        CConnectionState state;
        state.SetThreshold(40000);
        state.SetTickInterval(20);
        useFakeClock(state);
        QSignalSpy lostSpy(&state, &CConnectionState::Lost);
        QSignalSpy tickSpy(&state, &CConnectionState::Ticking);
        QSignalSpy restoredSpy(&state, &CConnectionState::Restored);

        const QDateTime before = QDateTime::currentDateTime();
        state.Failed();
        now += 41000;
        state.Failed();
        QVERIFY(state.IsLost());
        QCOMPARE(lostSpy.count(), 1);
        const QDateTime since = lostSpy.at(0).at(0).toDateTime();
        QVERIFY(since >= before.addSecs(-1) && since <= QDateTime::currentDateTime());
        QCOMPARE(state.Since(), since);
        QCOMPARE(tickSpy.count(), 1);
        QCOMPARE(tickSpy.at(0).at(0).toInt(), 41);

        // Further failures keep it lost without announcing it again; the count goes on.
        now += 2000;
        state.Failed();
        QTRY_VERIFY(tickSpy.count() >= 3);
        QCOMPARE(tickSpy.last().at(0).toInt(), 43);
        QCOMPARE(lostSpy.count(), 1);

        state.Succeeded();
        QVERIFY(!state.IsLost());
        QVERIFY(!state.Since().isValid());
        QCOMPARE(restoredSpy.count(), 1);
        const int ticks = tickSpy.count();
        QTest::qWait(100);
        QCOMPARE(tickSpy.count(), ticks); // no ticking once restored
        state.Succeeded();
        QCOMPARE(restoredSpy.count(), 1); // a success while connected restores nothing

        // A new run of failures is counted from its own first failure.
        state.Failed();
        now += 39000;
        state.Failed();
        QVERIFY(!state.IsLost());
    }

    void silence_turnsLostByItsTimer()
    {
        // A poll that hangs until its time-out reports nothing: the state turns lost on time anyway.
        CConnectionState state;
        state.SetThreshold(150);
        QSignalSpy lostSpy(&state, &CConnectionState::Lost);
        state.Failed();
        QVERIFY(!state.IsLost());
        QTRY_COMPARE_WITH_TIMEOUT(lostSpy.count(), 1, 3000);
    }
};

TARVIK_GUILESS_TEST_MAIN(TestConnectionState)
#include "tst_connectionstate.moc"
