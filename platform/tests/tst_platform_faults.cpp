// Fault injection through the admin API: each kind of failure the client must survive.

#include "common/platformprocess.h"
#include "common/testmain.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <memory>

class PlatformFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void faultKinds_data();
    void faultKinds();
    void faultsAreScopedToTheirEndpoint();
    void faultWithCountClearsItself();
    void hangHoldsTheRequestUntilCleared();
    void abandonedHeldRequestsFreeTheirWorkers();
    void hangingRequestDoesNotBlockShutdown();
    void badFaultsAreRefused_data();
    void badFaultsAreRefused();

private:
    QNetworkReply* startCashUpdate(QNetworkAccessManager* manager, PlatformProcess& server,
                                   const PlatformProcess::Session& login);

    std::unique_ptr<PlatformProcess> platform;
    PlatformProcess::Session session;
};

void PlatformFaultsTest::initTestCase()
{
    platform = std::make_unique<PlatformProcess>(QStringList{QStringLiteral("--seed")});
    QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
    session =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(session.isValid());
}

void PlatformFaultsTest::cleanup()
{
    QVERIFY(platform->clearFaults());
}

QNetworkReply* PlatformFaultsTest::startCashUpdate(QNetworkAccessManager* manager, PlatformProcess& server,
                                                   const PlatformProcess::Session& login)
{
    QNetworkRequest request(QUrl(server.baseUrl() + QStringLiteral("/api/CashUpdate")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    return manager->post(request, login.form().toUtf8());
}

void PlatformFaultsTest::faultKinds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("arg");
    QTest::addColumn<int>("httpStatus"); // 0: no HTTP answer at all
    QTest::addColumn<QString>("body");   // "object:N", "array", "notjson" or "none"
    QTest::addColumn<int>("minMs");
    QTest::newRow("delay") << "delay" << QVariant(800) << 200 << "object:1" << 750;
    QTest::newRow("http 500") << "http500" << QVariant() << 500 << "notjson" << 0;
    QTest::newRow("not json") << "notjson" << QVariant() << 200 << "notjson" << 0;
    QTest::newRow("json array") << "array" << QVariant() << 200 << "array" << 0;
    QTest::newRow("refusal with a text")
        << "refuse" << QVariant(QStringLiteral("系统升级中")) << 200 << "object:0" << 0;
    QTest::newRow("connection closed") << "close" << QVariant() << 0 << "none" << 0;
}

void PlatformFaultsTest::faultKinds()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, arg);
    QFETCH(int, httpStatus);
    QFETCH(QString, body);
    QFETCH(int, minMs);
    QVERIFY(platform->setFault(QStringLiteral("StaffOrderList"), kind, arg));

    QElapsedTimer clock;
    clock.start();
    const PlatformProcess::HttpResult result = platform->postRaw(
        QStringLiteral("StaffOrderList"), (session.form() + QStringLiteral("&pager=1")).toUtf8());
    QVERIFY(clock.elapsed() >= minMs);
    QCOMPARE(result.httpStatus, httpStatus);
    const QJsonDocument document = QJsonDocument::fromJson(result.body);
    if (body == QLatin1String("none")) {
        QVERIFY(result.error != QNetworkReply::NoError);
        QVERIFY(result.body.isEmpty());
    } else if (body == QLatin1String("notjson")) {
        QVERIFY(!result.body.isEmpty());
        QVERIFY(document.isNull());
    } else if (body == QLatin1String("array")) {
        QVERIFY(document.isArray());
    } else {
        QVERIFY(document.isObject());
        QCOMPARE(document.object().value("status").toInt(-1), body.mid(7).toInt());
        if (kind == QLatin1String("refuse"))
            QCOMPARE(document.object().value("info").toString(), arg.toString());
    }

    // The fault stays until cleared; then the endpoint answers normally.
    QCOMPARE(platform
                 ->postRaw(QStringLiteral("StaffOrderList"),
                           (session.form() + QStringLiteral("&pager=1")).toUtf8())
                 .httpStatus,
             httpStatus);
    QVERIFY(platform->clearFaults());
    const QJsonObject normal =
        platform->post(QStringLiteral("StaffOrderList"), session.form() + QStringLiteral("&pager=1"));
    QCOMPARE(normal.value("status").toInt(), 1);
}

void PlatformFaultsTest::faultsAreScopedToTheirEndpoint()
{
    QVERIFY(platform->setFault(QStringLiteral("CashUpdate"), QStringLiteral("http500")));
    QCOMPARE(platform->postRaw(QStringLiteral("CashUpdate"), session.form().toUtf8()).httpStatus, 500);
    QCOMPARE(platform->post(QStringLiteral("UserInfo"), session.form()).value("status").toInt(), 1);
    QCOMPARE(platform->get(QStringLiteral("/img/face/1.png")).httpStatus, 200);

    // "*" is every API endpoint, not the pictures.
    QVERIFY(platform->setFault(QStringLiteral("*"), QStringLiteral("refuse"), QStringLiteral("停机维护")));
    QCOMPARE(platform->post(QStringLiteral("UserInfo"), session.form()).value("info").toString(),
             QStringLiteral("停机维护"));
    QCOMPARE(platform->post(QStringLiteral("UpdateSoftware"), QString()).value("status").toInt(-1), 0);
    QCOMPARE(platform->get(QStringLiteral("/img/face/1.png")).httpStatus, 200);
    QVERIFY(platform->clearFaults());

    // Pictures and the installer have faults of their own.
    QVERIFY(platform->setFault(QStringLiteral("img"), QStringLiteral("http500")));
    QVERIFY(platform->setFault(QStringLiteral("download"), QStringLiteral("close")));
    QCOMPARE(platform->get(QStringLiteral("/img/item/fried-rice.png")).httpStatus, 500);
    const PlatformProcess::HttpResult download =
        platform->get(QStringLiteral("/download/tarvik-setup-1.0.6.2290.sh"));
    QCOMPARE(download.httpStatus, 0);
    QVERIFY(download.error != QNetworkReply::NoError);
    QCOMPARE(platform->post(QStringLiteral("CashUpdate"), session.form()).value("status").toInt(), 1);
}

void PlatformFaultsTest::faultWithCountClearsItself()
{
    QVERIFY(platform->setFault(QStringLiteral("ToFinishOrder"), QStringLiteral("notjson"), QVariant(), 2));
    const QString body = session.form() + QStringLiteral("&oid=1");
    QVERIFY(platform->post(QStringLiteral("ToFinishOrder"), body).isEmpty());
    QVERIFY(platform->post(QStringLiteral("ToFinishOrder"), body).isEmpty());
    // Third call: the real answer (the order does not exist).
    const QJsonObject third = platform->post(QStringLiteral("ToFinishOrder"), body);
    QCOMPARE(third.value("status").toInt(-1), 0);
    QVERIFY(third.value("info").toString().contains(QStringLiteral("不存在")));
    QVERIFY(platform->admin("GET", QStringLiteral("faults")).value("info").toArray().isEmpty());
}

void PlatformFaultsTest::hangHoldsTheRequestUntilCleared()
{
    QVERIFY(platform->setFault(QStringLiteral("CashUpdate"), QStringLiteral("hang")));
    QNetworkAccessManager manager;
    QNetworkReply* held = startCashUpdate(&manager, *platform, session);
    QTest::qWait(300); // an answer would have come within milliseconds
    QVERIFY(!held->isFinished());
    // Everything else still answers meanwhile.
    QCOMPARE(platform->post(QStringLiteral("UserInfo"), session.form()).value("status").toInt(), 1);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(platform->clearFaults());
    QTRY_VERIFY_WITH_TIMEOUT(held->isFinished(), 5000);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(held->error(), QNetworkReply::NoError);
    QCOMPARE(QJsonDocument::fromJson(held->readAll()).object().value("status").toInt(), 1);
    delete held;
}

void PlatformFaultsTest::abandonedHeldRequestsFreeTheirWorkers()
{
    // More held requests than the server has workers, all given up by their client (as the client's
    // own time-out does): the server must notice, or nothing else would be answered until the
    // fault is cleared.
    QVERIFY(platform->setFault(QStringLiteral("CashUpdate"), QStringLiteral("hang")));
    QList<QNetworkAccessManager*> managers;
    QList<QNetworkReply*> held;
    for (int i = 0; i < 12; ++i) {
        managers.append(new QNetworkAccessManager(this));
        for (int j = 0; j < 6; ++j)
            held.append(startCashUpdate(managers.last(), *platform, session));
    }
    QTest::qWait(500); // all of them at the server, held
    QVERIFY(std::none_of(held.begin(), held.end(), [](QNetworkReply* reply) { return reply->isFinished(); }));
    for (QNetworkReply* reply : held)
        reply->abort();

    QElapsedTimer clock;
    clock.start();
    const QJsonObject reply = platform->post(QStringLiteral("UserInfo"), session.form(), 5000);
    QCOMPARE(reply.value("status").toInt(), 1);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QStringLiteral("answered after %1 ms").arg(clock.elapsed())));
    qDeleteAll(managers);
}

void PlatformFaultsTest::hangingRequestDoesNotBlockShutdown()
{
    PlatformProcess own(QStringList{QStringLiteral("--seed")});
    QVERIFY2(own.isRunning(), qPrintable(own.errorString()));
    const PlatformProcess::Session login =
        own.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(own.setFault(QStringLiteral("CashUpdate"), QStringLiteral("hang")));
    QNetworkAccessManager manager;
    QNetworkReply* held = startCashUpdate(&manager, own, login);
    QTest::qWait(300);
    QVERIFY(!held->isFinished());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(own.stop(10000));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(held->isFinished(), 5000);
    QVERIFY(QJsonDocument::fromJson(held->readAll()).object().value("status").toInt() != 1);
    delete held;
}

void PlatformFaultsTest::badFaultsAreRefused_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::newRow("unknown kind") << QJsonObject{{"endpoint", "CashUpdate"}, {"kind", "explode"}};
    QTest::newRow("unknown endpoint") << QJsonObject{{"endpoint", "Nothing"}, {"kind", "http500"}};
    QTest::newRow("delay beyond ten minutes")
        << QJsonObject{{"endpoint", "CashUpdate"}, {"kind", "delay"}, {"ms", 700000}};
    QTest::newRow("negative count") << QJsonObject{
        {"endpoint", "CashUpdate"}, {"kind", "delay"}, {"times", -1}};
}

void PlatformFaultsTest::badFaultsAreRefused()
{
    QFETCH(QJsonObject, fault);
    const QJsonObject reply = platform->admin("POST", QStringLiteral("faults"), fault);
    QCOMPARE(reply.value("status").toInt(-1), 0);
    QVERIFY(platform->admin("GET", QStringLiteral("faults")).value("info").toArray().isEmpty());
}

TARVIK_TEST_MAIN(PlatformFaultsTest)
#include "tst_platform_faults.moc"
