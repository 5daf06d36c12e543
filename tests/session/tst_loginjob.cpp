#include <QSignalSpy>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakenetwork.h"
#include "session/loginjob.h"

Q_DECLARE_METATYPE(FakeResponse)

// LoginMd5 without a window: what is sent, and what each answer becomes.
class LoginJobTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeNetworkManager> network;

    static CUser typed()
    {
        CUser user;
        user.SetAccount(13800000001);
        user.SetPassword(QStringLiteral("velm&123"));
        user.SetRememberPassword(true);
        user.SetAutoLogin(true);
        user.SetFace(QStringLiteral("remembered.png"));
        return user;
    }

private slots:
    void init()
    {
        network = std::make_unique<FakeNetworkManager>();
        FakeNetworkManager::Recorded().clear();
    }

    // The account as typed goes on, with the platform's fields on top; the password only as its MD5.
    void answerBecomesTheAccount()
    {
        network->SetHandler([](const RecordedRequest&) {
            return FakeResponse::Json(
                R"({"status":1,"info":{"id":"7","key":"k","token":"t","nickname":"小王","face":"/f/1.png","sex":"1"}})");
        });
        ApiLine line;
        line.network = network.get();
        CLoginJob job(line);
        QSignalSpy loggedIn(&job, &CLoginJob::LoggedIn);
        const QDateTime before = QDateTime::currentDateTime();
        QVERIFY(job.Start(typed()));
        QTRY_COMPARE(loggedIn.count(), 1);

        const RecordedRequest& sent = FakeNetworkManager::Recorded().value(0);
        QCOMPARE(sent.request.url().fileName(), QStringLiteral("LoginMd5"));
        QCOMPARE(sent.body, "account=13800000001&pass=" + CUser::Md5Of(QStringLiteral("velm&123")).toLatin1());

        const auto account = loggedIn.first().first().value<CUser>();
        QCOMPARE(account.GetId(), 7);
        QCOMPARE(account.GetKey(), QStringLiteral("k"));
        QCOMPARE(account.GetToken(), QStringLiteral("t"));
        QCOMPARE(account.GetNickname(), QStringLiteral("小王"));
        QCOMPARE(account.GetFace(), QStringLiteral("/f/1.png"));
        QVERIFY(account.GetSex());
        QVERIFY(account.GetLogDate() >= before.addSecs(-1));
        QCOMPARE(account.GetAccount(), 13800000001);
        QCOMPARE(account.GetPassword(), QStringLiteral("velm&123"));
        QVERIFY(account.GetRememberPassword() && account.GetAutoLogin());
    }

    void failuresAreTyped_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused") << FakeResponse::Json(R"({"status":0,"info":"账号或密码错误"})")
                                 << int(JobFailure::Refused) << QStringLiteral("账号或密码错误");
        QTest::newRow("not JSON") << FakeResponse::Json("<html>") << int(JobFailure::Malformed)
                                  << QStringLiteral("<html>");
        // Let in without an account: no session can be made of it.
        QTest::newRow("no account") << FakeResponse::Json(R"({"status":1,"info":"ok"})")
                                    << int(JobFailure::Malformed) << QStringLiteral(R"({"status":1,"info":"ok"})");
        QTest::newRow("line down") << FakeResponse::Error(QNetworkReply::ConnectionRefusedError)
                                   << int(JobFailure::Line) << QString();
    }
    void failuresAreTyped()
    {
        QFETCH(FakeResponse, response);
        QFETCH(int, kind);
        QFETCH(QString, message);
        network->SetHandler([response](const RecordedRequest&) { return response; });
        ApiLine line;
        line.network = network.get();
        CLoginJob job(line);
        QSignalSpy loggedIn(&job, &CLoginJob::LoggedIn);
        QSignalSpy failed(&job, &CJob::Failed);
        QVERIFY(job.Start(typed()));
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(loggedIn.count(), 0);
        const auto failure = failed.first().first().value<JobFailure>();
        QCOMPARE(int(failure.kind), kind);
        if (kind == JobFailure::Line)
            QCOMPARE(failure.errorCode, int(QNetworkReply::ConnectionRefusedError));
        else
            QCOMPARE(failure.message, message);
    }
};

TARVIK_GUILESS_TEST_MAIN(LoginJobTest)
#include "tst_loginjob.moc"
