// A second process for the instance-probe and account-lock tests.
//   helper_instance probe      print "running=0|1" and exit
//   helper_instance stay       print "running=0|1" and serve until killed
//   helper_instance busy       print "running=0|1", then "busy" once its window thread is blocked
//                              for good, and stay so until killed
//   helper_instance crash      print "running=0|1", then die without cleaning up its server
//   helper_instance lock PATH  hold the account lock at PATH until killed, print "locked"
#include <QLockFile>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/ui/singleapplication.h"

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    SingleApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);

    if (mode == QLatin1String("lock")) {
        QLockFile lock(args.value(2));
        lock.setStaleLockTime(0);
        if (!lock.tryLock(2000)) {
            std::printf("lock failed\n");
            return 2;
        }
        std::printf("locked\n");
        std::fflush(stdout);
        return app.exec();
    }

    std::printf("running=%d\n", app.IsRunning() ? 1 : 0);
    std::fflush(stdout);
    if (mode == QLatin1String("stay"))
        return app.exec();
    if (mode == QLatin1String("busy")) {
        QTimer::singleShot(0, [] {
            std::printf("busy\n");
            std::fflush(stdout);
            QThread::sleep(600);
        });
        return app.exec();
    }
    if (mode == QLatin1String("crash"))
        std::_Exit(3);
    return 0;
}
