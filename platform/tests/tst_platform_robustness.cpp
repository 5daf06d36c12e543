// What the server must survive: admin changes racing staff actions, money and times outside any sane
// range, clients that open a connection and never finish their request, and thousands that keep
// theirs open.

#include "common/platformprocess.h"
#include "common/testmain.h"
#include "platform/server.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <sys/socket.h>
#include <vector>

namespace {

// How long a new connection has to send its request head: 2 s here (3 by default), still longer
// than a request held up behind stalled connections may take to be answered (1 s).
const int HeadTimeoutSeconds = 2;

QNetworkReply* PostJson(QNetworkAccessManager* manager, const QString& url, const QJsonObject& body)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    return manager->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

QNetworkReply* PostForm(QNetworkAccessManager* manager, const QString& url, const QString& form)
{
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    return manager->post(request, form.toUtf8());
}

bool WaitAll(const QList<QNetworkReply*>& replies, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!std::all_of(replies.begin(), replies.end(), [](QNetworkReply* r) { return r->isFinished(); })) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

qint64 Cents(const QJsonValue& yuan)
{
    return qRound64(yuan.toDouble() * 100);
}

// The threads of a running process, from /proc; -1 when they cannot be read.
int Threads(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    }
    return -1;
}

QByteArray FormRequest(const QByteArray& endpoint, const QByteArray& body)
{
    return "POST /api/" + endpoint + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A kept-alive connection of a client, from one of the loopback addresses, that collects what it is
// answered.
struct Client
{
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray answers;

    Client(quint16 port, const QString& from = QString())
    {
        QObject::connect(socket.get(), &QTcpSocket::readyRead, [this] { answers += socket->readAll(); });
        if (!from.isEmpty())
            socket->bind(QHostAddress(from));
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    bool connected() const { return socket->state() == QAbstractSocket::ConnectedState; }
    bool closed() const { return socket->state() == QAbstractSocket::UnconnectedState; }
    // Answers received whole: a head whose body has come in to its Content-Length. Counting heads
    // alone races the body of the last one, which may arrive in a later read.
    int answered() const
    {
        int whole = 0;
        int at = 0;
        while ((at = answers.indexOf("HTTP/1.1 200", at)) >= 0) {
            const int headEnd = answers.indexOf("\r\n\r\n", at);
            if (headEnd < 0)
                break;
            const QByteArray head = answers.mid(at, headEnd - at).toLower();
            const int field = head.indexOf("content-length:");
            const int length =
                field < 0 ? 0 : head.mid(field + 15, head.indexOf("\r\n", field) - field - 15).trimmed().toInt();
            if (answers.size() < headEnd + 4 + length)
                break;
            ++whole;
            at = headEnd + 4 + length;
        }
        return whole;
    }
};

} // namespace

class PlatformRobustnessTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void adminChangeNeverUndoesAFinish();
    void formValuesKeepEveryByte_data();
    void formValuesKeepEveryByte();
    void moneyOutOfRangeIsRefused_data();
    void moneyOutOfRangeIsRefused();
    void largestAmountIsCreditedExactly();
    void timesOutOfRangeAreRefused_data();
    void timesOutOfRangeAreRefused();
    void storedStampOutOfRangeDoesNotPoisonTheNext();
    void idleConnectionStaysOpenBetweenPolls();
    void stalledConnectionsDoNotBlockOthers_data();
    void stalledConnectionsDoNotBlockOthers();
    void requestsArriveInPieces_data();
    void requestsArriveInPieces();
    void idleConnectionsAreKeptPerAddress();
    void threadsComeBackToRest_data();
    void threadsComeBackToRest();

private:
    // The HTTP status of one admin call, and its reply object in *reply.
    int adminStatus(const QString& path, const QJsonObject& body, QJsonObject* reply = nullptr);
    QJsonObject call(const QString& endpoint, const QString& fields = QString());

    std::unique_ptr<PlatformProcess> platform;
    PlatformProcess::Session session;
};

void PlatformRobustnessTest::initTestCase()
{
    platform = std::make_unique<PlatformProcess>(QStringList{
        QStringLiteral("--seed"), QStringLiteral("--head-timeout"), QString::number(HeadTimeoutSeconds)});
    QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
    session =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(session.isValid());
}

int PlatformRobustnessTest::adminStatus(const QString& path, const QJsonObject& body, QJsonObject* reply)
{
    QNetworkAccessManager manager;
    QNetworkReply* answer = PostJson(&manager, platform->baseUrl() + QStringLiteral("/admin/") + path, body);
    if (!WaitAll({answer}, 10000))
        return -1;
    if (reply)
        *reply = QJsonDocument::fromJson(answer->readAll()).object();
    const int status = answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete answer;
    return status;
}

QJsonObject PlatformRobustnessTest::call(const QString& endpoint, const QString& fields)
{
    return platform->post(endpoint,
                          fields.isEmpty() ? session.form() : session.form() + QLatin1Char('&') + fields);
}

void PlatformRobustnessTest::adminChangeNeverUndoesAFinish()
{
    // Each order is finished by the staff while an admin call changes its message at the same
    // moment. Whichever comes first, both must stay: served, credited once, message changed.
    const int count = 60;
    QList<qint64> ids;
    for (int i = 0; i < count; ++i) {
        ids.append(platform->createOrder(QJsonObject{{"status", 1}, {"password", "424242"}}));
        QVERIFY(ids.last());
    }
    const qint64 totalBefore =
        Cents(call(QStringLiteral("CashUpdate")).value("info").toObject().value("allcash"));

    QList<QNetworkAccessManager*> managers;
    for (int i = 0; i < 8; ++i)
        managers.append(new QNetworkAccessManager(this));
    QList<QNetworkReply*> finishes;
    QList<QNetworkReply*> changes;
    for (int i = 0; i < count; ++i) {
        finishes.append(PostForm(managers.at(i % 4),
                                 platform->baseUrl() + QStringLiteral("/api/StaffFinishOrder"),
                                 session.form() + QStringLiteral("&pass=424242&oid=%1").arg(ids.at(i))));
        changes.append(PostJson(managers.at(4 + i % 4),
                                platform->baseUrl() + QStringLiteral("/admin/orders/%1").arg(ids.at(i)),
                                QJsonObject{{"message", QStringLiteral("少放辣 %1").arg(i)}}));
    }
    QVERIFY(WaitAll(finishes + changes, 60000));

    int undone = 0;
    for (int i = 0; i < count; ++i) {
        QCOMPARE(QJsonDocument::fromJson(finishes.at(i)->readAll()).object().value("status").toInt(), 1);
        QCOMPARE(changes.at(i)->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        const QJsonObject order = platform->order(ids.at(i));
        QCOMPARE(order.value("message").toString(), QStringLiteral("少放辣 %1").arg(i));
        if (order.value("status").toInt() != 2 || order.value("stime").isNull())
            ++undone;
    }
    QVERIFY2(undone == 0, qPrintable(QStringLiteral("%1 of %2 finishes undone").arg(undone).arg(count)));
    const qint64 totalAfter =
        Cents(call(QStringLiteral("CashUpdate")).value("info").toObject().value("allcash"));
    QCOMPARE(totalAfter - totalBefore, qint64(count) * 1710);
    qDeleteAll(managers);
}

void PlatformRobustnessTest::formValuesKeepEveryByte_data()
{
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("stored");
    QTest::newRow("escaped NUL") << QStringLiteral("谢%00谢") << QString::fromUtf16(u"谢\0谢", 3);
    QTest::newRow("escaped NUL first") << QStringLiteral("%00ok") << QString::fromUtf16(u"\0ok", 3);
    QTest::newRow("broken escapes kept") << QStringLiteral("100%+%zz%4") << QStringLiteral("100% %zz%4");
    QTest::newRow("raw UTF-8 and escaped UTF-8") << QStringLiteral("好%E5%90%83") << QStringLiteral("好吃");
}

void PlatformRobustnessTest::formValuesKeepEveryByte()
{
    QFETCH(QString, sent);
    QFETCH(QString, stored);
    const qint64 id = platform->createOrder(QJsonObject{{"status", 3}, {"content", QStringLiteral("好吃")}});
    QVERIFY(id);
    QCOMPARE(
        call(QStringLiteral("StaffReply"), QStringLiteral("replay=%1&oid=%2").arg(sent, QString::number(id)))
            .value("status")
            .toInt(),
        1);
    QCOMPARE(platform->order(id).value("reply").toString(), stored);
}

void PlatformRobustnessTest::moneyOutOfRangeIsRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<int>("httpStatus");
    const auto items = [](double price, double num) {
        return QJsonArray{QJsonObject{{"name", QStringLiteral("面")}, {"price", price}, {"num", num}}};
    };
    QTest::newRow("amount 1e15") << "orders" << QJsonObject{{"amount", 1e15}} << 400;
    QTest::newRow("amount negative") << "orders" << QJsonObject{{"amount", -18}} << 400;
    QTest::newRow("amount not a number") << "orders" << QJsonObject{{"amount", "18"}} << 400;
    QTest::newRow("price 9e15 times 2e9") << "orders" << QJsonObject{{"out", items(9e15, 2e9)}} << 400;
    QTest::newRow("quantity 2e9") << "orders" << QJsonObject{{"commo", items(1, 2e9)}} << 400;
    QTest::newRow("quantity fractional") << "orders" << QJsonObject{{"commo", items(1, 1.5)}} << 400;
    QTest::newRow("quantity negative") << "orders" << QJsonObject{{"commo", items(1, -1)}} << 400;
    QTest::newRow("sum of items over the limit")
        << "orders" << QJsonObject{{"out", items(60000000, 1)}, {"commo", items(50000000, 1)}} << 400;
    QTest::newRow("item total 1e300")
        << "orders"
        << QJsonObject{{"out", QJsonArray{QJsonObject{{"name", "x"}, {"price", 1}, {"total", 1e300}}}}}
        << 400;
    QTest::newRow("balance 1e15") << "cash" << QJsonObject{{"yuer", 1e15}} << 400;
    QTest::newRow("income 1e15") << "income" << QJsonObject{{"order_id", 1}, {"addcash", 1e15}} << 400;
    QTest::newRow("order number 1e300") << "orders" << QJsonObject{{"id", 1e300}} << 400;
    QTest::newRow("largest amount") << "orders" << QJsonObject{{"amount", 100000000}} << 200;
    QTest::newRow("largest item") << "orders" << QJsonObject{{"commo", items(10000, 10000)}} << 200;
}

void PlatformRobustnessTest::moneyOutOfRangeIsRefused()
{
    QFETCH(QString, path);
    QFETCH(QJsonObject, body);
    QFETCH(int, httpStatus);
    QJsonObject reply;
    QCOMPARE(adminStatus(path, body, &reply), httpStatus);
    QCOMPARE(reply.value("status").toInt(), httpStatus == 200 ? 1 : 0);
    if (httpStatus == 200)
        QVERIFY(reply.value("info").toObject().value("amount").toDouble() > 0);
}

void PlatformRobustnessTest::largestAmountIsCreditedExactly()
{
    QVERIFY(platform->setCash(0, 0));
    const qint64 id = platform->createOrder(QJsonObject{{"amount", 100000000}, {"password", "777777"}});
    QVERIFY(id);
    QCOMPARE(call(QStringLiteral("StaffFinishOrder"), QStringLiteral("pass=777777&oid=%1").arg(id))
                 .value("status")
                 .toInt(),
             1);
    const QJsonObject cash = call(QStringLiteral("CashUpdate")).value("info").toObject();
    QCOMPARE(Cents(cash.value("yuer")), Q_INT64_C(9500000000));
    QCOMPARE(Cents(cash.value("allcash")), Q_INT64_C(9500000000));
}

void PlatformRobustnessTest::timesOutOfRangeAreRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value");
    QTest::newRow("ertime 9.2e18") << "ertime" << QJsonValue(9.2e18);
    QTest::newRow("ertime 1e300") << "ertime" << QJsonValue(1e300);
    QTest::newRow("ertime negative") << "ertime" << QJsonValue(-5);
    QTest::newRow("ertime after year 9999") << "ertime" << QJsonValue(253402300800.0 + 86400 * 400);
    QTest::newRow("ertime before 1970") << "ertime" << QJsonValue("1969-07-20 20:17:40");
    QTest::newRow("ctime 9.2e18") << "ctime" << QJsonValue(9.2e18);
    QTest::newRow("stime 9.2e18") << "stime" << QJsonValue(9.2e18);
    QTest::newRow("income ctime 9.2e18") << "income" << QJsonValue(9.2e18);
}

void PlatformRobustnessTest::timesOutOfRangeAreRefused()
{
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    const qint64 target = platform->createOrder(QJsonObject{{"status", 1}});
    const qint64 other = platform->createOrder(QJsonObject{{"status", 1}});
    QVERIFY(target && other);
    if (field == QLatin1String("income"))
        QCOMPARE(adminStatus(QStringLiteral("income"),
                             QJsonObject{{"order_id", target}, {"addcash", 1}, {"ctime", value}}),
                 400);
    else
        QCOMPARE(adminStatus(QStringLiteral("orders/%1").arg(target), QJsonObject{{field, value}}), 400);

    // The next change still gets a stamp of now, which the client can read.
    const QString stamp =
        platform->changeOrder(other, QJsonObject{{"confirm", true}}).value("ertime").toString();
    const QDateTime time = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(time.isValid(), qPrintable(stamp));
    // Changes faster than one a second run ahead of the clock, a second each, never behind it.
    QVERIFY2(time >= QDateTime::currentDateTime().addSecs(-60) &&
                 time < QDateTime::currentDateTime().addSecs(3600),
             qPrintable(stamp));
}

void PlatformRobustnessTest::storedStampOutOfRangeDoesNotPoisonTheNext()
{
    // A database written before times were checked may hold such a stamp; it must not become the
    // newest stamp every later change is measured against.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("platform.sqlite"));
    qint64 poisoned = 0;
    qint64 other = 0;
    {
        PlatformProcess first({QStringLiteral("--db"), path, QStringLiteral("--seed")});
        QVERIFY2(first.isRunning(), qPrintable(first.errorString()));
        poisoned = first.createOrder(QJsonObject{{"status", 1}});
        other = first.createOrder(QJsonObject{{"status", 1}});
        QVERIFY(poisoned && other);
        QVERIFY(first.stop());
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("poison"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.prepare(QStringLiteral("UPDATE orders SET ertime = ? WHERE id = ?")));
        query.addBindValue(Q_INT64_C(9200000000000000000));
        query.addBindValue(poisoned);
        QVERIFY(query.exec());
        QCOMPARE(query.numRowsAffected(), 1);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("poison"));

    PlatformProcess second({QStringLiteral("--db"), path});
    QVERIFY2(second.isRunning(), qPrintable(second.errorString()));
    const PlatformProcess::Session login =
        second.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(login.isValid());
    const QString before =
        QDateTime::currentDateTime().addSecs(-5).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString stamp =
        second.changeOrder(other, QJsonObject{{"confirm", true}}).value("ertime").toString();
    const QDateTime time = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(time.isValid(), qPrintable(stamp));
    // Changes faster than one a second run ahead of the clock, a second each, never behind it.
    QVERIFY2(time >= QDateTime::currentDateTime().addSecs(-60) &&
                 time < QDateTime::currentDateTime().addSecs(3600),
             qPrintable(stamp));
    // And the change poll reports it.
    const QJsonArray changed =
        second.post(QStringLiteral("PayFinishOrder"), login.form() + QStringLiteral("&ertime=") + before)
            .value("info")
            .toObject()
            .value("commos")
            .toArray();
    QList<qint64> ids;
    for (const QJsonValue& entry : changed)
        ids.append(entry.toObject().value("id").toVariant().toLongLong());
    QVERIFY(ids.contains(other));
}

// The client polls every 3 s: a connection it used for one poll must still be there for the next,
// however long past the time a new connection has to start its first request.
void PlatformRobustnessTest::idleConnectionStaysOpenBetweenPolls()
{
    const QByteArray body = session.form().toUtf8();
    const QByteArray request = "POST /api/UserInfo HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), platform->port());
    QVERIFY(socket.waitForConnected(5000));
    for (int poll = 0; poll < 2; ++poll) {
        if (poll > 0)
            QTest::qWait(HeadTimeoutSeconds * 1000 + 500);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
        socket.write(request);
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += socket.readAll()).contains("\"status\":1"), 5000);
        QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(60).constData());
        QVERIFY(!answer.contains("Connection: close"));
    }
}

void PlatformRobustnessTest::stalledConnectionsDoNotBlockOthers_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("dribbleMs");
    QTest::addColumn<bool>("closedByServer");
    const QByteArray head = "POST /api/CashUpdate HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n";
    QTest::newRow("half a request line") << QByteArray("POST /api/Cash") << 0 << true;
    QTest::newRow("head without its end") << head << 0 << true;
    QTest::newRow("head dribbled a byte at a time") << QByteArray("P") << 100 << true;
    // A body that never comes is left to the read time-out; it still must not hold up others.
    QTest::newRow("body missing") << head + "Content-Length: 100\r\n\r\nid=1" << 0 << false;
}

void PlatformRobustnessTest::stalledConnectionsDoNotBlockOthers()
{
    QFETCH(QByteArray, start);
    QFETCH(int, dribbleMs);
    QFETCH(bool, closedByServer);
    const int count = 60;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket* socket = sockets.back().get();
        // Qt notices the server's close only once the answer before it (a 400) has been read.
        connect(socket, &QTcpSocket::readyRead, this, [socket] { socket->readAll(); });
        socket->connectToHost(QStringLiteral("127.0.0.1"), platform->port());
    }
    for (auto& socket : sockets) {
        QVERIFY(socket->waitForConnected(5000));
        socket->write(start);
        socket->flush();
    }
    QTimer dribble;
    const QByteArray rest = "OST /api/CashUpdate HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: ";
    int sent = 0;
    connect(&dribble, &QTimer::timeout, this, [&] {
        const char byte = sent < rest.size() ? rest.at(sent) : 'x';
        ++sent;
        for (auto& socket : sockets) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write(&byte, 1);
        }
    });
    if (dribbleMs > 0)
        dribble.start(dribbleMs);
    // Long enough for the server to take up every one of them.
    QTest::qWait(500);

    QElapsedTimer clock;
    clock.start();
    const QJsonObject reply = platform->post(QStringLiteral("UserInfo"), session.form(), 15000);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(reply.value("status").toInt(), 1);
    QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("answered after %1 ms").arg(elapsed)));

    if (closedByServer) {
        // A request head gets its time-out to arrive, however slowly its bytes trickle in.
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(sockets.begin(), sockets.end(),
                                             [](const std::unique_ptr<QTcpSocket>& socket) {
                                                 return socket->state() == QAbstractSocket::UnconnectedState;
                                             }),
                                 8000);
    }
    dribble.stop();
    for (auto& socket : sockets)
        socket->abort();
}

// However a client splits its requests into writes, each is answered once it is whole, and what
// follows it is the start of the next.
void PlatformRobustnessTest::requestsArriveInPieces_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("halfClose"); // the client closes its sending half after the last write
    const QByteArray request = FormRequest("UserInfo", session.form().toUtf8());
    const int headLength = request.indexOf("\r\n\r\n") + 4;
    QTest::newRow("whole") << QList<QByteArray>{request} << 1 << false;
    QTest::newRow("two in one write") << QList<QByteArray>{request + request} << 2 << false;
    QTest::newRow("head, then body") << QList<QByteArray>{request.left(headLength), request.mid(headLength)}
                                     << 1 << false;
    QTest::newRow("the second starting with the first's body")
        << QList<QByteArray>{request.left(headLength), request.mid(headLength) + request.left(10),
                             request.mid(10)}
        << 2 << false;
    QList<QByteArray> bytes;
    for (const char byte : request)
        bytes.append(QByteArray(1, byte));
    QTest::newRow("a byte at a time") << bytes << 1 << false;
    QTest::newRow("then the client's half close") << QList<QByteArray>{request} << 1 << true;
}

void PlatformRobustnessTest::requestsArriveInPieces()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(int, answers);
    QFETCH(bool, halfClose);
    Client client(platform->port());
    QVERIFY(client.socket->waitForConnected(5000));
    // Each write goes out as a packet of its own.
    client.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    for (const QByteArray& piece : writes) {
        client.socket->write(piece);
        QVERIFY(client.socket->flush() || piece.isEmpty());
    }
    if (halfClose)
        QCOMPARE(::shutdown(static_cast<int>(client.socket->socketDescriptor()), SHUT_WR), 0);
    QTRY_COMPARE(client.answered(), answers);
    QCOMPARE(client.answers.count("\"status\":1"), answers);
    // A half-closed connection is closed after its answer; any other stays for the next request.
    if (halfClose)
        QTRY_VERIFY(client.closed());
    else
        QVERIFY(client.connected());
}

// A host that opens connections and goes quiet gets its newest ones kept: the oldest idle ones of
// an address are closed once it holds more than its share.
void PlatformRobustnessTest::idleConnectionsAreKeptPerAddress()
{
    const int kept = static_cast<int>(Velm::HttpServer::MostIdlePerAddress);
    const int extra = 16;
    const QByteArray request = FormRequest("UserInfo", session.form().toUtf8());
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kept + extra; ++i) {
        clients.push_back(std::make_unique<Client>(platform->port()));
        Client& client = *clients.back();
        QVERIFY(client.socket->waitForConnected(5000));
        client.socket->write(request);
        QTRY_COMPARE(client.answered(), 1);
    }
    for (int i = 0; i < extra; ++i)
        QTRY_VERIFY2(clients[i]->closed(), qPrintable(QStringLiteral("connection %1 still open").arg(i)));
    for (int i = extra; i < kept + extra; ++i)
        QVERIFY2(clients[i]->connected(), qPrintable(QStringLiteral("connection %1 closed").arg(i)));
    // The kept ones still serve.
    clients.back()->socket->write(request);
    QTRY_COMPARE(clients.back()->answered(), 2);
}

// Idle connections hold no thread, and the threads started for a burst of held requests end once
// they have rested.
void PlatformRobustnessTest::threadsComeBackToRest_data()
{
    QTest::addColumn<bool>("held");
    QTest::newRow("requests held, then let go") << true;
    QTest::newRow("idle connections from many addresses") << false;
}

void PlatformRobustnessTest::threadsComeBackToRest()
{
    QFETCH(bool, held);
    PlatformProcess server(
        {QStringLiteral("--seed"), QStringLiteral("--worker-rest"), QStringLiteral("0.5")});
    QVERIFY2(server.isRunning(), qPrintable(server.errorString()));
    const PlatformProcess::Session staff =
        server.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(staff.isValid());
    const qint64 pid = server.process().processId();
    const int resting = Threads(pid);
    QVERIFY(resting > 0);

    const QByteArray request = FormRequest("CashUpdate", staff.form().toUtf8());
    const int count = held ? 120 : 400;
    if (held)
        QVERIFY(server.setFault(QStringLiteral("CashUpdate"), QStringLiteral("hang")));
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i) {
        // 25 connections from each of 16 addresses: within what an address may keep idle.
        clients.push_back(
            std::make_unique<Client>(server.port(), QStringLiteral("127.0.0.%1").arg(2 + i % 16)));
        connect(clients.back()->socket.get(), &QTcpSocket::connected, this,
                [socket = clients.back()->socket.get(), request] { socket->write(request); });
    }
    const auto allAnswered = [&] {
        return std::all_of(clients.begin(), clients.end(),
                           [](const std::unique_ptr<Client>& client) { return client->answered() == 1; });
    };
    if (held) {
        // Every held request has a worker of its own.
        QTRY_VERIFY_WITH_TIMEOUT(
            Threads(pid) >= resting + count - static_cast<int>(Velm::HttpServer::ReadyWorkers), 10000);
        QVERIFY(!allAnswered());
        QVERIFY(server.clearFaults());
    }
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(Threads(pid) <= resting, 10000);
    for (const std::unique_ptr<Client>& client : clients)
        QVERIFY(client->connected());
    QCOMPARE(server.post(QStringLiteral("CashUpdate"), staff.form()).value("status").toInt(), 1);
}

TARVIK_TEST_MAIN(PlatformRobustnessTest)
#include "tst_platform_robustness.moc"
