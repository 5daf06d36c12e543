#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QUrlQuery>
#include <QtTest>

#include "common/coretestmain.h"
#include "common/fakenetwork.h"
#include "orders/orderjobs.h"
#include "session/cuser.h"

Q_DECLARE_METATYPE(FakeResponse)

// The three order lists on the wire: the fast reading of an answer's bytes gives exactly the
// entries the JSON document gives, or leaves the answer to the document; each job posts its own
// fields and hands over its entries with the platform's clock.
class TestOrderJobs : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeNetworkManager> network;
    CUser user;

    ApiLine Line()
    {
        ApiLine line;
        line.network = network.get();
        line.user = &user;
        return line;
    }

    static QByteArray Answer(const QByteArray& commos, const QByteArray& rest = QByteArray())
    {
        return R"({"info":{"commos":)" + commos + rest + R"(},"status":1})";
    }

    static void CompareEntries(const QVector<OrderEntry>& fast, const QVector<OrderEntry>& slow)
    {
        QCOMPARE(fast.size(), slow.size());
        for (int i = 0; i < fast.size(); ++i) {
            QCOMPARE(fast[i].id, slow[i].id);
            QCOMPARE(fast[i].status, slow[i].status);
            QCOMPARE(fast[i].member, slow[i].member);
            QCOMPARE(fast[i].amount, slow[i].amount);
            QCOMPARE(fast[i].ctime, slow[i].ctime);
            QCOMPARE(fast[i].stime, slow[i].stime);
            QCOMPARE(fast[i].ptime, slow[i].ptime);
            QCOMPARE(fast[i].ertime, slow[i].ertime);
        }
    }

private slots:
    void init()
    {
        network = std::make_unique<FakeNetworkManager>();
        FakeNetworkManager::Recorded().clear();
        user.SetId(7);
        user.SetKey(QStringLiteral("k"));
        user.SetToken(QStringLiteral("t"));
    }

    void bothReadingsAgree_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("fast"); // the bytes are read directly
        QTest::addColumn<int>("entries");
        const QByteArray platform =
            R"({"amount":12.5,"ctime":"2026-12-08 10:00:00","ertime":"2026-12-08 10:05:00","id":26120800001,)"
            R"("member":"王五","ptime":null,"status":1,"stime":null})";
        QTest::newRow("the platform's list")
            << Answer("[" + platform + "," + platform + "]",
                      R"(,"shop_catid":3,"shop_id":9,"shop_name":"老街牛肉面馆")")
            << true << 2;
        QTest::newRow("keys in any order, spaced")
            << QByteArray("{ \"status\" : 1 ,\n \"info\" : { \"commos\" : [ { "
                          "\"status\" : 2 , \"id\" : 5 } ] } }\r\n")
            << true << 1;
        QTest::newRow("numbers as text")
            << Answer(R"([{"id":"123","status":"2","amount":"7.25"}])") << true << 1;
        // Not a raw string: moc would take its \" for the end of one.
        QTest::newRow("escapes") << Answer("[{\"id\":1,\"member\":\"\\u738b\\\"\\\\/"
                                           "\\n\\t\",\"ertime\":\"2026-12-08\\u002010:00:00\"}]")
                                 << true << 1;
        QTest::newRow("times in odd forms")
            << Answer(R"([{"id":1,"ctime":"2026-12-08T11:22:02","stime":"2026-02-30 10:00:00","ptime":"",)"
                      R"("ertime":1700000000}])")
            << true << 1;
        QTest::newRow("scalars of other kinds")
            << Answer(R"([{"id":1e3,"member":12.5,"amount":true,"status":-0}])") << true << 1;
        QTest::newRow("entries that are no objects, keys it ignores")
            << Answer(R"([1,"x",null,[],{"id":2,"extra":{"a":[1,{"b":null}]},"od":3}])", R"(,"total":[1,2])")
            << true << 1;
        QTest::newRow("no list") << QByteArray(R"({"status":1,"info":{}})") << true << 0;
        QTest::newRow("refused") << QByteArray(R"({"status":0,"info":"登录已过期"})") << false << 0;
        QTest::newRow("status as text")
            << QByteArray(R"({"status":"1","info":{"commos":[{"id":1}]}})") << false << 1;
        QTest::newRow("twice the status") << QByteArray(R"({"status":1,"status":0,"info":{}})") << false << 0;
        QTest::newRow("info not an object") << QByteArray(R"({"status":1,"info":[]})") << false << 0;
        QTest::newRow("list not an array")
            << QByteArray(R"({"status":1,"info":{"commos":{}}})") << false << 0;
        QTest::newRow("nested value in a field") << Answer(R"([{"id":1,"member":["a"]}])") << false << 1;
        QTest::newRow("broken UTF-8") << Answer("[{\"id\":1,\"member\":\"\xe7\x8e\"}]") << false << 1;
        QTest::newRow("lone surrogate") << Answer(R"([{"id":1,"member":"\ud83d"}])") << false << 1;
        QTest::newRow("leading zero") << Answer(R"([{"id":01}])") << false << 1;
        QTest::newRow("cut short") << QByteArray(R"({"status":1,"info":{"commos":[{"id":1})") << false << 0;
        QTest::newRow("garbage after it") << QByteArray(R"({"status":1,"info":{}} x)") << false << 0;
        QTest::newRow("raw control character") << Answer("[{\"id\":1,\"member\":\"a\x01\"}]") << false << 1;
    }
    void bothReadingsAgree()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, fast);
        QFETCH(int, entries);
        OrderListPage direct;
        QCOMPARE(OrderWire::ReadListBytes(body, &direct), fast);
        const QJsonDocument document = QJsonDocument::fromJson(body);
        const OrderListPage read = OrderWire::ReadList(document.object().value("info"));
        if (document.isObject())
            QCOMPARE(read.entries.size(), entries);
        if (!fast)
            return;
        CompareEntries(direct.entries, read.entries);
        QCOMPARE(direct.shopId, read.shopId);
        QCOMPARE(direct.shopName, read.shopName);
        QCOMPARE(direct.shopCatId, read.shopCatId);
    }

    // Each job posts the session's fields and its own, and hands over what the platform listed with
    // the platform's clock, whichever way its answer was read; a refusal is a failure.
    void eachJobPostsAndHandsOver_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<int>("entries"); // -1: refused
        const QByteArray two = Answer(R"([{"id":1,"status":1},{"id":2,"status":2}])", R"(,"shop_id":9)");
        const QByteArray asText = R"({"status":"1","info":{"commos":[{"id":1,"status":1}]}})";
        const QByteArray refused = R"({"status":0,"info":"登录已过期"})";
        for (const char* endpoint : {"StaffOrderList", "UpdateStaffOrderList", "PayFinishOrder"}) {
            const QByteArray field = QByteArray(endpoint) == "StaffOrderList" ? "pager=1"
                                     : QByteArray(endpoint) == "UpdateStaffOrderList"
                                         ? "time=2026-12-08%2010%3A00%3A00"
                                         : "ertime=2026-12-08%2010%3A00%3A00";
            QTest::addRow("%s, read fast", endpoint) << endpoint << FakeResponse::Json(two) << field << 2;
            QTest::addRow("%s, read as a document", endpoint)
                << endpoint << FakeResponse::Json(asText) << field << 1;
            QTest::addRow("%s, refused", endpoint) << endpoint << FakeResponse::Json(refused) << field << -1;
        }
    }
    void eachJobPostsAndHandsOver()
    {
        QFETCH(QString, endpoint);
        QFETCH(FakeResponse, response);
        QFETCH(QByteArray, field);
        QFETCH(int, entries);
        const QDateTime clock(QDate(2026, 12, 8), QTime(10, 0, 7));
        FakeNetworkManager::SetPlatformClock(clock);
        network->SetHandler([response](const RecordedRequest&) { return response; });
        const QDateTime from(QDate(2026, 12, 8), QTime(10, 0, 0));

        QVector<OrderEntry> got;
        QDateTime answeredAt;
        int failures = 0;
        std::unique_ptr<CJob> job;
        if (endpoint == QLatin1String("StaffOrderList")) {
            auto* list = new COrderListJob(Line());
            connect(list, &COrderListJob::Fetched, this, [&](const OrderListPage& page) {
                got = page.entries;
                answeredAt = page.platformTime;
                QCOMPARE(page.shopId, qint64(entries == 2 ? 9 : 0));
            });
            job.reset(list);
            QVERIFY(list->Start(1));
        } else {
            COrderEntriesJob* poll = nullptr;
            if (endpoint == QLatin1String("UpdateStaffOrderList")) {
                auto* newOrders = new CNewOrdersJob(Line());
                QVERIFY(newOrders->Start(from));
                poll = newOrders;
            } else {
                auto* payFinish = new CPayFinishJob(Line());
                QVERIFY(payFinish->Start(from));
                poll = payFinish;
            }
            connect(poll, &COrderEntriesJob::Fetched, this, [&](const OrderEntries& reply) {
                got = reply.entries;
                answeredAt = reply.platformTime;
            });
            job.reset(poll);
        }
        connect(job.get(), &CJob::Failed, this, [&](const JobFailure& failure) {
            ++failures;
            QCOMPARE(int(failure.kind), int(JobFailure::Refused));
            QCOMPARE(failure.message, QStringLiteral("登录已过期"));
        });
        QTRY_VERIFY(!job->Running());
        FakeNetworkManager::SetPlatformClock(QDateTime());

        QCOMPARE(FakeNetworkManager::Recorded().size(), 1);
        QCOMPARE(FakeNetworkManager::Recorded().first().request.url().fileName(), endpoint);
        QCOMPARE(FakeNetworkManager::Recorded().first().body, "id=7&key=k&token=t&" + field);
        QCOMPARE(failures, entries < 0 ? 1 : 0);
        if (entries < 0)
            return;
        QCOMPARE(got.size(), entries);
        QCOMPARE(got.last().id, qint64(entries));
        QCOMPARE(got.last().status, entries);
        QCOMPARE(answeredAt, clock);
    }
};

TARVIK_GUILESS_TEST_MAIN(TestOrderJobs)
#include "tst_orderjobs.moc"
