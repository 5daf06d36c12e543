// Starts the client's application object and login window the way the program does, then tells
// whether this is a second instance and whether the login started on its own.
//   helper_login stay   print and keep running    helper_login once   print and exit
#include <cstdio>

#include "app/singleapplication.h"
#include "session/cwlogin.h"

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    theApp = new SingleApplication(argc, argv);
    auto* login = new CWLogin;
    std::printf("running=%d waiting=%d\n", theApp->IsRunning() ? 1 : 0, login->IsWaiting() ? 1 : 0);
    std::fflush(stdout);
    if (theApp->arguments().value(1) == QLatin1String("stay"))
        return theApp->exec();
    delete login;
    return 0;
}
