#include <QJsonArray>
#include <QNetworkReply>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTableWidget>
#include <QUrlQuery>

#include "common/fakenetwork.h"
#include "common/heldsounds.h"
#include "common/localhttpserver.h"
#include "common/testmain.h"
#include "common/windowparts.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "net/request.h"
#include "orders/orderpane.h"
#include "orders/pollclock.h"
#include "session/cuser.h"

// The order pane's exact rules, with a fake platform whose answers each test sets.
class TestOrderPolls : public QObject
{
    Q_OBJECT

    CUser user;
    QJsonArray fullList, newOrders, payFinish;
    QList<FakeResponse> details; // answers to StaffOrder2, one per request, the last one kept
    bool byCursor = false;       // the pay/finish poll gets only what changed after its "ertime"
    bool payFinishOnTheLine = false; // the pay/finish poll goes out on the real network

    static QString stamp(const QDateTime& time) { return time.toString("yyyy-MM-dd hh:mm:ss"); }

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

    // What each test's session is built with: its clock's second and its answers' time-out.
    int second = 20;
    int transferTimeout = 30000;
    SessionOptions options() const { return TestOptions(second, transferTimeout); }

private slots:
    void initTestCase()
    {
        user.SetId(5);
        user.SetKey(QStringLiteral("k&y"));
        user.SetToken(QStringLiteral("t=1"));
    }

    void init()
    {
        second = 20;
        transferTimeout = 30000;
        fullList = newOrders = payFinish = QJsonArray();
        details.clear();
        byCursor = false;
        payFinishOnTheLine = false;
        FakeNetworkManager::Install([this](const RecordedRequest& r) {
            const QString path = r.request.url().path();
            if (path.endsWith(QLatin1String("/StaffOrderList")))
                return FakeResponse::Json(answer(QJsonObject{{"shop_id", 1},
                                                             {"shop_name", QStringLiteral("老街牛肉面馆")},
                                                             {"shop_catid", 3},
                                                             {"commos", fullList}}));
            if (path.endsWith(QLatin1String("/UpdateStaffOrderList")))
                return FakeResponse::Json(answer(QJsonObject{{"commos", newOrders}}));
            if (path.endsWith(QLatin1String("/PayFinishOrder"))) {
                if (payFinishOnTheLine)
                    return FakeResponse::Real();
                QJsonArray changed;
                for (const QJsonValue& e : qAsConst(payFinish))
                    if (!byCursor || e.toObject().value("ertime").toString() > fields(r.body).value(3).second)
                        changed.append(e);
                return FakeResponse::Json(answer(QJsonObject{{"commos", changed}}));
            }
            if (path.endsWith(QLatin1String("/StaffOrder2")) && !details.isEmpty())
                return details.size() > 1 ? details.takeFirst() : details.first();
            return FakeResponse::Json("{\"status\":1,\"info\":\"\"}");
        });
    }

    void cleanup()
    {
        FakeNetworkManager::Uninstall();
    }

    void bodiesAndCursors_neverGoBack()
    {
        const QDateTime base = QDateTime::currentDateTime().addDays(1);
        const QString created = base.toString("yyyy-MM-dd hh:mm:ss");
        const QString changed = base.addSecs(3600).toString("yyyy-MM-dd hh:mm:ss");
        fullList = {entry(10, 1, created, changed),
                    entry(11, 2, base.addSecs(-7200).toString("yyyy-MM-dd hh:mm:ss"))};
        OrderPane pane(user, options());
        QTRY_COMPARE(sent("PayFinishOrder").size(), 1);
        QCOMPARE(
            fields(sent("StaffOrderList").value(0).body),
            (QList<QPair<QString, QString>>{{"id", "5"}, {"key", "k&y"}, {"token", "t=1"}, {"pager", "1"}}));
        QCOMPARE(fields(sent("UpdateStaffOrderList").value(0).body).value(3),
                 (QPair<QString, QString>("time", created)));
        // The pay/finish poll asks from one second before its cursor.
        const QString askedFrom = base.addSecs(3599).toString("yyyy-MM-dd hh:mm:ss");
        QCOMPARE(fields(sent("PayFinishOrder").value(0).body).value(3),
                 (QPair<QString, QString>("ertime", askedFrom)));

        // Older times in later replies leave both cursors where they are.
        newOrders = {entry(12, 1, base.addSecs(-60).toString("yyyy-MM-dd hh:mm:ss"))};
        payFinish = {
            QJsonObject{{"id", 11}, {"status", 2}, {"ertime", base.toString("yyyy-MM-dd hh:mm:ss")}}};
        QTRY_VERIFY(pane.list->Book()->Find(12));
        const int before = sent("UpdateStaffOrderList").size();
        QTRY_VERIFY(sent("UpdateStaffOrderList").size() > before);
        QTRY_VERIFY(sent("PayFinishOrder").size() > 3);
        QCOMPARE(fields(sent("UpdateStaffOrderList").last().body).value(3).second, created);
        QCOMPARE(fields(sent("PayFinishOrder").last().body).value(3).second, askedFrom);
        QCOMPARE(pane.polls()->NewOrderTime(), base.addMSecs(-base.time().msec()));
    }

    // The cursors keep to the platform's clock. A PC five minutes fast still sees every order, and
    // one entry stamped years ahead moves no cursor past the platform's time.
    void cursors_followThePlatformsClock_notThePCs()
    {
        const QDateTime platformNow = QDateTime::currentDateTime().addSecs(-300);
        FakeNetworkManager::SetPlatformClock(platformNow);
        fullList = {entry(10, 1, stamp(platformNow.addSecs(-600)))};
        OrderPane pane(user, options());
        QTRY_COMPARE(sent("UpdateStaffOrderList").size(), 1);
        QCOMPARE(fields(sent("UpdateStaffOrderList").first().body).value(3).second, stamp(platformNow));

        // Two minutes later by the platform, still three minutes before the PC's clock.
        const QDateTime later = platformNow.addSecs(120);
        FakeNetworkManager::SetPlatformClock(later);
        newOrders = {entry(11, 1, stamp(later)), entry(12, 1, "2031-01-01 00:00:00")};
        payFinish = {QJsonObject{{"id", 10}, {"status", 2}, {"ertime", "2031-01-01 00:00:00"}}};
        QTRY_VERIFY(pane.list->FindOrderItem(11) && pane.list->FindOrderItem(12));
        QTRY_COMPARE(pane.ids(2).value(0), qint64(10));
        const int before = sent("UpdateStaffOrderList").size();
        QTRY_VERIFY(sent("UpdateStaffOrderList").size() > before);
        QCOMPARE(fields(sent("UpdateStaffOrderList").last().body).value(3).second, stamp(later));
        QCOMPARE(fields(sent("PayFinishOrder").last().body).value(3).second, stamp(later.addSecs(-1)));
    }

    // The pay/finish poll names an order the client never listed (beyond the full list's first
    // page, or paid before the new-order poll listed it): it is fetched, gets its row and, being
    // paid, blinks and rings. A failed fetch is asked for again. The report cannot tell the
    // payment from a buyer's request (a payment after the order was placed moves the stamp too,
    // and stamps run ahead of its second when changes come quickly), so it asks for nothing,
    // however long before it the order was paid; a later report with a newer stamp does.
    void payFinishNamesAnUnknownOrder_fetchesAndShowsIt_data()
    {
        QTest::addColumn<int>("paidBefore"); // seconds between its payment and the report's stamp
        QTest::newRow("stamped in the second of its payment") << 0;
        QTest::newRow("stamped a few seconds after its payment") << 3;
        QTest::newRow("paid long before") << 600;
    }
    void payFinishNamesAnUnknownOrder_fetchesAndShowsIt()
    {
        QFETCH(int, paidBefore);
        const QDateTime now = QDateTime::currentDateTime();
        fullList = {entry(10, 2, stamp(now))};
        details = {FakeResponse::Error(QNetworkReply::ConnectionRefusedError),
                   FakeResponse::Json(answer(QJsonObject{{"id", 900},
                                                         {"status", 1},
                                                         {"amount", 99999.99},
                                                         {"ctime", stamp(now.addSecs(-paidBefore))},
                                                         {"taker", "王五"}}))};
        const QJsonObject reported{
            {"id", 900}, {"status", 1}, {"ptime", stamp(now.addSecs(-paidBefore))}, {"ertime", stamp(now)}};
        payFinish = {reported};
        SoundLog played;
        OrderPane pane(user, options());
        QTRY_VERIFY(pane.list->FindOrderItem(900));
        QCOMPARE(sent("StaffOrder2").size(), 2);
        QCOMPARE(pane.ids(1), (QList<qint64>{900}));
        COrderItem* row = pane.list->FindOrderItem(900);
        QVERIFY(row->IsFlashing());
        QCOMPARE(row->GetOrder()->GetTaker(), QStringLiteral("王五"));
        QCOMPARE(row->GetOrder()->GetShopName(), QStringLiteral("老街牛肉面馆"));
        QTRY_COMPARE_WITH_TIMEOUT(played.played, QStringList{"audio/neworder.mp3"}, 6000);
        // Known from now on: the same report, polled again, fetches nothing more and asks nothing.
        const int polls = sent("PayFinishOrder").size();
        QTRY_VERIFY(sent("PayFinishOrder").size() >= polls + 2);
        QCOMPARE(sent("StaffOrder2").size(), 2);
        QCOMPARE(played.played, QStringList{"audio/neworder.mp3"});
        QVERIFY(!pane.serverTable());
        // Its buyer asks: the order reported paid with a newer stamp.
        QJsonObject asked = reported;
        asked.insert("ertime", stamp(now.addSecs(1)));
        payFinish = {reported, asked};
        QTRY_VERIFY(pane.serverTable() && ConfirmTableCell(pane.serverTable(), 900));
        QTRY_COMPARE_WITH_TIMEOUT(played.played, (QStringList{"audio/neworder.mp3", "audio/notify.wav"}), 6000);
    }

    // A reply naming more unknown orders than may wait: a few are fetched at a time, the rest are
    // turned away with one line in the log, not one line each.
    void manyUnknownOrders_fewFetches_oneWarning()
    {
        static int warned = 0;
        static QtMessageHandler previous = nullptr;
        warned = 0;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (text.contains(QLatin1String("not fetched")))
                ++warned;
            else
                previous(type, context, text);
        });
        const QString now = stamp(QDateTime::currentDateTime());
        fullList = {entry(10, 2, now)};
        details = {FakeResponse::Hang()};
        for (int id = 1000; id < 1000 + 10050; ++id)
            payFinish.append(QJsonObject{{"id", id}, {"status", 2}, {"ertime", now}});
        OrderPane pane(user, options());
        QTRY_VERIFY(sent("PayFinishOrder").size() >= 2);
        qInstallMessageHandler(previous);
        QCOMPARE(sent("StaffOrder2").size(), 4);
        QCOMPARE(warned, 1);
    }

    // One reply brings an order that became paid and a buyer's confirmation request: the
    // new-order sound is heard first; the confirmation's sound waits for it.
    void newOrderAndConfirmationInOneReply_newOrderSoundFirst()
    {
        const QDateTime now = QDateTime::currentDateTime();
        fullList = {entry(41, 2, stamp(now)), entry(42, 1, stamp(now))};
        payFinish = {QJsonObject{{"id", 41}, {"status", 1}, {"ertime", stamp(now.addSecs(5))}},
                     QJsonObject{{"id", 42}, {"status", 1}, {"ertime", stamp(now.addSecs(5))}}};
        SoundLog sounds;
        OrderPane pane(user, options());
        QTRY_VERIFY(!sounds.played.isEmpty());
        QCOMPARE(sounds.played.first(), QStringLiteral("audio/neworder.mp3"));
        QCOMPARE(sounds.played.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(sounds.played,
                                  (QStringList{"audio/neworder.mp3", "audio/notify.wav"}), 6000);
        QCOMPARE(pane.ids(1).first(), qint64(41));
        QVERIFY(ConfirmTableCell(pane.serverTable(), 42));
    }

    // The sounds load half a second after the first full list. A media back end that holds the
    // thread making a player for as long as it likes (a machine without a sound server or a DRM
    // device) holds neither the polls nor the sound a new order asks for.
    void soundBackEndStuck_pollsKeepTheirRhythm()
    {
        second = 100; // a pay/finish poll every 300 ms
        const QDateTime now = QDateTime::currentDateTime();
        fullList = {entry(41, 2, stamp(now))};
        HeldSoundBackEnd backEnd;
        SoundLog sounds;
        OrderPane pane(user, options());
        QTRY_COMPARE_WITH_TIMEOUT(backEnd.Entered(), 1, 10000);
        const int polled = sent("PayFinishOrder").size();
        QTRY_VERIFY_WITH_TIMEOUT(sent("PayFinishOrder").size() >= polled + 5, 10000);

        newOrders = {entry(43, 1, stamp(now.addSecs(1)))};
        pane.polls()->HttpNewOrder();
        QTRY_COMPARE(sounds.played, QStringList{"audio/neworder.mp3"});
        QCOMPARE(pane.ids(1), QList<qint64>{43});
        QVERIFY(pane.session->Sounds()->IsPlaying(QStringLiteral("audio/neworder.mp3")));
        QCOMPARE(backEnd.Left(), 0); // all of it while the back end held
        QVERIFY(!backEnd.InGuiThread());
        backEnd.Release();
    }

    // Twenty thousand buyers ask at once: the table takes them in one go and the polls go on.
    void hugeConfirmationReply_keepsThePollsGoing()
    {
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 1; i <= 20000; ++i) {
            fullList.append(entry(i, 1, stamp(now)));
            payFinish.append(QJsonObject{{"id", i}, {"status", 1}, {"ertime", stamp(now.addSecs(5))}});
        }
        OrderPane pane(user, options());
        QTRY_VERIFY_WITH_TIMEOUT(pane.serverTable(), 30000);
        const int asked = sent("PayFinishOrder").size();
        QTRY_VERIFY_WITH_TIMEOUT(sent("PayFinishOrder").size() > asked, 30000);
        QCOMPARE(ConfirmTable(pane.serverTable())->rowCount(), 20000);
        QCOMPARE(pane.serverTable()->TitleLabel()->text(), QStringLiteral("待确认订单 20000"));
    }

    // Two changes stamped in the same second with a poll between them: both are seen, each once.
    // The second one asks for confirmation, once, however often the poll sees it again.
    void sameSecondStamps_bothSeen_eachOnce()
    {
        byCursor = true;
        const QDateTime t = QDateTime::currentDateTime().addSecs(-60);
        fullList = {entry(10, 1, stamp(t.addSecs(-100))), entry(11, 1, stamp(t.addSecs(-100)))};
        SoundLog sounds;
        OrderPane pane(user, options());
        payFinish = {QJsonObject{{"id", 10}, {"status", 2}, {"ertime", stamp(t)}}};
        QTRY_VERIFY(pane.list->Book()->Find(10) && pane.list->Book()->Find(10)->GetStatus() == 2);
        payFinish.append(QJsonObject{{"id", 11}, {"status", 1}, {"ertime", stamp(t)}});
        QTRY_VERIFY(pane.serverTable());
        const int polled = sent("PayFinishOrder").size();
        QTRY_VERIFY(sent("PayFinishOrder").size() > polled + 3);
        QCOMPARE(fields(sent("PayFinishOrder").last().body).value(3).second, stamp(t.addSecs(-1)));
        QCOMPARE(ConfirmTable(pane.serverTable())->rowCount(), 1);
        QCOMPARE(sounds.count(QStringLiteral("audio/notify.wav")), 1);
        QCOMPARE(pane.ids(2), (QList<qint64>{10}));
    }

    // The platform changed an order and no poll told (a lost reply): the next reading of the full
    // list puts it right and logs it, brings the order the client never knew, and leaves every
    // other row alone.
    void healing_correctsWhatThePollsMissed()
    {
        second = 1; // the 10-minute reading comes after 0.6 s
        const QDateTime t = QDateTime::currentDateTime().addSecs(-60);
        fullList = {entry(20, 2, stamp(t)), entry(21, 1, stamp(t))};
        OrderPane pane(user, options());
        QTRY_VERIFY(pane.polls()->FullListLoaded());
        QPointer<COrderItem> untouched = pane.list->FindOrderItem(21);
        fullList = {entry(20, 3, stamp(t), stamp(t.addSecs(5))), entry(21, 1, stamp(t)),
                    entry(22, 1, stamp(t.addSecs(5)))};
        QTest::ignoreMessage(QtWarningMsg, "order 20: client status 2, platform status 3, corrected");
        QTRY_COMPARE_WITH_TIMEOUT(pane.ids(3), (QList<qint64>{20}), 5000);
        QTRY_VERIFY(pane.list->FindOrderItem(22));
        QVERIFY(pane.list->FindOrderItem(22)->IsFlashing());
        QCOMPARE(pane.list->FindOrderItem(21), untouched.data());
    }

    // A refused full list is asked for again after 5 s, then 10, 20 ... at most 5 minutes; after
    // a dead line, after 5 s again.
    void fullListRetry_backsOffOnlyWhileRefused()
    {
        second = 1000; // no retry fires while the test looks
        QByteArray refusal = "{\"status\":0,\"info\":\"登录已过期\"}";
        FakeNetworkManager::Install([&refusal](const RecordedRequest&) {
            return refusal.isEmpty() ? FakeResponse::Error(QNetworkReply::ConnectionRefusedError)
                                     : FakeResponse::Json(refusal);
        });
        OrderPane pane(user, options());
        QSignalSpy failed(pane.polls(), &COrderPolls::PollFailed);
        QList<int> waits;
        for (int i = 0; i < 9; ++i) {
            if (i == 8)
                refusal.clear(); // the line dies instead
            if (i > 0)
                pane.polls()->HttpAllOrder();
            QTRY_COMPARE(failed.size(), i + 1);
            for (QTimer* t : pane.polls()->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
                if (t->isActive())
                    waits << t->interval() / 1000;
        }
        QCOMPARE(waits, (QList<int>{5, 10, 20, 40, 80, 160, 300, 300, 5}));
        QCOMPARE(failed.first().at(1).toString(), QStringLiteral("登录已过期")); // the band's text
    }

    // An answer that trickles in, a byte a second (the clock a hundred times as fast), is a failed
    // poll, and the poll is asked again.
    void payFinishTrickling_isCutAndAskedAgain()
    {
        FloodServer line("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 9000\r\n\r\n",
                         10);
        const QByteArray apiHost = qgetenv("TARVIK_API_HOST");
        qputenv("TARVIK_API_HOST", line.hostPort().toLatin1());
        const auto restore = qScopeGuard([apiHost] { qputenv("TARVIK_API_HOST", apiHost); });
        payFinishOnTheLine = true;
        transferTimeout = 300;
        // The reason goes to the log; a dead line is no refusal, so the band gets no text of its own.
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "PayFinishOrder poll failed: fewer than 8 KiB .* in the last 0.3 s")));
        OrderPane pane(user, options());
        QSignalSpy failed(pane.polls(), &COrderPolls::PollFailed);
        QTRY_COMPARE(sent("PayFinishOrder").size(), 2);
        QCOMPARE(failed.value(0).value(0).toString(), QStringLiteral("PayFinishOrder"));
        QVERIFY(failed.value(0).value(1).toString().isEmpty());
        QVERIFY(line.sent > 0); // it did trickle
    }

    void lookups_useFull64BitIds_andAnOrderListedTwiceIsOneOrder()
    {
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
        const qint64 big = (qint64(1) << 32) + 1;
        fullList = {entry(123, 1, now), entry(4512, 2, now), entry(1345, 4, now), entry(big, 1, now),
                    entry(1, 1, now),   entry(77, 2, now),   entry(77, 4, now)};
        OrderPane pane(user, options());
        QTRY_COMPARE(pane.list->Book()->Orders().size(), 6);
        QCOMPARE(pane.list->FindOrderItem(big)->GetOrder()->GetId(), big);
        QCOMPARE(pane.list->FindOrderItem(1)->GetOrder()->GetId(), qint64(1));
        QCOMPARE(pane.list->Book()->Find(77)->GetStatus(), 2);
        QTRY_COMPARE(pane.list->FindOrderItem(77), pane.group(2)->Items().value(1).data());
        QVERIFY(!pane.group(4)->FindItem(77));
        QCOMPARE(pane.list->Book()->Find(1)->GetShopName(), QStringLiteral("老街牛肉面馆"));

        QCOMPARE(idsOf(pane.list->Book()->SearchOrders(QStringLiteral("12"))), (QList<qint64>{123, 4512}));
        QVERIFY(pane.list->Book()->SearchOrders(QStringLiteral("999")).isEmpty());
        QCOMPARE(idsOf(pane.list->Book()->SearchOrders(QString::number(big))), (QList<qint64>{big}));
    }

    void openOrderDetail_reusesTheRowsWindow()
    {
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
        fullList = {entry(5, 2, now), entry(6, 0, now)};
        OrderPane pane(user, options());
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
        QVERIFY(pane.detailWindow(5));
    }

    void anHourOfTheSameReport_asksForConfirmationOnce()
    {
        second = 1;
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
        const QString asked = QDateTime::currentDateTime().addSecs(60).toString("yyyy-MM-dd hh:mm:ss");
        fullList = {entry(42, 1, now)};
        // The buyer's request comes back on every poll of an hour, 3 seconds apart.
        payFinish = {QJsonObject{{"id", 42}, {"status", 1}, {"ertime", asked}}};
        SoundLog sounds;
        int polls = 0;
        OrderPane pane(user, options());
        connect(pane.polls(), &COrderPolls::PollSucceeded, this,
                [&polls](const QString& endpoint) { polls += endpoint == QLatin1String("PayFinishOrder"); });
        QVERIFY(TestSupport::WaitUntil([&polls] { return polls >= 1200; }, 120000));
        CWServerTable* table = pane.serverTable();
        QVERIFY(table);
        QCOMPARE(ConfirmTable(table)->rowCount(), 1);
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 1"));
        QCOMPARE(sounds.count(QStringLiteral("audio/notify.wav")), 1);
    }
};

TARVIK_TEST_MAIN(TestOrderPolls)
#include "tst_orderpolls.moc"
