#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include "app/constants.h"
#include "common/platformprocess.h"
#include "common/testmain.h"
#include "income/ui/cwincome.h"
#include "income/ui/incomechart.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "session/csession.h"
#include "ui/msgbox.h"

Q_DECLARE_METATYPE(COrder*)

namespace {

const QString cashFailure = QStringLiteral("获取数据失败，请检查网络连接状况！\n谢谢！");
const QString listFailure = QStringLiteral("获取失败！请检查网络连接状况，\n谢谢！");
const QString noOrders = QStringLiteral("暂无订单\n要努力哟！");
const char* const ways[] = {"day", "week", "mon", "all"};

// One second of the balance poll lasts this long here, so a poll comes every 50 ms.
constexpr int pollSecond = 10;

struct Row
{
    QString time;
    QString id;
    QString cash;
    bool operator==(const Row& other) const
    {
        return time == other.time && id == other.id && cash == other.cash;
    }
};

QString describe(const QVector<Row>& rows)
{
    QStringList lines;
    for (const Row& row : rows)
        lines << row.time + QLatin1Char(' ') + row.id + QLatin1Char(' ') + row.cash;
    return lines.join(QLatin1Char('\n'));
}

QString cellText(const QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QStringLiteral("(empty)");
}

// The table as a person reads it, top to bottom.
QVector<Row> rowsOnScreen(const QTableWidget* table)
{
    QVector<Row> rows;
    for (int r = 0; r < table->rowCount(); ++r)
        rows.append({cellText(table, r, 0), cellText(table, r, 1), cellText(table, r, 2)});
    return rows;
}

// The platform prints a request's line just after answering it, so a count taken right after an
// answer can still miss that line: wait until the count holds still.
int settledLinesWith(PlatformProcess& platform, const QString& fragment)
{
    int before = -1;
    int now = platform.linesWith(fragment);
    while (now != before) {
        before = now;
        QTest::qWait(150);
        now = platform.linesWith(fragment);
    }
    return now;
}

// The window's parts, found by name (the message box by its kind).
CMsgBox* msgBoxOf(const CWIncome* window)
{
    return window->findChild<CMsgBox*>();
}

QTabWidget* tabsOf(const CWIncome* window)
{
    return window->findChild<QTabWidget*>(QStringLiteral("tabwgMainContent"));
}

// The list on screen; null while there is none.
QTableWidget* tableOf(const CWIncome* window)
{
    return window->findChild<QTableWidget*>(QStringLiteral("tblIncome"));
}

QLabel* labelOf(const CWIncome* window, const char* name)
{
    return window->findChild<QLabel*>(QLatin1String(name));
}

// The balance poll's timer; null before the first poll is armed.
QTimer* cashTimerOf(const CWIncome* window)
{
    return window->findChild<QTimer*>(QStringLiteral("cashPoll"));
}

IncomeChart* chartOf(const CWIncome* window)
{
    return window->findChild<IncomeChart*>();
}

QPushButton* viewButtonOf(const CWIncome* window)
{
    return window->findChild<QPushButton*>(QStringLiteral("pbtnIncomeView"));
}

bool boxShows(const CWIncome* window, const QString& text)
{
    const QLabel* box = msgBoxOf(window)->MsgBoxLabel();
    return box && box->isVisible() && box->text() == text;
}

bool boxVisible(const CWIncome* window)
{
    const QLabel* box = msgBoxOf(window)->MsgBoxLabel();
    return box && box->isVisible();
}

bool loading(const CWIncome* window)
{
    return msgBoxOf(window)->LoadingLabel() && msgBoxOf(window)->LoadingLabel()->isVisible();
}

QString dayTime(int daysAgo, const QTime& time)
{
    return QDateTime(QDate::currentDate().addDays(-daysAgo), time)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

// The income window against the local platform, as a staff member uses it.
class TestCWIncome : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    PlatformProcess::Session session;
    CUser user;
    QList<QPointer<CWIncome>> windows;
    std::vector<std::unique_ptr<CSession>> sessions; // of the windows, which go first

    static void useSession(CUser& into, const PlatformProcess::Session& from)
    {
        into.SetId(from.id);
        into.SetKey(from.key);
        into.SetToken(from.token);
        into.SetBalance(0);
    }

    CWIncome* open(CUser* who)
    {
        if (who)
            sessions.push_back(std::make_unique<CSession>(*who));
        auto* window =
            new CWIncome(who ? sessions.back().get() : nullptr, nullptr, Qt::WindowFlags(), pollSecond);
        windows.append(window);
        window->resize(1200, 700);
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            qWarning("income window not exposed");
        return window;
    }

    CWIncome* open() { return open(&user); }

    // Opens the window and waits for the first period's list.
    CWIncome* openWithList()
    {
        CWIncome* window = open();
        if (!QTest::qWaitFor([window] { return tableOf(window) && !loading(window); }, 5000))
            qWarning("the first list did not come");
        return window;
    }

    static void selectTab(CWIncome* window, int index)
    {
        QTabBar* bar = tabsOf(window)->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }

    // What the platform answers for a period, in its order (newest first).
    QJsonArray platformList(PlatformProcess& from, const PlatformProcess::Session& as, int tab)
    {
        const QJsonObject reply = from.post(QStringLiteral("AddShopCash"),
                                            as.form() + QStringLiteral("&way=") + QLatin1String(ways[tab]));
        return reply.value(QStringLiteral("info")).toArray();
    }

    static Row rowOf(const QJsonObject& entry)
    {
        const QDateTime ctime = QVariant(entry.value(QStringLiteral("ctime")).toString()).toDateTime();
        return {ctime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                QString::number(entry.value(QStringLiteral("order_id")).toVariant().toLongLong()),
                QStringLiteral("+") + FormatMoney(entry.value(QStringLiteral("addcash")).toDouble())};
    }

    void addIncome(qint64 orderId, double addcash, const QString& ctime)
    {
        const QJsonObject body{
            {"order_id", double(orderId)}, {"addcash", addcash}, {"ctime", ctime}, {"add_to_cash", false}};
        QCOMPARE(
            platform->admin("POST", QStringLiteral("income"), body).value(QStringLiteral("status")).toInt(),
            1);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<COrder*>();
        platform.reset(new PlatformProcess({QStringLiteral("--seed"), QStringLiteral("--log")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        session =
            platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(session.isValid());

        // Entries that set the periods apart: today, earlier this week, over a month ago, last year.
        addIncome(90000000001LL, 12.34, dayTime(0, QTime(0, 0, 1)));
        addIncome(90000000002LL, 9.5, dayTime(0, QTime(0, 0, 2)));
        addIncome(90000000003LL, 100, dayTime(3, QTime(12, 0)));
        addIncome(90000000004LL, 7.25, dayTime(45, QTime(8, 30)));
        addIncome(90000000005LL, 0.125, dayTime(400, QTime(23, 59, 59)));
    }

    void init()
    {
        platform->serveClient();
        QVERIFY(platform->clearFaults());
        useSession(user, session);
    }

    void cleanup()
    {
        for (const QPointer<CWIncome>& window : qAsConst(windows))
            delete window.data();
        windows.clear();
        sessions.clear();
        platform->clearFaults();
    }

    void construction_namesTabsAndFirstRequests()
    {
        CWIncome* window = open();
        QTabWidget* tabs = tabsOf(window);
        QCOMPARE(tabs->objectName(), QStringLiteral("tabwgMainContent"));
        QCOMPARE(tabs->count(), 4);
        const QStringList titles{QStringLiteral("今 日"), QStringLiteral("七 日"), QStringLiteral("本 月"),
                                 QStringLiteral("所 有")};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(tabs->tabText(i), titles.at(i));
        QCOMPARE(labelOf(window, "lbl_YuEr")->objectName(), QStringLiteral("lbl_YuEr"));
        QCOMPARE(labelOf(window, "lbl_TodayIncome")->objectName(), QStringLiteral("lbl_TodayIncome"));
        QCOMPARE(labelOf(window, "lbl_AllIncome")->objectName(), QStringLiteral("lbl_AllIncome"));
        QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
        // The list of today is asked for at once, with the loading indicator.
        QVERIFY(loading(window));
        QTRY_VERIFY(tableOf(window));
        QCOMPARE(tableOf(window)->parentWidget(), tabs->widget(0));

        // Without a session nothing is sent and nothing waits.
        CWIncome* alone = open(nullptr);
        QVERIFY(!loading(alone));
        QVERIFY(!cashTimerOf(alone));
    }

    void figures_afterFirstCashUpdate_data()
    {
        QTest::addColumn<double>("yuer");
        QTest::addColumn<double>("allcash");
        QTest::addColumn<QString>("balance");
        QTest::addColumn<QString>("total");
        QTest::newRow("positive") << 1234.5 << 98765.43 << "1234.50"
                                  << "98765.43";
        QTest::newRow("zero balance") << 0.0 << 10.0 << "0.00"
                                      << "10.00";
        QTest::newRow("overdrawn") << -35.2 << 5.0 << "0.00"
                                   << "5.00";
        // A float would read 1234567.87.
        QTest::newRow("millions") << 1234567.89 << 99999.99 << "1234567.89"
                                  << "99999.99";
    }

    void figures_afterFirstCashUpdate()
    {
        QFETCH(double, yuer);
        QFETCH(double, allcash);
        QFETCH(QString, balance);
        QFETCH(QString, total);
        QVERIFY(platform->setCash(yuer, allcash));

        CWIncome* window = open();
        QCOMPARE(labelOf(window, "lblAllIncomeValue")->text(), QStringLiteral("0.00"));
        QTRY_COMPARE(labelOf(window, "lblAllIncomeValue")->text(), total);
        QCOMPARE(labelOf(window, "lblYuErValue")->text(), balance);
        QCOMPARE(sessions.back()->User()->GetBalance(), yuer);

        // Every figure fits its label, and the two small ones sit left and right of the big one.
        for (QLabel* label : {labelOf(window, "lblYuErValue"), labelOf(window, "lblTodayIncomeValue"),
                              labelOf(window, "lblAllIncomeValue")})
            QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                     qPrintable(label->text()));
        QVERIFY(labelOf(window, "lblYuErValue")->geometry().right() <
                labelOf(window, "lblTodayIncomeValue")->x());
        QVERIFY(labelOf(window, "lbl_AllIncome")->x() >
                labelOf(window, "lblTodayIncomeValue")->geometry().right());
        QVERIFY(labelOf(window, "lblAllIncomeValue")->x() +
                    labelOf(window, "lblAllIncomeValue")->fontMetrics().horizontalAdvance(total) <
                window->width() - 20);

        // The next poll is armed for 5 seconds after the reply.
        QVERIFY(cashTimerOf(window)->isSingleShot());
        QCOMPARE(cashTimerOf(window)->interval(), 5 * pollSecond);
    }

    void periodTab_listsNewestFirst_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("今 日") << 0;
        QTest::newRow("七 日") << 1;
        QTest::newRow("本 月") << 2;
        QTest::newRow("所 有") << 3;
    }

    void periodTab_listsNewestFirst()
    {
        QFETCH(int, tab);
        const QJsonArray expected = platformList(*platform, session, tab);
        QVERIFY(!expected.isEmpty());

        CWIncome* window = openWithList();
        if (tab != 0) {
            selectTab(window, tab);
            QCOMPARE(window->PeriodName(), QString::fromLatin1(ways[tab]));
            QVERIFY(loading(window));
        }
        QTRY_VERIFY(!loading(window) && tableOf(window) &&
                    tableOf(window)->parentWidget() == tabsOf(window)->widget(tab));

        QTableWidget* table = tableOf(window);
        QCOMPARE(table->columnCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("时间"));
        QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("订单号"));
        QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("收益金额（元）"));
        QCOMPARE(tableOf(window)->rowCount(), expected.size());

        // The rows are the platform's entries, each one whole (time, number and amount of the same
        // entry), newest on top.
        QVector<Row> wanted;
        for (const QJsonValue& entry : expected)
            wanted.append(rowOf(entry.toObject()));
        QVector<Row> shown = rowsOnScreen(table);
        for (int r = 1; r < shown.size(); ++r)
            QVERIFY2(shown[r - 1].time >= shown[r].time, qPrintable(describe(shown)));
        auto byTimeThenId = [](const Row& a, const Row& b) {
            return a.time != b.time ? a.time > b.time : a.id < b.id;
        };
        std::sort(wanted.begin(), wanted.end(), byTimeThenId);
        std::sort(shown.begin(), shown.end(), byTimeThenId);
        QVERIFY2(shown == wanted,
                 qPrintable(describe(shown) + QStringLiteral("\n--- wanted\n") + describe(wanted)));

        // A row keeps the shade it got when it was added (first, third, ... light), wherever it sorts.
        for (int r = 0; r < table->rowCount(); ++r) {
            int added = -1;
            for (int i = 0; i < expected.size() && added < 0; ++i)
                if (rowOf(expected[i].toObject()).id == cellText(table, r, 1))
                    added = i;
            const QColor shade = added % 2 == 0 ? lightColor : QColor(Qt::white);
            for (int c = 0; c < 3; ++c)
                QCOMPARE(table->item(r, c)->background().color(), shade);
        }
    }

    void headerClick_sortsAmountsByValue()
    {
        CWIncome* window = openWithList();
        selectTab(window, 3);
        QTRY_VERIFY(!loading(window) && tableOf(window) &&
                    tableOf(window)->parentWidget() == tabsOf(window)->widget(3));
        QTableWidget* table = tableOf(window);
        QHeaderView* header = table->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, 16));
        QCOMPARE(header->sortIndicatorSection(), 2);
        QVector<double> amounts;
        for (int r = 0; r < table->rowCount(); ++r)
            amounts.append(table->item(r, 2)->text().mid(1).toDouble());
        QVERIFY(std::is_sorted(amounts.begin(), amounts.end()) ||
                std::is_sorted(amounts.rbegin(), amounts.rend()));
        QVERIFY(amounts.contains(100.0) && amounts.contains(9.5));
    }

    void fastTabSwitches_onlyTheCurrentTabChangesTheScreen()
    {
        const int expected = platformList(*platform, session, 3).size();
        // The lists of the first three tabs come back late, after the last tab's.
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), QStringLiteral("delay"), 800, 3));
        const int answered = settledLinesWith(*platform, QStringLiteral("/api/AddShopCash"));
        CWIncome* window = open();
        selectTab(window, 1);
        selectTab(window, 2);
        selectTab(window, 3);

        QTRY_VERIFY(tableOf(window));
        QCOMPARE(tableOf(window)->parentWidget(), tabsOf(window)->widget(3));
        QCOMPARE(tableOf(window)->rowCount(), expected);
        QPointer<QTableWidget> table = tableOf(window);

        // The three late lists arrive and change nothing: same table, same orders, no box.
        QTRY_VERIFY(platform->linesWith(QStringLiteral("/api/AddShopCash")) >= answered + 4);
        QTest::qWait(300);
        QCOMPARE(tableOf(window), table.data());
        QCOMPARE(tableOf(window)->rowCount(), expected);
        QVERIFY(!boxVisible(window));
        QVERIFY(!loading(window));
    }

    void refusedPeriod_saysSoAndKeepsEarlierOrders()
    {
        CWIncome* window = openWithList();
        const int dayCount = tableOf(window)->rowCount();
        QPointer<QTableWidget> dayTable = tableOf(window);
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), QStringLiteral("refuse"),
                                   QStringLiteral("店铺已冻结"), 1));
        selectTab(window, 1);

        QTRY_VERIFY(boxShows(window, QStringLiteral("获取失败\n店铺已冻结")));
        QVERIFY(!msgBoxOf(window)->MsgBoxTimer());
        QVERIFY(!loading(window));
        // The week tab does not pass today's list off as its own.
        QCOMPARE(tableOf(window), dayTable.data());
        QCOMPARE(dayTable->parentWidget(), tabsOf(window)->widget(0));
        QCOMPARE(tableOf(window)->rowCount(), dayCount);
    }

    void periodFailure_keepsTheTable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("times");
        QTest::addColumn<int>("boxSeconds"); // 0: the box stays
        QTest::newRow("http500") << "http500" << 1 << 5;
        QTest::newRow("connection closed") << "close" << 2 << 5;
        QTest::newRow("not json") << "notjson" << 1 << 0;
        QTest::newRow("json array") << "array" << 1 << 0;
    }

    void periodFailure_keepsTheTable()
    {
        QFETCH(QString, kind);
        QFETCH(int, times);
        QFETCH(int, boxSeconds);
        CWIncome* window = openWithList();
        const int dayCount = tableOf(window)->rowCount();
        QPointer<QTableWidget> table = tableOf(window);
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), kind, QVariant(), times));
        selectTab(window, 3);

        QTRY_VERIFY(boxShows(window, listFailure));
        QVERIFY(!loading(window));
        if (boxSeconds > 0) {
            QVERIFY(msgBoxOf(window)->MsgBoxTimer());
            QCOMPARE(msgBoxOf(window)->MsgBoxTimer()->interval(), boxSeconds * 1000);
        } else {
            QVERIFY(!msgBoxOf(window)->MsgBoxTimer());
        }
        QVERIFY(table);
        QCOMPARE(tableOf(window), table.data());
        QCOMPARE(tableOf(window)->rowCount(), dayCount);

        // The next try, back on the first tab, works again.
        selectTab(window, 0);
        QTRY_VERIFY(!loading(window) && tableOf(window) != table.data() && tableOf(window));
        QCOMPARE(tableOf(window)->rowCount(), dayCount);
    }

    void cashFailure_boxStaysPollGoesOnAndRecovers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("http500") << "http500" << cashFailure;
        QTest::newRow("not json") << "notjson" << cashFailure;
        QTest::newRow("refused") << "refuse"
                                 << "余额服务维护中";
    }

    void cashFailure_boxStaysPollGoesOnAndRecovers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QVERIFY(platform->setCash(321, 654));
        CWIncome* window = openWithList();
        QTRY_COMPARE(labelOf(window, "lblYuErValue")->text(), QStringLiteral("321.00"));

        QVERIFY(platform->setFault(QStringLiteral("CashUpdate"), kind,
                                   kind == QLatin1String("refuse") ? QVariant(message) : QVariant()));
        QVERIFY(platform->setCash(1000, 2000));
        QTRY_VERIFY(boxShows(window, message));
        QVERIFY(!msgBoxOf(window)->MsgBoxTimer());

        // The poll keeps asking while the platform fails; the figures keep their last values.
        const int asked = platform->linesWith(QStringLiteral("/api/CashUpdate"));
        QTRY_VERIFY(platform->linesWith(QStringLiteral("/api/CashUpdate")) >= asked + 3);
        QVERIFY(boxShows(window, message));
        QCOMPARE(labelOf(window, "lblYuErValue")->text(), QStringLiteral("321.00"));
        QCOMPARE(labelOf(window, "lblAllIncomeValue")->text(), QStringLiteral("654.00"));

        // Once the platform answers again the figures move on and the stale failure goes.
        QVERIFY(platform->clearFaults());
        QTRY_COMPARE(labelOf(window, "lblYuErValue")->text(), QStringLiteral("1000.00"));
        QCOMPARE(labelOf(window, "lblAllIncomeValue")->text(), QStringLiteral("2000.00"));
        QVERIFY(!boxVisible(window));
    }

    void cashRecovery_leavesAnotherBoxAlone()
    {
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), QStringLiteral("refuse"),
                                   QStringLiteral("稍后再试"), 1));
        CWIncome* window = open();
        QTRY_VERIFY(boxShows(window, QStringLiteral("获取失败\n稍后再试")));
        const int asked = platform->linesWith(QStringLiteral("/api/CashUpdate"));
        QTRY_VERIFY(platform->linesWith(QStringLiteral("/api/CashUpdate")) >= asked + 2);
        QVERIFY(boxShows(window, QStringLiteral("获取失败\n稍后再试")));
    }

    // A failing balance poll while a period list is on its way: the loading indicator stays up
    // until the list has come, and the failure shows after it.
    void cashFailure_whilePeriodLoads_keepsTheLoadingIndicator()
    {
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), QStringLiteral("delay"), 700, 1));
        QVERIFY(platform->setFault(QStringLiteral("CashUpdate"), QStringLiteral("refuse"),
                                   QStringLiteral("余额暂不可用")));
        CWIncome* window = open();
        QVERIFY(loading(window));
        const int asked = platform->linesWith(QStringLiteral("/api/CashUpdate"));
        QTRY_VERIFY(platform->linesWith(QStringLiteral("/api/CashUpdate")) >= asked + 2);
        QVERIFY(!tableOf(window));
        QVERIFY(loading(window));
        QVERIFY(!boxVisible(window));
        QTRY_VERIFY_WITH_TIMEOUT(tableOf(window) && !loading(window), 5000);
        QTRY_VERIFY(boxShows(window, QStringLiteral("余额暂不可用")));
    }

    void todayFigure_countsTodaysHeldOrdersOnly_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("今 日") << 0;
        QTest::newRow("七 日") << 1;
        QTest::newRow("所 有") << 3;
    }

    void todayFigure_countsTodaysHeldOrdersOnly()
    {
        QFETCH(int, tab);
        Money today = 0;
        Money all = 0;
        const QDate date = QDate::currentDate();
        for (const QJsonValue& value : platformList(*platform, session, tab)) {
            const QJsonObject entry = value.toObject();
            const Money cash = entry.value(QStringLiteral("addcash")).toDouble();
            all += cash;
            if (QVariant(entry.value(QStringLiteral("ctime")).toString()).toDateTime().date() == date)
                today += cash;
        }
        QVERIFY(today >= 21.84 - 0.005); // the two entries of today made by initTestCase
        if (tab != 0)
            QVERIFY(FormatMoney(all) != FormatMoney(today));
        QVERIFY(platform->setCash(5000, 9000));

        CWIncome* window = openWithList();
        if (tab != 0) {
            selectTab(window, tab);
            QTRY_VERIFY(!loading(window) && tableOf(window) &&
                        tableOf(window)->parentWidget() == tabsOf(window)->widget(tab));
        }
        QTRY_COMPARE(labelOf(window, "lblTodayIncomeValue")->text(), FormatMoney(today));
        QCOMPARE(window->TodayIncome(), today);
    }

    void doubleClick_emitsThatRowsOrder_data()
    {
        QTest::addColumn<int>("column");
        QTest::newRow("time") << 0;
        QTest::newRow("number") << 1;
        QTest::newRow("amount") << 2;
    }

    void doubleClick_emitsThatRowsOrder()
    {
        QFETCH(int, column);
        CWIncome* window = openWithList();
        selectTab(window, 3);
        QTRY_VERIFY(!loading(window) && tableOf(window) &&
                    tableOf(window)->parentWidget() == tabsOf(window)->widget(3));
        QTableWidget* table = tableOf(window);
        QVERIFY(table->rowCount() > 3);
        QSignalSpy opened(window, &CWIncome::SignalOpenOrderDetail);

        const int row = 2;
        const QRect cell = table->visualItemRect(table->item(row, column));
        // A double click is a press, a release and a second press that the view sees as a double click.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QCOMPARE(opened.count(), 1);
        auto* order = opened.at(0).at(0).value<COrder*>();
        QVERIFY(order);
        QCOMPARE(QString::number(order->GetId()), table->item(row, 1)->text());
        QCOMPARE(order->GetCtime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                 table->item(row, 0)->text());
        QCOMPARE(QStringLiteral("+") + FormatMoney(order->GetAddCash()), table->item(row, 2)->text());
        // The session's own record of the order, which the window's row describes.
        QCOMPARE(sessions.back()->Book()->Find(order->GetId()), order);
    }

    void resize_laysOutBandsTableAndFigures_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("small") << QSize(700, 520);
        QTest::newRow("wide") << QSize(1400, 760);
    }

    void resize_laysOutBandsTableAndFigures()
    {
        QFETCH(QSize, size);
        CWIncome* window = openWithList();
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), QStringLiteral("http500"), QVariant(), 1));
        selectTab(window, 1);
        QTRY_VERIFY(boxShows(window, listFailure));

        window->resize(size);
        QTRY_COMPARE(window->size(), size);
        const int bandHeight = window->BottomBandHeight();
        QCOMPARE(tabsOf(window)->size(), QSize(size.width(), bandHeight));
        // Every period tab can be clicked: none lies past the window's right edge.
        QTabBar* bar = tabsOf(window)->tabBar();
        for (int i = 0; i < bar->count(); ++i)
            QVERIFY(bar->mapTo(tabsOf(window), bar->tabRect(i).topRight()).x() < size.width());
        QCOMPARE(tableOf(window)->size(),
                 QSize(size.width(), bandHeight - tabsOf(window)->tabBar()->height()));
        const QLabel* today = labelOf(window, "lblTodayIncomeValue");
        QCOMPARE(today->x(), (size.width() - today->width()) / 2);
        QCOMPARE(labelOf(window, "lblAllIncomeValue")->x() +
                     labelOf(window, "lblAllIncomeValue")
                         ->fontMetrics()
                         .horizontalAdvance(labelOf(window, "lblAllIncomeValue")->text()),
                 size.width() - 25);
        // The box follows to the middle of the bottom band.
        const QLabel* box = msgBoxOf(window)->MsgBoxLabel();
        QCOMPARE(box->x(), (size.width() - box->width()) / 2);
        QCOMPARE(box->y(), window->TopBandHeight() + (bandHeight - box->height()) / 2);
    }

    void closeWhileBothRequestsHang_endsCleanly()
    {
        QVERIFY(platform->setFault(QStringLiteral("CashUpdate"), QStringLiteral("hang")));
        QVERIFY(platform->setFault(QStringLiteral("AddShopCash"), QStringLiteral("hang")));
        const int cashAsked = settledLinesWith(*platform, QStringLiteral("/api/CashUpdate"));
        const int listAsked = settledLinesWith(*platform, QStringLiteral("/api/AddShopCash"));

        QPointer<CWIncome> window = open();
        QSignalSpy closed(window.data(), &CWidget::Close);
        selectTab(window, 2);
        QTest::qWait(400);
        QVERIFY(loading(window));
        QCOMPARE(labelOf(window, "lblYuErValue")->text(), QStringLiteral("0.00"));

        auto* closeButton = window->findChild<QPushButton*>(QStringLiteral("closeButton"));
        QVERIFY(closeButton);
        QTest::mouseClick(closeButton, Qt::LeftButton);
        QTRY_VERIFY(window.isNull());
        QCOMPARE(closed.count(), 1);

        // The platform sees the client give up all three held requests (1 balance, 2 lists).
        QTRY_COMPARE(platform->linesWith(QStringLiteral("/api/CashUpdate")), cashAsked + 1);
        QTRY_COMPARE(platform->linesWith(QStringLiteral("/api/AddShopCash")), listAsked + 2);

        // Nothing asks again after the window has gone, however many polls would have passed.
        QVERIFY(platform->clearFaults());
        QTest::qWait(12 * 5 * pollSecond);
        QCOMPARE(platform->linesWith(QStringLiteral("/api/CashUpdate")), cashAsked + 1);
        QCOMPARE(platform->linesWith(QStringLiteral("/api/AddShopCash")), listAsked + 2);
    }

    void export_writesTheListOnScreenAndSaysWhenItCannot()
    {
        CWIncome* window = openWithList();
        selectTab(window, 3);
        QTRY_VERIFY(!loading(window) && tableOf(window) &&
                    tableOf(window)->parentWidget() == tabsOf(window)->widget(3));

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("收入.csv"));
        QVERIFY(window->SaveCsv(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        QVERIFY(data.startsWith("\xEF\xBB\xBF"));
        QStringList lines = QString::fromUtf8(data.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeLast(), QString()); // the last line ends too
        QCOMPARE(lines.takeFirst(), QStringLiteral("时间,订单号,收益金额（元）"));
        QVector<Row> written;
        for (const QString& line : qAsConst(lines)) {
            const QStringList fields = line.split(QLatin1Char(','));
            QCOMPARE(fields.size(), 3);
            written.append({fields[0], fields[1], QStringLiteral("+") + fields[2]});
        }
        QVERIFY2(written == rowsOnScreen(tableOf(window)), qPrintable(describe(written)));

        // A place no file can go (its folder is a file): the box says so and stays.
        QVERIFY(!window->SaveCsv(path + QStringLiteral("/收入.csv")));
        QVERIFY(boxVisible(window) && !msgBoxOf(window)->MsgBoxTimer());
        QVERIFY(msgBoxOf(window)->MsgBoxLabel()->text().startsWith(QStringLiteral("导出失败\n")));

        // While the next period loads, the list held is not the one of the tab: nothing to export.
        selectTab(window, 1);
        QVERIFY(!window->SaveCsv(path + QStringLiteral(".2")));
        QVERIFY(!QFile::exists(path + QStringLiteral(".2")));
    }

    void chart_followsTheTabsWithoutAskingAgain()
    {
        CWIncome* window = openWithList();
        QVERIFY(tableOf(window)->isVisible() && !chartOf(window)); // the list comes first
        const int asked = settledLinesWith(*platform, QStringLiteral("/api/AddShopCash"));

        QTest::mouseClick(viewButtonOf(window), Qt::LeftButton);
        QVERIFY(chartOf(window)->isVisible() && !tableOf(window)->isVisible());
        QCOMPARE(chartOf(window)->Income().BarCount(), 1);
        QCOMPARE(settledLinesWith(*platform, QStringLiteral("/api/AddShopCash")), asked);

        selectTab(window, 1);
        QTRY_VERIFY(!loading(window) && chartOf(window)->isVisible() &&
                    chartOf(window)->parentWidget() == tabsOf(window)->widget(1));
        const DailyIncome& shown = chartOf(window)->Income();
        QCOMPARE(shown.first, QDate::currentDate().addDays(-6));
        QCOMPARE(shown.BarCount(), 7);
        Money held = 0;
        for (const IncomeEntry& entry : window->RowsOnScreen())
            held += entry.addCash;
        QCOMPARE(shown.total, held);
        QCOMPARE(settledLinesWith(*platform, QStringLiteral("/api/AddShopCash")), asked + 1);

        QTest::mouseClick(viewButtonOf(window), Qt::LeftButton);
        QVERIFY(tableOf(window)->isVisible() && !chartOf(window)->isVisible());
    }

    // Last: it empties the shop's income list.
    void emptyPeriod_encouragesAndLeavesNoTable()
    {
        CWIncome* window = openWithList();
        QVERIFY(tableOf(window));
        QCOMPARE(platform->admin("DELETE", QStringLiteral("income")).value(QStringLiteral("status")).toInt(),
                 1);
        QVERIFY(platformList(*platform, session, 3).isEmpty());

        selectTab(window, 3);
        QTRY_VERIFY(boxShows(window, noOrders));
        QVERIFY(!tableOf(window));
        QVERIFY(window->RowsOnScreen().isEmpty());
        QVERIFY(!msgBoxOf(window)->MsgBoxTimer());
        QTRY_COMPARE(labelOf(window, "lblTodayIncomeValue")->text(), QStringLiteral("0.00"));

        // A fresh window on an empty shop shows the same, with no table at all.
        CWIncome* fresh = open();
        QTRY_VERIFY(boxShows(fresh, noOrders));
        QVERIFY(!tableOf(fresh));
    }
};

TARVIK_TEST_MAIN(TestCWIncome)
#include "tst_cwincome.moc"
