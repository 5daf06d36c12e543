// Runs a whole session the way the program does, for tests that need the program to end.
//   helper_mainwindow ACCOUNT PASSWORD
// logs in through the login window, opens the profile window and prints "logged-in" once the main
// window holds the account. Then each line on standard input is a command:
//   close   closes the main window
//   menu    picks "退出程序" in the tray menu
// When the event loop ends the helper prints "quit" and exits with the loop's code.
#include <QAction>
#include <QMenu>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

#include "app/ui/client.h"
#include "app/ui/singleapplication.h"
#include "app/ui/traymessage.h"
#include "main/ui/cwmain.h"
#include "main/ui/cwuserinfo.h"
#include "session/ui/cwlogin.h"
#include "common/mainwindow.h"

#include <QComboBox>
#include <QLineEdit>

static void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    theApp = new SingleApplication(argc, argv);
    const QStringList args = theApp->arguments();
    // The client as the program starts it: its end ends the event loop.
    auto* client = new CClient(SessionOptions(), theApp);
    QObject::connect(client, &CClient::Ended, theApp, &QCoreApplication::quit);
    client->Start();
    CWLogin* login = LoginWindow();
    LoginForm::Account(login)->setEditText(args.value(1));
    LoginForm::Password(login)->setText(args.value(2));
    login->Login();

    auto* poll = new QTimer(theApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        if (MainWindow() && MainWindow()->HoldsLoginStamp()) {
            poll->stop();
            MainWindow()->OpenUserInfo();
            say(!OpenWindows<CWUserInfo>().isEmpty() ? "logged-in" : "no profile window");
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

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&commands] {
        char buffer[64] = {};
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (got <= 0) {
            commands.setEnabled(false);
            return;
        }
        const QByteArray command = QByteArray(buffer).trimmed();
        if (!MainWindow())
            return;
        if (command == "close") {
            MainWindow()->close();
        } else if (command == "menu") {
            for (QAction* action : MainParts::TrayMenu(MainWindow())->actions())
                if (action->text() == QStringLiteral("退出程序"))
                    action->trigger();
        }
    });

    const int code = theApp->exec();
    say("quit");
    return code;
}
