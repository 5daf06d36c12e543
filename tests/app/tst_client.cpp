#include <QSignalSpy>

#include "app/ui/client.h"
#include "app/ui/screens.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "common/testsession.h"

// The client's windows over its life; the login itself is tested with the platform (session.tst_login).
class TestClient : public QObject
{
    Q_OBJECT

private slots:
    // The session's main window opens near the right edge, halfway down; closing it ends the program,
    // the login window's own close after the login does not.
    void mainWindowPlacedAndItsCloseEndsTheProgram()
    {
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            return FakeResponse::Json(sent.request.url().path().endsWith(QLatin1String("/LoginMd5"))
                                          ? R"({"status":1,"info":{"id":7,"key":"k","token":"t"}})"
                                          : R"({"status":0,"info":"not in this test"})");
        });
        CClient client(TestOptions());
        QSignalSpy ended(&client, &CClient::Ended);
        client.Start();
        QPointer<CWLogin> login = LoginWindow();
        LoginForm::Account(login)->setEditText(QStringLiteral("13800000007"));
        LoginForm::Password(login)->setText(QStringLiteral("pw"));
        login->Login();
        QTRY_VERIFY(MainWindow());
        QPointer<CWMain> main = MainWindow();
        const QRect area = AvailableAreaOf(main);
        QCOMPARE(main->pos(), QPoint(area.left() + int(area.width() - 1.2 * main->width()),
                                     area.top() + (area.height() - main->height()) / 2));
        QTRY_VERIFY(!login);
        QCOMPARE(ended.count(), 0);
        main->close();
        QCOMPARE(ended.count(), 1);
        QTRY_VERIFY(!main);
        FakeNetworkManager::Uninstall();
    }

    void closingTheLoginWindow_endsTheProgram()
    {
        CClient client(TestOptions());
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
