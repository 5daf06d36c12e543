// The platform's API as the client sees it: a seeded server on a free port, driven over HTTP.

#include "app/constants.h"
#include "common/platformprocess.h"
#include "common/testmain.h"
#include "platform/util.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <limits>
#include <memory>

namespace {

QStringList Keys(const QJsonObject& object)
{
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

QString Time(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// The way the client reads a time: the variant conversion of the JSON text.
QDateTime ClientTime(const QJsonValue& value)
{
    return value.toVariant().toDateTime();
}

qint64 Id(const QJsonValue& value)
{
    return value.toVariant().toLongLong();
}

QList<qint64> Ids(const QJsonArray& entries)
{
    QList<qint64> ids;
    for (const QJsonValue& entry : entries)
        ids.append(Id(entry.toObject().value(QStringLiteral("id"))));
    return ids;
}

const QStringList ListKeys =
    Sorted({"id", "member", "amount", "status", "ctime", "stime", "ptime", "ertime"});

} // namespace

class PlatformApiTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void login_data();
    void login();
    void sessionRefused_data();
    void sessionRefused();

    void orderList();
    void listBytesAreQtJson_data();
    void listBytesAreQtJson();
    void jsonTextWritesAsQt();
    void orderDetail();
    void newOrderCursor();
    void payFinishCursor();

    void finishService_data();
    void finishService();
    void confirmation_data();
    void confirmation();
    void replyToReview_data();
    void replyToReview();
    void orderEvents();

    void incomePeriods_data();
    void incomePeriods();
    void cashAndProfile();
    void updateAndInstaller();
    void picturesAndPages();

    void badInput_data();
    void badInput();
    void concurrentFinishing();
    void secondServerOnTheSamePortRefusesToStart();

private:
    QJsonObject call(const QString& endpoint, const QString& fields = QString());
    qint64 newOrder(int status, const QString& password = QStringLiteral("246810"));

    std::unique_ptr<PlatformProcess> platform;
    PlatformProcess::Session session;
    QList<QPair<qint64, QDateTime>> incomeEntries;
};

void PlatformApiTest::initTestCase()
{
    platform = std::make_unique<PlatformProcess>(QStringList{QStringLiteral("--seed")});
    QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
    session =
        platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(session.isValid());
}

QJsonObject PlatformApiTest::call(const QString& endpoint, const QString& fields)
{
    return platform->post(endpoint,
                          fields.isEmpty() ? session.form() : session.form() + QLatin1Char('&') + fields);
}

qint64 PlatformApiTest::newOrder(int status, const QString& password)
{
    return platform->createOrder(QJsonObject{{"status", status}, {"password", password}});
}

void PlatformApiTest::login_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("first demo account") << "13800000001"
                                        << "velm123" << true;
    QTest::newRow("second demo account") << "13800000002"
                                         << "velm456" << true;
    QTest::newRow("wrong password") << "13800000001"
                                    << "velm124" << false;
    QTest::newRow("other account's password") << "13800000001"
                                              << "velm456" << false;
    QTest::newRow("unknown account") << "13900000000"
                                     << "velm123" << false;
    QTest::newRow("account not a number") << "abc"
                                          << "velm123" << false;
    QTest::newRow("account 0 (what the client sends for text)") << "0"
                                                                << "velm123" << false;
}

void PlatformApiTest::login()
{
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    const QString md5 = QString::fromLatin1(
        QCryptographicHash::hash(password.toLocal8Bit(), QCryptographicHash::Md5).toHex());
    const QString body = QStringLiteral("account=%1&pass=%2").arg(account, md5);
    const QJsonObject first = platform->post(QStringLiteral("LoginMd5"), body);
    if (!accepted) {
        QCOMPARE(first.value("status").toInt(-1), 0);
        QVERIFY(first.value("info").isString());
        QVERIFY(first.value("info").toString().contains(QStringLiteral("密码")));
        return;
    }
    QCOMPARE(first.value("status").toInt(), 1);
    const QJsonObject info = first.value("info").toObject();
    QCOMPARE(Keys(info), Sorted({"id", "key", "token", "nickname", "face", "sex"}));
    QVERIFY(info.value("id").isDouble());
    QVERIFY(!info.value("key").toString().isEmpty());
    QVERIFY(!info.value("token").toString().isEmpty());
    QVERIFY(!info.value("nickname").toString().isEmpty());
    QVERIFY(info.value("face").toString().startsWith(platform->baseUrl()));

    // Each login gets its own key and token, and the earlier login stays valid.
    const QJsonObject second = platform->post(QStringLiteral("LoginMd5"), body);
    const QJsonObject info2 = second.value("info").toObject();
    QVERIFY(info2.value("key") != info.value("key"));
    QVERIFY(info2.value("token") != info.value("token"));
    const QString oldSession = QStringLiteral("id=%1&key=%2&token=%3")
                                   .arg(info.value("id").toInt())
                                   .arg(info.value("key").toString(), info.value("token").toString());
    QCOMPARE(platform->post(QStringLiteral("CashUpdate"), oldSession).value("status").toInt(), 1);
}

void PlatformApiTest::sessionRefused_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("body");
    const PlatformProcess::Session other = platform->login(
        PlatformProcess::SecondDemoAccount, QString::fromLatin1(PlatformProcess::SecondDemoPassword));
    const QStringList endpoints = {
        "StaffOrderList", "UpdateStaffOrderList", "PayFinishOrder", "StaffOrder2", "StaffFinishOrder",
        "StaffReply",     "ToFinishOrder",        "AddShopCash",    "CashUpdate",  "UserInfo"};
    for (const QString& endpoint : endpoints) {
        const QByteArray name = endpoint.toLatin1();
        QTest::newRow(QByteArray(name + ": wrong key").constData())
            << endpoint
            << QStringLiteral("id=%1&key=x%2&token=%3").arg(session.id).arg(session.key, session.token);
        QTest::newRow(QByteArray(name + ": wrong token").constData())
            << endpoint
            << QStringLiteral("id=%1&key=%2&token=%3x").arg(session.id).arg(session.key, session.token);
        QTest::newRow(QByteArray(name + ": someone else's id").constData())
            << endpoint
            << QStringLiteral("id=%1&key=%2&token=%3").arg(other.id).arg(session.key, session.token);
        QTest::newRow(QByteArray(name + ": no fields").constData()) << endpoint << QString();
    }
    QTest::newRow("id not a number")
        << "CashUpdate" << QStringLiteral("id=abc&key=%1&token=%2").arg(session.key, session.token);
}

void PlatformApiTest::sessionRefused()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, body);
    const QJsonObject reply = platform->post(endpoint, body + QStringLiteral("&pager=1&oid=1&way=day"));
    QCOMPARE(reply.value("status").toInt(-1), 0);
    QVERIFY2(reply.value("info").toString().contains(QStringLiteral("登录已过期")),
             qPrintable(reply.value("info").toString()));
}

void PlatformApiTest::orderList()
{
    const QJsonObject reply = call(QStringLiteral("StaffOrderList"), QStringLiteral("pager=1"));
    QCOMPARE(reply.value("status").toInt(), 1);
    const QJsonObject info = reply.value("info").toObject();
    QCOMPARE(Keys(info), Sorted({"shop_id", "shop_name", "shop_catid", "commos"}));
    QVERIFY(info.value("shop_id").isDouble());
    QVERIFY(!info.value("shop_name").toString().isEmpty());
    const QJsonArray commos = info.value("commos").toArray();
    QVERIFY2(commos.size() >= 200, "the demo shop has a few hundred orders");

    QSet<int> statuses;
    QDateTime previous;
    for (const QJsonValue& value : commos) {
        const QJsonObject entry = value.toObject();
        QCOMPARE(Keys(entry), ListKeys);
        QVERIFY(Id(entry.value("id")) > (Q_INT64_C(1) << 32));
        QVERIFY(entry.value("amount").isDouble());
        QVERIFY(entry.value("status").isDouble());
        QVERIFY(entry.value("member").isString());
        const QDateTime ctime = ClientTime(entry.value("ctime"));
        QVERIFY(ctime.isValid());
        QVERIFY(ClientTime(entry.value("ertime")) >= ctime);
        // Not-yet times are null, which the client reads as an invalid time.
        const int status = entry.value("status").toInt();
        QCOMPARE(ClientTime(entry.value("ptime")).isValid(), status != 0);
        QCOMPARE(ClientTime(entry.value("stime")).isValid(), status >= 2 && status <= 4);
        if (previous.isValid())
            QVERIFY2(ctime <= previous, "page 1 holds the newest orders first");
        previous = ctime;
        statuses.insert(status);
    }
    QCOMPARE(statuses, (QSet<int>{0, 1, 2, 3, 4, 9}));

    // A page beyond the last is empty, not an error.
    const QJsonObject far = call(QStringLiteral("StaffOrderList"), QStringLiteral("pager=99"));
    QCOMPARE(far.value("status").toInt(), 1);
    QVERIFY(far.value("info").toObject().value("commos").toArray().isEmpty());
}

// The order lists are written straight from the rows; the client reads them as the bytes
// QJsonDocument would have written: the same keys in the same order, numbers and texts alike.
void PlatformApiTest::listBytesAreQtJson_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<double>("amount");
    QTest::newRow("masked number, whole yuan") << "138****0001" << 18.0;
    QTest::newRow("cents") << "x" << 12.34;
    QTest::newRow("one cent") << "" << 0.01;
    QTest::newRow("largest amount") << QStringLiteral("张三") << 100000000.0;
    QTest::newRow("largest with cents") << "a" << 99999999.99;
    QTest::newRow("quote and backslash") << "a\"b\\c/d" << 0.1;
    QTest::newRow("control characters") << QStringLiteral("tab\tline\nret\r\x01\x1f\x7f end") << 7.5;
    QTest::newRow("beyond the first plane") << QStringLiteral("\U0001F35C\u2028\uFFFD") << 1.0;
}

void PlatformApiTest::listBytesAreQtJson()
{
    QFETCH(QString, member);
    QFETCH(double, amount);
    const QDateTime created = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 7200);
    const qint64 id = platform->createOrder(
        QJsonObject{{"status", 0}, {"member", member}, {"amount", amount}, {"ctime", Time(created)}});
    QVERIFY(id > 0);
    const QStringList requests = {QStringLiteral("StaffOrderList&pager=1"),
                                  QStringLiteral("UpdateStaffOrderList&time=") + Time(created)};
    for (const QString& request : requests) {
        const QString endpoint = request.section(QLatin1Char('&'), 0, 0);
        const QString fields = session.form() + QLatin1Char('&') + request.section(QLatin1Char('&'), 1);
        const QByteArray body = platform->postRaw(endpoint, fields.toUtf8()).body;
        QJsonParseError error;
        const QJsonDocument parsed = QJsonDocument::fromJson(body, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(body, parsed.toJson(QJsonDocument::Compact));
        QJsonObject entry;
        for (const QJsonValue& value : parsed.object().value("info").toObject().value("commos").toArray()) {
            if (Id(value.toObject().value("id")) == id)
                entry = value.toObject();
        }
        QCOMPARE(Keys(entry), ListKeys);
        QCOMPARE(entry.value("member").toString(), member);
        QCOMPARE(entry.value("amount").toDouble(), amount);
        QCOMPARE(ClientTime(entry.value("ctime")), created);
        // An unpaid order has neither payment nor service time.
        QVERIFY(entry.value("ptime").isNull());
        QVERIFY(entry.value("stime").isNull());
    }
}

// Every UTF-16 code unit alone, pairs of them and numbers, against QJsonDocument's own text.
void PlatformApiTest::jsonTextWritesAsQt()
{
    const auto qt = [](const QJsonValue& value) {
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    };
    const auto ours = [](const QString& text) {
        return Velm::JsonText().String(text).bytes;
    };
    for (uint code = 0; code <= 0xFFFF; ++code) {
        const QString text = QStringLiteral("a") + QChar(static_cast<ushort>(code)) + QStringLiteral("z");
        if (ours(text) != qt(text))
            QFAIL(qPrintable(
                QStringLiteral("U+%1: %2 instead of %3")
                    .arg(code, 4, 16, QLatin1Char('0'))
                    .arg(QString::fromLatin1(ours(text).toHex()), QString::fromLatin1(qt(text).toHex()))));
    }
    const QChar high(0xD83C), low(0xDF5C);
    const QStringList unpaired = {
        QString(high) + low, QString(low) + high,        QString(high),
        QString(low),        QString(high) + high + low, QString(high) + QLatin1Char('x')};
    for (const QString& text : unpaired)
        QCOMPARE(ours(text), qt(text));

    for (qint64 cents :
         {Q_INT64_C(0), Q_INT64_C(1), Q_INT64_C(10), Q_INT64_C(99), Q_INT64_C(1234), Q_INT64_C(123456789),
          Q_INT64_C(9999999999), Q_INT64_C(10000000000), Q_INT64_C(-250)}) {
        const double yuan = Velm::Yuan(cents);
        QCOMPARE(Velm::JsonText().Number(yuan).bytes, qt(yuan));
    }
    for (double value : {0.1 + 0.2, 1e-7, 1.5e300, 9007199254740993.0, -0.0})
        QCOMPARE(Velm::JsonText().Number(value).bytes, qt(value));
    for (qint64 value : {Q_INT64_C(0), Q_INT64_C(-1), Q_INT64_C(26120700003),
                         std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()})
        QCOMPARE(Velm::JsonText().Integer(value).bytes, QByteArray::number(value));
}

void PlatformApiTest::orderDetail()
{
    const qint64 id = platform->createOrder(QJsonObject{
        {"status", 1},
        {"amount", 41.5},
        {"taker", QStringLiteral("张先生")},
        {"address", QStringLiteral("朝阳区建国路88号")},
        {"tel", "13912345678"},
        {"message", QStringLiteral("少放辣")},
        {"prepare_type", false},
        {"out", QJsonArray{QJsonObject{{"name", QStringLiteral("红烧牛肉面")},
                                       {"num", 2},
                                       {"price", 22},
                                       {"pics", "/img/item/braised-noodles.png"}}}},
        {"commo", QJsonArray{QJsonObject{{"name", QStringLiteral("酸梅汤")}, {"num", 1}, {"price", 5}}}}});
    QVERIFY(id > 0);
    const QJsonObject reply = call(QStringLiteral("StaffOrder2"), QStringLiteral("oid=%1").arg(id));
    QCOMPARE(reply.value("status").toInt(), 1);
    const QJsonObject info = reply.value("info").toObject();
    QCOMPARE(Keys(info), Sorted({"id", "status", "ctime", "ptime", "stime", "amount", "taker", "address",
                                 "tel", "message", "prepare_type", "content", "out", "commo"}));
    QCOMPARE(Id(info.value("id")), id);
    QCOMPARE(info.value("amount").toDouble(), 41.5);
    QCOMPARE(info.value("taker").toString(), QStringLiteral("张先生"));
    QCOMPARE(info.value("prepare_type").toVariant().toBool(), false);
    const QJsonArray out = info.value("out").toArray();
    const QJsonArray commo = info.value("commo").toArray();
    QCOMPARE(out.size(), 1);
    QCOMPARE(commo.size(), 1);
    const QJsonObject item = out.first().toObject();
    QCOMPARE(Keys(item), Sorted({"pics", "name", "num", "price", "total"}));
    QCOMPARE(item.value("num").toInt(), 2);
    QCOMPARE(item.value("total").toDouble(), 44.0);

    // The item's picture is a PNG this server draws.
    const PlatformProcess::HttpResult picture = platform->get(item.value("pics").toString());
    QCOMPARE(picture.httpStatus, 200);
    QVERIFY(!QImage::fromData(picture.body, "PNG").isNull());

    const QJsonObject unknown = call(QStringLiteral("StaffOrder2"), QStringLiteral("oid=12345"));
    QCOMPARE(unknown.value("status").toInt(-1), 0);
    QVERIFY(unknown.value("info").toString().contains(QStringLiteral("不存在")));
}

void PlatformApiTest::newOrderCursor()
{
    const QDateTime base = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 3600);
    const qint64 older = platform->createOrder(QJsonObject{{"ctime", Time(base.addSecs(-60))}});
    const qint64 atCursor = platform->createOrder(QJsonObject{{"ctime", Time(base)}});
    const qint64 newer = platform->createOrder(QJsonObject{{"ctime", Time(base.addSecs(30))}});
    QVERIFY(older && atCursor && newer);

    const QJsonObject reply =
        call(QStringLiteral("UpdateStaffOrderList"), QStringLiteral("time=") + Time(base));
    QCOMPARE(reply.value("status").toInt(), 1);
    const QJsonArray commos = reply.value("info").toObject().value("commos").toArray();
    const QList<qint64> ids = Ids(commos);
    QVERIFY(!ids.contains(older));
    // The cursor's own second is included: the client drops orders it knows, and an order created
    // in that second after its poll must not be lost.
    QVERIFY(ids.contains(atCursor));
    QVERIFY(ids.contains(newer));
    QVERIFY2(ids.indexOf(atCursor) < ids.indexOf(newer), "oldest first, so the newest ends up on top");
    for (const QJsonValue& value : commos) {
        QCOMPARE(Keys(value.toObject()), ListKeys);
        QVERIFY(ClientTime(value.toObject().value("ctime")) >= base);
    }

    const QJsonObject later =
        call(QStringLiteral("UpdateStaffOrderList"), QStringLiteral("time=") + Time(base.addSecs(31)));
    QVERIFY(!Ids(later.value("info").toObject().value("commos").toArray()).contains(newer));

    const QJsonObject bad = call(QStringLiteral("UpdateStaffOrderList"), QStringLiteral("time=yesterday"));
    QCOMPARE(bad.value("status").toInt(-1), 0);
}

void PlatformApiTest::payFinishCursor()
{
    // Start from the newest stamp there is, as the client does after its full list.
    QString cursor = QStringLiteral("1970-01-01 00:00:00");
    for (;;) {
        const QJsonArray all = call(QStringLiteral("PayFinishOrder"), QStringLiteral("ertime=") + cursor)
                                   .value("info")
                                   .toObject()
                                   .value("commos")
                                   .toArray();
        if (all.isEmpty())
            break;
        cursor = all.last().toObject().value("ertime").toString();
    }

    // A new paid order is no change: reported here it would look like a request for confirmation.
    const qint64 a = newOrder(1);
    const qint64 b = newOrder(1);
    const qint64 c = newOrder(2);
    QVERIFY(a && b && c);
    QCOMPARE(call(QStringLiteral("PayFinishOrder"), QStringLiteral("ertime=") + cursor)
                 .value("info")
                 .toObject()
                 .value("commos")
                 .toArray()
                 .size(),
             0);

    // Three changes within the same second: each gets its own, later stamp.
    platform->changeOrder(a, QJsonObject{{"confirm", true}});
    platform->changeOrder(b, QJsonObject{{"confirm", true}});
    platform->changeOrder(c, QJsonObject{{"status", 3}, {"content", QStringLiteral("很好吃")}});
    const QJsonObject reply = call(QStringLiteral("PayFinishOrder"), QStringLiteral("ertime=") + cursor);
    QCOMPARE(reply.value("status").toInt(), 1);
    const QJsonArray commos = reply.value("info").toObject().value("commos").toArray();
    QCOMPARE(Ids(commos), (QList<qint64>{a, b, c}));
    for (const QJsonValue& value : commos)
        QCOMPARE(Keys(value.toObject()), Sorted({"id", "status", "stime", "ptime", "ertime"}));
    QCOMPARE(commos.at(0).toObject().value("status").toInt(), 1);
    QCOMPARE(commos.at(2).toObject().value("status").toInt(), 3);
    QVERIFY(ClientTime(commos.at(0)["ertime"]) < ClientTime(commos.at(1)["ertime"]));
    QVERIFY(ClientTime(commos.at(1)["ertime"]) < ClientTime(commos.at(2)["ertime"]));

    // Exactly the newer ones after each cursor.
    const QString afterFirst = commos.at(0).toObject().value("ertime").toString();
    QCOMPARE(Ids(call(QStringLiteral("PayFinishOrder"), QStringLiteral("ertime=") + afterFirst)
                     .value("info")
                     .toObject()
                     .value("commos")
                     .toArray()),
             (QList<qint64>{b, c}));
    const QString afterLast = commos.at(2).toObject().value("ertime").toString();
    QCOMPARE(call(QStringLiteral("PayFinishOrder"), QStringLiteral("ertime=") + afterLast)
                 .value("info")
                 .toObject()
                 .value("commos")
                 .toArray()
                 .size(),
             0);
}

void PlatformApiTest::finishService_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("knownOrder");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QString>("expectedText");
    QTest::newRow("right password") << 1 << "246810" << true << 1 << "";
    QTest::newRow("right password with blanks") << 1 << "+246810+" << true << 1 << "";
    QTest::newRow("wrong password") << 1 << "246811" << true << 0 << QStringLiteral("密码错误");
    QTest::newRow("empty password") << 1 << "" << true << 0 << QStringLiteral("请输入订单密码");
    QTest::newRow("order not paid") << 0 << "246810" << true << 0 << QStringLiteral("未付款");
    QTest::newRow("order already served") << 2 << "246810" << true << 0 << QStringLiteral("已服务");
    QTest::newRow("unknown order") << 1 << "246810" << false << 0 << QStringLiteral("不存在");
}

void PlatformApiTest::finishService()
{
    QFETCH(int, status);
    QFETCH(QString, typed);
    QFETCH(bool, knownOrder);
    QFETCH(int, expectedStatus);
    QFETCH(QString, expectedText);
    const qint64 id = knownOrder ? newOrder(status) : Q_INT64_C(99000000001);
    QVERIFY(id);
    const QJsonObject before = platform->order(id);
    const double yuerBefore =
        call(QStringLiteral("CashUpdate")).value("info").toObject().value("yuer").toDouble();

    const QJsonObject reply =
        call(QStringLiteral("StaffFinishOrder"), QStringLiteral("pass=%1&oid=%2").arg(typed).arg(id));
    QCOMPARE(reply.value("status").toInt(-1), expectedStatus);
    QVERIFY2(reply.value("info").toString().contains(expectedText),
             qPrintable(reply.value("info").toString()));
    if (!knownOrder)
        return;
    const QJsonObject after = platform->order(id);
    const double yuerAfter =
        call(QStringLiteral("CashUpdate")).value("info").toObject().value("yuer").toDouble();
    if (expectedStatus == 1) {
        QCOMPARE(after.value("status").toInt(), 2);
        QVERIFY(ClientTime(after.value("stime")).isValid());
        QVERIFY(ClientTime(after.value("ertime")) > ClientTime(before.value("ertime")));
        // The shop earns 95 % of the default 18.00 order.
        QCOMPARE(qRound((yuerAfter - yuerBefore) * 100), 1710);
        const QJsonArray today =
            call(QStringLiteral("AddShopCash"), QStringLiteral("way=day")).value("info").toArray();
        QVERIFY(std::any_of(today.begin(), today.end(),
                            [&](const QJsonValue& e) { return Id(e["order_id"]) == id; }));
    } else {
        QCOMPARE(after, before);
        QCOMPARE(yuerAfter, yuerBefore);
    }
}

void PlatformApiTest::confirmation_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("buyerAsked");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QString>("expectedInfo");
    QTest::addColumn<int>("statusAfter");
    QTest::newRow("awaiting confirmation") << 1 << true << 1 << "" << 2;
    QTest::newRow("paid, nothing asked") << 1 << false << 2 << QStringLiteral("没有待确认") << 1;
    QTest::newRow("served meanwhile") << 2 << false << 3 << "2" << 2;
    QTest::newRow("reviewed meanwhile") << 3 << false << 3 << "3" << 3;
    QTest::newRow("refunded meanwhile") << 9 << false << 3 << "9" << 9;
    QTest::newRow("not paid") << 0 << false << 0 << QStringLiteral("未付款") << 0;
}

void PlatformApiTest::confirmation()
{
    QFETCH(int, status);
    QFETCH(bool, buyerAsked);
    QFETCH(int, expectedStatus);
    QFETCH(QString, expectedInfo);
    QFETCH(int, statusAfter);
    const qint64 id = newOrder(status);
    QVERIFY(id);
    if (buyerAsked)
        QVERIFY(platform->changeOrder(id, QJsonObject{{"confirm", true}}).value("confirm").toBool());
    const QJsonObject reply = call(QStringLiteral("ToFinishOrder"), QStringLiteral("oid=%1").arg(id));
    QCOMPARE(reply.value("status").toInt(-1), expectedStatus);
    QVERIFY(reply.value("info").isString());
    if (expectedStatus == 3)
        QCOMPARE(reply.value("info").toString(), expectedInfo);
    else
        QVERIFY2(reply.value("info").toString().contains(expectedInfo),
                 qPrintable(reply.value("info").toString()));
    QCOMPARE(platform->order(id).value("status").toInt(), statusAfter);

    if (expectedStatus == 1) {
        // A second confirmation finds the order moved on.
        const QJsonObject again = call(QStringLiteral("ToFinishOrder"), QStringLiteral("oid=%1").arg(id));
        QCOMPARE(again.value("status").toInt(), 3);
        QCOMPARE(again.value("info").toString(), QStringLiteral("2"));
    }
}

void PlatformApiTest::replyToReview_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QString>("stored");
    QTest::newRow("reviewed order") << 3 << QByteArray("谢谢光临！") << 1 << QStringLiteral("谢谢光临！");
    QTest::newRow("form decoding: + and a stray %")
        << 3 << QByteArray("好评+100%满意") << 1 << QStringLiteral("好评 100%满意");
    QTest::newRow("percent-encoded UTF-8")
        << 3 << QByteArray("%E8%B0%A2%E8%B0%A2") << 1 << QStringLiteral("谢谢");
    QTest::newRow("empty reply") << 3 << QByteArray("") << 0 << QString();
    QTest::newRow("not reviewed yet") << 2 << QByteArray("谢谢") << 0 << QString();
    QTest::newRow("already answered") << 4 << QByteArray("谢谢") << 0 << QString();
}

void PlatformApiTest::replyToReview()
{
    QFETCH(int, status);
    QFETCH(QByteArray, sent);
    QFETCH(int, expectedStatus);
    QFETCH(QString, stored);
    const qint64 id =
        platform->createOrder(QJsonObject{{"status", status}, {"content", QStringLiteral("味道不错")}});
    QVERIFY(id);
    const QJsonObject before = platform->order(id);
    const QByteArray body = session.form().toUtf8() + "&replay=" + sent + "&oid=" + QByteArray::number(id);
    const QJsonObject reply =
        QJsonDocument::fromJson(platform->postRaw(QStringLiteral("StaffReply"), body).body).object();
    QCOMPARE(reply.value("status").toInt(-1), expectedStatus);
    const QJsonObject after = platform->order(id);
    if (expectedStatus == 1) {
        QCOMPARE(after.value("status").toInt(), 4);
        QCOMPARE(after.value("reply").toString(), stored);
        QVERIFY(ClientTime(after.value("ertime")) > ClientTime(before.value("ertime")));
    } else {
        QVERIFY(!reply.value("info").toString().isEmpty());
        QCOMPARE(after, before);
    }
}

// The changes an alarm of the client answers to, each written once, in order, with the stamp the
// polls report: a payment after creation, a buyer's request, an order leaving "paid".
void PlatformApiTest::orderEvents()
{
    const auto eventsAfter = [this](qint64 seq) {
        return platform->admin("GET", QStringLiteral("events/%1").arg(seq))
            .value("info")
            .toObject()
            .value("events")
            .toArray();
    };
    const QJsonArray before =
        platform->admin("GET", QStringLiteral("events")).value("info").toObject().value("events").toArray();
    QVERIFY(!before.isEmpty()); // the seeded orders
    const qint64 last = before.last()["seq"].toVariant().toLongLong();

    const qint64 id = newOrder(0, QStringLiteral("135790"));
    QVERIFY(id);
    QVERIFY(platform->changeOrder(id, QJsonObject{{"status", 1}}).value("status").toInt() == 1);
    QVERIFY(platform->changeOrder(id, QJsonObject{{"confirm", true}}).value("confirm").toBool());
    QVERIFY(platform->changeOrder(id, QJsonObject{{"message", QStringLiteral("多加葱")}}).value("status") ==
            1);
    QCOMPARE(call(QStringLiteral("StaffFinishOrder"), QStringLiteral("pass=135790&oid=%1").arg(id))
                 .value("status")
                 .toInt(),
             1);

    const QJsonArray events = eventsAfter(last);
    QStringList seen;
    qint64 seq = last;
    qint64 at = 0;
    QString ertime;
    for (const QJsonValue& value : events) {
        const QJsonObject event = value.toObject();
        QCOMPARE(event["seq"].toVariant().toLongLong(), ++seq);
        QVERIFY(event["at"].toVariant().toLongLong() >= at);
        at = event["at"].toVariant().toLongLong();
        QCOMPARE(Id(event["id"]), id);
        // Every change after the creation moves the stamp.
        if (!ertime.isEmpty())
            QVERIFY2(event["ertime"].toString() > ertime, qPrintable(event["ertime"].toString()));
        ertime = event["ertime"].toString();
        seen << QStringLiteral("%1 %2->%3%4")
                    .arg(event["kind"].toString())
                    .arg(event["previous"].toInt())
                    .arg(event["status"].toInt())
                    .arg(event["request"].toBool() ? QStringLiteral(" request") : QString());
    }
    QCOMPARE(seen, QStringList({"created -1->0", "changed 0->1", "request 1->1 request", "changed 1->1",
                                "finished 1->2"}));
    QCOMPARE(ertime, platform->order(id).value("ertime").toString());
    QVERIFY(eventsAfter(seq).isEmpty());
}

void PlatformApiTest::incomePeriods_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("today") << "day";
    QTest::newRow("seven days") << "week";
    QTest::newRow("this month") << "mon";
    QTest::newRow("all") << "all";
}

void PlatformApiTest::incomePeriods()
{
    QFETCH(QString, way);
    // One entry per age, added once; which ones a period holds follows from the calendar.
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    if (incomeEntries.isEmpty()) {
        const QList<QDateTime> times = {now.addSecs(-5), QDateTime(today.addDays(-1), QTime(12, 0)),
                                        QDateTime(today.addDays(-6), QTime(0, 0, 1)),
                                        QDateTime(today.addDays(-7), QTime(23, 59)),
                                        QDateTime(today.addDays(-40), QTime(12, 0))};
        for (int i = 0; i < times.size(); ++i) {
            const qint64 orderId = Q_INT64_C(77000000000) + i;
            const QJsonObject added = platform->admin(
                "POST", QStringLiteral("income"),
                QJsonObject{
                    {"order_id", orderId}, {"amount", 20}, {"addcash", 19}, {"ctime", Time(times.at(i))}});
            QCOMPARE(added.value("status").toInt(), 1);
            incomeEntries.append({orderId, times.at(i)});
        }
    }
    const QDateTime since = way == "day"    ? QDateTime(today, QTime(0, 0))
                            : way == "week" ? QDateTime(today.addDays(-6), QTime(0, 0))
                            : way == "mon"  ? QDateTime(QDate(today.year(), today.month(), 1), QTime(0, 0))
                                            : QDateTime::fromSecsSinceEpoch(0);

    const QJsonObject reply = call(QStringLiteral("AddShopCash"), QStringLiteral("way=") + way);
    QCOMPARE(reply.value("status").toInt(), 1);
    const QJsonArray list = reply.value("info").toArray();
    QSet<qint64> listed;
    for (const QJsonValue& value : list) {
        const QJsonObject entry = value.toObject();
        QCOMPARE(Keys(entry), Sorted({"order_id", "amount", "addcash", "ctime"}));
        QVERIFY(ClientTime(entry.value("ctime")) >= since);
        listed.insert(Id(entry.value("order_id")));
    }
    for (const auto& entry : qAsConst(incomeEntries))
        QCOMPARE(listed.contains(entry.first), entry.second >= since);

    QCOMPARE(call(QStringLiteral("AddShopCash"), QStringLiteral("way=year")).value("status").toInt(-1), 0);
}

void PlatformApiTest::cashAndProfile()
{
    QVERIFY(platform->setCash(123.45, 6789.5));
    const QJsonObject cash = call(QStringLiteral("CashUpdate"));
    QCOMPARE(cash.value("status").toInt(), 1);
    QCOMPARE(Keys(cash.value("info").toObject()), Sorted({"yuer", "allcash"}));
    QCOMPARE(cash.value("info").toObject().value("yuer").toDouble(), 123.45);
    QCOMPARE(cash.value("info").toObject().value("allcash").toDouble(), 6789.5);

    // The client's profile request ends with a lone "&".
    const QJsonObject profile = platform->post(QStringLiteral("UserInfo"), session.form() + QLatin1Char('&'));
    QCOMPARE(profile.value("status").toInt(), 1);
    const QJsonObject info = profile.value("info").toObject();
    QCOMPARE(Keys(info), Sorted({"payment", "id", "name", "yuer", "mainame", "maidianhua", "maiqq", "maicode",
                                 "payment_code", "face", "sex", "nickname", "ctime"}));
    QCOMPARE(info.value("name").toVariant().toLongLong(), PlatformProcess::DemoAccount);
    QCOMPARE(info.value("id").toInt(), session.id);
    QCOMPARE(info.value("yuer").toDouble(), 123.45);
    QVERIFY(ClientTime(info.value("ctime")).isValid());
    const PlatformProcess::HttpResult face = platform->get(info.value("face").toString());
    QCOMPARE(face.httpStatus, 200);
    QCOMPARE(face.contentType, QByteArray("image/png"));
}

void PlatformApiTest::updateAndInstaller()
{
    // No session fields, empty body, as the client sends it: the build and its address, nothing more.
    QJsonObject reply = platform->post(QStringLiteral("UpdateSoftware"), QString());
    QCOMPARE(reply.value("status").toInt(), 1);
    // Build and address only, as the platform answers; the digest is an option.
    QCOMPARE(Keys(reply.value("info").toObject()), Sorted({"build", "url"}));
    // By default the client's own version: no update.
    QCOMPARE(reply.value("info").toObject().value("build").toString(), AppVersion);

    QCOMPARE(platform->admin("POST", QStringLiteral("offer"), QJsonObject{{"build", "1.0.7.0"}})
                 .value("status")
                 .toInt(),
             1);
    reply = platform->post(QStringLiteral("UpdateSoftware"), QString());
    QCOMPARE(reply.value("info").toObject().value("build").toString(), QStringLiteral("1.0.7.0"));
    const QString url = reply.value("info").toObject().value("url").toString();
    QCOMPARE(url, platform->baseUrl() + QStringLiteral("/download/tarvik-setup-1.0.7.0.sh"));
    const PlatformProcess::HttpResult installer = platform->get(url);
    QCOMPARE(installer.httpStatus, 200);
    QVERIFY(installer.body.startsWith("#!/bin/sh"));
    QVERIFY(installer.body.contains("1.0.7.0"));
    QVERIFY2(installer.body.size() > 100 * 1024, "large enough for the client's progress bar to move");
    QCOMPARE(platform->get(QStringLiteral("/download/other.exe")).httpStatus, 404);

    // Asked to, the server names the installer's digest too, and names it on the image host it is
    // told (the port it listens on when none is given).
    PlatformProcess withDigest(
        {QStringLiteral("--update-digest"), QStringLiteral("--image-host"), QStringLiteral("localhost")});
    QVERIFY2(withDigest.isRunning(), qPrintable(withDigest.errorString()));
    const QJsonObject info =
        withDigest.post(QStringLiteral("UpdateSoftware"), QString()).value("info").toObject();
    QCOMPARE(Keys(info), Sorted({"build", "sha256", "url"}));
    const QString named = info.value("url").toString();
    const QString onImageHost = QStringLiteral("http://localhost:%1/download/").arg(withDigest.port());
    QVERIFY2(named.startsWith(onImageHost), qPrintable(named));
    const QByteArray served = withDigest.get(QUrl(named).path()).body;
    QVERIFY(served.startsWith("#!/bin/sh"));
    QCOMPARE(info.value("sha256").toString(),
             QString::fromLatin1(QCryptographicHash::hash(served, QCryptographicHash::Sha256).toHex()));
}

void PlatformApiTest::picturesAndPages()
{
    for (const char* page : {"/", "/reg.php", "/forget.php", "/amy.php"}) {
        const PlatformProcess::HttpResult result = platform->get(QString::fromLatin1(page));
        QCOMPARE(result.httpStatus, 200);
        QVERIFY(result.contentType.startsWith("text/html"));
        QVERIFY(result.body.contains("<html"));
    }
    const QImage face = QImage::fromData(platform->get(QStringLiteral("/img/face/2.png")).body, "PNG");
    QCOMPARE(face.size(), QSize(120, 120));
    QCOMPARE(platform->get(QStringLiteral("/img/face/x.png")).httpStatus, 404);
    QCOMPARE(platform->get(QStringLiteral("/img/other/1.png")).httpStatus, 404);
    QCOMPARE(platform->get(QStringLiteral("/nothing-here")).httpStatus, 404);
}

void PlatformApiTest::badInput_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("httpStatus");
    const QByteArray s = session.form().toUtf8();
    QTest::newRow("order number missing") << "StaffOrder2" << s << 200;
    QTest::newRow("order number not a number") << "StaffOrder2" << s + "&oid=12ab" << 200;
    QTest::newRow("order number negative") << "ToFinishOrder" << s + "&oid=-5" << 200;
    QTest::newRow("order number too large")
        << "StaffFinishOrder" << s + "&pass=1&oid=99999999999999999999999" << 200;
    QTest::newRow("page not a number") << "StaffOrderList" << s + "&pager=first" << 200;
    QTest::newRow("time missing") << "PayFinishOrder" << s << 200;
    QTest::newRow("period missing") << "AddShopCash" << s << 200;
    QTest::newRow("only separators") << "LoginMd5" << QByteArray("&&&==&=") << 200;
    QTest::newRow("bytes that are not UTF-8")
        << "LoginMd5" << QByteArray("account=\xff\xfe&pass=\x80\x00\x01", 19) << 200;
    QTest::newRow("unknown endpoint") << "DeleteEverything" << s << 404;
    QTest::newRow("oversized body") << "StaffReply" << s + "&replay=" + QByteArray(64 * 1024, 'x') + "&oid=1"
                                    << 413;
}

void PlatformApiTest::badInput()
{
    QFETCH(QString, endpoint);
    QFETCH(QByteArray, body);
    QFETCH(int, httpStatus);
    const PlatformProcess::HttpResult result = platform->postRaw(endpoint, body);
    QCOMPARE(result.httpStatus, httpStatus);
    const QJsonObject reply = QJsonDocument::fromJson(result.body).object();
    QCOMPARE(reply.value("status").toInt(-1), 0);
    QVERIFY(!reply.value("info").toString().isEmpty());
    // And the server is still there.
    QCOMPARE(call(QStringLiteral("CashUpdate")).value("status").toInt(), 1);
}

void PlatformApiTest::concurrentFinishing()
{
    // Twelve staff members finish the same order at once with the right password: exactly one
    // succeeds, the order is credited once; meanwhile full lists are served.
    const qint64 id = newOrder(1, QStringLiteral("135790"));
    QVERIFY(id);
    const QJsonObject before = call(QStringLiteral("CashUpdate")).value("info").toObject();
    QList<QNetworkAccessManager*> managers;
    QList<QNetworkReply*> finishes;
    QList<QNetworkReply*> lists;
    for (int i = 0; i < 12; ++i) {
        auto* manager = new QNetworkAccessManager(this);
        managers.append(manager);
        QNetworkRequest request(QUrl(platform->baseUrl() + QStringLiteral("/api/StaffFinishOrder")));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        finishes.append(manager->post(
            request, (session.form() + QStringLiteral("&pass=135790&oid=%1").arg(id)).toUtf8()));
        QNetworkRequest listRequest(QUrl(platform->baseUrl() + QStringLiteral("/api/StaffOrderList")));
        listRequest.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        lists.append(manager->post(listRequest, (session.form() + QStringLiteral("&pager=1")).toUtf8()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(finishes.begin(), finishes.end(), [](QNetworkReply* r) { return r->isFinished(); }) &&
            std::all_of(lists.begin(), lists.end(), [](QNetworkReply* r) { return r->isFinished(); }),
        20000);
    int succeeded = 0;
    for (QNetworkReply* reply : finishes) {
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        succeeded += QJsonDocument::fromJson(reply->readAll()).object().value("status").toInt() == 1;
    }
    for (QNetworkReply* reply : lists)
        QCOMPARE(QJsonDocument::fromJson(reply->readAll()).object().value("status").toInt(), 1);
    QCOMPARE(succeeded, 1);
    const QJsonObject after = call(QStringLiteral("CashUpdate")).value("info").toObject();
    QCOMPARE(qRound((after.value("allcash").toDouble() - before.value("allcash").toDouble()) * 100), 1710);
    qDeleteAll(managers);
}

void PlatformApiTest::secondServerOnTheSamePortRefusesToStart()
{
    // Two servers sharing a port would each get part of the client's connections.
    PlatformProcess second({QStringLiteral("--port"), QString::number(platform->port())});
    QVERIFY(!second.isRunning());
    QCOMPARE(second.errorString(), QStringLiteral("velm-platform exited with code 1 before listening"));
    QCOMPARE(call(QStringLiteral("CashUpdate")).value("status").toInt(), 1);
}

TARVIK_TEST_MAIN(PlatformApiTest)
#include "tst_platform_api.moc"
