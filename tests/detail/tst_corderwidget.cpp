#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTcpServer>

#include "app/sound.h"
#include "app/ui/desktop.h"
#include "common/fakenetwork.h"
#include "common/orderfixture.h"
#include "common/pdfpages.h"
#include "common/platformprocess.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "common/windowparts.h"
#include "detail/ui/corderwidget.h"
#include "net/request.h"
#include "orders/corder.h"
#include "ui/cweblabel.h"
#include "ui/msgbox.h"

Q_DECLARE_METATYPE(QJsonArray)

// The order detail window as a staff member uses it, against the local platform.
class TestCOrderWidget : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    PlatformProcess::Session login;
    std::unique_ptr<CSession> staff; // the session the windows work for, one a test
    COrderBook* book = nullptr;
    QTemporaryDir work;

    static QJsonObject item(const QString& name, int num, double price, double total = -1)
    {
        QJsonObject entry{
            {"name", name}, {"num", num}, {"price", price}, {"pics", "/img/item/beef-noodles.png"}};
        if (total >= 0)
            entry.insert("total", total);
        return entry;
    }

    // A window on `order` the way an order row opens it.
    QPointer<COrderWidget> open(COrder* order, CSession* session)
    {
        QPointer<COrderWidget> window = new COrderWidget(order, session);
        window->SetTitle(QStringLiteral("%1 %2").arg(order->GetId()).arg(QStringLiteral("订单详情")));
        window->Show();
        return window;
    }

    // The window's parts, by their names.
    static QLabel* label(COrderWidget* window, const char* name) { return PartOf<QLabel>(window, name); }
    static QPushButton* button(COrderWidget* window, const char* name)
    {
        return PartOf<QPushButton>(window, name);
    }
    static QLineEdit* field(COrderWidget* window) { return PartOf<QLineEdit>(window, "inputEdit"); }
    static QList<CWebLabel*> pictures(COrderWidget* window)
    {
        return ItemLabels<CWebLabel>(window, "pictureLabel");
    }

    // Waits until the detail has arrived and the window has grown (or shrunk) to its final height.
    static bool settled(COrderWidget* window, int height)
    {
        return button(window, "printButton")->isVisible() && window->height() == height;
    }

    static QString boxText(COrderWidget* window)
    {
        const QLabel* box = MessageBoxOf(window)->MsgBoxLabel();
        return box && box->isVisible() ? box->text() : QString();
    }

    qint64 create(const QJsonObject& fields)
    {
        const qint64 id = platform->createOrder(fields);
        if (!id)
            qWarning("the platform did not create the order");
        return id;
    }

    static QList<RecordedRequest> requestsTo(const QString& endpoint)
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest& r : FakeNetworkManager::Recorded())
            if (r.request.url().path().endsWith(QLatin1Char('/') + endpoint))
                found.append(r);
        return found;
    }

    // From now on the test's session talks to a fake platform: its requests go through a manager
    // made while the fake is installed.
    void useFake(FakeNetworkManager::Handler handler)
    {
        FakeNetworkManager::Install(std::move(handler));
        staff = MakeSession(login);
        book = staff->Book();
    }

    // A fake platform: the detail answers `detail`, finishing and replying hang.
    void fakePlatform(const QByteArray& detail)
    {
        useFake([detail](const RecordedRequest& r) {
            if (r.request.url().path().endsWith(QLatin1String("/StaffOrder2")))
                return FakeResponse::Json(detail);
            return FakeResponse::Hang();
        });
    }

    // Opens a paid or reviewed order and waits for its action row; the field shows its hint.
    QPointer<COrderWidget> openWithActionRow(COrder* order)
    {
        QPointer<COrderWidget> window = open(order, staff.get());
        if (!QTest::qWaitFor([&] { return field(window)->isVisible(); }, 10000))
            qWarning("the action row did not appear");
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window))
            qWarning("the detail window did not become active");
        // Away from the field, so that the test's own focus-in is the one that clears the hint.
        button(window, "actionButton")->setFocus();
        return window;
    }

    static void typeAndPressEnter(COrderWidget* window, const QString& text)
    {
        field(window)->setFocus();
        QTRY_VERIFY(field(window)->hasFocus());
        QCOMPARE(field(window)->text(), QString()); // the hint went away
        field(window)->insert(text);
        QTest::keyClick(field(window), Qt::Key_Return);
    }

private slots:
    void initTestCase()
    {
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        platform->serveClient();
        login = platform->login(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(login.isValid());
    }

    void init()
    {
        staff = MakeSession(login);
        book = staff->Book();
        platform->serveClient();
        platform->clearFaults();
    }

    void cleanup()
    {
        FakeNetworkManager::Uninstall();
        // Windows a test left open go before the orders they show.
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<COrderWidget*>(widget))
                delete widget;
        book = nullptr;
        staff.reset();
    }

    void detail_fillsTheRecordAndSizesTheWindow_data()
    {
        QTest::addColumn<QJsonArray>("out");
        QTest::addColumn<QJsonArray>("commo");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("areaHeight"); // 0: the items area stays hidden
        QTest::addColumn<bool>("takeout");
        QTest::addColumn<QString>("amountText");

        QTest::newRow("no items") << QJsonArray() << QJsonArray() << 400 << 0 << false
                                  << "实付金额：30.00 元";
        QTest::newRow("takeout and in-shop items")
            << QJsonArray{item("外卖牛肉面", 1, 18), item("凉皮", 2, 10, 21.5)}
            << QJsonArray{item("酸梅汤", 1, 4)} << 595 << 180 << true << "共计 4 件商品，实付金额：30.00 元";
        QTest::newRow("in-shop items only") << QJsonArray() << QJsonArray{item("红烧牛肉面", 2, 22)} << 595
                                            << 180 << false << "共计 2 件商品，实付金额：30.00 元";
        QTest::newRow("quantities all 0")
            << QJsonArray{item("外卖牛肉面", 0, 18)} << QJsonArray{item("凉皮", 0, 10)} << 400 << 180 << false
            << "实付金额：30.00 元";
    }
    void detail_fillsTheRecordAndSizesTheWindow()
    {
        QFETCH(QJsonArray, out);
        QFETCH(QJsonArray, commo);
        QFETCH(int, height);
        QFETCH(int, areaHeight);
        QFETCH(bool, takeout);
        QFETCH(QString, amountText);

        const qint64 id = create({{"status", 2},
                                  {"amount", 30},
                                  {"taker", "张三"},
                                  {"tel", "13912345678"},
                                  {"address", "幸福路 8 号 3 单元"},
                                  {"message", "少放辣"},
                                  {"out", out},
                                  {"commo", commo}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(2);
        order.SetShopName(QStringLiteral("老街牛肉面馆"));
        QPointer<COrderWidget> window = open(&order, staff.get());
        QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(window->height(), 530);
        QVERIFY(MessageBoxOf(window)->IsLoading());
        QVERIFY(!button(window, "printButton")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(settled(window, height), 10000);

        // The shared record now holds the detail: items from "out" first, then "commo".
        QCOMPARE(order.GetTaker(), QStringLiteral("张三"));
        QCOMPARE(order.GetTel(), QStringLiteral("13912345678"));
        QCOMPARE(order.GetAddress(), QStringLiteral("幸福路 8 号 3 单元"));
        QCOMPARE(order.GetMessage(), QStringLiteral("少放辣"));
        QCOMPARE(order.GetAmount(), 30.0f);
        QCOMPARE(order.GetTakeout(), takeout);
        QStringList expectedNames;
        for (const QJsonArray& list : {out, commo})
            for (const QJsonValue& entry : list)
                expectedNames << entry.toObject().value("name").toString();
        QStringList names;
        for (const CCommodity* c : order.GetCommodities())
            names << c->GetName();
        QCOMPARE(names, expectedNames);

        QVERIFY(!MessageBoxOf(window)->IsLoading());
        QCOMPARE(PartOf<QScrollArea>(window, "itemsArea")->isVisible(), areaHeight > 0);
        if (areaHeight > 0)
            QCOMPARE(PartOf<QScrollArea>(window, "itemsArea")->height(), areaHeight);
        QCOMPARE(label(window, "amountLabel")->text(), amountText);
        QCOMPARE(label(window, "takeoutLabel")->text(), takeout ? QStringLiteral("外卖") : QString());
        QCOMPARE(label(window, "takerLabel")->text(), QStringLiteral("收件人：张三"));
        QCOMPARE(label(window, "statusLabel")->text(), QStringLiteral("状态：已服务"));
        QCOMPARE(label(window, "messageLabel")->text(), QStringLiteral("买家留言：少放辣"));
        QVERIFY(!field(window)->isVisible()); // served: no action row
        // Right-aligned lines end 20 pixels from the right edge.
        QCOMPARE(label(window, "amountLabel")->geometry().right() + 1, window->width() - 20);

        // One row per item, alternating backgrounds, pictures 131 wide and fetched from the platform.
        QCOMPARE(pictures(window).size(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(ItemLabels(window, "nameLabel").at(i)->text(),
                     QStringLiteral("商品名称：") + names.at(i));
            QCOMPARE(pictures(window).at(i)->width(), 131);
            const auto* background = pictures(window).at(i)->parentWidget()->findChild<QLabel*>(
                i % 2 ? QStringLiteral("lblBackground_2") : QStringLiteral("lblBackground_1"));
            QVERIFY(background);
            QTRY_VERIFY_WITH_TIMEOUT(!pictures(window).at(i)->pixmap(Qt::ReturnByValue).isNull(), 10000);
        }
        window->close();
        QTRY_VERIFY(!window);
    }

    void detail_statusAndDates_data()
    {
        QTest::addColumn<int>("listStatus");
        QTest::addColumn<int>("platformStatus");
        QTest::addColumn<QList<int>>("emitted");
        QTest::newRow("same status") << 1 << 1 << QList<int>();
        QTest::newRow("paid order served meanwhile") << 1 << 2 << QList<int>{2};
        QTest::newRow("served order reviewed meanwhile") << 2 << 3 << QList<int>{3};
    }
    void detail_statusAndDates()
    {
        QFETCH(int, listStatus);
        QFETCH(int, platformStatus);
        QFETCH(QList<int>, emitted);

        // Null times (not paid yet, not served yet) must not wipe what the record knows.
        const qint64 id =
            create({{"status", platformStatus}, {"ptime", QJsonValue()}, {"stime", QJsonValue()}});
        const QDateTime known(QDate(2025, 3, 1), QTime(12, 30, 0));
        COrder& order = NewOrder(*book, id);
        order.SetStatus(listStatus);
        order.SetPtime(known);
        order.SetStime(known.addSecs(600));
        QPointer<COrderWidget> window = new COrderWidget(&order, staff.get());
        QSignalSpy operated(window.data(), &COrderWidget::signalOperateMe);
        window->Show();
        QTRY_VERIFY_WITH_TIMEOUT(button(window, "printButton")->isVisible(), 10000);

        QList<int> states;
        for (const QList<QVariant>& call : operated)
            states << call.at(0).toInt();
        QCOMPARE(states, emitted);
        QCOMPARE(order.GetStatus(), platformStatus);
        QCOMPARE(order.GetPtime(), known);
        QCOMPARE(order.GetStime(), known.addSecs(600));
        QCOMPARE(label(window, "payTimeLabel")->text(), QStringLiteral("支付日期：2025-03-01 12:30:00"));
        QVERIFY(order.GetCtime().isValid());
    }

    void detail_unusualReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("box");  // persistent box text; empty: none
        QTest::addColumn<float>("amount"); // the record's amount afterwards
        QTest::addColumn<bool>("applied"); // the record took the detail

        const QByteArray noAmount = "{\"status\":1,\"info\":{\"id\":777,\"status\":1,\"taker\":\"李四\","
                                    "\"ptime\":null,\"out\":[],\"commo\":[]}}";
        const QByteArray otherId =
            "{\"status\":1,\"info\":{\"id\":778,\"status\":2,\"amount\":9,\"taker\":\"李四\"}}";
        QTest::newRow("amount absent") << noAmount << QString() << 0.0f << true;
        QTest::newRow("id of another order") << otherId << QString::fromUtf8(otherId) << 12.5f << false;
        QTest::newRow("refused") << QByteArray("{\"status\":0,\"info\":\"订单不存在：777\"}")
                                 << QStringLiteral("订单不存在：777") << 12.5f << false;
        QTest::newRow("not json") << QByteArray("<html>502 Bad Gateway</html>")
                                  << QStringLiteral("<html>502 Bad Gateway</html>") << 12.5f << false;
        QTest::newRow("json array") << QByteArray("[1,2]") << QStringLiteral("[1,2]") << 12.5f << false;
    }
    void detail_unusualReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, box);
        QFETCH(float, amount);
        QFETCH(bool, applied);

        fakePlatform(reply);
        COrder& order = NewOrder(*book, 777);
        order.SetStatus(1);
        order.SetAmount(12.5f);
        order.SetTaker(QStringLiteral("王五"));
        QPointer<COrderWidget> window = open(&order, staff.get());
        QTRY_VERIFY(!MessageBoxOf(window)->IsLoading());

        const QList<RecordedRequest> sent = requestsTo(QStringLiteral("StaffOrder2"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().body, QStringLiteral("id=%1&key=%2&token=%3&oid=777")
                                        .arg(staff->User()->GetId())
                                        .arg(staff->User()->GetKey(), staff->User()->GetToken())
                                        .toUtf8());
        QCOMPARE(order.GetAmount(), amount);
        QCOMPARE(order.GetTaker(), applied ? QStringLiteral("李四") : QStringLiteral("王五"));
        QCOMPARE(order.GetStatus(), 1);
        QCOMPARE(boxText(window), box);
        if (!box.isEmpty()) {
            QVERIFY(!MessageBoxOf(window)->MsgBoxTimer()); // stays until replaced
            QVERIFY(!button(window, "printButton")->isVisible());
        } else {
            QTRY_VERIFY(settled(window, 400));
            QCOMPARE(label(window, "amountLabel")->text(), QStringLiteral("实付金额：0.00 元"));
        }
    }

    void detail_failureOffersARetry_data()
    {
        QTest::addColumn<QString>("fault"); // platform fault kind, "timeout" or "dead"
        QTest::newRow("http 500") << "http500";
        QTest::newRow("connection closed") << "close";
        QTest::newRow("no answer") << "timeout";
        QTest::newRow("server gone") << "dead";
    }
    void detail_failureOffersARetry()
    {
        QFETCH(QString, fault);
        const qint64 id =
            create({{"status", 2}, {"out", QJsonArray{item("外卖牛肉面", 1, 18), item("凉皮", 1, 10)}}});

        QTcpServer closedPort;
        if (fault == QLatin1String("dead")) {
            QVERIFY(closedPort.listen(QHostAddress::LocalHost));
            const quint16 port = closedPort.serverPort();
            closedPort.close();
            qputenv("TARVIK_API_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
        } else if (fault == QLatin1String("timeout")) {
            QVERIFY(platform->setFault(QStringLiteral("StaffOrder2"), QStringLiteral("hang")));
            // A session whose answers time out soon.
            staff = MakeSession(login, 0, TestOptions(1000, 500));
            book = staff->Book();
        } else {
            QVERIFY(platform->setFault(QStringLiteral("StaffOrder2"), fault));
        }

        COrder& order = NewOrder(*book, id);
        order.SetStatus(2);
        QPointer<COrderWidget> window = open(&order, staff.get());
        QTRY_VERIFY_WITH_TIMEOUT(button(window, "retryButton")->isVisible(), 10000);
        QCOMPARE(boxText(window), QStringLiteral("失败：获取订单详情！\n请检查网络连接，谢谢！"));
        QVERIFY(!MessageBoxOf(window)->IsLoading());
        QVERIFY(!button(window, "printButton")->isVisible());
        QCOMPARE(order.GetCommodities().size(), 0);
        // The box must not cover the button it asks the staff member to press.
        const QRect box = MessageBoxOf(window)->MsgBoxLabel()->geometry();
        const QRect retry(window->BottomBand()->mapTo(window, button(window, "retryButton")->pos()),
                          button(window, "retryButton")->size());
        QVERIFY(!box.intersects(retry));
        QVERIFY(static_cast<QWidget*>(window.data())->rect().contains(retry));

        // The platform answers again: one click fills the window, and a second fill does not
        // stack its rows over the first one's.
        platform->clearFaults();
        platform->serveClient();
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (attempt == 1) {
                button(window, "retryButton")->show();
                button(window, "retryButton")->raise();
            }
            QTest::mouseClick(button(window, "retryButton"), Qt::LeftButton);
            QVERIFY(!button(window, "retryButton")->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(settled(window, 595) && !MessageBoxOf(window)->IsLoading(), 10000);
            QCOMPARE(boxText(window), QString());
            QCOMPARE(order.GetCommodities().size(), 2);
            QCOMPARE(PartOf<QWidget>(window, "itemsContainer")
                         ->findChildren<QLabel*>(QStringLiteral("lblBackground_1"))
                         .size(),
                     1);
            QCOMPARE(PartOf<QWidget>(window, "itemsContainer")
                         ->findChildren<QLabel*>(QStringLiteral("lblBackground_2"))
                         .size(),
                     1);
            QCOMPARE(PartOf<QWidget>(window, "itemsContainer")->height(), 2 * 90);
        }
    }

    // Served elsewhere (the confirmation table, another PC) while the window is open: the window
    // shows the new status and drops the password row; paid again, the row comes back.
    void statusChangedElsewhere_windowFollows()
    {
        const qint64 id = create({{"status", 1}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(1);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        Report(*book, &order, 2);
        QCOMPARE(label(window, "statusLabel")->text(), QStringLiteral("状态：已服务"));
        QVERIFY(!field(window)->isVisible());
        QVERIFY(!button(window, "actionButton")->isVisible());
        Report(*book, &order, 1);
        QCOMPARE(label(window, "statusLabel")->text(), QStringLiteral("状态：已支付"));
        QVERIFY(field(window)->isVisible());
        QCOMPARE(button(window, "actionButton")->text(), QStringLiteral("结束服务"));
        delete window.data();
    }

    // Reports that cross the window's own finish. The buyer reviews: the review row works, whether
    // the finish's "ok" arrives after the review or the review after the finish. A report of the
    // paid order made before the finish, but stamped after anything the book knew, arrives late:
    // it was made before the platform answered the finish (its Date), so nothing goes back to paid
    // and nothing rings.
    void ownFinish_crossingReports_data()
    {
        QTest::addColumn<QString>("order"); // of the finish's "ok" and the report
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("changes");
        QTest::addColumn<QByteArray>("answer"); // the finish's
        QTest::addColumn<QString>("box");
        const QByteArray ok = "{\"status\":1,\"info\":\"ok\"}";
        QTest::newRow("review, then ok") << "report first" << 3 << 3 << 1 << ok << "";
        QTest::newRow("ok, then review") << "ok first" << 3 << 3 << 2 << ok << "成功：结束服务";
        QTest::newRow("ok, then an older report of paid") << "ok first" << 1 << 2 << 1 << ok << "成功：结束服务";
        // The answer is lost, but a poll told meanwhile that the order is served: no failure to
        // report beside its new status.
        QTest::newRow("answer lost, served meanwhile")
            << "report first" << 2 << 2 << 1 << QByteArray("<html>") << "订单状态已更新：已服务";
    }
    void ownFinish_crossingReports()
    {
        QFETCH(QString, order);
        QFETCH(int, reported);
        QFETCH(int, status);
        QFETCH(int, changes);
        QFETCH(QByteArray, answer);
        QFETCH(QString, box);
        // The platform's clock runs a minute ahead of what the book knows of the order.
        const QDateTime known = QDateTime::currentDateTime().addSecs(-120);
        FakeNetworkManager::SetPlatformClock(known.addSecs(60));
        useFake([answer](const RecordedRequest& r) {
            if (r.request.url().path().endsWith(QLatin1String("/StaffOrder2")))
                return FakeResponse::Json("{\"status\":1,\"info\":{\"id\":59,\"status\":1}}");
            return FakeResponse::Hold(answer);
        });
        COrder& record = NewOrder(*book, 59);
        record.SetStatus(1);
        record.SetErtime(known);
        QPointer<COrderWidget> window = openWithActionRow(&record);
        QSignalSpy changed(book, &COrderBook::StatusChanged);
        typeAndPressEnter(window, QStringLiteral("123456"));
        QTRY_COMPARE(requestsTo("StaffFinishOrder").size(), 1);
        if (order == QLatin1String("report first")) {
            Report(*book, &record, reported, 30);
            FakeNetworkManager::ReleaseHeld();
        } else {
            FakeNetworkManager::ReleaseHeld();
            QTRY_COMPARE(record.GetStatus(), 2);
            Report(*book, &record, reported, 30);
        }
        QCOMPARE(record.GetStatus(), status);
        QCOMPARE(changed.size(), changes);
        if (!box.isEmpty())
            QTRY_COMPARE(boxText(window), box);
        if (status != 3)
            return;
        QVERIFY(button(window, "actionButton")->isVisible());
        QVERIFY(button(window, "actionButton")->isEnabled());
        QCOMPARE(button(window, "actionButton")->text(), QStringLiteral("回复评价"));
        QCOMPARE(field(window)->text(), QStringLiteral("请输入评价内容"));
    }

    void finish_rightPassword_servesTheOrder()
    {
        const qint64 id =
            create({{"status", 1}, {"password", "123456"}, {"out", QJsonArray{item("凉皮", 1, 10)}}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(1);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        QVERIFY(field(window)->isVisible());
        QCOMPARE(button(window, "actionButton")->text(), QStringLiteral("结束服务"));
        QCOMPARE(field(window)->text(), QStringLiteral("请输入订单密码"));
        QVERIFY(!label(window, "reviewLabel")->isVisible());
        // The row sits under the display, centred, inside the bottom band.
        const QRect input = field(window)->geometry();
        QCOMPARE(input.bottom() + 1 + button(window, "actionButton")->height() - input.height(),
                 window->BottomBandHeight() - 10);
        QCOMPARE(button(window, "actionButton")->x(), input.right() + 1);

        QSignalSpy operated(window.data(), &COrderWidget::signalOperateMe);
        const int soundsBefore = Sound::monitor()->Count();
        typeAndPressEnter(window, QStringLiteral("123456"));
        QVERIFY(!button(window, "actionButton")->isEnabled());
        QCOMPARE(button(window, "actionButton")->text(), QStringLiteral("请稍候"));
        QCOMPARE(field(window)->selectedText(), QStringLiteral("123456"));

        QTRY_COMPARE_WITH_TIMEOUT(operated.size(), 1, 10000);
        QCOMPARE(operated.first().at(0).toInt(), 2);
        QCOMPARE(Sound::monitor()->Count(), soundsBefore + 1);
        QCOMPARE(Sound::monitor()->LastSound(), QStringLiteral("audio/server.mp3"));
        QCOMPARE(label(window, "statusLabel")->text(), QStringLiteral("状态：已服务"));
        QCOMPARE(boxText(window), QStringLiteral("成功：结束服务"));
        QVERIFY(MessageBoxOf(window)->MsgBoxTimer());
        QCOMPARE(MessageBoxOf(window)->MsgBoxTimer()->interval(), 5000);
        QVERIFY(!field(window)->isVisible());
        QVERIFY(!button(window, "actionButton")->isVisible());
        QCOMPARE(platform->order(id).value("status").toInt(), 2);
        QVERIFY(!platform->order(id).value("stime").toString().isEmpty());
        QTest::qWait(200);
        QCOMPARE(operated.size(), 1);
    }

    void actionFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("fault"); // "" : the platform refuses on its own
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");

        QTest::newRow("wrong password") << 1 << ""
                                        << "999999"
                                        << "失败：结束服务\n订单密码错误，请向买家核对";
        QTest::newRow("finish, http 500") << 1 << "http500"
                                          << "123456"
                                          << "失败：结束服务！\n请检查网络连接，谢谢！";
        QTest::newRow("finish, not json") << 1 << "notjson"
                                          << "123456"
                                          << "失败：结束服务！\n请检查网络连接，谢谢！";
        QTest::newRow("reply refused") << 3 << "refuse"
                                       << "谢谢惠顾"
                                       << "失败：评价！\n服务器繁忙，请稍后再试";
        QTest::newRow("reply, http 500") << 3 << "http500"
                                         << "谢谢惠顾"
                                         << "失败：评价！\n请检查网络连接，谢谢！";
        QTest::newRow("reply, json array") << 3 << "array"
                                           << "谢谢惠顾"
                                           << "失败：评价！\n请检查网络连接，谢谢！";
    }
    void actionFailures()
    {
        QFETCH(int, status);
        QFETCH(QString, fault);
        QFETCH(QString, typed);
        QFETCH(QString, message);

        const qint64 id = create({{"status", status}, {"password", "123456"}, {"content", "还行"}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(status);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        QVERIFY(field(window)->isVisible());
        const QString endpoint =
            status == 1 ? QStringLiteral("StaffFinishOrder") : QStringLiteral("StaffReply");
        if (!fault.isEmpty())
            QVERIFY(platform->setFault(endpoint, fault));
        QSignalSpy operated(window.data(), &COrderWidget::signalOperateMe);

        typeAndPressEnter(window, typed);
        QTRY_VERIFY_WITH_TIMEOUT(button(window, "actionButton")->isEnabled(), 10000);
        QCOMPARE(boxText(window), message);
        QVERIFY(!MessageBoxOf(window)->MsgBoxTimer()); // stays until replaced
        QCOMPARE(button(window, "actionButton")->text(),
                 status == 1 ? QStringLiteral("结束服务") : QStringLiteral("回复评价"));
        QVERIFY(button(window, "actionButton")->isVisible());
        QCOMPARE(field(window)->text(), typed);
        QCOMPARE(operated.size(), 0);
        QCOMPARE(platform->order(id).value("status").toInt(), status);
        QCOMPARE(label(window, "statusLabel")->text(), QStringLiteral("状态：") + StatusName(status));
    }

    void typedText_reachesThePlatformExactly_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("password with & and =") << 1 << "12&oid=3";
        QTest::newRow("password with + and %") << 1 << "a+b%20c";
        QTest::newRow("Chinese password") << 1 << "芝麻开门";
        QTest::newRow("reply with & + =") << 3 << "谢谢&再来+1=好评";
        QTest::newRow("reply with a field name") << 3 << "好的&replay=x&oid=1";
    }
    void typedText_reachesThePlatformExactly()
    {
        QFETCH(int, status);
        QFETCH(QString, text);

        const qint64 id = create({{"status", status}, {"password", text}, {"content", "不错"}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(status);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        QVERIFY(field(window)->isVisible());
        QSignalSpy operated(window.data(), &COrderWidget::signalOperateMe);
        typeAndPressEnter(window, text);
        QTRY_COMPARE_WITH_TIMEOUT(operated.size(), 1, 10000);

        const QJsonObject stored = platform->order(id);
        if (status == 1) {
            // The platform served it, so the password it compared was exactly the typed one.
            QCOMPARE(stored.value("status").toInt(), 2);
            QCOMPARE(operated.first().at(0).toInt(), 2);
        } else {
            QCOMPARE(stored.value("status").toInt(), 4);
            QCOMPARE(stored.value("reply").toString(), text);
            QCOMPARE(operated.first().at(0).toInt(), 4);
        }
    }

    void reply_completesTheOrder()
    {
        const qint64 id = create({{"status", 3}, {"content", "味道很好，面很劲道"}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(3);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        QVERIFY(field(window)->isVisible());
        QCOMPARE(button(window, "actionButton")->text(), QStringLiteral("回复评价"));
        QCOMPARE(field(window)->text(), QStringLiteral("请输入评价内容"));
        QVERIFY(label(window, "reviewLabel")->isVisible());
        QCOMPARE(label(window, "reviewLabel")->text(), QStringLiteral("买家评价：味道很好，面很劲道"));
        QCOMPARE(label(window, "reviewLabel")->y() + label(window, "reviewLabel")->height(),
                 field(window)->y());

        QSignalSpy operated(window.data(), &COrderWidget::signalOperateMe);
        field(window)->setFocus();
        QTRY_COMPARE(field(window)->text(), QString());
        field(window)->insert(QStringLiteral("谢谢您的支持"));
        // The button submits on the left button's release; its clicked() does nothing of its own.
        QTest::mouseClick(button(window, "actionButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(operated.size(), 1, 10000);
        QCOMPARE(operated.first().at(0).toInt(), 4);
        QCOMPARE(label(window, "statusLabel")->text(), QStringLiteral("状态：已完成"));
        QCOMPARE(boxText(window), QStringLiteral("成功：评价！"));
        QVERIFY(label(window, "reviewLabel")->isVisible());
        QVERIFY(!field(window)->isVisible());
        QCOMPARE(platform->order(id).value("status").toInt(), 4);
        QCOMPARE(platform->order(id).value("reply").toString(), QStringLiteral("谢谢您的支持"));
    }

    void noInput_sendsNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << 1 << "";
        QTest::newRow("the hint") << 1 << "请输入订单密码";
        QTest::newRow("piece of the password hint") << 1 << "请输入";
        QTest::newRow("piece of the review hint, paid order") << 1 << "评价内容";
        QTest::newRow("piece of the review hint") << 3 << "评价";
    }
    void noInput_sendsNothing()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        fakePlatform(QStringLiteral("{\"status\":1,\"info\":{\"id\":55,\"status\":%1,\"amount\":3}}")
                         .arg(status)
                         .toUtf8());
        COrder& order = NewOrder(*book, 55);
        order.SetStatus(status);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        QVERIFY(field(window)->isVisible());
        const QString hint =
            status == 1 ? QStringLiteral("请输入订单密码") : QStringLiteral("请输入评价内容");

        field(window)->setText(text);
        QTest::keyClick(field(window), Qt::Key_Return);
        QTest::mouseClick(button(window, "actionButton"), Qt::LeftButton);
        // The click sent the focus into the field, which clears a hint piece.
        QTRY_VERIFY(field(window)->hasFocus());
        QCOMPARE(field(window)->text(), QString());
        QTest::keyClick(field(window), Qt::Key_Enter);
        QTest::qWait(50);
        QCOMPARE(requestsTo(QStringLiteral("StaffFinishOrder")).size() +
                     requestsTo(QStringLiteral("StaffReply")).size(),
                 0);
        QVERIFY(button(window, "actionButton")->isEnabled());

        // Leaving the empty field gives it its mode's hint back.
        button(window, "actionButton")->setFocus();
        QTRY_COMPARE(field(window)->text(), hint);
    }

    void secondEnterDuringARequest_sendsNothing()
    {
        fakePlatform("{\"status\":1,\"info\":{\"id\":56,\"status\":1,\"amount\":3}}");
        COrder& order = NewOrder(*book, 56);
        order.SetStatus(1);
        QPointer<COrderWidget> window = openWithActionRow(&order);
        QVERIFY(field(window)->isVisible());
        typeAndPressEnter(window, QStringLiteral("654321"));
        QCOMPARE(requestsTo(QStringLiteral("StaffFinishOrder")).size(), 1);
        QCOMPARE(button(window, "actionButton")->text(), QStringLiteral("请稍候"));
        QTest::keyClick(field(window), Qt::Key_Return);
        QTest::keyClick(field(window), Qt::Key_Enter);
        QTest::mouseClick(button(window, "actionButton"), Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(requestsTo(QStringLiteral("StaffFinishOrder")).size(), 1);
        QCOMPARE(requestsTo(QStringLiteral("StaffFinishOrder")).first().body,
                 QStringLiteral("id=%1&key=%2&token=%3&pass=654321&oid=56")
                     .arg(staff->User()->GetId())
                     .arg(staff->User()->GetKey(), staff->User()->GetToken())
                     .toUtf8());

        // Closed while the request hangs: the window goes, the order is left alone afterwards.
        window->close();
        QTRY_VERIFY(!window);
    }

    void keys_ctrlWClosesWAloneDoesNot()
    {
        fakePlatform("{\"status\":1,\"info\":{\"id\":57,\"status\":2,\"amount\":3}}");
        COrder& order = NewOrder(*book, 57);
        order.SetStatus(2);
        QPointer<COrderWidget> window = open(&order, staff.get());
        QTRY_VERIFY(button(window, "printButton")->isVisible());
        QSignalSpy closed(window.data(), &CWidget::Close);
        QTest::keyClick(window, Qt::Key_W);
        QTest::qWait(50); // a fade is instant in tests: it would have closed the window by now
        QVERIFY(window);
        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!window);
        QCOMPARE(closed.size(), 1);
    }

    void orderDeletedWithItsWindow_whileTheDetailIsOnItsWay()
    {
        QVERIFY(platform->setFault(QStringLiteral("StaffOrder2"), QStringLiteral("delay"), 300));
        auto* scratch = MakeSession(*staff->User()).release();
        COrder* order = &NewOrder(*scratch->Book(), create({{"status", 1}}));
        QPointer<COrderWidget> window = new COrderWidget(order, scratch);
        window->Show();
        // What the pane does when it goes: close its windows, then delete the book and its orders.
        window->close();
        delete scratch;
        QTest::qWait(600);
        QVERIFY(!window);
    }

    void print_withoutPrinter_savesAPdfAndSaysWhere()
    {
        const qint64 id =
            create({{"status", 2}, {"message", "多加香菜"}, {"out", QJsonArray{item("外卖牛肉面", 2, 18)}}});
        COrder& order = NewOrder(*book, id);
        order.SetStatus(2);
        QPointer<COrderWidget> window = open(&order, staff.get());
        QTRY_VERIFY_WITH_TIMEOUT(settled(window, 595), 10000);
        QTest::mouseClick(button(window, "printButton"), Qt::LeftButton);

        // The tests' print service does not exist: the computer has no printer.
        const QString prefix = QStringLiteral("未找到打印机，小票已保存：\n");
        QTRY_VERIFY_WITH_TIMEOUT(boxText(window).startsWith(prefix), 20000);
        const QString text = boxText(window);
        const QString path = text.mid(prefix.size());
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(Desktop::ReceiptFolder()).absoluteFilePath());
        QVERIFY(QFileInfo(path).size() > 0);
        QCOMPARE(MessageBoxOf(window)->MsgBoxTimer()->interval(), 5000);

        const QString receipt = PdfPages::Run(path, QStringLiteral("-layout"));
        QVERIFY2(receipt.contains(QStringLiteral("订单号：%1").arg(id)), qPrintable(receipt));
        QVERIFY(receipt.contains(QStringLiteral("外卖牛肉面")));
        QVERIFY(receipt.contains(QStringLiteral("买家留言：多加香菜")));
    }
};

TARVIK_TEST_MAIN(TestCOrderWidget)
#include "tst_corderwidget.moc"
