#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTcpServer>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/ui/client.h"
#include "app/ui/traymessage.h"
#include "common/fakenetwork.h"
#include "common/localhttpserver.h"
#include "common/mainwindow.h"
#include "session/csession.h"
#include "common/platformprocess.h"
#include "common/testsession.h"
#include "common/testmain.h"
#include "main/ui/cwmain.h"
#include "net/request.h"
#include "session/cuser.h"
#include "session/ui/cwlogin.h"
#include "session/userstore.h"
#include "ui/cweblabel.h"

// Logging in against the local platform server, the way a staff member does it.
class TestLogin : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    QTemporaryDir sockets;

    // The client as the program starts it, with its login window; its end is counted, not obeyed.
    std::unique_ptr<CClient> client;
    int ended = 0;
    int transferTimeout = 30000; // for the answers of the next client's login and session

    // The login window of a new client, filled with the given account and password.
    QPointer<CWLogin> openLogin(const QString& account, const QString& password)
    {
        client = std::make_unique<CClient>(TestOptions(1000, transferTimeout));
        ended = 0;
        connect(client.get(), &CClient::Ended, this, [this] { ++ended; });
        client->Start();
        QPointer<CWLogin> login = LoginWindow();
        login->activateWindow();
        if (!QTest::qWaitForWindowActive(login))
            qWarning("login window did not become active");
        LoginForm::Account(login)->setEditText(account);
        LoginForm::Password(login)->setText(password);
        return login;
    }

    // Ends the session of the main window a successful login opened.
    static void closeMainWindow() { delete MainWindow(); }

    static bool idleWithAccountFocused(CWLogin* login)
    {
        return !login->IsWaiting() && LoginForm::Button(login)->isVisible() && LoginForm::Account(login)->hasFocus();
    }

private slots:
    void initTestCase()
    {
        qputenv("TMPDIR", sockets.path().toLocal8Bit());
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        platform->serveClient();
    }

    void init()
    {
        QFile::remove(UsersFile());
        platform->serveClient();
        platform->clearFaults();
        transferTimeout = 30000;
    }

    void cleanup()
    {
        closeMainWindow();
        client.reset();
    }

    void success_opensTheSessionAndRemembersTheAccount()
    {
        // Another account is remembered already: the new login must come first in the file.
        CUser other;
        other.SetAccount(PlatformProcess::SecondDemoAccount);
        UserStore earlier(QVector<CUser*>{&other});
        QVERIFY(earlier.Save());

        QPointer<CWLogin> login =
            openLogin(QString::number(PlatformProcess::DemoAccount), PlatformProcess::DemoPassword);
        LoginForm::Remember(login)->setChecked(true);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QTest::keyClick(LoginForm::Password(login), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(MainWindow(), 10000);

        const CUser* account = MainWindow()->Session()->User();
        QVERIFY(account->GetId() > 0);
        QVERIFY(!account->GetKey().isEmpty());
        QVERIFY(!account->GetToken().isEmpty());
        QCOMPARE(account->GetNickname(), QStringLiteral("小王"));
        QVERIFY(account->GetFace().contains(QStringLiteral("/img/face/")));
        QVERIFY(account->GetLogDate() >= before);
        // The session works: the platform accepts its key and token.
        const QJsonObject profile = platform->post(QStringLiteral("UserInfo"),
                                                   QStringLiteral("id=%1&key=%2&token=%3&")
                                                       .arg(account->GetId())
                                                       .arg(account->GetKey(), account->GetToken()));
        QCOMPARE(profile.value(QStringLiteral("status")).toInt(), 1);

        QVERIFY(MainWindow()->isVisible());
        QVERIFY(MainWindow()->HoldsLoginStamp());
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("成功登录!"));
        QTRY_VERIFY(!login); // closed and deleted, without ending the program
        QCOMPARE(ended, 0);

        UserStore saved;
        QCOMPARE(saved.Users().size(), 2);
        QCOMPARE(saved.Users().at(0)->GetAccount(), PlatformProcess::DemoAccount);
        QCOMPARE(saved.Users().at(0)->GetPassword(), QString::fromLatin1(PlatformProcess::DemoPassword));
        QCOMPARE(saved.Users().at(0)->GetNickname(), QStringLiteral("小王"));
        QCOMPARE(saved.Users().at(1)->GetAccount(), PlatformProcess::SecondDemoAccount);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("fault"); // platform fault on LoginMd5, or "" / "dead" / "timeout"
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expected"); // exact tray text; a trailing "*" matches a prefix

        QTest::newRow("wrong password") << ""
                                        << "wrong"
                                        << "登录失败!\n账号或密码错误";
        QTest::newRow("refused with a text") << "refuse"
                                             << "velm123"
                                             << "登录失败!\n服务器繁忙，请稍后再试";
        QTest::newRow("answer is not json") << "notjson"
                                            << "velm123"
                                            << "<*";
        QTest::newRow("answer is a json array") << "array"
                                                << "velm123"
                                                << "[*";
        QTest::newRow("http 500") << "http500"
                                  << "velm123"
                                  << "登录失败! 都是网络的错！\n401: Error transferring *";
        QTest::newRow("server gone") << "dead"
                                     << "velm123"
                                     << "登录失败! 都是网络的错！\n1: Connection refused";
        QTest::newRow("no answer") << "timeout"
                                   << "velm123"
                                   << "登录失败! 都是网络的错！\n5: Operation canceled";
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, password);
        QFETCH(QString, expected);

        QTcpServer closedPort;
        if (fault == QLatin1String("dead")) {
            QVERIFY(closedPort.listen(QHostAddress::LocalHost));
            const quint16 port = closedPort.serverPort();
            closedPort.close(); // nothing listens there any more
            qputenv("TARVIK_API_HOST", QByteArray("127.0.0.1:") + QByteArray::number(port));
        } else if (fault == QLatin1String("timeout")) {
            QVERIFY(platform->setFault(QStringLiteral("LoginMd5"), QStringLiteral("hang")));
            transferTimeout = 500;
        } else if (!fault.isEmpty()) {
            QVERIFY(platform->setFault(QStringLiteral("LoginMd5"), fault));
        }

        QPointer<CWLogin> login = openLogin(QString::number(PlatformProcess::DemoAccount), password);
        const int messagesBefore = Tray::MessageCount();
        QTest::keyClick(LoginForm::Password(login), Qt::Key_Return);
        QVERIFY(login->IsWaiting());
        QVERIFY(login->HoldsAccountLock()); // taken before the request went out
        QTRY_VERIFY_WITH_TIMEOUT(Tray::MessageCount() > messagesBefore, 10000);

        const Tray::Message message = Tray::LastMessage();
        if (expected.endsWith('*'))
            QVERIFY2(message.text.startsWith(expected.chopped(1)), qPrintable(message.text));
        else
            QCOMPARE(message.text, expected);
        QCOMPARE(message.title, AppName);
        QCOMPARE(message.icon, QSystemTrayIcon::Critical);
        QTRY_VERIFY(idleWithAccountFocused(login));
        QVERIFY(!MainWindow());
        QVERIFY(!QFile::exists(UsersFile()));
        QVERIFY(
            !AccountLock::IsHeldByLiveSession(AccountLockFile(PlatformProcess::DemoAccount))); // given back
        delete login;
    }

    void overlappingLoginsOfOneAccount_openOneMainWindow()
    {
        // LoginMd5 answers late, so two processes with the same data folder log in at the same time.
        QVERIFY(platform->setFault(QStringLiteral("LoginMd5"), QStringLiteral("delay"), 1500));
        QProcess sessions[2];
        QStringList outcomes;
        for (QProcess& session : sessions)
            session.start(QStringLiteral(TEST_HELPER_DIR "/helper_login"),
                          {QStringLiteral("login"), QString::number(PlatformProcess::DemoAccount),
                           PlatformProcess::DemoPassword});
        for (QProcess& session : sessions) {
            QVERIFY(session.waitForReadyRead(15000));
            outcomes << QString::fromUtf8(session.readLine()).trimmed();
        }
        outcomes.sort();
        QCOMPARE(outcomes, QStringList({QStringLiteral("failed: 此用户已登录，不能重复登录。"),
                                        QStringLiteral("logged-in")}));
        for (QProcess& session : sessions) {
            session.kill();
            session.waitForFinished();
        }
    }

    // A failed attempt opens no session; the next one that succeeds opens it with what it typed.
    void failedThenSuccessfulLogin_opensOneSession()
    {
        QPointer<CWLogin> login =
            openLogin(QString::number(PlatformProcess::DemoAccount), QStringLiteral("wrong"));
        login->Login();
        QTRY_VERIFY(!login->IsWaiting());
        QVERIFY(!MainWindow());

        LoginForm::Password(login)->setText(PlatformProcess::DemoPassword);
        login->Login();
        QTRY_VERIFY_WITH_TIMEOUT(MainWindow(), 10000);
        QTRY_VERIFY(!login);
        QCOMPARE(ended, 0);
        QCOMPARE(MainWindow()->Session()->User()->GetPassword(), QString::fromLatin1(PlatformProcess::DemoPassword));
    }

    // The avatar streams in while the client is busy with the login: it is not read far past the
    // picture limit, and is refused.
    void endlessAvatarDuringLogin_stopsAtThePictureLimit()
    {
        FloodServer images("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\n\r\n");
        qputenv("TARVIK_IMAGE_HOST", images.hostPort().toLatin1());
        auto restore = qScopeGuard([this] { qputenv("TARVIK_IMAGE_HOST", platform->hostPort().toLatin1()); });
        openLogin(QString::number(PlatformProcess::DemoAccount), PlatformProcess::DemoPassword)
            ->Login();
        QTRY_VERIFY_WITH_TIMEOUT(images.asked, 10000);
        QThread::msleep(1000); // busy
        QTRY_COMPARE(MainParts::Avatar(MainWindow())->text(), QStringLiteral("图像过大"));
        QVERIFY2(images.sent < CWebLabel::MaxPictureBytes + 16 * 1024 * 1024, // and what the sockets hold
                 qPrintable(QString::number(images.sent)));
    }

    void nicknameWithControlCharacters_isRememberedAtThisAndLaterLogins()
    {
        // The nickname is whatever the platform holds; characters a users.xml cannot carry must not
        // turn every later login into "存储用户数据失败！".
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            if (sent.request.url().path().endsWith(QLatin1String("/LoginMd5")))
                return FakeResponse::Json(R"({"status":1,"info":{"id":7,"key":"k","token":"t",)"
                                          R"("nickname":"A\u0001B\u0000C","face":"","sex":1}})");
            return FakeResponse::Json(R"({"status":0,"info":"not in this test"})");
        });
        const qint64 accounts[] = {PlatformProcess::DemoAccount, PlatformProcess::SecondDemoAccount};
        for (const qint64 account : accounts) {
            QPointer<CWLogin> login = openLogin(QString::number(account), QStringLiteral("pw"));
            LoginForm::Remember(login)->setChecked(true);
            login->Login();
            QTRY_VERIFY_WITH_TIMEOUT(MainWindow(), 10000);
            QCOMPARE(Tray::LastMessage().text, QStringLiteral("成功登录!"));
            QCOMPARE(MainWindow()->Session()->User()->GetNickname(), QString::fromUtf16(u"A\u0001B\u0000C", 5));
            closeMainWindow();
            QTRY_VERIFY(!login);
        }
        FakeNetworkManager::Uninstall();

        UserStore saved;
        QCOMPARE(saved.Users().size(), 2);
        QCOMPARE(saved.Users().at(0)->GetAccount(), PlatformProcess::SecondDemoAccount);
        QCOMPARE(saved.Users().at(1)->GetAccount(), PlatformProcess::DemoAccount);
        for (const CUser* user : saved.Users()) {
            QCOMPARE(user->GetNickname(), QStringLiteral("ABC"));
            QCOMPARE(user->GetPassword(), QStringLiteral("pw"));
        }
    }

    void accountThatIsNotANumber_logsInAsZero()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json("{\"status\":0,\"info\":\"账号或密码错误\"}");
        });
        QPointer<CWLogin> login = openLogin(QStringLiteral("店长"), QStringLiteral("velm123"));
        login->Login();
        QTRY_COMPARE(FakeNetworkManager::Recorded().size(), 1);
        FakeNetworkManager::Uninstall();
        QCOMPARE(FakeNetworkManager::Recorded().first().body,
                 QByteArray("account=0&pass=") + CUser::Md5Of(QStringLiteral("velm123")).toLatin1());
        QTRY_VERIFY(!login->IsWaiting());
        QVERIFY(!MainWindow());
        delete login;
    }

    void liveSessionElsewhere_refusesOnlyThatAccount()
    {
        QProcess other;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        other.setProcessEnvironment(env);
        other.start(QStringLiteral(TEST_HELPER_DIR "/helper_login"),
                    {QStringLiteral("login"), QString::number(PlatformProcess::DemoAccount),
                     PlatformProcess::DemoPassword});
        QVERIFY(other.waitForReadyRead(15000));
        QCOMPARE(QString::fromUtf8(other.readLine()).trimmed(), QStringLiteral("logged-in"));

        QPointer<CWLogin> login =
            openLogin(QString::number(PlatformProcess::DemoAccount), PlatformProcess::DemoPassword);
        login->Login();
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("此用户已登录，不能重复登录。"));
        QCOMPARE(Tray::LastMessage().icon, QSystemTrayIcon::Information);
        QVERIFY(!login->IsWaiting()); // nothing was sent; the form stays as it was
        QVERIFY(!MainWindow());

        LoginForm::Account(login)->setEditText(QString::number(PlatformProcess::SecondDemoAccount));
        LoginForm::Password(login)->setText(PlatformProcess::SecondDemoPassword);
        login->Login();
        QTRY_VERIFY_WITH_TIMEOUT(MainWindow(), 10000);
        QCOMPARE(MainWindow()->Session()->Account(), PlatformProcess::SecondDemoAccount);
        closeMainWindow();

        // Once the other session is gone (even killed), its account logs in again.
        other.kill();
        other.waitForFinished();
        QVERIFY(QFile::exists(AccountLockFile(PlatformProcess::DemoAccount)));
        QTRY_VERIFY(!login);
        login =
            openLogin(QString::number(PlatformProcess::DemoAccount), PlatformProcess::DemoPassword);
        login->Login();
        QTRY_VERIFY_WITH_TIMEOUT(MainWindow(), 10000);
        QVERIFY(MainWindow()->HoldsLoginStamp());
        QTRY_VERIFY(!login);
        QCOMPARE(ended, 0);
    }
};

TARVIK_TEST_MAIN(TestLogin)
#include "tst_login.moc"
