#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QCompleter>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenu>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/settings.h"
#include "app/ui/traymessage.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/orderfixture.h"
#include "common/platformprocess.h"
#include "common/testsession.h"
#include "common/testmain.h"
#include "common/urlcatcher.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "income/ui/cwincome.h"
#include "main/ui/cwmain.h"
#include "main/ui/cwsettings.h"
#include "main/ui/cwuserinfo.h"
#include "main/reminder.h"
#include "orders/neworders.h"
#include "main/softwareupdate.h"
#include "net/connectionstate.h"
#include "app/sound.h"
#include "orders/corder.h"
#include "orders/orderpolls.h"
#include "orders/ui/callist.h"
#include "orders/ui/corderitem.h"
#include "session/csession.h"
#include "session/ui/cwlogin.h"
#include "ui/cweblabel.h"

// The main window after a login against the local platform server.
class TestCWMain : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    QTemporaryDir sockets;
    QPointer<CWMain> window;
    // The installer the window's update started: recorded, never run. Starting a program forks,
    // and a fork beside the sanitizer's threads may hang; Desktop::StartDetached has its own test.
    QString started;
    void RecordInstallers()
    {
        started.clear();
        window->Update()->SetInstallerStarter([this](const QString& program) {
            started = program;
            return true;
        });
    }
    PlatformProcess::Session session;

    // The account the next window's session logs in as.
    CUser user;

    void logIn(const QString& nickname)
    {
        user = CUser();
        user.SetAccount(PlatformProcess::DemoAccount);
        user.SetId(session.id);
        user.SetKey(session.key);
        user.SetToken(session.token);
        user.SetNickname(nickname);
        user.SetFace(platform->baseUrl() + QStringLiteral("/img/face/1.png"));
    }

    // Detail windows showing the order with this id.
    static QList<COrderWidget*> detailsOf(qint64 id)
    {
        QList<COrderWidget*> found;
        for (COrderWidget* detail : OpenWindows<COrderWidget>())
            if (detail->Order() && detail->Order()->GetId() == id)
                found.append(detail);
        return found;
    }

    // Waits for the order lists to hold the seeded orders.
    bool ordersLoaded() const { return MainParts::Pane(window) && window->Session()->Book()->Orders().size() > 100; }

    void openWindow(int second = 1000)
    {
        window = new CWMain(MakeSession(user, TestOptions(second)).release());
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

private slots:
    void initTestCase()
    {
        // The single-instance probe of the helper program listens on a socket of its own.
        qputenv("TMPDIR", sockets.path().toLocal8Bit());
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        platform->serveClient();
        session =
            platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(session.isValid());
        // The tray tooltips below are those of a computer that has an audio output.
        Sound::Service::SetOutputProbe([] { return QString(); });
    }

    void init() { logIn(QStringLiteral("小王")); }

    void cleanup()
    {
        // Windows the main window opened live on their own; they must not outlast the test's data.
        for (COrderWidget* detail : OpenWindows<COrderWidget>())
            delete detail;
        for (CWIncome* income : OpenWindows<CWIncome>())
            delete income;
        for (CWUserInfo* profile : OpenWindows<CWUserInfo>())
            delete profile;
        delete window;
        QVERIFY(OpenWindows<CWSettings>().isEmpty()); // the settings window goes with the main window
        QDir(FacesDir()).removeRecursively();
    }

    void head_showsWhoIsLoggedIn_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nickname") << "小王"
                                  << "小王";
        QTest::newRow("no nickname") << ""
                                     << "13800000001";
    }
    void head_showsWhoIsLoggedIn()
    {
        QFETCH(QString, nickname);
        QFETCH(QString, shown);
        logIn(nickname);
        QVERIFY(!QFile::exists(JoinPath(FacesDir(), QStringLiteral("1.png"))));
        openWindow();

        QCOMPARE(MainParts::Nickname(window)->text(), shown);
        QCOMPARE(MainParts::Nickname(window)->pos(), QPoint(80, 40));
        QCOMPARE(MainParts::Avatar(window)->geometry(), QRect(8, 40, 64, 64));
        QCOMPARE(MainParts::Avatar(window)->ClickMode(), 0);
        // The avatar's local copy, for the login window's list of remembered accounts.
        const QString copy = JoinPath(FacesDir(), QStringLiteral("1.png"));
        QCOMPARE(MainParts::Avatar(window)->LocalPath(), copy);
        QTRY_VERIFY(QFile::exists(copy));
        QVERIFY(!QPixmap(copy).isNull());
        QVERIFY(window->HoldsLoginStamp());
        QCOMPARE(window->windowTitle(), QStringLiteral("Tarvik"));
        QCOMPARE(window->size(), QSize(280, 528));
    }

    void head_hasTabsSearchAndShortcuts()
    {
        openWindow();
        QTabWidget* tabs = MainParts::Tabs(window);
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("订单"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("好友"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("会话"));
        QCOMPARE(tabs->widget(0), MainParts::OrdersArea(window));
        QCOMPARE(MainParts::OrdersArea(window)->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        for (int i = 1; i < 3; ++i) {
            const QList<QLabel*> labels = tabs->widget(i)->findChildren<QLabel*>();
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels.first()->text(), QStringLiteral("敬请期待！谢谢！"));
            QCOMPARE(labels.first()->y(), 120);
        }
        QCOMPARE(tabs->parentWidget(), window->BottomBand());
        QCOMPARE(tabs->geometry(), QRect(0, 0, 280, window->BottomBandHeight() - 58));
        QCOMPARE(tabs->tabBar()->width(), 280 * 4 / 3);

        QLineEdit* search = MainParts::Search(window);
        QCOMPARE(search->objectName(), QStringLiteral("pleditSearch"));
        QCOMPARE(search->geometry(), QRect(0, 140, 280, 30));

        struct Expected
        {
            QPushButton* button;
            const char* name;
            const char* tip;
            QRect geometry;
            bool visible;
        };
        const QList<Expected> buttons{
            {MainParts::HomeLink(window), "pbtnHomeLink", "打开首页", QRect(8, 117, 20, 20), true},
            {MainParts::CashLink(window), "pbtnCashLink", "打开网页提现", QRect(36, 117, 20, 20), true},
            {MainParts::Income(window), "pbtnShopCash", "收入流水", QRect(250, 117, 22, 22), true},
            {MainParts::ServerTable(window), "pbtnServerTable", "待确认订单", QRect(220, 117, 22, 22), true},
        };
        for (const Expected& e : buttons) {
            QCOMPARE(e.button->objectName(), QString::fromLatin1(e.name));
            QCOMPARE(e.button->toolTip(), QString::fromUtf8(e.tip));
            QCOMPARE(e.button->geometry(), e.geometry);
            QCOMPARE(e.button->isVisible(), e.visible);
            QCOMPARE(e.button->parentWidget(), window->TopBand());
        }
    }

    void resize_keepsTheRightHandButtonsAtTheEdge()
    {
        openWindow();
        window->resize(400, 600);
        QCOMPARE(window->size(), QSize(400, 600));
        QCOMPARE(MainParts::Income(window)->pos(), QPoint(400 - 22 - 8, 117));
        QCOMPARE(MainParts::ServerTable(window)->pos(), QPoint(400 - 22 - 8 - 22 - 8, 117));
        QCOMPARE(MainParts::Search(window)->size(), QSize(400, 30));
        QCOMPARE(MainParts::Tabs(window)->size(), QSize(400, 600 - 170 - 58));
        QCOMPARE(MainParts::Tabs(window)->tabBar()->width(), 400 * 4 / 3);
        // No wider than 430.
        window->resize(600, 600);
        QCOMPARE(window->width(), 430);
    }

    void searchField_hintFocusAndEscape()
    {
        openWindow();
        QLineEdit* search = MainParts::Search(window);
        QCOMPARE(CWMain::searchHint, QStringLiteral("搜索：好友、订单"));
        QCOMPARE(search->text(), CWMain::searchHint);

        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        QCOMPARE(search->text(), QString());
        MainParts::Tabs(window)->tabBar()->setFocus();
        QTRY_VERIFY(!search->hasFocus());
        QCOMPARE(search->text(), CWMain::searchHint);

        // Typed text stays when the focus leaves; Escape empties the field.
        search->setFocus();
        QTest::keyClicks(search, QStringLiteral("2612"));
        MainParts::Tabs(window)->tabBar()->setFocus();
        QTRY_VERIFY(!search->hasFocus());
        QCOMPARE(search->text(), QStringLiteral("2612"));
        search->setFocus();
        QCOMPARE(search->text(), QStringLiteral("2612"));
        QTest::keyClick(search, Qt::Key_Escape);
        QCOMPARE(search->text(), QString());
        MainParts::Tabs(window)->tabBar()->setFocus();
        QTRY_COMPARE(search->text(), CWMain::searchHint);
    }

    void profile_oneWindowAtATime()
    {
        openWindow();
        QTest::mouseClick(MainParts::Avatar(window), Qt::LeftButton);
        QPointer<CWUserInfo> first = OpenWindows<CWUserInfo>().value(0);
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("我的资料"));
        QCOMPARE(first->size(), QSize(560, 580));
        QTRY_COMPARE(first->findChild<QLabel*>(QStringLiteral("lblUserName"))->text(), QStringLiteral("小王"));

        QTest::mouseClick(MainParts::Avatar(window), Qt::LeftButton);
        QCOMPARE(OpenWindows<CWUserInfo>().value(0), first.data());
        const QWidgetList tops = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(tops.begin(), tops.end(),
                               [](QWidget* w) { return qobject_cast<CWUserInfo*>(w) != nullptr; }),
                 1);

        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!OpenWindows<CWUserInfo>().value(0));
        QTest::mouseClick(MainParts::Avatar(window), Qt::LeftButton);
        QVERIFY(OpenWindows<CWUserInfo>().value(0));
        QVERIFY(OpenWindows<CWUserInfo>().value(0) != first.data());
        delete OpenWindows<CWUserInfo>().value(0);
    }

    void links_openThePlatformsPages()
    {
        openWindow();
        UrlCatcher browser;
        QTest::mouseClick(MainParts::HomeLink(window), Qt::LeftButton);
        QTest::mouseClick(MainParts::CashLink(window), Qt::LeftButton);
        QCOMPARE(browser.urls.size(), 2);
        QCOMPARE(browser.urls.at(0), QUrl(platform->baseUrl() + QStringLiteral("/")));
        QCOMPARE(browser.urls.at(1), QUrl(platform->baseUrl() + QStringLiteral("/amy.php")));
        QCOMPARE(platform->get(browser.urls.at(1).toString()).httpStatus, 200);
    }

    void trayMenu_andDoubleClickOnTheBand()
    {
        openWindow();
        QVERIFY(window->TrayIcon()->isVisible());
        QCOMPARE(window->TrayIcon()->toolTip(), QStringLiteral("Velm"));
        const QList<QAction*> actions = MainParts::TrayMenu(window)->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions.at(0)->text(), QStringLiteral("主界面"));
        QCOMPARE(actions.at(1)->text(), QStringLiteral("设置"));
        QCOMPARE(actions.at(2)->text(), QStringLiteral("退出程序"));
        QVERIFY(actions.at(3)->isSeparator());

        window->hide();
        actions.at(0)->trigger();
        QVERIFY(window->isVisible());
        window->hide();
        window->onSystemTrayIconClicked(QSystemTrayIcon::Context);
        QVERIFY(!window->isVisible());
        window->onSystemTrayIconClicked(QSystemTrayIcon::DoubleClick);
        QVERIFY(window->isVisible());

        const QSize before = window->size();
        QTest::mouseDClick(window->TopBand(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 20));
        QTest::qWait(50); // animations are instant in tests
        QVERIFY(!window->Maximized());
        QCOMPARE(window->size(), before);

        actions.at(2)->trigger();
        QVERIFY(!window->TrayIcon()->isVisible());
        QTRY_VERIFY(!window); // closed and deleted
    }

    void connectionLost_bandAndTrayIcon_untilAPollSucceeds()
    {
        openWindow();
        QVERIFY(!MainParts::OfflineBand(window)->isVisible());
        CConnectionState* state = window->Session()->Connection();
        // Driven by hand here: the window's own polls must not report as well.
        QObject::disconnect(window->Session()->Polls(), nullptr, state, nullptr);
        qint64 now = 0;
        state->SetClock([&now] { return now; });
        // A poll that fails after this test must not read a clock that is gone.
        auto realClock = qScopeGuard([state] { state->SetClock(nullptr); });
        state->SetThreshold(40000);
        state->SetTickInterval(20);
        // The polls the window runs fail as well while this runs.
        QVERIFY(platform->setFault(QStringLiteral("*"), QStringLiteral("http500")));
        auto clearFaults = qScopeGuard([this] { platform->clearFaults(); });

        state->Failed();
        now = 39000;
        state->Failed();
        QVERIFY(!MainParts::OfflineBand(window)->isVisible());
        now = 40000;
        state->Failed();
        QLabel* band = MainParts::OfflineBand(window);
        QVERIFY(band->isVisible());
        QCOMPARE(band->text(), QStringLiteral("网络连接中断 · 已 40 秒"));
        // Across the head, clear of the nickname, the shortcut buttons and the search field.
        QCOMPARE(band->parentWidget(), window->TopBand());
        QCOMPARE(band->width(), window->width());
        QVERIFY(band->geometry().top() >= MainParts::Nickname(window)->geometry().bottom());
        QVERIFY(band->geometry().bottom() < MainParts::HomeLink(window)->y());
        QVERIFY(band->geometry().bottom() < MainParts::Search(window)->y());
        const QImage offline = QIcon(QStringLiteral(":/img/img/velm_offline.ico")).pixmap(16).toImage();
        const QImage online = QIcon(QStringLiteral(":/img/img/velm.ico")).pixmap(16).toImage();
        QVERIFY(offline != online);
        QCOMPARE(window->TrayIcon()->icon().pixmap(16).toImage(), offline);
        QCOMPARE(window->TrayIcon()->toolTip(), QStringLiteral("网络连接中断，自 ") +
                                                    state->Since().toString(QStringLiteral("hh:mm:ss")) +
                                                    QStringLiteral(" 起"));

        now = 47000;
        QTRY_COMPARE(band->text(), QStringLiteral("网络连接中断 · 已 47 秒"));
        window->resize(400, 600);
        QCOMPARE(band->width(), 400);

        state->Succeeded();
        QVERIFY(!band->isVisible());
        QCOMPARE(window->TrayIcon()->icon().pixmap(16).toImage(), online);
        QCOMPARE(window->TrayIcon()->toolTip(), QStringLiteral("Velm"));

        // A platform that answers and refuses says so in its own words.
        state->Failed(QStringLiteral("PayFinishOrder"), QStringLiteral("登录已过期，请重新登录！"));
        now += 40000;
        state->Check();
        QVERIFY(band->isVisible());
        QCOMPARE(band->text(), QStringLiteral("订单同步被拒绝：登录已过期，请重新登录！"));
        QVERIFY(window->TrayIcon()->toolTip().startsWith(QStringLiteral("订单同步被拒绝，自 ")));
    }

    // Without an audio output the orders still come, unheard: the tray tooltip says so, under
    // whatever it says about the connection.
    void soundsUnavailable_saidInTheTrayToolTip()
    {
        Sound::Service::SetOutputProbe([] { return QStringLiteral("no audio output device"); });
        auto withOutput = qScopeGuard([] { Sound::Service::SetOutputProbe([] { return QString(); }); });
        openWindow();
        QSignalSpy unavailable(window->Session()->Sounds(), &Sound::Service::Unavailable);
        QTRY_COMPARE_WITH_TIMEOUT(window->TrayIcon()->toolTip(), QStringLiteral("Velm\n声音不可用"), 10000);
        QCOMPARE(unavailable.count(), 1);

        CConnectionState* state = window->Session()->Connection();
        QObject::disconnect(window->Session()->Polls(), nullptr, state, nullptr);
        qint64 now = 0;
        state->SetClock([&now] { return now; });
        auto realClock = qScopeGuard([state] { state->SetClock(nullptr); });
        state->SetThreshold(1000);
        state->Failed();
        now = 1000;
        state->Failed();
        QCOMPARE(window->TrayIcon()->toolTip(), QStringLiteral("网络连接中断，自 ") +
                                                    state->Since().toString(QStringLiteral("hh:mm:ss")) +
                                                    QStringLiteral(" 起\n声音不可用"));
        state->Succeeded();
        QCOMPARE(window->TrayIcon()->toolTip(), QStringLiteral("Velm\n声音不可用"));
        QCOMPARE(unavailable.count(), 1);
    }

    // The real polls fail: the band comes; once they succeed again it goes and the client asks for
    // the full list again, so an order that came while the line was down is there, announced once.
    void failingPolls_showTheBand_recoveryCatchesUp()
    {
        openWindow(100);
        QTRY_VERIFY_WITH_TIMEOUT(ordersLoaded(), 10000);
        window->Session()->Connection()->SetThreshold(1000);
        QVERIFY(platform->setFault(QStringLiteral("*"), QStringLiteral("http500")));
        auto clearFaults = qScopeGuard([this] { platform->clearFaults(); });
        QTRY_VERIFY_WITH_TIMEOUT(MainParts::OfflineBand(window)->isVisible(), 5000);

        const qint64 id = platform->createOrder(QJsonObject{{"status", 1}});
        QVERIFY(id);
        QSignalSpy caughtUp(window->Session()->Polls(), &COrderPolls::CaughtUp);
        QSignalSpy sounds(Sound::monitor(), &Sound::Monitor::Played);
        QVERIFY(platform->clearFaults());
        QTRY_VERIFY_WITH_TIMEOUT(!MainParts::OfflineBand(window)->isVisible(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(caughtUp.size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(MainParts::Pane(window)->FindOrderItem(id), 5000);
        QVERIFY(MainParts::Pane(window)->FindOrderItem(id)->IsFlashing());
        QTest::qWait(500);
        int rung = 0;
        for (const QList<QVariant>& played : sounds)
            rung += played.value(0).toString() == QLatin1String("audio/neworder.mp3");
        QCOMPARE(rung, 1);
    }

    void settings_oneWindow_fromTheHeadOrTheTray()
    {
        openWindow();
        QPushButton* button = MainParts::Settings(window);
        QVERIFY(button && button->isVisible());
        QCOMPARE(button->objectName(), QStringLiteral("psbtnSetup"));
        QCOMPARE(button->toolTip(), QStringLiteral("设置"));
        QVERIFY(!button->geometry().intersects(window->TitleLabel()->geometry()));
        QAction* trayAction = MainParts::TrayMenu(window)->actions().at(1);

        QTest::mouseClick(button, Qt::LeftButton);
        QPointer<CWSettings> first = OpenWindows<CWSettings>().value(0);
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("设置"));
        trayAction->trigger();
        QCOMPARE(OpenWindows<CWSettings>().value(0), first.data());
        QCOMPARE(OpenWindows<CWSettings>().size(), 1);

        // The window edits the session's own settings: the reminder follows at once.
        QCOMPARE(window->Session()->Settings()->Account(), PlatformProcess::DemoAccount);
        SettingsParts::TrayNotice(first)->setChecked(true);
        QVERIFY(window->Session()->Settings()->TrayNotice());
        window->hide();
        window->Session()->Book()->Take(Entry(26120899001LL, 1), COrderBook::New);
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("新订单 26120899001"));
        window->Session()->NewOrders()->Acknowledge(26120899001);
        SettingsParts::TrayNotice(first)->setChecked(false);
        window->show();

        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!OpenWindows<CWSettings>().value(0));
        trayAction->trigger();
        QVERIFY(OpenWindows<CWSettings>().value(0));
    }

    void orderLists_liveInTheFirstTab()
    {
        openWindow();
        QVERIFY(MainParts::Pane(window));
        QCOMPARE(MainParts::OrdersArea(window)->widget(), MainParts::Pane(window));
        QTRY_VERIFY_WITH_TIMEOUT(ordersLoaded(), 10000);

        // A paid order created now reaches the lists through their polls.
        const qint64 id = platform->createOrder(QJsonObject{{QStringLiteral("status"), 1}});
        QVERIFY(id > 0);
        QTRY_VERIFY_WITH_TIMEOUT(MainParts::Pane(window)->FindOrderItem(id), 30000);

        QTest::mouseClick(MainParts::ServerTable(window), Qt::LeftButton);
        QVERIFY(ServerTableWindow());
        QVERIFY(ServerTableWindow()->isVisible());
        ServerTableWindow()->hide();
    }

    void income_oneWindowAtATime()
    {
        openWindow();
        QTest::mouseClick(MainParts::Income(window), Qt::LeftButton);
        QPointer<CWIncome> first = OpenWindows<CWIncome>().value(0);
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("收入流水"));
        QCOMPARE(first->size(), QSize(1200, 700));
        QCOMPARE(first->minimumSize(), QSize(600, 350));
        QCOMPARE(first->TitleLabel()->pos(), QPoint(5, 5));

        QTest::mouseClick(MainParts::Income(window), Qt::LeftButton);
        QCOMPARE(OpenWindows<CWIncome>().value(0), first.data());
        QCOMPARE(OpenWindows<CWIncome>().size(), 1);

        delete first.data();
        QVERIFY(!OpenWindows<CWIncome>().value(0));
        QTest::mouseClick(MainParts::Income(window), Qt::LeftButton);
        QVERIFY(OpenWindows<CWIncome>().value(0));
        QCOMPARE(OpenWindows<CWIncome>().size(), 1);
    }

    void completion_offersMatchingIdsAndOpensTheOrder_data()
    {
        QTest::addColumn<bool>("withRow");
        QTest::newRow("order with a row") << true;
        // Such an order gets a new window on every request: the Enter key that picks it from the
        // list must not open a second one.
        QTest::newRow("order without a row") << false;
    }
    void completion_offersMatchingIdsAndOpensTheOrder()
    {
        QFETCH(bool, withRow);
        openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(ordersLoaded(), 10000);
        COrder* target = nullptr;
        for (COrder* order : window->Session()->Book()->Orders())
            if (bool(MainParts::Pane(window)->FindOrderItem(order->GetId())) == withRow)
                target = order;
        QVERIFY(target);
        const QString id = QString::number(target->GetId());
        const QString typed = id.left(id.size() - 2);

        QLineEdit* search = MainParts::Search(window);
        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        QTest::keyClicks(search, typed);
        QCompleter* completer = search->completer();
        QVERIFY(completer);
        QCOMPARE(completer->caseSensitivity(), Qt::CaseInsensitive);
        // The model holds every order whose number contains the text; the popup those that begin with it.
        const QStringList offered = static_cast<QStringListModel*>(completer->model())->stringList();
        QVERIFY(offered.contains(id));
        for (const QString& entry : offered)
            QVERIFY2(entry.contains(typed), qPrintable(entry));
        QTRY_VERIFY(completer->popup()->isVisible());
        const int rows = completer->completionCount();
        QVERIFY(rows >= 1);
        int row = 0;
        for (completer->setCurrentRow(0); completer->currentCompletion() != id;
             completer->setCurrentRow(++row))
            QVERIFY(row < rows);
        completer->popup()->setCurrentIndex(completer->completionModel()->index(row, 0));
        QTest::keyClick(completer->popup(), Qt::Key_Return);

        QTRY_COMPARE(detailsOf(target->GetId()).size(), 1);
        QTest::qWait(50);
        QCOMPARE(detailsOf(target->GetId()).size(), 1);
        QPointer<COrderWidget> detail = detailsOf(target->GetId()).first();
        QCOMPARE(detail->Order(), target);
        QCOMPARE(detail->windowTitle(), id + QStringLiteral(" 订单详情"));
        if (!withRow)
            return;
        QCOMPARE(DetailWindowOf(target->GetId()), detail.data());

        // Picking it again raises the same window; so does Enter on the number.
        window->SearchOpenOrderDetail(id);
        search->setText(id);
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(detailsOf(target->GetId()).size(), 1);
        QVERIFY(detail);
    }

    void search_unknownNumber_saysSo_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no such order") << "99999999999";
        QTest::newRow("not a number") << "abc";
    }
    void search_unknownNumber_saysSo()
    {
        QFETCH(QString, text);
        openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(ordersLoaded(), 10000);
        const int before = OpenWindows<COrderWidget>().size();
        QLineEdit* search = MainParts::Search(window);
        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        QTest::keyClicks(search, text);
        const int messages = Tray::MessageCount();
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(Tray::MessageCount(), messages + 1);
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("无此订单！"));
        QCOMPARE(OpenWindows<COrderWidget>().size(), before);
    }

    void incomeWindow_opensOrderDetails()
    {
        openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(ordersLoaded(), 10000);
        QTest::mouseClick(MainParts::Income(window), Qt::LeftButton);
        QPointer<CWIncome> income = OpenWindows<CWIncome>().value(0);
        QVERIFY(income);

        // An order the lists show: its row's own window opens, on the lists' record.
        COrder* listed = nullptr;
        for (COrder* order : window->Session()->Book()->Orders())
            if (!listed && MainParts::Pane(window)->FindOrderItem(order->GetId()))
                listed = order;
        QVERIFY(listed);
        COrder incomeCopy;
        incomeCopy.SetId(listed->GetId());
        emit income->SignalOpenOrderDetail(&incomeCopy);
        QCOMPARE(detailsOf(listed->GetId()).size(), 1);
        QCOMPARE(detailsOf(listed->GetId()).first()->Order(), listed);
        QCOMPARE(DetailWindowOf(listed->GetId()),
                 detailsOf(listed->GetId()).first());

        // An order the lists do not hold: the book takes it from the income window's record (which
        // may go at once) and it has one window, like every order.
        const qint64 unknown = 24010100077LL;
        QVERIFY(!window->Session()->Book()->Find(unknown));
        auto* old = new COrder;
        old->SetId(unknown);
        old->SetAmount(38);
        emit income->SignalOpenOrderDetail(old);
        emit income->SignalOpenOrderDetail(old);
        delete old;
        const QList<COrderWidget*> details = detailsOf(unknown);
        QCOMPARE(details.size(), 1);
        QCOMPARE(details.first()->windowTitle(), QStringLiteral("24010100077 订单详情"));
        QCOMPARE(details.first()->Order(), window->Session()->Book()->Find(unknown));
        QCOMPARE(details.first()->Order()->GetAmount(), 38.0);
        QVERIFY(!MainParts::Pane(window)->FindOrderItem(unknown)); // no row until its status changes
        delete income.data();
        QPointer<COrderWidget> kept = details.first();
        QTest::qWait(300); // the detail request runs (and fails) on a record that must still be there
        QVERIFY(kept);
        QCOMPARE(kept->Order()->GetId(), unknown);

        // The main window takes them along when it goes.
        delete window;
        QVERIFY(!kept);
    }

    // The window owns the session: when it goes, the account is no longer logged in here.
    void destroyed_endsTheSession()
    {
        openWindow();
        QVERIFY(window->HoldsLoginStamp());
        delete window.data();
        QVERIFY(!AccountLock::IsHeldByLiveSession(AccountLockFile(PlatformProcess::DemoAccount)));
    }

    // The update button, its bar and the tray follow the update from the first check to the installer.
    void update_buttonBarAndTrayFollowTheUpdate()
    {
        struct Platform
        {
            bool checkFails = true;
            bool downloadFails = true;
            QString build = QStringLiteral("9.0");
        };
        const auto answers = std::make_shared<Platform>();
        const QByteArray script("#!/bin/sh\nexit 0\n");
        const QString url = platform->baseUrl() + QStringLiteral("/download/tarvik-setup-9.0.sh");
        const QString digest = QCryptographicHash::hash(script, QCryptographicHash::Sha256).toHex();
        FakeNetworkManager::Install([=](const RecordedRequest& request) {
            if (request.request.url() == QUrl(url))
                return answers->downloadFails ? FakeResponse::Error(QNetworkReply::RemoteHostClosedError)
                                              : FakeResponse::Json(script);
            if (!request.request.url().path().endsWith(QStringLiteral("/UpdateSoftware")))
                return FakeResponse::Real();
            if (answers->checkFails)
                return FakeResponse::Error(QNetworkReply::ConnectionRefusedError);
            return FakeResponse::Json(
                QStringLiteral(R"({"status":1,"info":{"build":"%1","url":"%2","sha256":"%3"}})")
                    .arg(answers->build, url, digest)
                    .toUtf8());
        });
        const QString installer = CSoftwareUpdate::InstallerPath(PlatformProcess::DemoAccount, QUrl(url));
        const auto restore = qScopeGuard([installer] {
            FakeNetworkManager::Uninstall();
            QDir(QFileInfo(installer).absolutePath()).removeRecursively();
        });
        openWindow();
        RecordInstallers();
        QPushButton* button = MainParts::Update(window);
        QCOMPARE(button->objectName(), QStringLiteral("ppbtnUpdate"));
        QCOMPARE(button->parentWidget(), window->BottomBand());

        QTRY_COMPARE(button->text(), QStringLiteral("获取更新失败，点击重试！"));
        QVERIFY(button->isVisible() && button->isEnabled());
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("获取更新失败!请检查网络连接，谢谢！"));
        QCOMPARE(Tray::LastMessage().title, AppName);
        // Half the width, at the avatar's x, 4 px above the bottom band's lower edge.
        QCOMPARE(button->geometry(), QRect(8, 330, 140, 24));

        answers->checkFails = false;
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), QStringLiteral("有新版本，下载更新"));
        QVERIFY(button->isVisible() && button->isEnabled());

        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), QStringLiteral("更新下载失败，重试！"));
        QVERIFY(button->isVisible() && button->isEnabled());
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("更新下载失败，重试！\n都是网络的错！"));

        // The bar takes the button's place while bytes come in.
        answers->downloadFails = false;
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), QStringLiteral("准备下载..."));
        QVERIFY(!button->isEnabled());
        window->Update()->SlotDownProgress(5, 17);
        QProgressBar* bar = MainParts::UpdateBar(window);
        QVERIFY(bar && bar->isVisible() && !button->isVisible());
        QCOMPARE(bar->value(), 5);
        QCOMPARE(bar->maximum(), 17);
        QCOMPARE(bar->height(), 12);
        QCOMPARE(bar->pos(), QPoint(8, 336));
        window->Update()->SlotDownProgress(17, 17);
        QVERIFY(!bar->isVisible() && button->isVisible());
        QTRY_COMPARE(button->text(), QStringLiteral("点击安装！"));
        QVERIFY(button->isVisible() && button->isEnabled() && !bar->isVisible());
        QVERIFY(button->toolTip().isEmpty()); // checked against its digest: nothing to warn of
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("新版已下载完成！"));
        QCOMPARE(Tray::LastMessage().title, AppName);

        QVERIFY(QFile::remove(installer));
        const QString startedBefore = started;
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("文件已不存在！已重新下载。 "));
        QCOMPARE(Tray::LastMessage().title, QStringLiteral("安装信息"));
        QCOMPARE(button->text(), QStringLiteral("准备下载..."));
        QCOMPARE(started, startedBefore);
        QTRY_COMPARE(button->text(), QStringLiteral("点击安装！"));

        const int messages = Tray::MessageCount();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(started, installer);
        QCOMPARE(Tray::MessageCount(), messages); // no failure to report
        QVERIFY(window && window->isVisible());   // the client stays open

        // A check that finds nothing newer takes the button away.
        answers->build = QStringLiteral("1.0");
        window->Update()->HttpUpdate();
        QTRY_VERIFY(!button->isVisible());
    }

    // The platform named no digest: the installer, fetched over plain http from its host, is taken on
    // its word, and the button says so before it is started.
    void update_unverifiedInstaller_isSaidBeforeItStarts()
    {
        const QByteArray script("#!/bin/sh\nexit 0\n");
        const QString url = platform->baseUrl() + QStringLiteral("/download/tarvik-setup-9.1.sh");
        FakeNetworkManager::Install([=](const RecordedRequest& request) {
            if (request.request.url() == QUrl(url))
                return FakeResponse::Json(script);
            if (!request.request.url().path().endsWith(QStringLiteral("/UpdateSoftware")))
                return FakeResponse::Real();
            return FakeResponse::Json(
                QStringLiteral(R"({"status":1,"info":{"build":"9.1","url":"%1"}})").arg(url).toUtf8());
        });
        const QString installer = CSoftwareUpdate::InstallerPath(PlatformProcess::DemoAccount, QUrl(url));
        const auto restore = qScopeGuard([installer] {
            FakeNetworkManager::Uninstall();
            QDir(QFileInfo(installer).absolutePath()).removeRecursively();
        });
        openWindow();
        RecordInstallers();
        QPushButton* button = MainParts::Update(window);
        QTRY_COMPARE(button->text(), QStringLiteral("有新版本，下载更新"));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), QStringLiteral("安装程序未经校验"));
        QVERIFY(button->isVisible() && button->isEnabled());
        QVERIFY(button->toolTip().contains(QStringLiteral("点击即开始安装")));
        QCOMPARE(Tray::LastMessage().text,
                 QStringLiteral("新版已下载完成！\n安装程序未经校验，点击按钮开始安装。"));
        QVERIFY(started != installer);

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(started, installer);
    }

    void closing_endsTheProgramAndFreesTheAccount_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("close button") << "close";
        QTest::newRow("tray menu") << "menu";
    }
    void closing_endsTheProgramAndFreesTheAccount()
    {
        QFETCH(QString, command);
        const QString stamp = AccountLockFile(PlatformProcess::SecondDemoAccount);
        QProcess session;
        session.start(QStringLiteral(TEST_HELPER_DIR "/helper_mainwindow"),
                      {QString::number(PlatformProcess::SecondDemoAccount),
                       QString::fromLatin1(PlatformProcess::SecondDemoPassword)});
        QVERIFY(session.waitForReadyRead(15000));
        QCOMPARE(QString::fromUtf8(session.readLine()).trimmed(), QStringLiteral("logged-in"));
        QVERIFY(AccountLock::IsHeldByLiveSession(stamp));

        // The profile window is still open: closing the main window ends the program all the same.
        session.write(command.toLatin1() + '\n');
        QVERIFY(session.waitForFinished(10000));
        QCOMPARE(session.exitStatus(), QProcess::NormalExit);
        QCOMPARE(session.exitCode(), 0);
        QVERIFY(session.readAll().contains("quit"));

        QVERIFY(!AccountLock::IsHeldByLiveSession(stamp));
        QLockFile next(stamp);
        QVERIFY(next.tryLock(0));
    }
};

TARVIK_TEST_MAIN(TestCWMain)
#include "tst_cwmain.moc"
