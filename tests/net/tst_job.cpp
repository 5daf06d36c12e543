#include <QSignalSpy>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakenetwork.h"
#include "orders/orderjobs.h"
#include "session/cuser.h"

Q_DECLARE_METATYPE(FakeResponse)

// The job every endpoint is built on, through the smallest one (the order detail): what becomes of
// each kind of answer, and that a job that is dropped or started again reports nothing stale.
class JobTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void eachAnswerHasOneOutcome_data();
    void eachAnswerHasOneOutcome();
    void sessionFieldsOpenEveryRequest();
    void droppedRequestReportsNothing_data();
    void droppedRequestReportsNothing();

private:
    std::unique_ptr<FakeNetworkManager> network;
    CUser user;
    ApiLine Line()
    {
        ApiLine line;
        line.network = network.get();
        line.user = &user;
        return line;
    }
};

void JobTest::init()
{
    network = std::make_unique<FakeNetworkManager>();
    FakeNetworkManager::Recorded().clear();
    user = CUser();
    user.SetId(7);
    user.SetKey(QStringLiteral("k&y"));
    user.SetToken(QStringLiteral("t"));
}

void JobTest::eachAnswerHasOneOutcome_data()
{
    QTest::addColumn<FakeResponse>("response");
    QTest::addColumn<bool>("fetched");
    QTest::addColumn<int>("kind");        // JobFailure::Kind when not fetched
    QTest::addColumn<QString>("message"); // what a window would show

    QTest::newRow("the detail") << FakeResponse::Json(R"({"status":1,"info":{"id":42,"status":1}})") << true
                                << 0 << QString();
    QTest::newRow("refused with words") << FakeResponse::Json(R"({"status":0,"info":"登录已过期"})") << false
                                        << int(JobFailure::Refused) << QStringLiteral("登录已过期");
    QTest::newRow("refused without words") << FakeResponse::Json(R"({"status":3})") << false
                                           << int(JobFailure::Refused) << QStringLiteral("status 3");
    QTest::newRow("not JSON") << FakeResponse::Json("<html>502</html>") << false << int(JobFailure::Malformed)
                              << QStringLiteral("<html>502</html>");
    QTest::newRow("info not an object") << FakeResponse::Json(R"({"status":1,"info":"ok"})") << false
                                        << int(JobFailure::Malformed) << QStringLiteral(R"({"status":1,"info":"ok"})");
    QTest::newRow("another order") << FakeResponse::Json(R"({"status":1,"info":{"id":43}})") << false
                                   << int(JobFailure::Malformed) << QStringLiteral(R"({"status":1,"info":{"id":43}})");
    QTest::newRow("line down") << FakeResponse::Error(QNetworkReply::ConnectionRefusedError) << false
                               << int(JobFailure::Line) << QString();
}

void JobTest::eachAnswerHasOneOutcome()
{
    QFETCH(FakeResponse, response);
    QFETCH(bool, fetched);
    QFETCH(int, kind);
    QFETCH(QString, message);
    network->SetHandler([response](const RecordedRequest&) { return response; });

    COrderDetailJob job(Line());
    QSignalSpy results(&job, &COrderDetailJob::Fetched);
    QSignalSpy failures(&job, &CJob::Failed);
    QVERIFY(job.Start(42));
    QVERIFY(job.Running());
    QTRY_COMPARE(results.count() + failures.count(), 1);
    QTest::qWait(20); // and nothing after it
    QCOMPARE(results.count() + failures.count(), 1);
    QVERIFY(!job.Running());
    QCOMPARE(results.count(), fetched ? 1 : 0);
    if (fetched) {
        const auto detail = results.first().first().value<OrderDetail>();
        QCOMPARE(detail.id, 42);
        QCOMPARE(detail.info.value("status").toInt(), 1);
        return;
    }
    const auto failure = failures.first().first().value<JobFailure>();
    QCOMPARE(int(failure.kind), kind);
    QVERIFY(!failure.logText.isEmpty());
    if (kind == JobFailure::Line) {
        QCOMPARE(failure.errorCode, int(QNetworkReply::ConnectionRefusedError));
        QVERIFY(!failure.message.isEmpty());
    } else {
        QCOMPARE(failure.message, message);
    }
}

void JobTest::sessionFieldsOpenEveryRequest()
{
    ApiLine line = Line();
    line.transferTimeoutMs = 1234; // and the line's limits hold every request
    COrderDetailJob job(line);
    QSignalSpy done(&job, &COrderDetailJob::Fetched);
    network->SetHandler([](const RecordedRequest&) { return FakeResponse::Json(R"({"status":1,"info":{"id":5}})"); });
    QVERIFY(job.Start(5));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(FakeNetworkManager::Recorded().size(), 1);
    const RecordedRequest& sent = FakeNetworkManager::Recorded().first();
    QCOMPARE(sent.request.url().fileName(), QStringLiteral("StaffOrder2"));
    QCOMPARE(sent.body, QByteArray("id=7&key=k%26y&token=t&oid=5"));
    QCOMPARE(sent.request.transferTimeout(), 1234);
}

// A job dropped by its owner, or started again before its answer came, aborts the request it
// no longer wants: the late answer neither reaches a result slot nor fails, and a job beside it on
// the same manager is not disturbed.
void JobTest::droppedRequestReportsNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("deleted") << "deleted";
    QTest::newRow("aborted") << "aborted";
    QTest::newRow("started again") << "restarted";
}

void JobTest::droppedRequestReportsNothing()
{
    QFETCH(QString, how);
    network->SetHandler([](const RecordedRequest& request) {
        const QByteArray id = request.body.mid(request.body.lastIndexOf('=') + 1);
        return FakeResponse::Hold(R"({"status":1,"info":{"id":)" + id + "}}");
    });
    // Another job on the same manager, its request overlapping: it gets its own answer whatever
    // becomes of the first.
    COrderDetailJob other(Line());
    QList<qint64> otherFetched;
    connect(&other, &COrderDetailJob::Fetched, this, [&](const OrderDetail& d) { otherFetched << d.id; });
    QVERIFY(other.Start(3));
    auto job = std::make_unique<COrderDetailJob>(Line());
    QList<qint64> fetched;
    int failed = 0;
    connect(job.get(), &COrderDetailJob::Fetched, this, [&](const OrderDetail& d) { fetched << d.id; });
    connect(job.get(), &CJob::Failed, this, [&] { ++failed; });
    QVERIFY(job->Start(1));
    if (how == "deleted")
        job.reset();
    else if (how == "aborted")
        job->Abort();
    else
        QVERIFY(job->Start(2));
    FakeNetworkManager::ReleaseHeld();
    QTest::qWait(50);
    QCOMPARE(failed, 0);
    QCOMPARE(fetched, how == "restarted" ? QList<qint64>{2} : QList<qint64>{});
    QCOMPARE(otherFetched, QList<qint64>{3});
    if (job)
        QVERIFY(!job->Running());
}

TARVIK_GUILESS_TEST_MAIN(JobTest)
#include "tst_job.moc"
