#include <QSignalSpy>

#include "common/coretestmain.h"
#include "common/orderfixture.h"
#include "orders/corder.h"
#include "orders/orderbook.h"

// The book's one rule: the newest fact about an order wins, whatever order the replies arrive in.
class TestOrderBook : public QObject
{
    Q_OBJECT

private slots:
    // Each step, in turn, about one order that the full list brought paid at second 0:
    //   "E s +t"  a list or pay/finish entry: status s stamped t seconds later
    //   "D s"     a detail without stamp, asked for at the last "ask"; "D s +t" one with a stamp
    //   "ask"     a detail request goes out
    //   "A f>t"   the client's own action, from status f to t, was accepted by the platform;
    //             "A f>t @+t" with the platform's clock at its answer, t seconds later
    void newestFactWins_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("changes");
        QTest::newRow("late report, older stamp") << QStringList{"E 3 +5", "E 2 +2"} << 3 << 1;
        QTest::newRow("two changes in one second") << QStringList{"E 2 +1", "E 3 +1"} << 3 << 2;
        QTest::newRow("late detail") << QStringList{"ask", "E 2 +3", "D 1"} << 2 << 1;
        QTest::newRow("detail, nothing newer meanwhile") << QStringList{"ask", "D 2"} << 2 << 1;
        QTest::newRow("late stamped detail") << QStringList{"E 2 +3", "D 1 +1"} << 2 << 1;
        QTest::newRow("late finish") << QStringList{"E 3 +4", "A 1>2"} << 3 << 1;
        QTest::newRow("late confirmation, refunded meanwhile") << QStringList{"E 9 +2", "A 1>2"} << 9 << 1;
        QTest::newRow("old report after the own finish") << QStringList{"A 1>2", "E 1 +0"} << 2 << 1;
        QTest::newRow("review after the own finish") << QStringList{"A 1>2", "E 3 +1"} << 3 << 2;
        QTest::newRow("review in the second of the own finish") << QStringList{"A 1>2", "E 3 +0"} << 3 << 2;
        QTest::newRow("detail asked after the own finish") << QStringList{"A 1>2", "ask", "D 3"} << 3 << 2;
        QTest::newRow("report made before the own finish, arriving after it")
            << QStringList{"E 1 +2", "A 1>2 @+9", "E 1 +5"} << 2 << 1;
        QTest::newRow("report of paid after the own finish's answer") << QStringList{"A 1>2 @+9", "E 1 +10"} << 1 << 2;
        QTest::newRow("review before the own finish's answer") << QStringList{"A 1>2 @+9", "E 3 +5"} << 3 << 2;
    }
    void newestFactWins()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, status);
        QFETCH(int, changes);
        const QDateTime base(QDate(2026, 12, 8), QTime(10, 0, 0));
        const auto at = [&base](const QString& offset) { return base.addSecs(offset.mid(1).toInt()); };
        COrderBook book;
        OrderEntry listed = Entry(7, 1, at("+0"));
        listed.ctime = at("+0");
        COrder* order = book.Take(listed, COrderBook::Listed);
        QSignalSpy changed(&book, &COrderBook::StatusChanged);
        quint64 asked = 0;
        for (const QString& step : steps) {
            const QStringList part = step.split(' ');
            if (part[0] == "ask") {
                asked = book.RevisionOf(7);
            } else if (part[0] == "E") {
                book.ApplyEntry(order, Entry(7, part[1].toInt(), at(part[2])), "test");
            } else if (part[0] == "D") {
                QVariantMap info{{"id", 7}, {"status", part[1].toInt()}, {"taker", "王五"}};
                if (part.size() > 2)
                    info.insert("ertime", at(part[2]));
                QVERIFY(book.ApplyDetail(order, info, asked));
                QCOMPARE(order->GetTaker(), QStringLiteral("王五")); // a late detail still fills the rest
            } else {
                const QStringList fromTo = part[1].split('>');
                const QDateTime answered = part.size() > 2 ? at(part[2].mid(1)) : QDateTime();
                book.ApplyAction(order, fromTo[0].toInt(), fromTo[1].toInt(), "test", answered);
            }
        }
        QCOMPARE(order->GetStatus(), status);
        QCOMPARE(changed.size(), changes);
    }

    // The same status again is news only when it is stamped later than anything the book knew of
    // the order, or, knowing no stamp, than its payment: a buyer asking for confirmation.
    void sameStatusAgain_isNewsOnlyWhenLater_data()
    {
        QTest::addColumn<QString>("known"); // the order's stamp as the book learnt it, "" none
        QTest::addColumn<QString>("paid");  // its payment
        QTest::addColumn<QString>("report");
        QTest::addColumn<int>("outcome");
        QTest::newRow("the stamp it was learnt with") << "10:00:05" << "10:00:05" << "10:00:05" << int(COrderBook::Same);
        QTest::newRow("an older stamp") << "10:00:05" << "10:00:05" << "10:00:01" << int(COrderBook::Stale);
        QTest::newRow("a later stamp") << "10:00:05" << "10:00:05" << "10:00:06" << int(COrderBook::Renewed);
        QTest::newRow("no stamp known, the payment's") << "" << "10:00:05" << "10:00:05" << int(COrderBook::Same);
        QTest::newRow("no stamp known, after the payment") << "" << "10:00:05" << "10:01:00" << int(COrderBook::Renewed);
    }
    void sameStatusAgain_isNewsOnlyWhenLater()
    {
        QFETCH(QString, known);
        QFETCH(QString, paid);
        QFETCH(QString, report);
        QFETCH(int, outcome);
        const auto at = [](const QString& time) {
            return time.isEmpty() ? QDateTime() : QDateTime(QDate(2026, 12, 8), QTime::fromString(time));
        };
        COrderBook book;
        OrderEntry entry = Entry(7, 1, at(known));
        entry.ptime = at(paid);
        COrder* order = book.Take(entry, COrderBook::New);
        QSignalSpy changed(&book, &COrderBook::StatusChanged);
        OrderEntry reported = Entry(7, 1, at(report));
        reported.ptime = at(paid);
        QCOMPARE(int(book.ApplyEntry(order, reported, "test")), outcome);
        QCOMPARE(changed.size(), 0);
    }
};

TARVIK_GUILESS_TEST_MAIN(TestOrderBook)
#include "tst_orderbook.moc"
