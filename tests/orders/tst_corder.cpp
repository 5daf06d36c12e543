#include <QFile>
#include <QScopeGuard>

#include <cmath>
#include <ctime>

#include "common/coretestmain.h"
#include "orders/corder.h"

class TestCOrder : public QObject
{
    Q_OBJECT

    static CCommodity* item(int num, Money price, Money total)
    {
        auto* commodity = new CCommodity;
        commodity->SetNum(num);
        commodity->SetPrice(price);
        commodity->SetTotal(total);
        return commodity;
    }

private slots:
    void statusNames_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << 0 << "未付款";
        QTest::newRow("1") << 1 << "已支付";
        QTest::newRow("2") << 2 << "已服务";
        QTest::newRow("3") << 3 << "已评价";
        QTest::newRow("4") << 4 << "已完成";
        QTest::newRow("9") << 9 << "已退款";
        QTest::newRow("5") << 5 << "未知状态";
        QTest::newRow("8") << 8 << "未知状态";
        QTest::newRow("10") << 10 << "未知状态";
        QTest::newRow("-1") << -1 << "未知状态";
    }
    void statusNames()
    {
        QFETCH(int, status);
        QFETCH(QString, name);
        COrder order;
        order.SetStatus(status);
        QCOMPARE(order.GetStatusName(), name);
    }

    void statusConstants()
    {
        QCOMPARE(StatusPaid.first, Q_INT64_C(1));
        QCOMPARE(StatusRefunded.first, Q_INT64_C(9));
        QCOMPARE(StatusName(int(StatusCompleted.first)), StatusCompleted.second);
    }

    void formatMoney_data()
    {
        QTest::addColumn<double>("amount");
        QTest::addColumn<QString>("text");
        QTest::newRow("12.5") << 12.5 << "12.50";
        QTest::newRow("0.125 is cut") << 0.125 << "0.12";
        QTest::newRow("0.1299 via 0.130") << 0.1299 << "0.13";
        QTest::newRow("2.9996 via 3.000") << 2.9996 << "3.00";
        QTest::newRow("0") << 0.0 << "0.00";
        QTest::newRow("100") << 100.0 << "100.00";
        QTest::newRow("negative") << -5.0 << "-5.00";
        QTest::newRow("large") << 123456.78 << "123456.78";
        QTest::newRow("just under 100000") << 99999.99 << "99999.99";
        QTest::newRow("millions") << 1234567.89 << "1234567.89";
        QTest::newRow("not a number") << std::nan("") << "0.00";
        QTest::newRow("tiny negative") << -0.001 << "0.00";
    }
    void formatMoney()
    {
        QFETCH(double, amount);
        QFETCH(QString, text);
        QCOMPARE(FormatMoney(amount), text);
    }

    // The direct reading of a reply's time agrees with the toolkit's conversion, odd input included.
    void readStamp_agreesWithTheToolkit_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("usual") << QVariant("2026-12-08 11:22:02");
        QTest::newRow("midnight") << QVariant("2026-01-01 00:00:00");
        QTest::newRow("no such day") << QVariant("2026-02-30 10:00:00");
        QTest::newRow("hour 24") << QVariant("2026-02-03 24:00:00");
        QTest::newRow("letters") << QVariant("2026-0x-03 10:00:00");
        QTest::newRow("iso with T") << QVariant("2026-12-08T11:22:02");
        QTest::newRow("empty") << QVariant("");
        QTest::newRow("null") << QVariant();
        QTest::newRow("number") << QVariant(1700000000);
    }
    void readStamp_agreesWithTheToolkit()
    {
        QFETCH(QVariant, value);
        QCOMPARE(ReadStamp(value), value.toDateTime());
    }

    // A reply's times read once per hour of the zone are the instants and wall-clock times the
    // toolkit reads, in zones with summer time too: around a skipped hour and one that comes twice.
    void stampReader_agreesWithTheToolkit_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("text");
        for (const char* zone :
             {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kolkata"})
            for (const char* text :
                 {"2026-12-08 11:22:02", "2026-03-29 01:59:59", "2026-03-29 02:30:00", "2026-03-29 03:00:00",
                  "2026-10-25 01:30:00", "2026-10-25 02:30:00", "2026-10-25 03:00:00", "2026-03-08 02:30:00",
                  "2026-11-01 01:30:00", "2026-04-05 01:45:00", "2026-10-04 02:15:00", "2026-02-30 10:00:00",
                  "2026-12-08T11:22:02"})
                QTest::addRow("%s %s", zone, text) << QByteArray(zone) << QString::fromLatin1(text);
    }
    void stampReader_agreesWithTheToolkit()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        if (zone != "UTC" &&
            !QFile::exists(QStringLiteral("/usr/share/zoneinfo/") + QString::fromLatin1(zone)))
            QSKIP("this zone is not installed");
        const QByteArray was = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
        const auto restore = qScopeGuard([was] {
            was.isEmpty() ? qunsetenv("TZ") : qputenv("TZ", was);
            tzset();
        });
        StampReader reader;
        const QByteArray utf8 = text.toUtf8();
        const QDateTime read = reader.Read(utf8.constData(), utf8.size());
        const QDateTime toolkit = QVariant(text).toDateTime();
        QCOMPARE(read, toolkit);
        QCOMPARE(read.toString("yyyy-MM-dd hh:mm:ss"), toolkit.toString("yyyy-MM-dd hh:mm:ss"));
        // A second time of the same hour comes from what the reader keeps.
        const QByteArray later = utf8.left(17) + "59";
        QCOMPARE(reader.Read(later.constData(), later.size()),
                 QVariant(QString::fromLatin1(later)).toDateTime());
    }

    void sums()
    {
        COrder order;
        order.SetAmount(50);
        QCOMPARE(order.GetTotalNum(), 0);
        QCOMPARE(order.GetTotalPrice(), 0.0);
        QCOMPARE(order.GetSaving(), 0.0);

        order.AddCommodity(item(2, 12.5, 25));
        order.AddCommodity(item(3, 10, 36));
        order.AddCommodity(nullptr);
        QCOMPARE(order.GetCommodities().size(), 2);
        QCOMPARE(order.GetTotalNum(), 5);
        QCOMPARE(order.GetTotalPrice(), 55.0);
        QCOMPARE(order.GetSaving(), 11.0);

        order.SetAmount(70); // totals below the amount: no negative saving
        QCOMPARE(order.GetSaving(), 0.0);
        order.SetAmount(61);
        QCOMPARE(order.GetSaving(), 0.0);

        order.ClearCommodities();
        QVERIFY(order.GetCommodities().isEmpty());
        QCOMPARE(order.GetTotalNum(), 0);

        // Quantities at the top of their range add up without wrapping.
        order.AddCommodity(item(2147483647, 0.01, 0));
        order.AddCommodity(item(2147483647, 0.01, 0));
        QCOMPARE(order.GetTotalNum(), 4294967294LL);
        QCOMPARE(FormatMoney(order.GetTotalPrice()), QStringLiteral("42949672.94"));
    }

    void freshOrder_andTakeoutName()
    {
        COrder order;
        QCOMPARE(order.GetId(), Q_INT64_C(0));
        QVERIFY(!order.GetCtime().isValid());
        QVERIFY(!order.GetTakeout());
        QCOMPARE(order.GetTakeoutName(), QString());
        order.SetTakeout(true);
        QCOMPARE(order.GetTakeoutName(), QStringLiteral("外卖"));
        order.SetId(Q_INT64_C(5000000000));
        QCOMPARE(order.GetId(), Q_INT64_C(5000000000));
    }
};

TARVIK_GUILESS_TEST_MAIN(TestCOrder)
#include "tst_corder.moc"
