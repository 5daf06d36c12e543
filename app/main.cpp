#include <QCursor>
#include <QFile>

#include "app/constants.h"
#include "app/log.h"
#include "app/screens.h"
#include "app/singleapplication.h"
#include "net/request.h"
#include "session/cwlogin.h"

int main(int argc, char* argv[])
{
    theApp = new SingleApplication(argc, argv);
    // From here on every message (ours and Qt's) also lands in <data folder>/logs/tarvik.log.
    Log::Install();
    qInfo("%s %s started (pid %lld)", qPrintable(AppName), qPrintable(AppVersion),
          QCoreApplication::applicationPid());

    QFile styleSheet(QStringLiteral(":/qss/velm.qss"));
    if (styleSheet.open(QIODevice::ReadOnly))
        theApp->setStyleSheet(Request::TextUpToNul(styleSheet.readAll()));

    auto* login = new CWLogin;
    const QRect area = AvailableAreaAt(QCursor::pos());
    login->move(area.left() + (area.width() - login->width()) / 2,
                area.top() + (area.height() - login->height()) / 2);
    login->show();

    const int code = theApp->exec();
    delete theApp;
    qInfo("%s ended (exit code %d)", qPrintable(AppName), code);
    Log::Uninstall();
    return code;
}
