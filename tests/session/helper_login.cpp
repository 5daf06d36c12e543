// Starts the client's application object and login window the way the program does.
//   helper_login stay                     print "running=N waiting=N" and keep running
//   helper_login once                     print the same and exit
//   helper_login login ACCOUNT PASSWORD   log in through the form, print "logged-in" once the main
//                                         window holds the account, then keep running; or print
//                                         "failed: <tray message>" and exit once the login has failed
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <cstdio>

#include "app/ui/client.h"
#include "app/ui/singleapplication.h"
#include "app/ui/traymessage.h"
#include "main/ui/cwmain.h"
#include "session/ui/cwlogin.h"
#include "common/mainwindow.h"

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    theApp = new SingleApplication(argc, argv);
    const QStringList args = theApp->arguments();
    auto* client = new CClient(SessionOptions(), theApp);
    QObject::connect(client, &CClient::Ended, theApp, &QCoreApplication::quit);
    client->Start();
    CWLogin* login = LoginWindow();

    if (args.value(1) == QLatin1String("login")) {
        LoginForm::Account(login)->setEditText(args.value(2));
        LoginForm::Password(login)->setText(args.value(3));
        login->Login();
        auto* poll = new QTimer(theApp);
        const QPointer<CWLogin> form = login;
        QObject::connect(poll, &QTimer::timeout, [poll, form] {
            if (MainWindow() && MainWindow()->HoldsLoginStamp()) {
                std::printf("logged-in\n");
                std::fflush(stdout);
                poll->stop();
            } else if (!MainWindow() && form && !form->IsWaiting() && Tray::MessageCount() > 0) {
                std::printf("failed: %s\n", qPrintable(Tray::LastMessage().text));
                std::fflush(stdout);
                QCoreApplication::exit(1);
            }
        });
        poll->start(20);
        QTimer::singleShot(15000, [] {
            if (!MainWindow()) {
                std::printf("failed: %s\n", qPrintable(Tray::LastMessage().text));
                std::fflush(stdout);
                QCoreApplication::exit(1);
            }
        });
        return theApp->exec();
    }

    std::printf("running=%d waiting=%d\n", theApp->IsRunning() ? 1 : 0, login->IsWaiting() ? 1 : 0);
    std::fflush(stdout);
    if (args.value(1) == QLatin1String("stay"))
        return theApp->exec();
    delete client;
    return 0;
}
