#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/ui/client.h"
#include "app/ui/screens.h"
#include "app/ui/traymessage.h"
#include "common/clientlook.h"
#include "common/mainwindow.h"
#include "common/pdfpages.h"
#include "common/platformprocess.h"
#include "common/testsession.h"
#include "common/testmain.h"
#include "common/windowparts.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "detail/ui/receiptprinter.h"
#include "income/ui/cwincome.h"
#include "main/ui/cwmain.h"
#include "main/ui/cwuserinfo.h"
#include "orders/orderpane.h"
#include "orders/pollclock.h"
#include "session/cuser.h"
#include "session/ui/cwlogin.h"
#include "session/userstore.h"
#include "ui/cweblabel.h"
#include "ui/msgbox.h"

namespace {

// One "second" of the order polls lasts this long here: a new-order poll every 2 s, the pay/finish
// poll every 300 ms, a confirmed row leaves the table 0.5 s after its reply.
constexpr int pollSecond = 100;
constexpr PollClock pollClock{pollSecond};
// Slack for a transfer and its handling on a loaded machine (or under the sanitizers).
constexpr int slack = 15000;

// Where the receipt printer of the test writes (the printer factory takes no arguments).
QString& receiptFile()
{
    static QString path;
    return path;
}

QPrinter* pdfPrinter()
{
    auto* printer = new QPrinter(QPrinter::ScreenResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(receiptFile());
    return printer;
}

QPushButton* closeButtonOf(const CWidget* window)
{
    return window->TopBand()->findChild<QPushButton*>(QStringLiteral("closeButton"));
}

void click(QWidget* widget, const QPoint& at = QPoint())
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
}

// Chinese text arrives the way an input method hands it over: committed as a whole.
void typeThroughInputMethod(QWidget* widget, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(widget, &event);
}

} // namespace

// The road of a new order through every window, driven as a staff member drives them, against the
// local platform with its demo shop. Each step builds on the one before.
class TestRoadOfAnOrder : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    PlatformProcess::Session checker; // the test's own session, for asking the platform
    QTemporaryDir sockets;
    QTemporaryDir receipts;
    // The client as the program runs it: its end ends the program's event loop.
    std::unique_ptr<CClient> client;
    QPointer<CWMain> main;
    SoundLog* sounds = nullptr;

    qint64 newOrder = 0;
    QString newOrderPassword;
    QString newOrderPaid;
    int pollsWhenItAppeared = 0;
    qint64 askedOrder = 0;
    qint64 reviewedOrder = 0;
    float balanceAtStart = 0;

    CAllList* pane() const { return main ? MainParts::Pane(main) : nullptr; }

    QList<qint64> ids(int status) const
    {
        QList<qint64> found;
        for (const QPointer<COrderItem>& item : pane()->FindList(status)->Items())
            if (item)
                found.append(item->GetOrder()->GetId());
        return found;
    }

    // A person unfolds a group by clicking its header and scrolls a row into sight.
    void unfold(int status)
    {
        COrderList* group = pane()->FindList(status);
        if (!group->IsExpanded())
            click(group, QPoint(40, 14));
        QVERIFY(group->IsExpanded());
    }

    void scrollTo(COrderItem* row) { MainParts::OrdersArea(main)->ensureWidgetVisible(row, 0, 0); }

    QJsonObject ask(const QString& endpoint, const QString& fields = QString())
    {
        return platform->post(endpoint, checker.form() + QLatin1Char('&') + fields);
    }

    float platformBalance()
    {
        return float(ask(QStringLiteral("CashUpdate")).value("info").toObject().value("yuer").toDouble());
    }

    int pollLines()
    {
        int count = 0;
        for (const QString& line : platform->outputLines())
            if (line.contains(QLatin1String("/api/UpdateStaffOrderList")))
                ++count;
        return count;
    }

    // Opens an order's detail by double-clicking its row and waits for the action row.
    COrderWidget* openDetail(COrderItem* row)
    {
        scrollTo(row);
        QTest::mouseDClick(row, Qt::LeftButton, Qt::NoModifier, QPoint(60, 20));
        COrderWidget* detail = DetailWindowOf(row->GetOrder()->GetId());
        if (!detail)
            return nullptr;
        if (!QTest::qWaitForWindowActive(detail))
            qWarning("the detail window did not become active");
        if (!QTest::qWaitFor([detail] { return PartOf<QLineEdit>(detail, "inputEdit")->isVisible(); }, slack))
            qWarning("the detail window has no action row");
        return detail;
    }

    static QString boxText(COrderWidget* detail)
    {
        const QLabel* box = MessageBoxOf(detail)->MsgBoxLabel();
        return box && box->isVisible() ? box->text() : QString();
    }

    // A person closes a window with its close button; it fades out and goes.
    static void closeByButton(CWidget* window)
    {
        QPointer<CWidget> watched = window;
        click(closeButtonOf(window));
        QTRY_VERIFY_WITH_TIMEOUT(!watched || !watched->isVisible(), 5000);
    }

private slots:
    void initTestCase()
    {
        // The single-instance probe of the second start listens on a socket of its own.
        qputenv("TMPDIR", sockets.path().toLocal8Bit());
        platform.reset(new PlatformProcess({QStringLiteral("--seed"), QStringLiteral("--log")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        platform->serveClient();
        checker = platform->login(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(checker.isValid());
        balanceAtStart = platformBalance();
        sounds = new SoundLog;
        receiptFile() = receipts.filePath(QStringLiteral("receipt.pdf"));

        // The program's own look, as start-up loads it.
        QVERIFY(TestSupport::LookLikeTheClient(*qApp));

        // Another account was remembered earlier: the one logged in now must come first.
        CUser earlier;
        earlier.SetAccount(PlatformProcess::SecondDemoAccount);
        earlier.SetPassword(PlatformProcess::SecondDemoPassword);
        earlier.SetRememberPassword(true);
        QVERIFY(UserStore(QVector<CUser*>{&earlier}).Save());
    }

    void cleanupTestCase()
    {
        // What a failed step left open goes before the platform.
        client.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<CWidget*>(widget))
                delete widget;
        delete sounds;
    }

    void step1_loginOpensTheMainWindow()
    {
        client = std::make_unique<CClient>(TestOptions(pollSecond));
        connect(client.get(), &CClient::Ended, qApp, &QCoreApplication::quit);
        client->Start();
        QPointer<CWLogin> login = LoginWindow();
        QVERIFY(login);
        QVERIFY(QTest::qWaitForWindowActive(login));
        QCOMPARE(login->windowTitle(), QStringLiteral("用户登录-Velm"));
        // The form starts with the account remembered before.
        QCOMPARE(LoginForm::Account(login)->currentText(), QString::number(PlatformProcess::SecondDemoAccount));
        QVERIFY(!login->IsWaiting());

        QLineEdit* accountEdit = LoginForm::Account(login)->lineEdit();
        click(accountEdit);
        QTRY_VERIFY(accountEdit->hasFocus());
        QTest::keyClick(accountEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(accountEdit, QString::number(PlatformProcess::DemoAccount));
        click(LoginForm::Password(login));
        QTRY_VERIFY(LoginForm::Password(login)->hasFocus());
        QCOMPARE(LoginForm::Password(login)->text(), QString()); // a new account: nothing filled in
        QTest::keyClicks(LoginForm::Password(login), QString::fromLatin1(PlatformProcess::DemoPassword));
        click(LoginForm::Remember(login));
        click(LoginForm::AutoLogin(login));
        QVERIFY(LoginForm::Remember(login)->isChecked());
        QVERIFY(LoginForm::AutoLogin(login)->isChecked());
        QTest::keyClick(LoginForm::Password(login), Qt::Key_Return);

        QTRY_VERIFY_WITH_TIMEOUT(MainWindow(), slack);
        main = MainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("成功登录!"));
        QTRY_VERIFY(!login);
        QVERIFY(main->HoldsLoginStamp());
        QCOMPARE(MainParts::Nickname(main)->text(), QStringLiteral("小王"));

        UserStore saved;
        QCOMPARE(saved.Users().size(), 2);
        QCOMPARE(saved.Users().at(0)->GetAccount(), PlatformProcess::DemoAccount);
        QVERIFY(saved.Users().at(0)->GetRememberPassword());
        QVERIFY(saved.Users().at(0)->GetAutoLogin());
        QCOMPARE(saved.Users().at(1)->GetAccount(), PlatformProcess::SecondDemoAccount);

        QVERIFY(pane());
        QTRY_VERIFY_WITH_TIMEOUT(pane()->Book()->Orders().size() > 100, slack);
        unfold(StatusPaid.first);
        // The first new-order poll goes out with the full list; the next order comes by a later one.
        QTRY_VERIFY_WITH_TIMEOUT(pollLines() >= 1, slack);
    }

    void step2_newPaidOrderArrivesBlinkingWithOneSound()
    {
        QVERIFY(main);
        const int soundsBefore = sounds->count(QStringLiteral("audio/neworder.mp3"));
        newOrderPaid = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const QJsonArray items{
            QJsonObject{
                {"name", "招牌牛肉面"}, {"num", 2}, {"price", 18}, {"pics", "/img/item/beef-noodles.png"}},
            QJsonObject{{"name", "凉皮"}, {"num", 1}, {"price", 10}, {"pics", "/img/item/cold-noodles.png"}}};
        QElapsedTimer sinceCreated;
        sinceCreated.start();
        newOrder = platform->createOrder({{"status", 1},
                                          {"amount", 40},
                                          {"ptime", newOrderPaid},
                                          {"taker", "张三"},
                                          {"tel", "13912345678"},
                                          {"address", "幸福路 8 号 3 单元"},
                                          {"message", "少放辣"},
                                          {"out", items}});
        QVERIFY(newOrder > 0);
        newOrderPassword = platform->order(newOrder).value("password").toString();
        QVERIFY(!newOrderPassword.isEmpty());

        // One new-order poll is 20 poll seconds, after the reply before it.
        QTRY_VERIFY_WITH_TIMEOUT(pane()->FindOrderItem(newOrder), pollClock.Msecs(20) + slack);
        qInfo("the new order showed %lld ms after it was created", sinceCreated.elapsed());
        pollsWhenItAppeared = pollLines();
        COrderItem* row = pane()->FindOrderItem(newOrder);
        QCOMPARE(ids(StatusPaid.first).value(0), newOrder);
        QTRY_VERIFY(row->isVisible()); // laid out once the reply has been handled
        QVERIFY(row->IsFlashing());
        QVERIFY(row->ShowsNewOrderIcon());
        QTRY_VERIFY(row->IconLabel());
        QTRY_VERIFY_WITH_TIMEOUT(row->IconLabel()->isHidden(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!row->IconLabel()->isHidden(), 3000);
        QCOMPARE(row->IdLabel()->text(), QStringLiteral("订单号：%1").arg(newOrder));
        QCOMPARE(sounds->count(QStringLiteral("audio/neworder.mp3")), soundsBefore + 1);
    }

    void step3_doubleClickOpensTheDetail()
    {
        QVERIFY(newOrder);
        QPointer<COrderItem> row = pane()->FindOrderItem(newOrder);
        QVERIFY(row);
        COrderWidget* detail = openDetail(row);
        QVERIFY(detail);
        QVERIFY(!row->IsFlashing());
        QVERIFY(!row->FlashTimer());
        QVERIFY(!row->IconLabel()->isHidden());
        QCOMPARE(detail->windowTitle(), QString::number(newOrder) + QStringLiteral(" 订单详情"));
        QCOMPARE(detail->Order(), row->GetOrder());

        // The platform's items and pictures, in the platform's order.
        const QJsonArray out = platform->order(newOrder).value("out").toArray();
        QCOMPARE(ItemLabels(detail, "nameLabel").size(), out.size());
        QCOMPARE(ItemLabels<CWebLabel>(detail, "pictureLabel").size(), out.size());
        for (int i = 0; i < out.size(); ++i) {
            QCOMPARE(ItemLabels(detail, "nameLabel").at(i)->text(),
                     QStringLiteral("商品名称：") + out.at(i).toObject().value("name").toString());
            QTRY_VERIFY_WITH_TIMEOUT(
                !ItemLabels<CWebLabel>(detail, "pictureLabel").at(i)->pixmap(Qt::ReturnByValue).isNull(),
                slack);
        }
        QCOMPARE(PartOf<QLabel>(detail, "takerLabel")->text(), QStringLiteral("收件人：张三"));
        QCOMPARE(PartOf<QLabel>(detail, "statusLabel")->text(), QStringLiteral("状态：已支付"));
        QCOMPARE(PartOf<QLabel>(detail, "amountLabel")->text(),
                 QStringLiteral("共计 3 件商品，实付金额：40.00 元"));
        QCOMPARE(row->GetOrder()->GetCommodities().size(), out.size()); // the lists' record holds them
    }

    void step4_orderPasswordFinishesTheService()
    {
        QVERIFY(newOrder);
        COrderItem* row = pane()->FindOrderItem(newOrder);
        QVERIFY(row && DetailWindowOf(row->GetOrder()->GetId()));
        COrderWidget* detail = DetailWindowOf(row->GetOrder()->GetId());
        QCOMPARE(PartOf<QPushButton>(detail, "actionButton")->text(), QStringLiteral("结束服务"));
        const int servedSounds = sounds->count(QStringLiteral("audio/server.mp3"));

        click(PartOf<QLineEdit>(detail, "inputEdit"));
        QTRY_VERIFY(PartOf<QLineEdit>(detail, "inputEdit")->hasFocus());
        QCOMPARE(PartOf<QLineEdit>(detail, "inputEdit")->text(), QString()); // the hint went away
        QTest::keyClicks(PartOf<QLineEdit>(detail, "inputEdit"), newOrderPassword);
        click(PartOf<QPushButton>(detail, "actionButton"));

        QTRY_COMPARE_WITH_TIMEOUT(ids(StatusServed.first).value(0), newOrder, slack);
        QVERIFY(!ids(StatusPaid.first).contains(newOrder));
        QCOMPARE(pane()->FindOrderItem(newOrder), row); // the same row, moved
        QCOMPARE(sounds->count(QStringLiteral("audio/server.mp3")), servedSounds + 1);
        QCOMPARE(sounds->played.last(), QStringLiteral("audio/server.mp3"));
        QCOMPARE(boxText(detail), QStringLiteral("成功：结束服务"));
        QCOMPARE(PartOf<QLabel>(detail, "statusLabel")->text(), QStringLiteral("状态：已服务"));
        QCOMPARE(row->GetOrder()->GetStatus(), int(StatusServed.first));
        const QJsonObject stored = platform->order(newOrder);
        QCOMPARE(stored.value("status").toInt(), 2);
        QVERIFY(!stored.value("stime").toString().isEmpty());
    }

    void step5_receiptPrintsThePlatformsOrder()
    {
        QVERIFY(newOrder);
        COrderItem* row = pane()->FindOrderItem(newOrder);
        QVERIFY(row && DetailWindowOf(row->GetOrder()->GetId()));
        QPointer<COrderWidget> detail = DetailWindowOf(row->GetOrder()->GetId());
        QFile::remove(receiptFile());
        // For this one receipt the session prints on a PDF file, as a printer would on paper.
        CSession* session = main->Session();
        CReceiptService* shops = session->Receipts();
        session->SetReceipts(new CReceiptPrinter(session->Settings(), session, &pdfPrinter));
        QVERIFY(PartOf<QPushButton>(detail, "printButton")->isVisible());
        QCOMPARE(PartOf<QPushButton>(detail, "printButton")->text(), QStringLiteral("打印"));
        click(PartOf<QPushButton>(detail, "printButton"));
        session->SetReceipts(shops);

        const QStringList expected{QStringLiteral("Velm订单"),
                                   QStringLiteral("订单号：%1").arg(newOrder),
                                   QStringLiteral("订单时间：") + newOrderPaid,
                                   QStringLiteral("外卖："),
                                   QStringLiteral("招牌牛肉面"),
                                   QStringLiteral("数量：2 价格：18.00"),
                                   QStringLiteral("凉皮"),
                                   QStringLiteral("数量：1 价格：10.00"),
                                   QStringLiteral("外卖地址：幸福路 8 号 3 单元"),
                                   QStringLiteral("合计：46.00 总金额：40.00"),
                                   QStringLiteral("数量：3"),
                                   QStringLiteral("本单Velm为您节省 6.00 元"),
                                   QStringLiteral("买家联系方式：13912345678"),
                                   QStringLiteral("联系人：张三"),
                                   QStringLiteral("买家留言：少放辣"),
                                   QStringLiteral("感谢您使用Velm购物，欢迎您下次光临！")};
        QCOMPARE(PdfPages::Lines(receiptFile()), expected);

        closeByButton(detail);
        QTRY_VERIFY(!detail);
        QVERIFY(!DetailWindowOf(row->GetOrder()->GetId()));

        // Later polls bring the order again; it was announced once.
        QTRY_VERIFY_WITH_TIMEOUT(pollLines() >= pollsWhenItAppeared + 2, 2 * pollClock.Msecs(20) + slack);
        QCOMPARE(sounds->count(QStringLiteral("audio/neworder.mp3")), 1);
    }

    void step6_buyersConfirmationRequestIsConfirmed()
    {
        QVERIFY(main);
        // Another paid order of the demo shop; its buyer asks the shop to confirm the service.
        const QList<qint64> paid = ids(StatusPaid.first);
        QVERIFY(!paid.isEmpty());
        askedOrder = paid.last();
        QVERIFY(askedOrder != newOrder);
        const int notified = sounds->count(QStringLiteral("audio/notify.wav"));
        const int served = sounds->count(QStringLiteral("audio/server.mp3"));
        QCOMPARE(platform->changeOrder(askedOrder, {{"confirm", true}}).value("confirm").toBool(), true);

        QTRY_VERIFY_WITH_TIMEOUT(ServerTableWindow() && ConfirmTableCell(ServerTableWindow(), askedOrder),
                                 pollClock.Msecs(3) + slack);
        CWServerTable* table = ServerTableWindow();
        QVERIFY(QTest::qWaitForWindowExposed(table));
        QCOMPARE(ConfirmTable(table)->rowCount(), 1); // nothing else asked
        QCOMPARE(table->windowTitle(), QStringLiteral("待确认订单 1"));
        QTRY_COMPARE(sounds->count(QStringLiteral("audio/notify.wav")), notified + 1);

        QTableWidgetItem* cell = ConfirmTableCell(table, askedOrder);
        QCOMPARE(ConfirmTable(table)->item(cell->row(), CWServerTable::StatusColumn)->text(), StatusName(1));
        ConfirmTable(table)->scrollToItem(cell);
        QElapsedTimer sinceConfirmed;
        const QMetaObject::Connection confirmed = connect(pane()->Book(), &COrderBook::StatusChanged, this,
                                                          [&sinceConfirmed] { sinceConfirmed.start(); });
        click(ConfirmTable(table)->viewport(), ConfirmTable(table)->visualItemRect(cell).center());
        QTRY_COMPARE_WITH_TIMEOUT(ConfirmTableCell(table, askedOrder)->text(), QStringLiteral("完成"), slack);
        disconnect(confirmed);
        QVERIFY(sinceConfirmed.isValid());
        QCOMPARE(ConfirmTable(table)->item(cell->row(), CWServerTable::StatusColumn)->text(), StatusName(2));
        QCOMPARE(ids(StatusServed.first).value(0), askedOrder);
        QVERIFY(!ids(StatusPaid.first).contains(askedOrder));
        QCOMPARE(sounds->count(QStringLiteral("audio/server.mp3")), served + 1);
        QCOMPARE(platform->order(askedOrder).value("status").toInt(), 2);

        // The confirmed row stays for about five seconds, so the staff member sees it went through.
        QTRY_VERIFY_WITH_TIMEOUT(!ConfirmTableCell(table, askedOrder), pollClock.Msecs(5) + slack);
        // A coarse timer may fire up to 5 % early.
        QVERIFY2(sinceConfirmed.elapsed() >= pollClock.Msecs(5) * 9 / 10,
                 qPrintable(QString::number(sinceConfirmed.elapsed())));
        QCOMPARE(ConfirmTable(table)->rowCount(), 0);
        closeByButton(table);
        QVERIFY(ServerTableWindow()); // kept for the next time
    }

    void step7_replyToAReviewCompletesTheOrder()
    {
        QVERIFY(main);
        unfold(StatusReviewed.first);
        const QList<qint64> reviewed = ids(StatusReviewed.first);
        QVERIFY(!reviewed.isEmpty());
        reviewedOrder = reviewed.first();
        QPointer<COrderItem> row = pane()->FindOrderItem(reviewedOrder);
        QPointer<COrderWidget> detail = openDetail(row);
        QVERIFY(detail);
        QCOMPARE(PartOf<QPushButton>(detail, "actionButton")->text(), QStringLiteral("回复评价"));
        const QString review = platform->order(reviewedOrder).value("content").toString();
        QVERIFY(!review.isEmpty());
        QCOMPARE(PartOf<QLabel>(detail, "reviewLabel")->text(), QStringLiteral("买家评价：") + review);

        const QString answer = QStringLiteral("谢谢您的支持，欢迎再来！");
        click(PartOf<QLineEdit>(detail, "inputEdit"));
        QTRY_VERIFY(PartOf<QLineEdit>(detail, "inputEdit")->hasFocus());
        QCOMPARE(PartOf<QLineEdit>(detail, "inputEdit")->text(), QString());
        typeThroughInputMethod(PartOf<QLineEdit>(detail, "inputEdit"), answer);
        QCOMPARE(PartOf<QLineEdit>(detail, "inputEdit")->text(), answer);
        click(PartOf<QPushButton>(detail, "actionButton"));

        QTRY_COMPARE_WITH_TIMEOUT(ids(StatusCompleted.first).value(0), reviewedOrder, slack);
        QVERIFY(!ids(StatusReviewed.first).contains(reviewedOrder));
        QCOMPARE(pane()->FindOrderItem(reviewedOrder), row.data());
        QCOMPARE(PartOf<QLabel>(detail, "statusLabel")->text(), QStringLiteral("状态：已完成"));
        const QJsonObject stored = platform->order(reviewedOrder);
        QCOMPARE(stored.value("status").toInt(), 4);
        QCOMPARE(stored.value("reply").toString(), answer);

        closeByButton(detail);
        QTRY_VERIFY(!detail);
    }

    void step8_incomeAndProfileShowThePlatformsFigures()
    {
        QVERIFY(main);
        QVERIFY(newOrder && askedOrder);
        const QJsonArray today =
            ask(QStringLiteral("AddShopCash"), QStringLiteral("way=day")).value("info").toArray();
        QHash<qint64, float> earned;
        float todayTotal = 0;
        for (const QJsonValue& value : today) {
            const QJsonObject entry = value.toObject();
            const float cash = float(entry.value("addcash").toDouble());
            earned.insert(entry.value("order_id").toVariant().toLongLong(), cash);
            todayTotal += cash;
        }
        QVERIFY(earned.contains(newOrder));
        QVERIFY(earned.contains(askedOrder));
        const float balance = platformBalance();
        // The shop was credited for the two orders served on the road, and for nothing else.
        QCOMPARE(FormatMoney(balance - balanceAtStart), FormatMoney(earned[newOrder] + earned[askedOrder]));

        click(MainParts::Income(main));
        QPointer<CWIncome> income = OpenWindows<CWIncome>().value(0);
        QVERIFY(income);
        QVERIFY(QTest::qWaitForWindowExposed(income));
        const auto incomeTable = [&income] {
            return income->findChild<QTableWidget*>(QStringLiteral("tblIncome"));
        };
        const auto incomeFigure = [&income](const char* name) {
            return income->findChild<QLabel*>(QLatin1String(name))->text();
        };
        QTRY_VERIFY_WITH_TIMEOUT(incomeTable() && incomeTable()->rowCount() == today.size(), slack);
        QTRY_COMPARE_WITH_TIMEOUT(incomeFigure("lblYuErValue"), FormatMoney(balance), slack);
        QCOMPARE(incomeFigure("lblTodayIncomeValue"), FormatMoney(todayTotal));
        QTableWidget* table = incomeTable();
        for (const qint64 id : {newOrder, askedOrder}) {
            const QList<QTableWidgetItem*> found = table->findItems(QString::number(id), Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            QCOMPARE(table->item(found.first()->row(), 2)->text(),
                     QStringLiteral("+") + FormatMoney(earned[id]));
        }

        click(MainParts::Avatar(main));
        QPointer<CWUserInfo> profile = OpenWindows<CWUserInfo>().value(0);
        QVERIFY(profile);
        QVERIFY(QTest::qWaitForWindowExposed(profile));
        const QJsonObject info = ask(QStringLiteral("UserInfo")).value("info").toObject();
        const auto infoLines = [&profile] {
            QStringList texts;
            for (const char* name :
                 {"lblInfoAccount", "lblInfoNickname", "lblInfoBalance", "lblInfoSex", "lblInfoAge",
                  "lblInfoAddress", "lblInfoMobile", "lblInfoQQ", "lblInfoName"})
                texts << profile->findChild<QLabel*>(QLatin1String(name))->text();
            return texts;
        };
        // The head shows the session's nickname at once; the lines are there once the fetch is answered.
        QTRY_COMPARE_WITH_TIMEOUT(infoLines().value(8),
                                  QStringLiteral("姓  名：") + info.value("mainame").toString(), slack);
        QCOMPARE(profile->findChild<QLabel*>(QStringLiteral("lblUserName"))->text(),
                 info.value("nickname").toString());
        const QStringList lines = infoLines();
        QCOMPARE(lines.value(0), QStringLiteral("账  号：%1").arg(PlatformProcess::DemoAccount));
        QCOMPARE(lines.value(1), QStringLiteral("昵  称：") + info.value("nickname").toString());
        QCOMPARE(lines.value(2), QStringLiteral("余  额：") + FormatMoney(balance) + QStringLiteral(" 元"));
        QCOMPARE(lines.value(8), QStringLiteral("姓  名：") + info.value("mainame").toString());
        QTRY_VERIFY_WITH_TIMEOUT(
            !profile->findChild<QLabel*>(QStringLiteral("lblUserFace"))->pixmap(Qt::ReturnByValue).isNull(),
            slack);

        // The income window is done with; the profile window stays open into the next step.
        closeByButton(income);
        QTRY_VERIFY(!income);
        QVERIFY(!OpenWindows<CWIncome>().value(0));
    }

    void step9_closingEndsTheProgramAndANewStartLogsInByItself()
    {
        QVERIFY(main);
        QPointer<CWUserInfo> profile = OpenWindows<CWUserInfo>().value(0);
        QVERIFY(profile && profile->isVisible());
        const QString stamp = AccountLockFile(PlatformProcess::DemoAccount);
        QVERIFY(AccountLock::IsHeldByLiveSession(stamp));

        // The program's event loop, as start-up runs it: closing the main window must end it even
        // though another window is still open.
        QTimer tooLong;
        tooLong.setSingleShot(true);
        connect(&tooLong, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        tooLong.start(slack);
        QPointer<QPushButton> closeButton = closeButtonOf(main);
        QTimer::singleShot(0, closeButton, [closeButton] { click(closeButton); });
        const int code = qApp->exec();
        tooLong.stop();
        QCOMPARE(code, 0);
        QTRY_VERIFY(!main);
        QVERIFY(!profile); // it worked for the session, which ended with the main window
        QVERIFY(!AccountLock::IsHeldByLiveSession(stamp));
        {
            QLockFile next(stamp);
            QVERIFY(next.tryLock(0));
        }
        delete profile.data();

        // A new start: the remembered account with auto-login logs in without a key pressed.
        QProcess next;
        next.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        next.start(QStringLiteral(TEST_HELPER_DIR "/helper_newstart"), QStringList());
        QVERIFY(next.waitForStarted(slack));
        QVERIFY(next.waitForReadyRead(slack) || next.canReadLine());
        QCOMPARE(QString::fromUtf8(next.readLine()).trimmed(), QStringLiteral("started waiting=1"));
        while (!next.canReadLine() && next.waitForReadyRead(slack)) {
        }
        QCOMPARE(QString::fromUtf8(next.readLine()).trimmed(),
                 QStringLiteral("logged-in %1").arg(PlatformProcess::DemoAccount));
        QVERIFY(AccountLock::IsHeldByLiveSession(stamp));

        next.write("close\n");
        QVERIFY(next.waitForFinished(slack));
        QCOMPARE(next.exitStatus(), QProcess::NormalExit);
        QCOMPARE(next.exitCode(), 0);
        QVERIFY(next.readAll().contains("quit"));
        QVERIFY(!AccountLock::IsHeldByLiveSession(stamp));
    }
};

TARVIK_TEST_MAIN(TestRoadOfAnOrder)
#include "tst_roadofanorder.moc"
