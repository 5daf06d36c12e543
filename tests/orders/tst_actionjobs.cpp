#include <QSignalSpy>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakenetwork.h"
#include "orders/actionjobs.h"
#include "session/cuser.h"

// The actions a staff member takes on an order, each endpoint's form and what becomes of its
// answers: the status the order has now, or why nothing came of it. (How any job reads an answer
// that is no JSON object is the job base's, tests/net/tst_job.)
class ActionJobsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void eachAnswerHasOneOutcome_data();
    void eachAnswerHasOneOutcome();

private:
    std::unique_ptr<FakeNetworkManager> network;
    CUser user;
};

void ActionJobsTest::init()
{
    network = std::make_unique<FakeNetworkManager>();
    FakeNetworkManager::Recorded().clear();
    user = CUser();
    user.SetId(7);
    user.SetKey(QStringLiteral("k"));
    user.SetToken(QStringLiteral("t"));
}

void ActionJobsTest::cleanup()
{
    FakeNetworkManager::SetPlatformClock(QDateTime());
}

void ActionJobsTest::eachAnswerHasOneOutcome_data()
{
    QTest::addColumn<QString>("job");
    QTest::addColumn<QByteArray>("answer"); // empty: the line fails
    QTest::addColumn<QByteArray>("body");   // the form sent
    QTest::addColumn<int>("status");        // accepted: the order's status now; -1: failed
    QTest::addColumn<bool>("movedOn");
    QTest::addColumn<int>("kind");        // failed: JobFailure::Kind
    QTest::addColumn<QString>("message"); // failed: what a window may show

    const QByteArray finish = "id=7&key=k&token=t&pass=1%262&oid=4294967297";
    const QByteArray reply = "id=7&key=k&token=t&replay=%E8%B0%A2%E8%B0%A2&oid=4294967297";
    const QByteArray confirm = "id=7&key=k&token=t&oid=4294967297";
    const int refused = JobFailure::Refused;
    QTest::newRow("finished") << "finish" << QByteArray(R"({"status":1,"info":"ok"})") << finish << 2 << false
                              << 0 << "";
    QTest::newRow("wrong password") << "finish" << QByteArray(R"({"status":0,"info":"订单密码错误"})")
                                    << finish << -1 << false << refused << "订单密码错误";
    QTest::newRow("finish, line down")
        << "finish" << QByteArray() << finish << -1 << false << int(JobFailure::Line) << "";
    QTest::newRow("replied") << "reply" << QByteArray(R"({"status":"1"})") << reply << 4 << false << 0 << "";
    QTest::newRow("confirmed") << "confirm" << QByteArray(R"({"status":1,"info":"ok"})") << confirm << 2
                               << false << 0 << "";
    QTest::newRow("confirmed, moved on")
        << "confirm" << QByteArray(R"({"status":3,"info":" 4 "})") << confirm << 4 << true << 0 << "";
    QTest::newRow("moved on, no status")
        << "confirm" << QByteArray(R"({"status":3,"info":"x"})") << confirm << -1 << false << refused << "x";
    QTest::newRow("nothing to confirm") << "confirm" << QByteArray(R"({"status":2,"info":"无需确认"})")
                                        << confirm << -1 << false << refused << "无需确认";
}

void ActionJobsTest::eachAnswerHasOneOutcome()
{
    QFETCH(QString, job);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(bool, movedOn);
    QFETCH(int, kind);
    QFETCH(QString, message);
    const QDateTime clock(QDate(2026, 5, 1), QTime(9, 30, 15));
    FakeNetworkManager::SetPlatformClock(clock);
    network->SetHandler([answer](const RecordedRequest&) {
        return answer.isEmpty() ? FakeResponse::Error(QNetworkReply::ConnectionRefusedError)
                                : FakeResponse::Json(answer);
    });
    ApiLine line;
    line.network = network.get();
    line.user = &user;

    const qint64 id = 4294967297LL;
    std::unique_ptr<COrderActionJob> action;
    bool started = false;
    if (job == "finish") {
        auto* finishing = new CFinishOrderJob(line);
        action.reset(finishing);
        started = finishing->Start(id, QStringLiteral("1&2"));
    } else if (job == "reply") {
        auto* replying = new CReplyReviewJob(line);
        action.reset(replying);
        started = replying->Start(id, QStringLiteral("谢谢"));
    } else {
        auto* confirming = new CConfirmOrderJob(line);
        action.reset(confirming);
        started = confirming->Start(id);
    }
    QVERIFY(started);
    QSignalSpy accepted(action.get(), &COrderActionJob::Accepted);
    QSignalSpy failed(action.get(), &CJob::Failed);
    QTRY_COMPARE(accepted.count() + failed.count(), 1);
    QCOMPARE(FakeNetworkManager::Recorded().size(), 1);
    QCOMPARE(FakeNetworkManager::Recorded().first().body, body);
    QCOMPARE(action->Id(), id);

    if (status >= 0) {
        QCOMPARE(accepted.count(), 1);
        const auto done = accepted.first().first().value<OrderAction>();
        QCOMPARE(done.id, id);
        QCOMPARE(done.status, status);
        QCOMPARE(done.movedOn, movedOn);
        QCOMPARE(done.platformTime, clock);
        return;
    }
    const auto failure = failed.first().first().value<JobFailure>();
    QCOMPARE(int(failure.kind), kind);
    if (kind != JobFailure::Line) {
        QCOMPARE(failure.message, message);
        QCOMPARE(failure.platformTime, clock);
    }
}

TARVIK_GUILESS_TEST_MAIN(ActionJobsTest)
#include "tst_actionjobs.moc"
