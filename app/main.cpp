#include <QCursor>
#include <QFile>

#include "app/screens.h"
#include "app/singleapplication.h"
#include "net/request.h"
#include "session/cwlogin.h"

int main(int argc, char* argv[])
{
    theApp = new SingleApplication(argc, argv);
    QString caError;
    if (!Request::TrustCaFile(&caError))
        qWarning("%s", qUtf8Printable(caError));

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
    return code;
}
