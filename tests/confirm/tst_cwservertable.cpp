#include <QSignalSpy>
#include <QTableWidget>
#include <QUrlQuery>

#include "app/constants.h"
#include "app/sound.h"
#include "common/fakenetwork.h"
#include "common/orderfixture.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "common/windowparts.h"
#include "confirm/ui/cwservertable.h"
#include "orders/corder.h"
#include "session/cuser.h"

// The confirmation table on its own, with a fake platform answering "ToFinishOrder".
class TestCWServerTable : public QObject
{
    Q_OBJECT

    std::unique_ptr<CSession> session;
    COrderBook* book = nullptr;
    QList<COrder*> orders;
    FakeResponse confirmAnswer;

    COrder* order(qint64 id, int status = 1)
    {
        COrder* o = &NewOrder(*book, id);
        o->SetStatus(status);
        o->SetMember(QStringLiteral("m%1").arg(id));
        o->SetAmount(38.5);
        o->SetPtime(QDateTime(QDate(2026, 5, 1), QTime(9, 30)));
        orders.append(o);
        return o;
    }

    static QList<RecordedRequest> confirmations() { return FakeNetworkManager::Recorded(); }

    // The cells of each row must belong to one order.
    static bool rowsConsistent(QTableWidget* table)
    {
        for (int row = 0; row < table->rowCount(); ++row) {
            const QString id = table->item(row, 0)->text();
            if (table->item(row, 1)->text() != QStringLiteral("m") + id ||
                table->item(row, 5)->text() != QStringLiteral("待确认"))
                return false;
        }
        return true;
    }

private slots:
    void init()
    {
        confirmAnswer = FakeResponse::Json("{\"status\":1,\"info\":\"ok\"}");
        FakeNetworkManager::Install([this](const RecordedRequest&) { return confirmAnswer; });
        session = MakeSession(5, QStringLiteral("k&y"), QStringLiteral("tok"), 0, TestOptions(20));
        book = session->Book();
    }

    void cleanup()
    {
        FakeNetworkManager::Uninstall();
        orders.clear();
        book = nullptr;
        session.reset();
    }

    void rows_keepTheirCellsAndAlternateShades()
    {
        CWServerTable table(session.get());
        QCOMPARE(ConfirmTable(&table)->columnCount(), 6);
        QCOMPARE(ConfirmTable(&table)->horizontalHeaderItem(4)->text(), QStringLiteral("支付时间"));
        QVERIFY(table.AddOrder(order(100)));
        QCOMPARE(ConfirmTable(&table)->item(0, 0)->background().color(),
                 lightColor); // a table's first row is grey
        QCOMPARE(ConfirmTable(&table)->item(0, 5)->background().color(), QColor(255, 0, 0, 127));
        QVERIFY(table.AddOrder(order(99)));  // a smaller number after a larger one
        QVERIFY(table.AddOrder(order(250))); // and a larger one
        QVERIFY(!table.AddOrder(orders.first()));
        QVERIFY(!table.AddOrder(nullptr));
        QCOMPARE(ConfirmTable(&table)->rowCount(), 3);
        QVERIFY(rowsConsistent(ConfirmTable(&table)));

        QTableWidgetItem* second = ConfirmTableCell(&table, 99);
        const int row = second->row();
        QCOMPARE(ConfirmTable(&table)->item(row, 0)->background().color(), QColor(255, 255, 255, 255));
        QCOMPARE(second->background().color(), QColor(255, 0, 0, 200));
        QCOMPARE(second->foreground().color(), QColor(Qt::white));
        QCOMPARE(ConfirmTable(&table)->item(row, 2)->text(), QStringLiteral("已支付"));
        QCOMPARE(ConfirmTable(&table)->item(row, 3)->text(), QStringLiteral("38.50"));
        QCOMPARE(ConfirmTable(&table)->item(row, 4)->text(), QStringLiteral("05-01 09:30"));
        QCOMPARE(ConfirmTable(&table)->item(row, 0)->toolTip(), QStringLiteral("双击查看详情"));
        QCOMPARE(table.CountPaidOrders(), 3);
        QCOMPARE(table.TitleLabel()->text(), QStringLiteral("待确认订单 3"));

        // A batch lands as one block on top, its last order topmost, and skips what is there.
        QCOMPARE(table.AddOrders({order(300), orders.first(), order(301)}), 2);
        QCOMPARE(ConfirmTable(&table)->rowCount(), 5);
        QVERIFY(rowsConsistent(ConfirmTable(&table)));
        QCOMPARE(table.TitleLabel()->text(), QStringLiteral("待确认订单 5"));

        // Another table (another session's) shades its own rows, whatever the first one holds.
        CWServerTable other(session.get());
        QVERIFY(other.AddOrder(order(500)));
        QCOMPARE(ConfirmTable(&other)->item(0, 0)->background().color(), lightColor);
    }

    // An order served elsewhere (its detail window) while it waits here is done with. While the
    // row's own confirmation travels, a poll reporting the served order leaves the row to the reply.
    void orderServedElsewhere_leavesTheTable_data()
    {
        QTest::addColumn<QString>("confirming"); // the row's own confirmation, if any
        QTest::addColumn<QString>("cell");
        QTest::addColumn<int>("sounds");
        QTest::newRow("idle") << "" << "已完成" << 0;
        QTest::newRow("confirmed, the poll first") << "{\"status\":1,\"info\":\"ok\"}" << "完成" << 1;
        QTest::newRow("answer lost, the poll first") << "<html>" << "已完成" << 0;
    }
    void orderServedElsewhere_leavesTheTable()
    {
        QFETCH(QString, confirming);
        QFETCH(QString, cell);
        QFETCH(int, sounds);
        confirmAnswer = FakeResponse::Hold(confirming.toUtf8());
        CWServerTable table(session.get());
        COrder* waiting = order(70);
        COrder* other = order(72);
        table.AddOrders({waiting, order(71), other});
        QSignalSpy played(Sound::monitor(), &Sound::Monitor::Played);
        if (!confirming.isEmpty())
            table.SlotOrderOk(ConfirmTableCell(&table, 70));
        Report(*book, waiting, 2);
        QCOMPARE(ConfirmTableCell(&table, 70)->text(),
                 confirming.isEmpty() ? cell : QStringLiteral("确认中..."));
        // Another row is served elsewhere too; its sweep leaves a row whose confirmation travels.
        Report(*book, other, 2);
        QTRY_VERIFY(!ConfirmTableCell(&table, 72));
        if (confirming.isEmpty()) {
            QVERIFY(!ConfirmTableCell(&table, 70));
            return;
        }
        QCOMPARE(ConfirmTableCell(&table, 70)->text(), QStringLiteral("确认中..."));
        FakeNetworkManager::ReleaseHeld();
        QTRY_VERIFY(table.GetConfirmState(70) != CWServerTable::InFlight);
        QCOMPARE(ConfirmTableCell(&table, 70)->text(), cell);
        QCOMPARE(played.size(), sounds);
        QVERIFY(BoxLabel(&table) == nullptr || !BoxLabel(&table)->isVisible());
        QCOMPARE(table.TitleLabel()->text(), QStringLiteral("待确认订单 1"));
        QTRY_VERIFY(!ConfirmTableCell(&table, 70));
        QCOMPARE(confirmations().size(), 1);
    }

    void clicks_onlyTheConfirmCellConfirms_once()
    {
        confirmAnswer = FakeResponse::Hang();
        CWServerTable table(session.get());
        table.AddOrder(order(4294967297LL));
        QList<COrder*> opened;
        connect(&table, &CWServerTable::SignalOpenOrderDetail, this, [&](COrder* o) { opened.append(o); });
        QTableWidgetItem* confirm = ConfirmTableCell(&table, 4294967297LL);
        QTableWidgetItem* member = ConfirmTable(&table)->item(confirm->row(), 1);

        table.SlotOrderOk(member);
        QCOMPARE(confirmations().size(), 0);
        emit ConfirmTable(&table)->itemDoubleClicked(confirm);
        QCOMPARE(opened.size(), 0);
        emit ConfirmTable(&table)->itemDoubleClicked(member);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first(), orders.first());

        emit ConfirmTable(&table)->itemClicked(confirm);
        emit ConfirmTable(&table)->itemClicked(confirm);
        QCOMPARE(confirmations().size(), 1);
        QCOMPARE(confirm->text(), QStringLiteral("确认中..."));
        QCOMPARE(table.GetConfirmState(4294967297LL), int(CWServerTable::InFlight));
        const QByteArray body = confirmations().first().body;
        QCOMPARE(body, QByteArray("id=5&key=k%26y&token=tok&oid=4294967297"));
        QVERIFY(confirmations().first().request.url().path().endsWith(QLatin1String("/ToFinishOrder")));
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("body"); // empty: a network error
        QTest::addColumn<QString>("cell");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString network = QStringLiteral("都是网络的错！\n请检查网络连接，谢谢！");
        QTest::newRow("1") << QByteArray("{\"status\":1,\"info\":\"ok\"}") << "完成" << 2 << "";
        QTest::newRow("1 as text") << QByteArray("{\"status\":\"1\"}") << "完成" << 2 << "";
        QTest::newRow("3") << QByteArray("{\"status\":3,\"info\":\"4\"}") << "已完成" << 4 << "";
        QTest::newRow("3 garbled") << QByteArray("{\"status\":3,\"info\":\"x\"}") << "重 试" << 1
                                   << "失败：确认服务！\nx";
        QTest::newRow("2") << QByteArray("{\"status\":2,\"info\":\"无需确认\"}") << "重 试" << 1
                           << "无需确认";
        QTest::newRow("0") << QByteArray("{\"status\":0,\"info\":\"忙\"}") << "重 试" << 1
                           << "失败：确认服务！\n忙";
        QTest::newRow("not json") << QByteArray("<html>") << "重 试" << 1 << network;
        QTest::newRow("array") << QByteArray("[1]") << "重 试" << 1 << network;
        QTest::newRow("network") << QByteArray() << "重 试" << 1 << network;
    }
    void outcomes()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, cell);
        QFETCH(int, status);
        QFETCH(QString, message);
        confirmAnswer = body.isEmpty() ? FakeResponse::Error(QNetworkReply::ConnectionRefusedError)
                                       : FakeResponse::Json(body);
        CWServerTable table(session.get());
        COrder* waiting = order(7);
        table.AddOrder(waiting);
        table.AddOrder(order(8));
        QList<COrder*> moved;
        connect(book, &COrderBook::StatusChanged, this, [&](COrder* o) { moved.append(o); });
        QSignalSpy played(Sound::monitor(), &Sound::Monitor::Played);

        table.SlotOrderOk(ConfirmTableCell(&table, 7));
        QTRY_VERIFY(table.GetConfirmState(7) != CWServerTable::InFlight);
        QTableWidgetItem* confirm = ConfirmTableCell(&table, 7);
        QCOMPARE(confirm->text(), cell);
        QCOMPARE(waiting->GetStatus(), status);
        QCOMPARE(ConfirmTable(&table)->item(confirm->row(), 2)->text(), StatusName(status));
        if (status == 1) {
            QCOMPARE(moved.size(), 0);
            QCOMPARE(BoxLabel(&table)->text(), message);
            QVERIFY(BoxLabel(&table)->isVisible() || !table.isVisible());
            QCOMPARE(confirm->toolTip(), QStringLiteral("重 试"));
            QCOMPARE(table.GetConfirmState(7), int(CWServerTable::Idle));
            return;
        }
        QCOMPARE(moved.size(), 1);
        QCOMPARE(played.size(), cell == QStringLiteral("完成") ? 1 : 0);
        // The title drawn in the window's head counts down with the one the window system gets.
        QCOMPARE(table.windowTitle(), QStringLiteral("待确认订单 1"));
        QCOMPARE(table.TitleLabel()->text(), QStringLiteral("待确认订单 1"));
        QCOMPARE(confirm->background().color(),
                 ConfirmTable(&table)->item(confirm->row(), 0)->background().color());
        // A confirmed row leaves after the delay; the paid one stays.
        table.SlotOrderOk(confirm);
        QCOMPARE(confirmations().size(), 1);
        QTRY_VERIFY(!ConfirmTableCell(&table, 7));
        QCOMPARE(ConfirmTable(&table)->rowCount(), 1);
        QVERIFY(ConfirmTableCell(&table, 8));
    }

    void closing_onlyHides()
    {
        QPointer<CWServerTable> table = new CWServerTable(session.get());
        table->AddOrder(order(3));
        table->Show();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        table->close();
        QTest::qWait(50);
        QVERIFY(table);
        QVERIFY(table->isHidden());
        QCOMPARE(ConfirmTable(table)->rowCount(), 1);
        table->resize(900, 500);
        QCOMPARE(ConfirmTable(table)->size(), table->BottomBand()->size());
        delete table;
    }
};

TARVIK_TEST_MAIN(TestCWServerTable)
#include "tst_cwservertable.moc"
