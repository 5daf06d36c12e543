#include <QFile>
#include <QTextStream>

#include "app/constants.h"
#include "app/log.h"
#include "app/sound.h"
#include "app/ui/client.h"
#include "app/ui/desktop.h"
#include "app/ui/screens.h"
#include "app/ui/singleapplication.h"
#include "net/request.h"

// Asked from a terminal: answers without opening a window (or a display) and ends.
static int AnswerOption(const QByteArray& option, int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (option == "--version") {
        out << AppName << ' ' << AppVersion << '\n';
        return 0;
    }
    if (option == "--sounds")
        return Sound::Report(out) ? 0 : 1;
    out << "Usage: tarvik [--version | --sounds | --help]\n"
           "Without an option the client starts with its login window; Qt's own options\n"
           "(-platform, -style, ...) are accepted then.\n"
           "  --version  print the version\n"
           "  --sounds   print where the notification sounds are found (status 1 if one is missing)\n";
    return 0;
}

int main(int argc, char* argv[])
{
    if (argc == 2) {
        const QByteArray option(argv[1]);
        if (option == "--version" || option == "--sounds" || option == "--help")
            return AnswerOption(option, argc, argv);
    }

    Desktop::PinTimeZone();
    EnableDisplayScaling();
    // Every window is painted by the raster engine and none holds OpenGL content. Without this, Qt
    // on X picks each top-level window's visual through GLX "in case", which loads the system's
    // OpenGL driver into the process: 50 MiB of resident memory with Mesa's llvmpipe.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    theApp = new SingleApplication(argc, argv);
    // From here on every message (ours and Qt's) also lands in <data folder>/logs/tarvik.log.
    Log::Install();
    qInfo("%s %s started (pid %lld)", qPrintable(AppName), qPrintable(AppVersion),
          QCoreApplication::applicationPid());
    if (theApp->IsRunning())
        qInfo("another copy of %s runs for this user: this one will not log in by itself",
              qPrintable(QCoreApplication::applicationName()));
    QString caError;
    if (!Request::TrustCaFile(&caError))
        qWarning("%s", qUtf8Printable(caError));

    QFile styleSheet(QStringLiteral(":/qss/velm.qss"));
    if (styleSheet.open(QIODevice::ReadOnly))
        theApp->setStyleSheet(Request::TextUpToNul(styleSheet.readAll()));

    int code = 0;
    {
        CClient client;
        QObject::connect(&client, &CClient::Ended, theApp, &QCoreApplication::quit);
        client.Start();
        code = theApp->exec();
    }
    delete theApp;
    qInfo("%s ended (exit code %d)", qPrintable(AppName), code);
    Log::Uninstall();
    return code;
}
