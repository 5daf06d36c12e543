#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>

#include "common/platformprocess.h"
#include "common/testmain.h"
#include "common/windowparts.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "net/request.h"
#include "orders/orderpane.h"
#include "orders/pollclock.h"
#include "session/cuser.h"

// The order pane against the local platform: the full list, both polls, the hand-off to the
// confirmation table and confirming there, and the polls living through every kind of fault.
// One "second" of the polls lasts 20 ms here: the new-order poll runs every 400 ms.
class TestCAllList : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    CUser user;

    qint64 create(int status)
    {
        QJsonObject fields{{QStringLiteral("status"), status}, {QStringLiteral("password"), "123456"}};
        if (status >= 1)
            fields.insert(QStringLiteral("ptime"),
                          QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss"));
        return platform->createOrder(fields);
    }

    // Waits until the pane has its full list and both polls are under way.
    static bool loaded(OrderPane& pane)
    {
        return QTest::qWaitFor([&] { return !pane.list->Book()->Orders().isEmpty(); }, 10000);
    }

    static QTableWidgetItem* statusCell(CWServerTable* table, qint64 id)
    {
        QTableWidgetItem* cell = ConfirmTableCell(table, id);
        return cell ? ConfirmTable(table)->item(cell->row(), CWServerTable::StatusColumn) : nullptr;
    }

    // A paid order that the pane shows and whose buyer then asks for confirmation.
    qint64 awaitingConfirmation(OrderPane& pane)
    {
        const qint64 id = create(1);
        if (!QTest::qWaitFor([&] { return pane.list->FindOrderItem(id) != nullptr; }, 5000))
            return 0;
        platform->changeOrder(id, QJsonObject{{QStringLiteral("confirm"), true}});
        if (!QTest::qWaitFor(
                [&] { return pane.serverTable() && ConfirmTableCell(pane.serverTable(), id); },
                5000))
            return 0;
        return id;
    }

    // What each test's session is built with: its clock's second and its answers' time-out.
    int second = 20;
    int transferTimeout = 30000;
    SessionOptions options() const { return TestOptions(second, transferTimeout); }

private slots:
    void initTestCase()
    {
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        platform->serveClient();
        const PlatformProcess::Session session =
            platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(session.isValid());
        user.SetId(session.id);
        user.SetKey(session.key);
        user.SetToken(session.token);
    }

    void init()
    {
        platform->clearFaults();
        second = 20;
        transferTimeout = 30000;
    }

    void fullList_fillsTheGroupsInOrder()
    {
        const QJsonObject answer = platform->post(
            QStringLiteral("StaffOrderList"),
            platform->login(PlatformProcess::DemoAccount, "velm123").form() + QStringLiteral("&pager=1"));
        const QJsonArray commos = answer.value("info").toObject().value("commos").toArray();
        QVERIFY(commos.size() > 100);
        QHash<int, QList<qint64>> expected;
        for (const QJsonValue& entry : commos)
            expected[entry.toObject().value("status").toInt()].append(
                qint64(entry.toObject().value("id").toDouble()));

        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        QCOMPARE(pane.list->Book()->Orders().size(), commos.size());
        for (int status : {1, 2, 3, 4, 9}) {
            QCOMPARE(pane.ids(status), expected.value(status));
            const QString count =
                expected.value(status).isEmpty() ? QString() : QString::number(expected.value(status).size());
            QTRY_COMPARE(pane.group(status)->findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text(), count);
        }
        // Unpaid orders are known but have no row.
        QVERIFY(!expected.value(0).isEmpty());
        const qint64 unpaid = expected.value(0).first();
        QVERIFY(pane.list->Book()->Find(unpaid));
        QVERIFY(!pane.list->FindOrderItem(unpaid));
        // Every group starts folded, stacked from the top without gaps.
        int y = 0;
        for (COrderList* group : pane.list->Lists()) {
            QVERIFY(!group->IsExpanded());
            QCOMPARE(group->y(), y);
            y += group->height();
        }
        QCOMPARE(pane.list->height(), y);
        QCOMPARE(pane.list->Book()->Find(unpaid)->GetShopName(), QStringLiteral("老街牛肉面馆"));
    }

    void newOrders_blinkOnTopWithOneSound()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        pane.group(1)->Fold();
        QVERIFY(pane.group(1)->IsExpanded());

        // Held back while the three are created, so that one reply brings all three.
        QVERIFY(platform->setFault(QStringLiteral("UpdateStaffOrderList"), QStringLiteral("refuse")));
        const qint64 first = create(1), second = create(1), served = create(2), third = create(1);
        SoundLog sounds;
        QVERIFY(platform->clearFaults());
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(third), 5000);
        QCOMPARE(pane.ids(1).mid(0, 3), (QList<qint64>{third, second, first}));
        QCOMPARE(pane.ids(2).first(), served);
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 1);

        COrderItem* row = pane.list->FindOrderItem(third);
        QVERIFY(row->IsFlashing());
        QVERIFY(row->ShowsNewOrderIcon());
        QTRY_VERIFY(row->IconLabel());
        QCOMPARE(row->IconLabel()->pixmap(Qt::ReturnByValue).toImage(),
                 QPixmap(":/img/img/orderNew.png").toImage());
        QTRY_VERIFY_WITH_TIMEOUT(row->IconLabel()->isHidden(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!row->IconLabel()->isHidden(), 2000);
        // A new order that is not paid asks nothing of the shop: its row does not blink.
        QVERIFY(!pane.list->FindOrderItem(served)->IsFlashing());
        QVERIFY(!pane.list->FindOrderItem(served)->ShowsNewOrderIcon());

        // The platform reports the newest known order on every poll (same second); it adds nothing.
        const int known = pane.list->Book()->Orders().size();
        QSignalSpy polled(pane.polls(), &COrderPolls::PollSucceeded);
        QVERIFY(TestSupport::WaitUntil(
            [&polled] { return polled.count(QVariantList{QStringLiteral("UpdateStaffOrderList")}) >= 2; }));
        QCOMPARE(pane.list->Book()->Orders().size(), known);
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 1);
        QVERIFY(pane.polls()->NewOrderTime().secsTo(QDateTime::currentDateTime()) < 60);
    }

    // The new-order reply carries no shop: an order that arrives during the session belongs to the
    // shop of the full list all the same, and its detail window says so.
    void newOrder_belongsToTheShopOfTheList()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        const COrder* listed = pane.list->Book()->Orders().first();
        QCOMPARE(listed->GetShopName(), QStringLiteral("老街牛肉面馆"));

        const qint64 id = create(1);
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(id), 5000);
        const COrder* arrived = pane.list->Book()->Find(id);
        QCOMPARE(arrived->GetShopName(), listed->GetShopName());
        QCOMPARE(arrived->GetShopId(), listed->GetShopId());
        QCOMPARE(arrived->GetShopCatId(), listed->GetShopCatId());
        QVERIFY(arrived->GetShopId() > 0);

        COrderItem* row = pane.list->FindOrderItem(id);
        row->OpenOrderDetail();
        QPointer<COrderWidget> detail = pane.detailWindow(id);
        QVERIFY(detail);
        QCOMPARE(PartOf<QLabel>(detail, "shopLabel")->text(), QStringLiteral("店铺：老街牛肉面馆"));
        delete detail.data();
    }

    void unpaidOrder_getsItsRowOncePaid()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        SoundLog sounds;
        const qint64 id = create(0);
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->Book()->Find(id), 5000);
        QVERIFY(!pane.list->FindOrderItem(id));
        // Nothing to act on yet: no sound either.
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 0);

        platform->changeOrder(id, QJsonObject{{QStringLiteral("status"), 1}});
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(id), 5000);
        COrderItem* row = pane.list->FindOrderItem(id);
        QCOMPARE(pane.ids(1).first(), id);
        QVERIFY(row->IsFlashing());
        QVERIFY(row->ShowsNewOrderIcon());
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 1);
        QVERIFY(!pane.serverTable());
    }

    // The new-order poll lists a paid order before the pay/finish poll reports its payment: the
    // payment's report, stamped as the client already knows the order, asks nothing. Its buyer's
    // request, a later stamp, does.
    void newPaidOrder_listedFirst_thenReported_asksNoConfirmation()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        SoundLog sounds;
        QVERIFY(platform->setFault(QStringLiteral("PayFinishOrder"), QStringLiteral("refuse")));
        const QDateTime now = QDateTime::currentDateTime();
        const QString at = now.toString("yyyy-MM-dd hh:mm:ss");
        // Paid a second after it was placed: the pay/finish poll reports it as well.
        const qint64 id = platform->createOrder(
            {{"status", 1}, {"ctime", at}, {"ptime", at}, {"ertime", now.addSecs(1).toString("yyyy-MM-dd hh:mm:ss")}});
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(id), 5000);
        QSignalSpy polled(pane.polls(), &COrderPolls::PollSucceeded);
        QVERIFY(platform->clearFaults());
        QVERIFY(TestSupport::WaitUntil(
            [&polled] { return polled.count(QVariantList{QStringLiteral("PayFinishOrder")}) >= 3; }));
        QVERIFY(!pane.serverTable());
        QCOMPARE(sounds.count(QStringLiteral("audio/notify.wav")), 0);
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 1);
        QVERIFY(pane.list->FindOrderItem(id)->IsFlashing());

        platform->changeOrder(id, QJsonObject{{QStringLiteral("confirm"), true}});
        QTRY_VERIFY_WITH_TIMEOUT(pane.serverTable() && ConfirmTableCell(pane.serverTable(), id),
                                 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sounds.count(QStringLiteral("audio/notify.wav")), 1, 5000);
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 1);
    }

    // A platform whose "ertime" filter includes its own second sends the entries stamped there on
    // every poll: each counts once. The buyer's request rings once, not every 3 seconds.
    void inclusiveErtime_eachReportCountsOnce()
    {
        PlatformProcess inclusive({QStringLiteral("--seed"), QStringLiteral("--inclusive-ertime")});
        QVERIFY2(inclusive.isRunning(), qPrintable(inclusive.errorString()));
        inclusive.serveClient();
        const auto back = qScopeGuard([this] { platform->serveClient(); });
        const PlatformProcess::Session login =
            inclusive.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(login.isValid());
        CUser staff;
        staff.SetId(login.id);
        staff.SetKey(login.key);
        staff.SetToken(login.token);
        const QDateTime now = QDateTime::currentDateTime();
        const auto stamp = [&now](int offset) { return now.addSecs(offset).toString("yyyy-MM-dd hh:mm:ss"); };
        const qint64 asking = inclusive.createOrder({{"status", 1}, {"ctime", stamp(-30)}, {"ptime", stamp(-30)}});
        const qint64 served = inclusive.createOrder({{"status", 1}, {"ctime", stamp(-30)}, {"ptime", stamp(-30)}});
        QVERIFY(asking && served);

        OrderPane pane(staff, options());
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(asking), 10000);
        SoundLog sounds;
        QSignalSpy polled(pane.polls(), &COrderPolls::PollSucceeded);
        // The buyer asks at S; a second later another order is served: the poll then asks from S.
        inclusive.changeOrder(asking, QJsonObject{{"confirm", true}, {"ertime", stamp(-5)}});
        inclusive.changeOrder(served, QJsonObject{{"status", 2}, {"ertime", stamp(-4)}});
        QTRY_COMPARE_WITH_TIMEOUT(pane.ids(2).value(0), served, 5000);
        QVERIFY(TestSupport::WaitUntil(
            [&polled] { return polled.count(QVariantList{QStringLiteral("PayFinishOrder")}) >= 8; }));
        QVERIFY(pane.serverTable());
        QCOMPARE(ConfirmTable(pane.serverTable())->rowCount(), 1);
        QCOMPARE(sounds.count(QStringLiteral("audio/notify.wav")), 1);
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 0);
    }

    void statusChange_movesTheRow()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        const qint64 id = create(1);
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(id), 5000);
        QPointer<COrderItem> row = pane.list->FindOrderItem(id);

        platform->changeOrder(id, QJsonObject{{QStringLiteral("status"), 2}});
        QTRY_COMPARE_WITH_TIMEOUT(pane.ids(2).value(0), id, 5000);
        QVERIFY(!pane.ids(1).contains(id));
        QCOMPARE(pane.list->FindOrderItem(id), row.data()); // the same row, moved
        QVERIFY(!row->ShowsNewOrderIcon());
        // The served order comes back unchanged on later polls: nothing to confirm.
        QTest::qWait(options().clock.Msecs(3) * 4);
        QVERIFY(!pane.serverTable());

        // Paid again (the platform took the service back): the same row returns to the top of
        // "已支付" and blinks, as an order staff must act on.
        SoundLog sounds;
        platform->changeOrder(id, QJsonObject{{QStringLiteral("status"), 1}});
        QTRY_COMPARE_WITH_TIMEOUT(pane.ids(1).value(0), id, 5000);
        QCOMPARE(pane.list->FindOrderItem(id), row.data());
        QVERIFY(!pane.ids(2).contains(id));
        QVERIFY(row->IsFlashing());
        QCOMPARE(sounds.count(QStringLiteral("audio/neworder.mp3")), 1);
    }

    void confirmation_tableAndSuccess()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        SoundLog sounds;
        const qint64 id = awaitingConfirmation(pane);
        QVERIFY(id);
        CWServerTable* table = pane.serverTable();
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 1"));
        QCOMPARE(ConfirmTable(table)->item(0, 0)->text(), QString::number(id));
        QCOMPARE(ConfirmTable(table)->selectionModel()->selectedRows().value(0).row(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sounds.count(QStringLiteral("audio/notify.wav")), 1, 2000);

        QString cellAtMove, statusAtMove;
        connect(pane.list->Book(), &COrderBook::StatusChanged, this, [&](COrder* order) {
            if (order->GetId() != id)
                return;
            cellAtMove = ConfirmTableCell(table, id)->text();
            statusAtMove = statusCell(table, id)->text();
        });
        table->SlotOrderOk(ConfirmTableCell(table, id));
        QCOMPARE(ConfirmTableCell(table, id)->text(), QStringLiteral("确认中..."));
        QTRY_COMPARE_WITH_TIMEOUT(cellAtMove, QStringLiteral("完成"), 5000);
        QCOMPARE(statusAtMove, QStringLiteral("已服务"));
        QCOMPARE(sounds.count(QStringLiteral("audio/server.mp3")), 1);
        QCOMPARE(pane.ids(2).value(0), id);
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 "));
        QCOMPARE(platform->order(id).value("status").toInt(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!ConfirmTableCell(table, id), 2000);
        QCOMPARE(ConfirmTable(table)->rowCount(), 0);
    }

    void confirmation_outcomes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("change"); // what happened to the order behind the client's back
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("message");
        const QString network = QStringLiteral("都是网络的错！\n请检查网络连接，谢谢！");
        QTest::newRow("moved on (3)") << ""
                                      << "completed"
                                      << "已完成"
                                      << "";
        QTest::newRow("nothing to confirm (2)") << ""
                                                << "withdrawn"
                                                << "重 试"
                                                << "*";
        QTest::newRow("refused") << "refuse"
                                 << ""
                                 << "重 试"
                                 << "失败：确认服务！\n服务器繁忙，请稍后再试";
        QTest::newRow("http 500") << "http500"
                                  << ""
                                  << "重 试" << network;
        QTest::newRow("not json") << "notjson"
                                  << ""
                                  << "重 试" << network;
        QTest::newRow("array") << "array"
                               << ""
                               << "重 试" << network;
        QTest::newRow("timeout") << "hang"
                                 << ""
                                 << "重 试" << network;
    }
    void confirmation_outcomes()
    {
        QFETCH(QString, fault);
        QFETCH(QString, change);
        QFETCH(QString, cell);
        QFETCH(QString, message);
        // Only the row whose answer hangs gets a short time-out: on a busy machine a sound answer
        // may take longer than the time-out row waits.
        if (fault == QLatin1String("hang"))
            transferTimeout = 500;
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        const qint64 id = awaitingConfirmation(pane);
        QVERIFY(id);
        CWServerTable* table = pane.serverTable();
        // The platform's update stamp stays, so the client's polls do not learn of the change.
        const QString stamp = platform->order(id).value("ertime").toString();
        if (change == QLatin1String("completed"))
            platform->changeOrder(id, QJsonObject{{"status", 4}, {"ertime", stamp}});
        else if (change == QLatin1String("withdrawn"))
            platform->changeOrder(id, QJsonObject{{"confirm", false}, {"ertime", stamp}});
        if (!fault.isEmpty())
            QVERIFY(platform->setFault(QStringLiteral("ToFinishOrder"), fault));

        SoundLog sounds;
        table->SlotOrderOk(ConfirmTableCell(table, id));
        QTRY_COMPARE_WITH_TIMEOUT(table->GetConfirmState(id) != CWServerTable::InFlight, true, 5000);
        QCOMPARE(ConfirmTableCell(table, id)->text(), cell);
        QCOMPARE(sounds.count(QStringLiteral("audio/server.mp3")), 0);
        if (cell == QStringLiteral("已完成")) {
            QCOMPARE(statusCell(table, id)->text(), QStringLiteral("已完成"));
            QCOMPARE(pane.ids(4).value(0), id);
            return;
        }
        QVERIFY(BoxLabel(table) && BoxLabel(table)->isVisible());
        if (message != QLatin1String("*"))
            QCOMPARE(BoxLabel(table)->text(), message);
        QCOMPARE(pane.list->Book()->Find(id)->GetStatus(), 1);
        QCOMPARE(pane.ids(1).count(id), 1);

        // "重 试" retries, and works once the platform does.
        QVERIFY(platform->clearFaults());
        if (change == QLatin1String("withdrawn"))
            platform->changeOrder(id, QJsonObject{{"confirm", true}, {"ertime", stamp}});
        table->SlotOrderOk(ConfirmTableCell(table, id));
        QTRY_COMPARE_WITH_TIMEOUT(table->GetConfirmState(id), int(CWServerTable::Confirmed), 5000);
        QCOMPARE(ConfirmTableCell(table, id)->text(), QStringLiteral("完成"));
        QVERIFY(!BoxLabel(table)->isVisible());
    }

    void confirmation_twoInFlightResolveTheirOwnRows()
    {
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        const qint64 withdrawn = awaitingConfirmation(pane);
        const qint64 asked = awaitingConfirmation(pane);
        QVERIFY(withdrawn && asked);
        CWServerTable* table = pane.serverTable();
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 2"));
        platform->changeOrder(withdrawn, QJsonObject{{"confirm", false},
                                                     {"ertime", platform->order(withdrawn).value("ertime")}});
        QVERIFY(platform->setFault(QStringLiteral("ToFinishOrder"), QStringLiteral("delay"), 300));
        table->SlotOrderOk(ConfirmTableCell(table, withdrawn));
        table->SlotOrderOk(ConfirmTableCell(table, asked));
        const auto inFlight = [&] {
            return int(table->GetConfirmState(withdrawn) == CWServerTable::InFlight) +
                   int(table->GetConfirmState(asked) == CWServerTable::InFlight);
        };
        QCOMPARE(inFlight(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(inFlight(), 0, 5000);
        QCOMPARE(ConfirmTableCell(table, withdrawn)->text(), QStringLiteral("重 试"));
        QCOMPARE(ConfirmTableCell(table, asked)->text(), QStringLiteral("完成"));
        QCOMPARE(pane.list->Book()->Find(withdrawn)->GetStatus(), 1);
        QCOMPARE(pane.list->Book()->Find(asked)->GetStatus(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!ConfirmTableCell(table, asked), 2000);
        QVERIFY(ConfirmTableCell(table, withdrawn));
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 1"));
    }

    void polls_surviveFaults_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"http500", "notjson", "array", "refuse", "close", "hang"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void polls_surviveFaults()
    {
        QFETCH(QString, kind);
        transferTimeout = 300;
        second = 10; // the new-order poll every 200 ms
        // The full list itself fails twice before the pane gets it.
        QVERIFY(
            platform->setFault(QStringLiteral("StaffOrderList"), kind, QVariant(), kind == "close" ? 4 : 2));
        QHash<QString, int> failures; // of each poll, while the faults hold
        OrderPane pane(user, options());
        QVERIFY(loaded(pane));
        const qint64 moving = create(1);
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(moving), 5000);

        connect(pane.polls(), &COrderPolls::PollFailed, this,
                [&failures](const QString& endpoint) { ++failures[endpoint]; });
        QVERIFY(platform->setFault(QStringLiteral("UpdateStaffOrderList"), kind));
        QVERIFY(platform->setFault(QStringLiteral("PayFinishOrder"), kind));
        const qint64 fresh = create(1);
        platform->changeOrder(moving, QJsonObject{{"status", 2}});
        // Two failed rounds of each poll, or of their time-outs: both are asked again after a failure.
        QVERIFY(TestSupport::WaitUntil(
            [&failures] {
                return failures.value("UpdateStaffOrderList") >= 2 && failures.value("PayFinishOrder") >= 2;
            },
            10000));
        QVERIFY(!pane.list->Book()->Find(fresh));
        QCOMPARE(pane.list->Book()->Find(moving)->GetStatus(), 1);

        QVERIFY(platform->clearFaults());
        QTRY_VERIFY_WITH_TIMEOUT(pane.list->FindOrderItem(fresh), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(pane.ids(2).value(0), moving, 5000);
    }
};

TARVIK_TEST_MAIN(TestCAllList)
#include "tst_callist.moc"
