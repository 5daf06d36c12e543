#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include "app/log.h"
#include "common/fakenetwork.h"
#include "common/localhttpserver.h"
#include "common/coretestmain.h"
#include "common/testsession.h"
#include "net/request.h"
#include "session/cuser.h"

Q_DECLARE_METATYPE(FakeResponse)
Q_DECLARE_METATYPE(FloodServer::Pace)

// A sender with two request kinds sharing one manager, like the windows of the client.
class Sender : public QObject
{
    Q_OBJECT
public:
    QNetworkAccessManager* manager = nullptr;
    Request::Limits limits;         // what each request is held to
    QStringList delivered;          // "A:<url path>" or "B:<url path>"
    QList<Request::Answer> answers; // what each delivered reply said, read when it finished
    QList<int> errors;

    QNetworkReply* Send(const QString& url, const QByteArray& body, bool toA)
    {
        if (!manager)
            manager = FakeNetworkManager::Make(this);
        QNetworkReply* reply = Request::Post(manager, url, body, limits);
        if (!reply)
            return nullptr;
        const QString slot = toA ? QStringLiteral("A") : QStringLiteral("B");
        connect(reply, &QNetworkReply::finished, this, [this, slot, reply] { take(slot, reply); });
        return reply;
    }

private:
    void take(const QString& slot, QNetworkReply* reply)
    {
        delivered.append(slot + ':' + reply->url().path());
        if (reply->error() != QNetworkReply::NoError)
            errors.append(reply->error());
        answers.append(Request::Read(reply));
        reply->deleteLater();
    }
};

// Splits a form body the way any standard application/x-www-form-urlencoded decoder does.
static QList<QPair<QString, QString>> standardDecode(const QByteArray& body)
{
    QList<QPair<QString, QString>> fields;
    for (const QByteArray& pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        auto decode = [](QByteArray part) {
            return QUrl::fromPercentEncoding(part.replace('+', ' '));
        };
        fields.append({decode(pair.left(eq)), decode(pair.mid(eq + 1))});
    }
    return fields;
}

class TestRequest : public QObject
{
    Q_OBJECT

    // What the reply slot reads from a reply carrying `body`.
    static Request::Answer answerFor(const QByteArray& body)
    {
        FakeNetworkManager::Install([body](const RecordedRequest&) { return FakeResponse::Json(body); });
        Sender sender;
        sender.Send(QStringLiteral("http://api.test/api/CashUpdate"), QByteArray(), true);
        if (!QTest::qWaitFor([&sender] { return !sender.answers.isEmpty(); }, 2000)) {
            Request::Answer none; // nothing arrived: the caller's checks must not pass on defaults
            none.networkError = true;
            return none;
        }
        return sender.answers.first();
    }

private slots:
    void cleanup()
    {
        FakeNetworkManager::Uninstall();
    }

    void body_keepsFieldOrderAndEscapesValues()
    {
        CUser user;
        user.SetId(7);
        user.SetKey(QStringLiteral("k&y=1"));
        user.SetToken(QStringLiteral("t+o%k"));
        Request::Fields fields = Request::SessionFields(&user);
        fields.append({QStringLiteral("pass"), QStringLiteral("a&oid=999")});
        fields.append({QStringLiteral("oid"), QStringLiteral("4294967296")});

        const QByteArray body = Request::EncodeBody(fields);
        QCOMPARE(body, QByteArray("id=7&key=k%26y%3D1&token=t%2Bo%25k&pass=a%26oid%3D999&oid=4294967296"));

        // A standard decoder sees exactly the five fields, values as typed: no injected "oid".
        const auto decoded = standardDecode(body);
        QCOMPARE(decoded.size(), 5);
        QCOMPARE(decoded[2].second, QStringLiteral("t+o%k"));
        QCOMPARE(decoded[3].second, QStringLiteral("a&oid=999"));
        QCOMPARE(decoded[4], qMakePair(QStringLiteral("oid"), QStringLiteral("4294967296")));

        QCOMPARE(Request::EncodeBody(Request::SessionFields(&user), true).right(1), QByteArray("&"));
        QCOMPARE(Request::EncodeBody({}), QByteArray());
        QVERIFY(Request::SessionFields(nullptr).isEmpty());
    }

    void post_setsFormHeadersAndByteLength()
    {
        FakeNetworkManager::Install(
            [](const RecordedRequest&) { return FakeResponse::Json("{\"status\":1}"); });
        Sender sender;
        const QString review = QStringLiteral("谢谢光临 & 再见");
        const QByteArray body =
            Request::EncodeBody({{QStringLiteral("replay"), review}, {QStringLiteral("oid"), "12"}});
        QVERIFY(sender.Send(QStringLiteral("http://api.test/api/StaffReply"), body, true));
        QTRY_COMPARE(sender.delivered.size(), 1);

        const RecordedRequest& sent = FakeNetworkManager::Recorded().first();
        QCOMPARE(sent.operation, QNetworkAccessManager::PostOperation);
        QCOMPARE(sent.body, body);
        QCOMPARE(sent.request.header(QNetworkRequest::ContentTypeHeader).toString(),
                 QStringLiteral("application/x-www-form-urlencoded"));
        // Every Chinese character is three UTF-8 bytes, each written as %XX.
        QCOMPARE(sent.request.header(QNetworkRequest::ContentLengthHeader).toInt(), body.size());
        // "replay=" + six characters of %XX%XX%XX + "%20%26%20" + "&oid=12"
        QCOMPARE(body.size(), 7 + 6 * 9 + 9 + 7);
        QCOMPARE(standardDecode(sent.body).first().second, review);
        QCOMPARE(sent.request.transferTimeout(), 30000);
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("success");
        QTest::addColumn<bool>("isObject");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("text"); // the body as the answer's text
        QTest::newRow("status number 1")
            << QByteArray("{\"status\":1,\"info\":\"ok\"}") << true << true << "ok"
            << "{\"status\":1,\"info\":\"ok\"}";
        QTest::newRow("status string 1") << QByteArray("{\"status\":\"1\",\"info\":{}}") << true << true << ""
                                         << "{\"status\":\"1\",\"info\":{}}";
        QTest::newRow("status 0 with text")
            << QByteArray("{\"status\":0,\"info\":\"\xe5\xaf\x86\xe7\xa0\x81\xe9\x94\x99\xe8\xaf\xaf\"}")
            << false << true << "密码错误"
            << "{\"status\":0,\"info\":\"密码错误\"}";
        QTest::newRow("status missing") << QByteArray("{\"info\":\"x\"}") << false << true << "x"
                                        << "{\"info\":\"x\"}";
        QTest::newRow("status not a number") << QByteArray("{\"status\":\"yes\"}") << false << true << ""
                                             << "{\"status\":\"yes\"}";
        QTest::newRow("json array") << QByteArray("[{\"status\":1}]") << false << false << ""
                                    << "[{\"status\":1}]";
        QTest::newRow("plain text") << QByteArray("<html>502 Bad Gateway</html>") << false << false << ""
                                    << "<html>502 Bad Gateway</html>";
        QTest::newRow("empty body") << QByteArray() << false << false << ""
                                    << "";
        QTest::newRow("object cut at NUL") << QByteArray("{\"status\":1}\0garbage", 21) << true << true << ""
                                           << "{\"status\":1}";
        QTest::newRow("NUL inside breaks the object")
            << QByteArray("{\"status\":\0 1}", 14) << false << false << ""
            << "{\"status\":";
        QTest::newRow("invalid UTF-8 is replaced, not dropped")
            << QByteArray("ab\xff") << false << false << "" << QString::fromUtf8("ab\xef\xbf\xbd");
        QTest::newRow("an object with invalid UTF-8 still reads")
            << QByteArray("{\"status\":1,\"info\":\"a\xff\"}") << true << true
            << QString::fromUtf8("a\xef\xbf\xbd") << QString::fromUtf8("{\"status\":1,\"info\":\"a\xef\xbf\xbd\"}");
    }
    void reading()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, success);
        QFETCH(bool, isObject);
        QFETCH(QString, info);
        QFETCH(QString, text);
        const Request::Answer answer = answerFor(body);
        QVERIFY(!answer.networkError);
        QCOMPARE(answer.Succeeded(), success);
        QCOMPARE(answer.isObject, isObject);
        if (isObject)
            QCOMPARE(answer.InfoText(), info);
        QCOMPARE(answer.text, text);
    }

    void networkError_isReportedNotParsed_data()
    {
        QTest::addColumn<QByteArray>(
            "response"); // what a local server sends; empty: the connection is refused
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("connection refused")
            << QByteArray() << int(QNetworkReply::ConnectionRefusedError) << "";
        // A failed HTTP answer whose body looks like success must still count as a failure.
        QTest::newRow("http 500 with a success body")
            << QByteArray("HTTP/1.1 500 Internal Server Error\r\nContent-Type: application/json\r\n"
                          "Content-Length: 24\r\nConnection: close\r\n\r\n{\"status\":1,\"info\":\"ok\"}")
            << int(QNetworkReply::InternalServerError) << "{\"status\":1,\"info\":\"ok\"}";
    }
    void networkError_isReportedNotParsed()
    {
        QFETCH(QByteArray, response);
        QFETCH(int, error);
        QFETCH(QString, text);

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        if (response.isEmpty()) {
            server.close(); // nothing listens there any more
        } else {
            connect(&server, &QTcpServer::newConnection, this, [&server, response] {
                QTcpSocket* socket = server.nextPendingConnection();
                connect(socket, &QTcpSocket::readyRead, socket, [socket, response] {
                    socket->readAll();
                    socket->write(response);
                    socket->disconnectFromHost();
                });
            });
        }
        Sender sender;
        QVERIFY(sender.Send(QStringLiteral("http://127.0.0.1:%1/api/UserInfo").arg(port), QByteArray("id=1&"),
                            true));
        QTRY_COMPARE_WITH_TIMEOUT(sender.delivered.size(), 1, 5000);
        QCOMPARE(sender.errors, QList<int>{error});

        const Request::Answer& answer = sender.answers.first();
        QVERIFY(answer.networkError);
        QCOMPARE(answer.errorCode, error);
        QVERIFY(!answer.errorString.isEmpty());
        QCOMPARE(answer.text, text);
        QVERIFY(!answer.isObject);
        QCOMPARE(answer.status, 0);
        QVERIFY(answer.object.isEmpty());
        QVERIFY(!answer.Succeeded());
    }

    void failedRequests_leaveOneLogLineEach_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("line"); // the end of the line written; empty: none
        QTest::newRow("refused") << FakeResponse::Error(QNetworkReply::ConnectionRefusedError)
                                 << "W tarvik.requests: PayFinishOrder failed: fake failure 1 (error 1)";
        QTest::newRow("not json") << FakeResponse::Json("<html>busy</html>")
                                  << "W tarvik.requests: PayFinishOrder failed: the answer is not a JSON "
                                     "object (17 characters)";
        QTest::newRow("refused by the platform") << FakeResponse::Json(R"({"status":0,"info":"no"})") << "";
        QTest::newRow("success") << FakeResponse::Json(R"({"status":1})") << "";
    }
    void failedRequests_leaveOneLogLineEach()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, line);
        QTemporaryDir logs;
        QVERIFY(Log::Install(logs.path()));
        auto uninstall = qScopeGuard([] { Log::Uninstall(); });
        FakeNetworkManager::Install([response](const RecordedRequest&) { return response; });
        Sender sender;
        sender.Send(QStringLiteral("http://api.test/api/PayFinishOrder"), QByteArray(), true);
        QTRY_COMPARE(sender.answers.size(), 1);

        QFile file(Log::FilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty())
            QVERIFY2(lines.first().endsWith(line), qPrintable(lines.first()));
    }

    void managersOwnHandler_replacesTheInstalledOneForThatManagerOnly()
    {
        FakeNetworkManager::Install(
            [](const RecordedRequest&) { return FakeResponse::Json(R"({"status":0,"info":"installed"})"); });
        QObject owner;
        auto* own = qobject_cast<FakeNetworkManager*>(FakeNetworkManager::Make(&owner));
        auto* other = qobject_cast<FakeNetworkManager*>(FakeNetworkManager::Make(&owner));
        QVERIFY(own && other);
        own->SetHandler([](const RecordedRequest& sent) {
            return sent.body == "x=1" ? FakeResponse::Json(R"({"status":1,"info":"own"})")
                                      : FakeResponse::Error(QNetworkReply::ConnectionRefusedError);
        });
        const auto answer = [](QNetworkAccessManager* manager, const QByteArray& body) {
            QScopedPointer<QNetworkReply> reply(
                Request::Post(manager, QStringLiteral("http://api.test/api/X"), body));
            if (!reply->isFinished())
                QSignalSpy(reply.data(), &QNetworkReply::finished).wait(2000);
            return Request::Read(reply.data());
        };

        QCOMPARE(answer(own, "x=1").InfoText(), QStringLiteral("own"));
        QCOMPARE(answer(own, "x=2").errorCode, int(QNetworkReply::ConnectionRefusedError));
        QCOMPARE(answer(other, "x=1").InfoText(), QStringLiteral("installed"));
        own->SetHandler(nullptr);
        QVERIFY(answer(own, "x=1").Succeeded());
        QCOMPARE(FakeNetworkManager::Recorded().size(), 4);
    }

    // Too large an answer, one that trickles below the floor, or one still arriving at its deadline
    // fails and says why.
    void boundedAnswer_failsWithItsReason_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<FloodServer::Pace>("pace");
        QTest::addColumn<int>("window"); // the transfer time-out: the floor's span
        QTest::addColumn<int>("deadline");
        QTest::addColumn<QString>("reason");
        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
        const FloodServer::Pace flood;
        QTest::newRow("1 GiB announced") << ok + "Content-Length: 1073741824\r\n\r\n"
                                         << flood << 30000 << 30000 << "larger than 32 MiB";
        QTest::newRow("streamed") << ok + "Connection: close\r\n\r\n"
                                  << flood << 30000 << 30000 << "larger than 32 MiB";
        // A byte a second, the clock a hundred times as fast.
        QTest::newRow("trickled") << ok + "Content-Length: 9000\r\n\r\n"
                                  << FloodServer::Pace{1, 10, -1, {}} << 300 << 30000
                                  << "fewer than 8 KiB of the answer came in the last 0.3 s";
        // 60 KiB/s, well over the floor; 240 KiB announced give the 0.2 s deadline two more and a bit.
        QTest::newRow("past its deadline")
            << ok + "Content-Length: 245760\r\n\r\n"
            << FloodServer::Pace{6 * 1024, 100, -1, {}} << 30000 << 200 << "not whole within 0.6 s";
    }
    void boundedAnswer_failsWithItsReason()
    {
        QFETCH(QByteArray, head);
        QFETCH(FloodServer::Pace, pace);
        QFETCH(int, window);
        QFETCH(int, deadline);
        QFETCH(QString, reason);
        FloodServer server(head, pace);
        Sender sender;
        sender.limits = {window, deadline};
        sender.Send(QStringLiteral("http://%1/api/PayFinishOrder").arg(server.hostPort()), "x=1", true);
        QTRY_COMPARE(sender.delivered.size(), 1);
        QVERIFY(sender.answers.first().networkError);
        QVERIFY2(sender.answers.first().errorString.contains(reason),
                 qPrintable(sender.answers.first().errorString));
        QVERIFY2(server.sent < 2 * Request::MaxReplyBytes, qPrintable(QString::number(server.sent)));
    }

    // 1.6 MB at 50 KB/s takes 32 s, longer than the deadline of an answer's start (30 s): a steady
    // line meets the deadline its length adds, announced or not. The clock runs 50 times as fast.
    void slowSteadyAnswer_arrives_data()
    {
        QTest::addColumn<bool>("announced");
        QTest::newRow("length announced") << true;
        QTest::newRow("no length") << false;
    }
    void slowSteadyAnswer_arrives()
    {
        QFETCH(bool, announced);
        const QByteArray start = R"({"status":1,"info":[)";
        const QByteArray end = "]}";
        const qint64 blanks = 1600000 - start.size() - end.size();
        const QByteArray length = announced ? "Content-Length: 1600000\r\n" : "Connection: close\r\n";
        FloodServer server("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + length + "\r\n" + start,
                           FloodServer::Pace{25000, 10, blanks, end});
        Sender sender;
        sender.limits = {600, 600};
        QElapsedTimer clock;
        clock.start();
        sender.Send(QStringLiteral("http://%1/api/StaffOrderList").arg(server.hostPort()), "x=1", true);
        QTRY_COMPARE_WITH_TIMEOUT(sender.delivered.size(), 1, 20000);
        QVERIFY2(sender.answers.first().Succeeded(), qPrintable(sender.answers.first().errorString));
        QCOMPARE(sender.answers.first().text.size(), 1600000);
        QVERIFY(clock.elapsed() > sender.limits.transferDeadlineMs);
    }

    void silentServer_endsInATimeoutError()
    {
        QTcpServer silent; // accepts, reads, never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QList<QTcpSocket*> held;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* socket = silent.nextPendingConnection())
                held.append(socket);
        });
        Sender sender;
        sender.limits.transferTimeoutMs = 400;
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply =
            sender.Send(QStringLiteral("http://127.0.0.1:%1/api/PayFinishOrder").arg(silent.serverPort()),
                        QByteArray("ertime=1970-01-01%2000%3A00%3A00"), true);
        QVERIFY(reply);
        QCOMPARE(reply->request().transferTimeout(), 400);
        QTRY_COMPARE_WITH_TIMEOUT(sender.delivered.size(), 1, 5000);
        QVERIFY(clock.elapsed() < 4000);
        QCOMPARE(sender.errors.size(), 1);
        QCOMPARE(sender.errors.first(), int(QNetworkReply::OperationCanceledError));
        qDeleteAll(held);
    }
};

TARVIK_GUILESS_TEST_MAIN(TestRequest)
#include "tst_request.moc"
