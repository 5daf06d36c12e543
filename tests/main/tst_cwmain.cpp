#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>

#include "app/accountlock.h"
#include "app/constants.h"
#include "common/platformprocess.h"
#include "common/testmain.h"
#include "common/urlcatcher.h"
#include "income/cwincome.h"
#include "main/cwmain.h"
#include "main/cwuserinfo.h"
#include "session/cuser.h"
#include "ui/cweblabel.h"
#include "ui/quietplatform.h"

// The main window after a login against the local platform server.
class TestCWMain : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    QTemporaryDir sockets;
    QPointer<CWMain> window;
    PlatformProcess::Session session;

    void logIn(const QString& nickname)
    {
        if (!currentUser)
            currentUser = new CUser;
        *currentUser = CUser();
        currentUser->SetAccount(PlatformProcess::DemoAccount);
        currentUser->SetId(session.id);
        currentUser->SetKey(session.key);
        currentUser->SetToken(session.token);
        currentUser->SetNickname(nickname);
        currentUser->SetFace(platform->baseUrl() + QStringLiteral("/img/face/1.png"));
    }

    template <class Window> static QList<Window*> openWindows()
    {
        QList<Window*> found;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<Window*>(w))
                found.append(window);
        return found;
    }

    void openWindow()
    {
        window = new CWMain;
        // Closing a main window quits the program; here that would end every later event loop.
        QObject::disconnect(window, &CWidget::Close, qApp, nullptr);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

private slots:
    void initTestCase()
    {
        QuietPlatform::Install();
        // The single-instance probe of the helper program listens on a socket of its own.
        qputenv("TMPDIR", sockets.path().toLocal8Bit());
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        qputenv("TARVIK_API_HOST", platform->hostPort().toLatin1());
        qputenv("TARVIK_IMAGE_HOST", platform->hostPort().toLatin1());
        qputenv("TARVIK_WEB_HOST", platform->hostPort().toLatin1());
        session =
            platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(session.isValid());
    }

    void init() { logIn(QStringLiteral("小王")); }

    void cleanup()
    {
        // Windows the main window opened live on their own; they must not outlast the test's data.
        for (CWIncome* income : openWindows<CWIncome>())
            delete income;
        for (CWUserInfo* profile : openWindows<CWUserInfo>())
            delete profile;
        delete window;
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

        QCOMPARE(window->NicknameLabel()->text(), shown);
        QCOMPARE(window->NicknameLabel()->pos(), QPoint(80, 40));
        QCOMPARE(window->AvatarLabel()->geometry(), QRect(8, 40, 64, 64));
        QCOMPARE(window->AvatarLabel()->ClickMode(), 0);
        // The avatar's local copy, for the login window's list of remembered accounts.
        const QString copy = JoinPath(FacesDir(), QStringLiteral("1.png"));
        QCOMPARE(window->AvatarLabel()->LocalPath(), copy);
        QTRY_VERIFY(QFile::exists(copy));
        QVERIFY(!QPixmap(copy).isNull());
        QVERIFY(window->HoldsLoginStamp());
        QCOMPARE(window->windowTitle(), QStringLiteral("Tarvik"));
        QCOMPARE(window->size(), QSize(280, 528));
    }

    void head_hasTabsSearchAndShortcuts()
    {
        openWindow();
        QTabWidget* tabs = window->TabWidget();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("订单"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("好友"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("会话"));
        QCOMPARE(tabs->widget(0), window->OrdersArea());
        QCOMPARE(window->OrdersArea()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        for (int i = 1; i < 3; ++i) {
            const QList<QLabel*> labels = tabs->widget(i)->findChildren<QLabel*>();
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels.first()->text(), QStringLiteral("敬请期待！谢谢！"));
            QCOMPARE(labels.first()->y(), 120);
        }
        QCOMPARE(tabs->parentWidget(), window->BottomBand());
        QCOMPARE(tabs->geometry(), QRect(0, 0, 280, window->BottomBandHeight() - 58));
        QCOMPARE(tabs->tabBar()->width(), 280 * 4 / 3);

        QLineEdit* search = window->SearchEdit();
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
            {window->HomeLinkButton(), "pbtnHomeLink", "打开首页", QRect(8, 117, 20, 20), true},
            {window->CashLinkButton(), "pbtnCashLink", "打开网页提现", QRect(36, 117, 20, 20), true},
            {window->IncomeButton(), "pbtnShopCash", "收入流水", QRect(250, 117, 22, 22), true},
            // Only the order lists can open the confirmation table.
            {window->ServerTableButton(), "pbtnServerTable", "待确认订单", QRect(220, 117, 22, 22), false},
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
        QCOMPARE(window->IncomeButton()->pos(), QPoint(400 - 22 - 8, 117));
        QCOMPARE(window->ServerTableButton()->pos(), QPoint(400 - 22 - 8 - 22 - 8, 117));
        QCOMPARE(window->SearchEdit()->size(), QSize(400, 30));
        QCOMPARE(window->TabWidget()->size(), QSize(400, 600 - 170 - 58));
        QCOMPARE(window->TabWidget()->tabBar()->width(), 400 * 4 / 3);
        // No wider than 430.
        window->resize(600, 600);
        QCOMPARE(window->width(), 430);
    }

    void searchField_hintFocusAndEscape()
    {
        openWindow();
        QLineEdit* search = window->SearchEdit();
        QCOMPARE(CWMain::searchHint, QStringLiteral("搜索：好友、订单"));
        QCOMPARE(search->text(), CWMain::searchHint);

        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        QCOMPARE(search->text(), QString());
        window->TabWidget()->tabBar()->setFocus();
        QTRY_VERIFY(!search->hasFocus());
        QCOMPARE(search->text(), CWMain::searchHint);

        // Typed text stays when the focus leaves; Escape empties the field.
        search->setFocus();
        QTest::keyClicks(search, QStringLiteral("2612"));
        window->TabWidget()->tabBar()->setFocus();
        QTRY_VERIFY(!search->hasFocus());
        QCOMPARE(search->text(), QStringLiteral("2612"));
        search->setFocus();
        QCOMPARE(search->text(), QStringLiteral("2612"));
        QTest::keyClick(search, Qt::Key_Escape);
        QCOMPARE(search->text(), QString());
        window->TabWidget()->tabBar()->setFocus();
        QTRY_COMPARE(search->text(), CWMain::searchHint);
    }

    void profile_oneWindowAtATime()
    {
        openWindow();
        QTest::mouseClick(window->AvatarLabel(), Qt::LeftButton);
        QPointer<CWUserInfo> first = window->UserInfoWindow();
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("我的资料"));
        QCOMPARE(first->size(), QSize(560, 580));
        QTRY_COMPARE(first->NameLabel()->text(), QStringLiteral("小王"));

        QTest::mouseClick(window->AvatarLabel(), Qt::LeftButton);
        QCOMPARE(window->UserInfoWindow(), first.data());
        const QWidgetList tops = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(tops.begin(), tops.end(),
                               [](QWidget* w) { return qobject_cast<CWUserInfo*>(w) != nullptr; }),
                 1);

        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!window->UserInfoWindow());
        QTest::mouseClick(window->AvatarLabel(), Qt::LeftButton);
        QVERIFY(window->UserInfoWindow());
        QVERIFY(window->UserInfoWindow() != first.data());
        delete window->UserInfoWindow();
    }

    void links_openThePlatformsPages()
    {
        openWindow();
        UrlCatcher browser;
        QTest::mouseClick(window->HomeLinkButton(), Qt::LeftButton);
        QTest::mouseClick(window->CashLinkButton(), Qt::LeftButton);
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
        const QList<QAction*> actions = window->TrayMenu()->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions.at(0)->text(), QStringLiteral("主界面"));
        QCOMPARE(actions.at(1)->text(), QStringLiteral("退出程序"));
        QVERIFY(actions.at(2)->isSeparator());

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
        QTest::qWait(250);
        QVERIFY(!window->Maximized());
        QCOMPARE(window->size(), before);

        actions.at(1)->trigger();
        QVERIFY(!window->TrayIcon()->isVisible());
        QTRY_VERIFY(!window); // closed and deleted
    }

    void income_oneWindowAtATime()
    {
        openWindow();
        QTest::mouseClick(window->IncomeButton(), Qt::LeftButton);
        QPointer<CWIncome> first = window->IncomeWindow();
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("收入流水"));
        QCOMPARE(first->size(), QSize(1200, 700));
        QCOMPARE(first->minimumSize(), QSize(600, 350));
        QCOMPARE(first->TitleLabel()->pos(), QPoint(5, 5));

        QTest::mouseClick(window->IncomeButton(), Qt::LeftButton);
        QCOMPARE(window->IncomeWindow(), first.data());
        QCOMPARE(openWindows<CWIncome>().size(), 1);

        delete first.data();
        QVERIFY(!window->IncomeWindow());
        QTest::mouseClick(window->IncomeButton(), Qt::LeftButton);
        QVERIFY(window->IncomeWindow());
        QCOMPARE(openWindows<CWIncome>().size(), 1);
    }

    void withoutUser_headStaysEmpty()
    {
        CUser* session = currentUser;
        currentUser = nullptr;
        const auto restore = qScopeGuard([session] { currentUser = session; });
        openWindow();
        QCOMPARE(window->NicknameLabel()->text(), QString());
        QVERIFY(!window->AvatarLabel()->Url());
        QVERIFY(!window->HoldsLoginStamp());
        QVERIFY(!window->ServerTableButton()->isVisible());
        QTest::mouseClick(window->AvatarLabel(), Qt::LeftButton);
        QVERIFY(!window->UserInfoWindow());
        QTest::mouseClick(window->IncomeButton(), Qt::LeftButton);
        QVERIFY(!window->IncomeWindow());
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
