// Shows a bare window frame with a title, to look at the frame on a real display:
//   helper_cwidget_demo [seconds]   (default 30; the program quits by itself afterwards)
#include "common/clientlook.h"
#include "ui/cwidget.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestSupport::LookLikeTheClient(app);

    CWidget window;
    window.SetTitle(QStringLiteral("Tarvik 窗口框架"));
    window.Show();

    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 30;
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
