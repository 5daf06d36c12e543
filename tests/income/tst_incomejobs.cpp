#include <QSignalSpy>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakeline.h"
#include "income/incomejobs.h"

// The income window's two endpoints as the core reads them: the figures of "CashUpdate" and the
// entries of "AddShopCash", from the exact form sent to what each kind of answer becomes.
class TestIncomeJobs : public QObject
{
    Q_OBJECT

private slots:
    void cash_readsBothFiguresOrFails_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("kind"); // -1: the figures came
        QTest::addColumn<double>("balance");
        QTest::addColumn<double>("total");
        QTest::newRow("numbers") << QByteArray(R"({"status":1,"info":{"yuer":1234567.89,"allcash":5}})") << -1
                                 << 1234567.89 << 5.0;
        QTest::newRow("numeric strings")
            << QByteArray(R"({"status":"1","info":{"yuer":"-3.5","allcash":"0"}})") << -1 << -3.5 << 0.0;
        QTest::newRow("no total") << QByteArray(R"({"status":1,"info":{"yuer":1}})")
                                  << int(JobFailure::Malformed) << 0.0 << 0.0;
        QTest::newRow("null balance") << QByteArray(R"({"status":1,"info":{"yuer":null,"allcash":1}})")
                                      << int(JobFailure::Malformed) << 0.0 << 0.0;
        QTest::newRow("info a list") << QByteArray(R"({"status":1,"info":[1,2]})")
                                     << int(JobFailure::Malformed) << 0.0 << 0.0;
        QTest::newRow("refused") << QByteArray(R"({"status":0,"info":"余额服务维护中"})")
                                 << int(JobFailure::Refused) << 0.0 << 0.0;
    }

    void cash_readsBothFiguresOrFails()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, kind);
        QFETCH(double, balance);
        QFETCH(double, total);
        FakeLine fake;
        fake.Answer(answer);
        CCashJob job(fake.Line());
        QSignalSpy fetched(&job, &CCashJob::Fetched);
        QSignalSpy failed(&job, &CJob::Failed);
        QVERIFY(job.Start());
        QTRY_COMPARE(fetched.count() + failed.count(), 1);

        QCOMPARE(FakeLine::Endpoint(), QStringLiteral("CashUpdate"));
        QCOMPARE(FakeLine::Body(), QByteArray("id=7&key=k%26y&token=t"));
        QCOMPARE(failed.count(), kind >= 0 ? 1 : 0);
        if (kind >= 0) {
            QCOMPARE(int(failed.first().first().value<JobFailure>().kind), kind);
            if (kind == JobFailure::Refused)
                QCOMPARE(failed.first().first().value<JobFailure>().message,
                         QStringLiteral("余额服务维护中"));
            return;
        }
        const auto figures = fetched.first().first().value<CashFigures>();
        QCOMPARE(figures.balance, balance);
        QCOMPARE(figures.totalIncome, total);
    }

    void list_keepsWholeEntriesOnly_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("malformed");
        QTest::addColumn<QList<qint64>>("ids");
        const QByteArray whole =
            R"({"order_id":26120800001,"amount":"38.5","addcash":30.8,"ctime":"2026-12-08 09:30:00"})";
        QTest::newRow("whole entries")
            << QByteArray(
                   R"({"status":1,"info":[)" + whole +
                   R"(,{"order_id":"26120800002","amount":1,"addcash":0.125,"ctime":"2026-12-07 23:59:59"}]})")
            << false << QList<qint64>{26120800001LL, 26120800002LL};
        QTest::newRow("a field missing, null, or no object")
            << QByteArray(R"({"status":1,"info":[{"order_id":1,"amount":1,"addcash":1},)"
                          R"({"order_id":2,"amount":1,"addcash":null,"ctime":"2026-12-08 10:00:00"},"x",7,)" +
                          whole + "]}")
            << false << QList<qint64>{26120800001LL};
        QTest::newRow("empty") << QByteArray(R"({"status":1,"info":[]})") << false << QList<qint64>{};
        QTest::newRow("not a list") << QByteArray(R"({"status":1,"info":{"order_id":1}})") << true
                                    << QList<qint64>{};
    }

    void list_keepsWholeEntriesOnly()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, malformed);
        QFETCH(QList<qint64>, ids);
        FakeLine fake;
        fake.Answer(answer);
        CIncomeListJob job(fake.Line());
        QSignalSpy fetched(&job, &CIncomeListJob::Fetched);
        QSignalSpy failed(&job, &CJob::Failed);
        QVERIFY(job.Start(QStringLiteral("week")));
        QTRY_COMPARE(fetched.count() + failed.count(), 1);
        QCOMPARE(FakeLine::Endpoint(), QStringLiteral("AddShopCash"));
        QCOMPARE(FakeLine::Body(), QByteArray("id=7&key=k%26y&token=t&way=week"));
        QCOMPARE(failed.count(), malformed ? 1 : 0);
        if (malformed) {
            QCOMPARE(failed.first().first().value<JobFailure>().kind, JobFailure::Malformed);
            return;
        }
        const auto entries = fetched.first().first().value<IncomeEntries>();
        QList<qint64> got;
        for (const IncomeEntry& entry : entries)
            got << entry.orderId;
        QCOMPARE(got, ids);
        if (ids.size() == 2) {
            // Every field of the entry it came with, numbers given as text included.
            QCOMPARE(entries.at(0).amount, 38.5);
            QCOMPARE(entries.at(0).addCash, 30.8);
            QCOMPARE(entries.at(0).ctime, QDateTime(QDate(2026, 12, 8), QTime(9, 30)));
            QCOMPARE(entries.at(1).addCash, 0.125);
            QCOMPARE(entries.at(1).ctime, QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)));
        }
    }
};

TARVIK_GUILESS_TEST_MAIN(TestIncomeJobs)
#include "tst_incomejobs.moc"
