#include <QSignalSpy>

#include "app/settings.h"
#include "app/sound.h"
#include "common/coretestmain.h"
#include "main/reminder.h"

// The new-order sound repeats while a new order waits unopened; a hidden window gets one tray
// message per order.
class TestReminder : public QObject
{
    Q_OBJECT

    static constexpr int second = 10; // milliseconds
    static constexpr int pastOneRepeat = 40 * second; // a repeat every 30 seconds comes within it
    qint64 account = 19900000000;
    Sound::Service sounds;

    int soundsWithin(int msecs)
    {
        QSignalSpy played(Sound::monitor(), &Sound::Monitor::Played);
        QTest::qWait(msecs);
        for (const QList<QVariant>& call : qAsConst(played))
            if (call.at(0).toString() != CNewOrderReminder::SoundFile)
                return -1;
        return played.count();
    }

private slots:
    void init()
    {
        ++account; // each test its own settings file
    }

    void repeats_whileAnyOrderWaits_andStopsWhenAllAreOpened()
    {
        CSettings settings(account);
        CNewOrderReminder reminder(&settings, &sounds);
        reminder.SetSecondLength(second);

        // Off by default: the arrival's own sound is all.
        reminder.OrderArrived(1);
        QVERIFY(!reminder.IsRepeating());
        QCOMPARE(soundsWithin(pastOneRepeat), 0);

        settings.SetReminderInterval(30); // 300 ms here
        QVERIFY(reminder.IsRepeating());
        const int sounds = soundsWithin(1000);
        QVERIFY2(sounds >= 2 && sounds <= 4, qPrintable(QString::number(sounds)));

        reminder.OrderArrived(2);
        reminder.OrderArrived(2);
        QCOMPARE(reminder.Waiting(), QList<qint64>({1, 2}));
        reminder.OrderAcknowledged(1);
        QVERIFY(reminder.IsRepeating()); // order 2 still waits
        reminder.OrderAcknowledged(99);  // never arrived: nothing changes
        QVERIFY(reminder.IsRepeating());
        reminder.OrderAcknowledged(2);
        QVERIFY(!reminder.IsRepeating());
        QCOMPARE(soundsWithin(pastOneRepeat), 0);

        // Turned off while an order waits: silence at once.
        reminder.OrderArrived(3);
        QVERIFY(reminder.IsRepeating());
        settings.SetReminderInterval(0);
        QVERIFY(!reminder.IsRepeating());
        QCOMPARE(soundsWithin(pastOneRepeat), 0);
    }

    void trayNotice_oncePerOrder_onlyWhileTheWindowIsOutOfSight()
    {
        CSettings settings(account);
        CNewOrderReminder reminder(&settings, &sounds);
        reminder.SetSecondLength(second);
        reminder.SetWindowOutOfSight(true);
        QSignalSpy notices(&reminder, &CNewOrderReminder::TrayNotice);

        // Hidden, but the setting is off (the default).
        reminder.OrderArrived(10);
        QCOMPARE(notices.count(), 0);
        reminder.OrderAcknowledged(10);

        settings.SetTrayNotice(true);
        reminder.SetWindowOutOfSight(false);
        reminder.OrderArrived(11); // in sight: no message
        QCOMPARE(notices.count(), 0);

        // Hiding the window announces the order that waits, once.
        reminder.SetWindowOutOfSight(true);
        QCOMPARE(notices.count(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), QStringLiteral("新订单 11"));
        reminder.OrderArrived(12);
        QCOMPARE(notices.count(), 2);
        QCOMPARE(notices.at(1).at(0).toString(), QStringLiteral("新订单 12"));

        // Repeats, showing and hiding again, the same order arriving again: no second message.
        settings.SetReminderInterval(30);
        reminder.OrderArrived(12);
        reminder.SetWindowOutOfSight(false);
        reminder.SetWindowOutOfSight(true);
        QTest::qWait(70 * second);
        QCOMPARE(notices.count(), 2);

        reminder.OrderArrived(13);
        QCOMPARE(notices.count(), 3);
        QCOMPARE(notices.at(2).at(0).toString(), QStringLiteral("新订单 13"));
    }
};

TARVIK_GUILESS_TEST_MAIN(TestReminder)
#include "tst_reminder.moc"
