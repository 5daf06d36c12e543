#include <QSignalSpy>

#include "app/settings.h"
#include "app/sound.h"
#include "common/coretestmain.h"
#include "common/orderfixture.h"
#include "main/reminder.h"
#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderbook.h"

// A new paid order waits until it is opened or leaves "paid"; the new-order sound repeats while
// any waits, and a hidden window gets one tray message per order.
class TestReminder : public QObject
{
    Q_OBJECT

    static constexpr int second = 10; // milliseconds
    static constexpr int pastOneRepeat = 40 * second; // a repeat every 30 seconds comes within it
    qint64 account = 19900000000;
    Sound::Service sounds;
    const QDateTime t0 = QDateTime(QDate(2026, 12, 9), QTime(10, 0, 0));

    // The platform tells of an order: at login (Listed) or during the session.
    COrder* arrive(COrderBook& book, qint64 id, int status = 1, COrderBook::Arrival how = COrderBook::New)
    {
        OrderEntry entry = Entry(id, status, t0);
        entry.ctime = entry.ptime = t0;
        return book.Take(entry, how);
    }
    // A later report of the order's status.
    void report(COrderBook& book, qint64 id, int status, int later)
    {
        book.ApplyEntry(book.Find(id), Entry(id, status, t0.addSecs(later)), "test");
    }

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
    void initTestCase() { qRegisterMetaType<QList<qint64>>(); }

    void init()
    {
        ++account; // each test its own settings file
    }

    // Steps about order 7:
    //   "new s" / "listed s" / "fetched s" / "adopted s"  the order becomes known with status s
    //   "report s +t"  a poll reports status s, stamped t seconds later
    //   "open"         its detail window is opened (any road)
    //   "finish"       the client's own finish was accepted
    void newOrderWaits_untilOpenedOrNoLongerPaid_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("waits");
        QTest::addColumn<int>("arrivals");
        QTest::newRow("new paid order") << QStringList{"new 1"} << true << 1;
        QTest::newRow("new unpaid order") << QStringList{"new 0"} << false << 0;
        QTest::newRow("listed at login") << QStringList{"listed 1"} << false << 0;
        QTest::newRow("fetched paid") << QStringList{"fetched 1"} << true << 1;
        QTest::newRow("fetched served") << QStringList{"fetched 2"} << false << 0;
        QTest::newRow("opened from another window") << QStringList{"adopted 1"} << false << 0;
        QTest::newRow("listed unpaid, then paid") << QStringList{"listed 0", "report 1 +5"} << true << 1;
        QTest::newRow("opened") << QStringList{"new 1", "open"} << false << 1;
        QTest::newRow("finished") << QStringList{"new 1", "finish"} << false << 1;
        QTest::newRow("served elsewhere") << QStringList{"new 1", "report 2 +5"} << false << 1;
        QTest::newRow("refunded") << QStringList{"new 1", "report 9 +5"} << false << 1;
        QTest::newRow("reported paid again") << QStringList{"new 1", "report 1 +5"} << true << 1;
        QTest::newRow("opened, then reported paid again") << QStringList{"new 1", "open", "report 1 +5"} << false << 1;
    }
    void newOrderWaits_untilOpenedOrNoLongerPaid()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, waits);
        QFETCH(int, arrivals);
        COrderBook book;
        CNewOrders newOrders(&book);
        QSignalSpy acknowledged(&newOrders, &CNewOrders::Acknowledged);
        const QMap<QString, COrderBook::Arrival> ways{{"new", COrderBook::New},
                                                     {"listed", COrderBook::Listed},
                                                     {"fetched", COrderBook::Fetched}};
        for (const QString& step : steps) {
            const QStringList part = step.split(' ');
            if (ways.contains(part[0])) {
                arrive(book, 7, part[1].toInt(), ways[part[0]]);
            } else if (part[0] == "adopted") {
                COrder copy;
                copy.SetId(7);
                copy.SetStatus(part[1].toInt());
                book.Adopt(copy);
            } else if (part[0] == "report") {
                report(book, 7, part[1].toInt(), part[2].toInt());
            } else if (part[0] == "open") {
                newOrders.Acknowledge(7);
            } else {
                book.ApplyAction(book.Find(7), 1, 2, "test");
            }
        }
        QCOMPARE(newOrders.IsWaiting(7), waits);
        QCOMPARE(newOrders.Arrivals(), quint64(arrivals));
        QCOMPARE(acknowledged.count(), arrivals - int(waits));
    }

    void repeats_whileAnyOrderWaits_andStopsWhenAllAreOpened()
    {
        CSettings settings(account);
        COrderBook book;
        CNewOrders newOrders(&book);
        CNewOrderReminder reminder(&settings, &sounds, &newOrders);
        reminder.SetClock(PollClock{second});
        QSignalSpy reminded(&reminder, &CNewOrderReminder::Reminded);

        // Off by default: the arrival's own sound is all.
        arrive(book, 1);
        QVERIFY(!reminder.IsRepeating());
        QCOMPARE(soundsWithin(pastOneRepeat), 0);

        settings.SetReminderInterval(30); // 300 ms here
        QVERIFY(reminder.IsRepeating());
        const int sounds = soundsWithin(1000);
        QVERIFY2(sounds >= 2 && sounds <= 4, qPrintable(QString::number(sounds)));

        QCOMPARE(reminded.last().at(0).value<QList<qint64>>(), QList<qint64>({1}));
        arrive(book, 2);
        arrive(book, 2);
        QCOMPARE(reminder.Waiting(), QList<qint64>({1, 2}));
        newOrders.Acknowledge(1);
        QVERIFY(reminder.IsRepeating()); // order 2 still waits
        newOrders.Acknowledge(99); // never arrived: nothing changes
        QVERIFY(reminder.IsRepeating());
        QVERIFY(soundsWithin(pastOneRepeat) >= 1);
        QCOMPARE(reminded.last().at(0).value<QList<qint64>>(), QList<qint64>({2}));
        // Served in its window without ever being opened from its row: dealt with.
        book.ApplyAction(book.Find(2), 1, 2, "test");
        QVERIFY(!reminder.IsRepeating());
        QCOMPARE(soundsWithin(pastOneRepeat), 0);

        // Turned off while an order waits: silence at once.
        arrive(book, 3);
        QVERIFY(reminder.IsRepeating());
        settings.SetReminderInterval(0);
        QVERIFY(!reminder.IsRepeating());
        QCOMPARE(soundsWithin(pastOneRepeat), 0);
    }

    void trayNotice_oncePerOrder_onlyWhileTheWindowIsOutOfSight()
    {
        CSettings settings(account);
        COrderBook book;
        CNewOrders newOrders(&book);
        CNewOrderReminder reminder(&settings, &sounds, &newOrders);
        reminder.SetClock(PollClock{second});
        reminder.SetWindowOutOfSight(true);
        QSignalSpy notices(&reminder, &CNewOrderReminder::TrayNotice);

        // Hidden, but the setting is off (the default).
        arrive(book, 10);
        QCOMPARE(notices.count(), 0);
        newOrders.Acknowledge(10);

        settings.SetTrayNotice(true);
        reminder.SetWindowOutOfSight(false);
        arrive(book, 11); // in sight: no message
        QCOMPARE(notices.count(), 0);

        // Hiding the window announces the order that waits, once.
        reminder.SetWindowOutOfSight(true);
        QCOMPARE(notices.count(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), QStringLiteral("新订单 11"));
        arrive(book, 12);
        QCOMPARE(notices.count(), 2);
        QCOMPARE(notices.at(1).at(0).toString(), QStringLiteral("新订单 12"));

        // Repeats, showing and hiding again, the same order arriving again: no second message.
        settings.SetReminderInterval(30);
        arrive(book, 12);
        reminder.SetWindowOutOfSight(false);
        reminder.SetWindowOutOfSight(true);
        QTest::qWait(70 * second);
        QCOMPARE(notices.count(), 2);

        arrive(book, 13);
        QCOMPARE(notices.count(), 3);
        QCOMPARE(notices.at(2).at(0).toString(), QStringLiteral("新订单 13"));
    }
};

TARVIK_GUILESS_TEST_MAIN(TestReminder)
#include "tst_reminder.moc"
