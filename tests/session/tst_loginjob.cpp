#include <QSignalSpy>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakenetwork.h"
#include "session/loginjob.h"

// LoginMd5 without a window: what is sent, and the account made of the answer. (What the login
// window says of each failure is tested with the window, against the platform.)
class LoginJobTest : public QObject
{
    Q_OBJECT

private slots:
    void answerBecomesTheAccountOnce_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("loggedIn");
        QTest::newRow("the account") << QByteArray(R"({"status":1,"info":{"id":"7","key":"k","token":"t",)"
                                                   R"("nickname":"小王","face":"/f/1.png","sex":"1"}})")
                                     << true;
        // Let in without an account: no session can be made of it.
        QTest::newRow("no account") << QByteArray(R"({"status":1,"info":"ok"})") << false;
    }
    void answerBecomesTheAccountOnce()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, loggedIn);
        FakeNetworkManager network;
        FakeNetworkManager::Recorded().clear();
        network.SetHandler([answer](const RecordedRequest&) { return FakeResponse::Json(answer); });
        ApiLine line;
        line.network = &network;
        CLoginJob job(line);
        QSignalSpy accounts(&job, &CLoginJob::LoggedIn);
        QSignalSpy failures(&job, &CJob::Failed);
        CUser typed;
        typed.SetAccount(13800000001);
        typed.SetPassword(QStringLiteral("velm&123"));
        typed.SetRememberPassword(true);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(job.Start(typed));
        QTRY_COMPARE(accounts.count() + failures.count(), 1);

        // No session fields: there is no session yet; the password only as its MD5.
        QCOMPARE(FakeNetworkManager::Recorded().value(0).body,
                 "account=13800000001&pass=" + CUser::Md5Of(QStringLiteral("velm&123")).toLatin1());
        if (!loggedIn) {
            QCOMPARE(int(failures.first().first().value<JobFailure>().kind), int(JobFailure::Malformed));
            return;
        }
        const auto account = accounts.first().first().value<CUser>();
        QCOMPARE(account.GetId(), 7);
        QCOMPARE(account.GetKey(), QStringLiteral("k"));
        QCOMPARE(account.GetToken(), QStringLiteral("t"));
        QCOMPARE(account.GetNickname(), QStringLiteral("小王"));
        QCOMPARE(account.GetFace(), QStringLiteral("/f/1.png"));
        QVERIFY(account.GetSex());
        QVERIFY(account.GetLogDate() >= before);
        // What was typed goes on with it.
        QCOMPARE(account.GetAccount(), 13800000001);
        QCOMPARE(account.GetPassword(), QStringLiteral("velm&123"));
        QVERIFY(account.GetRememberPassword());
    }
};

TARVIK_GUILESS_TEST_MAIN(LoginJobTest)
#include "tst_loginjob.moc"
