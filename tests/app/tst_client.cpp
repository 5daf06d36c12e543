#include <QSignalSpy>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/ui/client.h"
#include "app/ui/screens.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "session/csession.h"

// The client's life: the login window, the session and its main window after a login, and the end
// of the program when either window is closed by the staff member. The platform lets account 7 in
// and refuses everything else.
class TestClient : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            return FakeResponse::Json(sent.request.url().path().endsWith(QLatin1String("/LoginMd5"))
                                          ? R"({"status":1,"info":{"id":7,"key":"k","token":"t","nickname":"小王"}})"
                                          : R"({"status":0,"info":"not in this test"})");
        });
    }
    void cleanup() { FakeNetworkManager::Uninstall(); }

    void loginOpensTheSession_closingItEndsTheProgram()
    {
        CClient client;
        QSignalSpy ended(&client, &CClient::Ended);
        client.Start();
        QPointer<CWLogin> login = LoginWindow();
        QVERIFY(login);
        QCOMPARE(login->pos(), QPoint(AvailableAreaOf(login).left() + (AvailableAreaOf(login).width() - 430) / 2,
                                      AvailableAreaOf(login).top() + (AvailableAreaOf(login).height() - 330) / 2));
        LoginForm::Account(login)->setEditText(QStringLiteral("13800000007"));
        LoginForm::Password(login)->setText(QStringLiteral("pw"));
        login->Login();

        QTRY_VERIFY(MainWindow());
        QPointer<CWMain> main = MainWindow();
        // The session goes on with what the login took and learnt.
        QCOMPARE(main->Session()->Account(), 13800000007);
        QCOMPARE(main->Session()->User()->GetToken(), QStringLiteral("t"));
        QVERIFY(main->HoldsLoginStamp());
        QVERIFY(main->isVisible());
        // Near the right edge of the screen, halfway down.
        const QRect area = AvailableAreaOf(main);
        QCOMPARE(main->pos(), QPoint(area.left() + int(area.width() - 1.2 * main->width()),
                                     area.top() + (area.height() - main->height()) / 2));
        QTRY_VERIFY(!login);
        QCOMPARE(ended.count(), 0); // the login window's own close ends nothing

        main->close();
        QCOMPARE(ended.count(), 1);
        QTRY_VERIFY(!main);
        QVERIFY(!AccountLock::IsHeldByLiveSession(AccountLockFile(13800000007)));
    }

    void closingTheLoginWindow_endsTheProgram()
    {
        CClient client;
        QSignalSpy ended(&client, &CClient::Ended);
        client.Start();
        QPointer<CWLogin> login = LoginWindow();
        login->close();
        QCOMPARE(ended.count(), 1);
        QTRY_VERIFY(!login);
        QVERIFY(!MainWindow());
    }
};

TARVIK_TEST_MAIN(TestClient)
#include "tst_client.moc"
