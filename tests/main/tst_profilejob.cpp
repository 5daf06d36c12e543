#include <QSignalSpy>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakeline.h"
#include "main/profilejob.h"

// The profile ("UserInfo") as the core reads it: the form it sends and what its answer becomes.
// The update check is tested with the update (tst_update).
class TestProfileJob : public QObject
{
    Q_OBJECT

private slots:
    // Every field lands in its place of the record; what the answer leaves out is cleared there,
    // but for the id and account that name the session.
    void profile_writesTheRecord_data()
    {
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<int>("id");
        QTest::addColumn<qint64>("account");
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("paymentCode");
        QTest::addColumn<double>("balance");
        QTest::addColumn<bool>("sex");
        QTest::addColumn<QDateTime>("ctime");
        QTest::newRow("every field")
            << QByteArray(
                   R"({"id":3,"name":"13800000005","yuer":"12.5","mainame":"王小明","maidianhua":"139",)"
                   R"("maiqq":"10001","maicode":"m","payment":"old","payment_code":"new","face":"f.png",)"
                   R"("sex":1,"nickname":"小王","ctime":"2024-03-09T08:00:00"})")
            << 3 << 13800000005LL << "小王"
            << "new" << 12.5 << true << QDateTime(QDate(2024, 3, 9), QTime(8, 0));
        QTest::newRow("keys missing, names garbled")
            << QByteArray(R"({"id":"x","name":"","nickname":"阿明","payment":"old","ctime":"不是日期"})") << 7
            << 13800000009LL << "阿明"
            << "" << 0.0 << false << QDateTime();
    }

    void profile_writesTheRecord()
    {
        QFETCH(QByteArray, info);
        QFETCH(int, id);
        QFETCH(qint64, account);
        QFETCH(QString, nickname);
        QFETCH(QString, paymentCode);
        QFETCH(double, balance);
        QFETCH(bool, sex);
        QFETCH(QDateTime, ctime);
        FakeLine fake;
        fake.Answer(R"({"status":1,"info":)" + info + "}");
        CUser& user = fake.user;
        user.SetAccount(13800000009LL);
        user.SetMaiName(QStringLiteral("旧名"));
        user.SetBalance(88);
        CProfileJob job(fake.Line());
        QSignalSpy fetched(&job, &CProfileJob::Fetched);
        QVERIFY(job.Start());
        QTRY_COMPARE(fetched.count(), 1);
        // The session's fields with a "&" after them, as the platform has always been sent them.
        QCOMPARE(FakeLine::Endpoint(), QStringLiteral("UserInfo"));
        QCOMPARE(FakeLine::Body(), QByteArray("id=7&key=k%26y&token=t&"));

        fetched.first().first().value<Profile>().WriteTo(user);
        QCOMPARE(user.GetId(), id);
        QCOMPARE(user.GetAccount(), account);
        QCOMPARE(user.GetNickname(), nickname);
        QCOMPARE(user.GetPaymentCode(), paymentCode);
        QCOMPARE(user.GetBalance(), balance);
        QCOMPARE(user.GetSex(), sex);
        QCOMPARE(user.GetCtime(), ctime);
        QCOMPARE(user.GetMaiName(), id == 3 ? QStringLiteral("王小明") : QString());
        // The session's key and token are the login's, never the profile's.
        QCOMPARE(user.GetKey(), QStringLiteral("k&y"));
    }

    void profile_thatIsNoObject_isMalformed()
    {
        FakeLine fake;
        fake.Answer(R"({"status":1,"info":"ok"})");
        CProfileJob job(fake.Line());
        QSignalSpy fetched(&job, &CProfileJob::Fetched);
        QSignalSpy failed(&job, &CJob::Failed);
        QVERIFY(job.Start());
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().value<JobFailure>().kind, JobFailure::Malformed);
        QCOMPARE(fetched.count(), 0);
    }
};

TARVIK_GUILESS_TEST_MAIN(TestProfileJob)
#include "tst_profilejob.moc"
