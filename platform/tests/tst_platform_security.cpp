// What someone on the shop's network could try against the platform: guessing a buyer's code,
// holding every worker with requests that never end, filling memory with picture names, and
// driving the admin API from a web page.

#include "common/platformprocess.h"
#include "common/testmain.h"
#include "platform/assets.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace {

const int CodeLockSeconds = 1;
const int SessionTries = 12;
const int RequestTimeoutSeconds = 3;

} // namespace

class PlatformSecurityTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void wrongCodesLockTheOrder();
    void wrongCodesLimitTheSession();
    void dribbledRequestsAreCutOff();
    void unknownNamesAreRefused_data();
    void unknownNamesAreRefused();
    void cacheStaysBounded();
    void crossSiteAdminIsRefused_data();
    void crossSiteAdminIsRefused();

private:
    QJsonObject finish(const PlatformProcess::Session& who, qint64 order, const QString& code);
    // One request written as it is; the HTTP status of the answer, 0 without one.
    int rawStatus(const QByteArray& request);

    std::unique_ptr<PlatformProcess> platform;
};

void PlatformSecurityTest::initTestCase()
{
    platform = std::make_unique<PlatformProcess>(
        QStringList{QStringLiteral("--seed"), QStringLiteral("--code-lock"), QString::number(CodeLockSeconds),
                    QStringLiteral("--session-code-tries"), QString::number(SessionTries),
                    QStringLiteral("--request-timeout"), QString::number(RequestTimeoutSeconds)});
    QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
}

QJsonObject PlatformSecurityTest::finish(const PlatformProcess::Session& who, qint64 order,
                                         const QString& code)
{
    return platform->post(QStringLiteral("StaffFinishOrder"),
                          who.form() + QStringLiteral("&pass=%1&oid=%2").arg(code).arg(order));
}

int PlatformSecurityTest::rawStatus(const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), platform->port());
    if (!socket.waitForConnected(5000))
        return 0;
    socket.write(request);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (!answer.contains("\r\n") && clock.elapsed() < 10000 && socket.waitForReadyRead(1000))
        answer += socket.readAll();
    const QList<QByteArray> words = answer.left(answer.indexOf('\r')).split(' ');
    return words.size() > 1 ? words.at(1).toInt() : 0;
}

void PlatformSecurityTest::wrongCodesLockTheOrder()
{
    const PlatformProcess::Session staff =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(staff.isValid());
    const qint64 order = platform->createOrder(QJsonObject{{"status", 1}, {"password", "731946"}});
    QVERIFY(order);
    for (int i = 1; i <= 5; ++i) {
        const QJsonObject reply = finish(staff, order, QStringLiteral("00000%1").arg(i));
        QCOMPARE(reply.value("status").toInt(), 0);
        QVERIFY2(reply.value("info").toString().contains(QStringLiteral("密码错误")),
                 qPrintable(reply.value("info").toString()));
    }
    // Locked: neither a sixth guess nor the right code is checked.
    for (const QString& code : {QStringLiteral("000006"), QStringLiteral("731946")}) {
        const QJsonObject reply = finish(staff, order, code);
        QCOMPARE(reply.value("status").toInt(), 0);
        QVERIFY2(reply.value("info").toString().contains(QStringLiteral("次数过多")),
                 qPrintable(reply.value("info").toString()));
    }
    QCOMPARE(platform->order(order).value("status").toInt(), 1);
    // Other orders go on being finished meanwhile.
    const qint64 other = platform->createOrder(QJsonObject{{"status", 1}, {"password", "246802"}});
    QCOMPARE(finish(staff, other, QStringLiteral("246802")).value("status").toInt(), 1);

    QTest::qWait(CodeLockSeconds * 1000 + 200);
    QCOMPARE(finish(staff, order, QStringLiteral("731946")).value("status").toInt(), 1);
    QCOMPARE(platform->order(order).value("status").toInt(), 2);
}

void PlatformSecurityTest::wrongCodesLimitTheSession()
{
    // Guesses spread over orders, each below its own limit, still run into the login's.
    const PlatformProcess::Session guesser =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(guesser.isValid());
    QList<qint64> orders;
    for (int i = 0; i < 4; ++i) {
        orders.append(platform->createOrder(QJsonObject{{"status", 1}, {"password", "580317"}}));
        QVERIFY(orders.last());
    }
    for (int i = 0; i < SessionTries; ++i)
        QVERIFY(finish(guesser, orders.at(i % 3), QStringLiteral("11111%1").arg(i % 10))
                    .value("info")
                    .toString()
                    .contains(QStringLiteral("密码错误")));
    const QJsonObject refused = finish(guesser, orders.at(3), QStringLiteral("580317"));
    QCOMPARE(refused.value("status").toInt(), 0);
    QVERIFY2(refused.value("info").toString().contains(QStringLiteral("次数过多")),
             qPrintable(refused.value("info").toString()));

    // Another login is not held up by this one.
    const PlatformProcess::Session other = platform->login(
        PlatformProcess::SecondDemoAccount, QString::fromLatin1(PlatformProcess::SecondDemoPassword));
    QCOMPARE(finish(other, orders.at(3), QStringLiteral("580317")).value("status").toInt(), 1);
}

void PlatformSecurityTest::dribbledRequestsAreCutOff()
{
    // Each connection sends a whole head announcing a body, then one byte of it a second: every
    // read gets something long before the read time-out, only the request's deadline ends it.
    const int count = 600;
    const QByteArray head = "POST /api/UserInfo HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 1000\r\n\r\n";
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket* socket = sockets.back().get();
        connect(socket, &QTcpSocket::readyRead, this, [socket] { socket->readAll(); });
        socket->connectToHost(QStringLiteral("127.0.0.1"), platform->port());
    }
    QElapsedTimer sinceHeads;
    for (auto& socket : sockets) {
        QVERIFY(socket->waitForConnected(5000));
        socket->write(head);
        socket->flush();
    }
    sinceHeads.start();
    QTimer dribble;
    connect(&dribble, &QTimer::timeout, this, [&] {
        for (auto& socket : sockets) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write("x", 1);
        }
    });
    dribble.start(1000);
    QTest::qWait(500);

    const PlatformProcess::Session staff =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(staff.isValid());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(platform->post(QStringLiteral("UserInfo"), staff.form(), 15000).value("status").toInt(), 1);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QStringLiteral("answered after %1 ms").arg(clock.elapsed())));

    const auto allClosed = [&] {
        return std::all_of(sockets.begin(), sockets.end(), [](const std::unique_ptr<QTcpSocket>& socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allClosed(), RequestTimeoutSeconds * 1000 + 4000);
    QVERIFY2(sinceHeads.elapsed() < RequestTimeoutSeconds * 1000 + 4000,
             qPrintable(QStringLiteral("cut off after %1 ms").arg(sinceHeads.elapsed())));
    dribble.stop();
}

void PlatformSecurityTest::unknownNamesAreRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("httpStatus");
    QTest::newRow("a menu picture") << "/img/item/beef-noodles.png" << 200;
    QTest::newRow("the plain plate") << "/img/item/dish.png" << 200;
    QTest::newRow("a face") << "/img/face/42.png" << 200;
    QTest::newRow("an item nobody offers") << "/img/item/zz-0001.png" << 404;
    QTest::newRow("face 100") << "/img/face/100.png" << 404;
    QTest::newRow("the offered installer") << "/download/tarvik-setup-1.0.6.2290.sh" << 200;
    QTest::newRow("an installer not offered") << "/download/tarvik-setup-9.9.9.1.sh" << 404;
}

void PlatformSecurityTest::unknownNamesAreRefused()
{
    QFETCH(QString, path);
    QFETCH(int, httpStatus);
    QCOMPARE(platform->get(path).httpStatus, httpStatus);
}

void PlatformSecurityTest::cacheStaysBounded()
{
    Velm::Assets assets;
    for (int i = 0; i < 3000; ++i)
        QVERIFY(assets.Picture(QStringLiteral("item"), QStringLiteral("zz-%1").arg(i)).isEmpty());
    QCOMPARE(assets.CachedBytes(), size_t(0));

    for (int face = 1; face <= 99; ++face)
        QVERIFY(!assets.Picture(QStringLiteral("face"), QString::number(face)).isEmpty());
    QVERIFY(!assets.Picture(QStringLiteral("item"), QStringLiteral("fried-rice")).isEmpty());
    const size_t pictures = assets.CachedBytes();
    // The offered build changes; only the one asked for last is kept.
    for (int build = 0; build < 50; ++build)
        QVERIFY(assets.Installer(QStringLiteral("1.0.7.%1").arg(build)).size() >= 384 * 1024);
    QVERIFY2(assets.CachedBytes() < pictures + 2 * 384 * 1024,
             qPrintable(QStringLiteral("%1 bytes kept").arg(assets.CachedBytes())));
}

void PlatformSecurityTest::crossSiteAdminIsRefused_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("httpStatus");
    const QByteArray json = "Content-Type: application/json\r\n";
    const QByteArray cash = R"({"yuer": 777})";
    QTest::newRow("JSON from a program") << json << cash << 200;
    QTest::newRow("JSON to localhost") << json + "Host: localhost:@port@\r\n" << cash << 200;
    QTest::newRow("text/plain") << QByteArray("Content-Type: text/plain\r\n") << cash << 415;
    QTest::newRow("a form") << QByteArray("Content-Type: application/x-www-form-urlencoded\r\n") << cash
                            << 415;
    QTest::newRow("no content type") << QByteArray() << cash << 415;
    QTest::newRow("foreign Origin") << json + "Origin: http://evil.example\r\n" << cash << 403;
    QTest::newRow("Origin null") << json + "Origin: null\r\n" << cash << 403;
    QTest::newRow("Host evil.example") << json + "Host: evil.example\r\n" << cash << 403;
    QTest::newRow("Host evil.example, our port") << json + "Host: evil.example:@port@\r\n" << cash << 403;
    QTest::newRow("status 99") << json << QByteArray(R"({"status": 99})") << 400;
    QTest::newRow("status -7") << json << QByteArray(R"({"status": -7})") << 400;
    QTest::newRow("status 1.5") << json << QByteArray(R"({"status": 1.5})") << 400;
    QTest::newRow("status 9") << json << QByteArray(R"({"status": 9})") << 200;
}

void PlatformSecurityTest::crossSiteAdminIsRefused()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(int, httpStatus);
    const bool statusChange = body.contains("status");
    QVERIFY(platform->setCash(1, 1));
    const qint64 order = platform->createOrder(QJsonObject{{"status", 1}});
    QVERIFY(order);
    const QByteArray port = QByteArray::number(platform->port());
    headers.replace("@port@", port);
    if (!headers.contains("Host:"))
        headers += "Host: 127.0.0.1:" + port + "\r\n";
    const QByteArray path =
        statusChange ? QByteArray("/admin/orders/") + QByteArray::number(order) : QByteArray("/admin/cash");
    QCOMPARE(rawStatus("POST " + path + " HTTP/1.1\r\n" + headers + "Content-Length: " +
                       QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body),
             httpStatus);

    // A refused call changed nothing.
    const PlatformProcess::Session staff =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    const double balance = platform->post(QStringLiteral("CashUpdate"), staff.form())
                               .value("info")
                               .toObject()
                               .value("yuer")
                               .toDouble();
    QCOMPARE(balance, httpStatus == 200 && !statusChange ? 777.0 : 1.0);
    QCOMPARE(platform->order(order).value("status").toInt(), httpStatus == 200 && statusChange ? 9 : 1);
}

TARVIK_TEST_MAIN(PlatformSecurityTest)
#include "tst_platform_security.moc"
