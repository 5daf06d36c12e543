#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableWidget>
#include <QUrlQuery>

#include "common/fakenetwork.h"
#include "common/testmain.h"
#include "confirm/cwservertable.h"
#include "detail/corderwidget.h"
#include "orders/orderpane.h"
#include "orders/pollclock.h"
#include "session/cuser.h"
#include "ui/quietplatform.h"

// The order pane's exact rules, with a fake platform whose answers each test sets.
class TestOrderPolls : public QObject
{
    Q_OBJECT

    CUser user;
    QJsonArray fullList, newOrders, payFinish;

    static QJsonObject entry(qint64 id, int status, const QString& ctime = QString(),
                             const QString& ertime = QString())
    {
        return QJsonObject{{"id", double(id)},      {"member", QStringLiteral("m%1").arg(id)},
                           {"amount", 12.5},        {"status", status},
                           {"ctime", ctime},        {"stime", QJsonValue()},
                           {"ptime", QJsonValue()}, {"ertime", ertime.isEmpty() ? ctime : ertime}};
    }

    static QByteArray answer(const QJsonObject& info)
    {
        return QJsonDocument(QJsonObject{{"status", 1}, {"info", info}}).toJson(QJsonDocument::Compact);
    }

    static QList<RecordedRequest> sent(const QString& endpoint)
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest& r : FakeNetworkManager::Recorded())
            if (r.request.url().path().endsWith(QLatin1Char('/') + endpoint))
                found.append(r);
        return found;
    }

    static QList<QPair<QString, QString>> fields(const QByteArray& body)
    {
        return QUrlQuery(QString::fromUtf8(body)).queryItems(QUrl::FullyDecoded);
    }

    static QList<qint64> idsOf(const QList<COrder*>& orders)
    {
        QList<qint64> ids;
        for (const COrder* order : orders)
            ids.append(order->GetId());
        return ids;
    }

private slots:
    // The frames' fade animations delete themselves when they end: let the last ones end.
    void cleanupTestCase() { QTest::qWait(300); }

    void initTestCase()
    {
        QuietPlatform::Install();
        user.SetId(5);
        user.SetKey(QStringLiteral("k&y"));
        user.SetToken(QStringLiteral("t=1"));
    }

    void init()
    {
        PollClock::SetSecondLength(20);
        fullList = newOrders = payFinish = QJsonArray();
        FakeNetworkManager::Install([this](const RecordedRequest& r) {
            const QString path = r.request.url().path();
            if (path.endsWith(QLatin1String("/StaffOrderList")))
                return FakeResponse::Json(answer(QJsonObject{{"shop_id", 1},
                                                             {"shop_name", QStringLiteral("老街牛肉面馆")},
                                                             {"shop_catid", 3},
                                                             {"commos", fullList}}));
            if (path.endsWith(QLatin1String("/UpdateStaffOrderList")))
                return FakeResponse::Json(answer(QJsonObject{{"commos", newOrders}}));
            if (path.endsWith(QLatin1String("/PayFinishOrder")))
                return FakeResponse::Json(answer(QJsonObject{{"commos", payFinish}}));
            return FakeResponse::Json("{\"status\":1,\"info\":\"\"}");
        });
    }

    void cleanup()
    {
        FakeNetworkManager::Uninstall();
        PollClock::SetSecondLength(1000);
    }

    void bodiesAndCursors_neverGoBack()
    {
        const QDateTime base = QDateTime::currentDateTime().addDays(1);
        const QString created = base.toString("yyyy-MM-dd hh:mm:ss");
        const QString changed = base.addSecs(3600).toString("yyyy-MM-dd hh:mm:ss");
        fullList = {entry(10, 1, created, changed),
                    entry(11, 2, base.addSecs(-7200).toString("yyyy-MM-dd hh:mm:ss"))};
        OrderPane pane(&user);
        QTRY_COMPARE(sent("PayFinishOrder").size(), 1);
        QCOMPARE(
            fields(sent("StaffOrderList").value(0).body),
            (QList<QPair<QString, QString>>{{"id", "5"}, {"key", "k&y"}, {"token", "t=1"}, {"pager", "1"}}));
        QCOMPARE(fields(sent("UpdateStaffOrderList").value(0).body).value(3),
                 (QPair<QString, QString>("time", created)));
        QCOMPARE(fields(sent("PayFinishOrder").value(0).body).value(3),
                 (QPair<QString, QString>("ertime", changed)));

        // Older times in later replies leave both cursors where they are.
        newOrders = {entry(12, 1, base.addSecs(-60).toString("yyyy-MM-dd hh:mm:ss"))};
        payFinish = {
            QJsonObject{{"id", 11}, {"status", 2}, {"ertime", base.toString("yyyy-MM-dd hh:mm:ss")}}};
        QTRY_VERIFY(pane.list->Book()->Find(12));
        const int before = sent("UpdateStaffOrderList").size();
        QTRY_VERIFY(sent("UpdateStaffOrderList").size() > before);
        QTRY_VERIFY(sent("PayFinishOrder").size() > 3);
        QCOMPARE(fields(sent("UpdateStaffOrderList").last().body).value(3).second, created);
        QCOMPARE(fields(sent("PayFinishOrder").last().body).value(3).second, changed);
        QCOMPARE(pane.list->Polls()->NewOrderTime(), base.addMSecs(-base.time().msec()));
    }

    void lookups_useFull64BitIds_andAnOrderListedTwiceIsOneOrder()
    {
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
        const qint64 big = (qint64(1) << 32) + 1;
        fullList = {entry(123, 1, now), entry(4512, 2, now), entry(1345, 4, now), entry(big, 1, now),
                    entry(1, 1, now),   entry(77, 2, now),   entry(77, 4, now)};
        OrderPane pane(&user);
        QTRY_COMPARE(pane.list->Book()->Orders().size(), 6);
        QCOMPARE(pane.list->FindOrderItem(big)->GetOrder()->GetId(), big);
        QCOMPARE(pane.list->FindOrderItem(1)->GetOrder()->GetId(), qint64(1));
        QCOMPARE(pane.list->Book()->Find(77)->GetStatus(), 2);
        QTRY_COMPARE(pane.list->FindOrderItem(77), pane.group(2)->Items().value(1).data());
        QVERIFY(!pane.group(4)->FindItem(77));
        QCOMPARE(pane.list->Book()->Find(1)->GetShopName(), QStringLiteral("老街牛肉面馆"));

        QCOMPARE(idsOf(pane.list->Book()->Search(QStringLiteral("12"))), (QList<qint64>{123, 4512}));
        QVERIFY(pane.list->Book()->Search(QStringLiteral("999")).isEmpty());
        QCOMPARE(idsOf(pane.list->Book()->Search(QString::number(big))), (QList<qint64>{big}));
    }

    void openOrderDetail_reusesTheRowsWindow()
    {
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
        fullList = {entry(5, 2, now), entry(6, 0, now)};
        OrderPane pane(&user);
        QTRY_COMPARE(pane.list->Book()->Orders().size(), 2);
        pane.list->SlotOpenOrderDetail(pane.list->Book()->Find(5));
        pane.list->SlotOpenOrderDetail(pane.list->Book()->Find(5));
        pane.list->SlotOpenOrderDetail(pane.list->Book()->Find(6));
        pane.list->SlotOpenOrderDetail(pane.list->Book()->Find(6));
        pane.list->SlotOpenOrderDetail(nullptr);
        QStringList titles;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<COrderWidget*>(w))
                titles.append(w->windowTitle());
        titles.sort();
        QCOMPARE(titles, (QStringList{"5 订单详情", "6 订单详情"})); // one window per order
        QVERIFY(pane.list->DetailWindow(5));
    }

    void anHourOfTheSameReport_asksForConfirmationOnce()
    {
        PollClock::SetSecondLength(1);
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
        const QString asked = QDateTime::currentDateTime().addSecs(60).toString("yyyy-MM-dd hh:mm:ss");
        fullList = {entry(42, 1, now)};
        // The buyer's request comes back on every poll of an hour, 3 seconds apart.
        payFinish = {QJsonObject{{"id", 42}, {"status", 1}, {"ertime", asked}}};
        SoundLog sounds;
        OrderPane pane(&user);
        QTRY_VERIFY_WITH_TIMEOUT(sent("PayFinishOrder").size() >= 1200, 120000);
        CWServerTable* table = pane.list->ServerTable();
        QVERIFY(table);
        QCOMPARE(table->Table()->rowCount(), 1);
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 1"));
        QCOMPARE(sounds.count(QStringLiteral("audio/notify.wav")), 1);
    }
};

TARVIK_TEST_MAIN(TestOrderPolls)
#include "tst_orderpolls.moc"
