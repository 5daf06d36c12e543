// Starts the program the way a staff member does and touches nothing: with an account remembered
// for auto-login, the login window logs in by itself.
//   helper_newstart
// prints "started waiting=N" once the login window is up (N = 1 while a login request runs), then
// "logged-in ACCOUNT" once the main window holds the account's lock. The line "close" on standard
// input closes the main window with its close button; when the event loop ends the helper prints
// "quit" and exits with the loop's code.
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

#include "app/ui/client.h"
#include "app/ui/singleapplication.h"
#include "app/ui/traymessage.h"
#include "common/clientlook.h"
#include "main/ui/cwmain.h"
#include "session/csession.h"
#include "session/ui/cwlogin.h"
#include "common/mainwindow.h"

static void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    theApp = new SingleApplication(argc, argv);
    TestSupport::LookLikeTheClient(*theApp);

    auto* client = new CClient;
    QObject::connect(client, &CClient::Ended, theApp, &QCoreApplication::quit);
    client->Start();
    CWLogin* login = LoginWindow();
    say(QStringLiteral("started waiting=%1").arg(login->IsWaiting() ? 1 : 0));

    auto* poll = new QTimer(theApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        if (MainWindow() && MainWindow()->HoldsLoginStamp()) {
            poll->stop();
            say(QStringLiteral("logged-in %1").arg(MainWindow()->Session()->Account()));
        }
    });
    poll->start(20);
    QTimer::singleShot(20000, [] {
        if (!MainWindow()) {
            say(QStringLiteral("failed: ") + Tray::LastMessage().text);
            QCoreApplication::exit(1);
        }
    });

    auto* commands = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, theApp);
    QObject::connect(commands, &QSocketNotifier::activated, [commands] {
        char buffer[64] = {};
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (got <= 0) {
            commands->setEnabled(false);
            return;
        }
        if (QByteArray(buffer).trimmed() != "close" || !MainWindow())
            return;
        auto* closeButton = MainWindow()->TopBand()->findChild<QPushButton*>(QStringLiteral("closeButton"));
        if (closeButton)
            QTest::mouseClick(closeButton, Qt::LeftButton);
    });

    const int code = theApp->exec();
    say(QStringLiteral("quit"));
    delete client;
    delete theApp;
    return code;
}
