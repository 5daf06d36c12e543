// Shows the income window of a demo account against a running velm-platform, to look at it on a
// real display:
//   TARVIK_API_HOST=127.0.0.1:47810 helper_income_demo [tab] [seconds] [account] [password]
// tab 0 to 3 (default 1, "七 日"), seconds before it quits by itself (default 30), account and
// password default to the first demo account of velm-platform --seed.
#include "app/constants.h"
#include "app/ui/screens.h"
#include "common/clientlook.h"
#include "income/ui/cwincome.h"
#include "net/request.h"
#include "session/csession.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>

namespace {

bool logIn(CUser& user)
{
    QNetworkAccessManager manager;
    const QByteArray body =
        Request::EncodeBody({{QStringLiteral("account"), QString::number(user.GetAccount())},
                             {QStringLiteral("pass"), user.GetPasswordMd5()}});
    QNetworkReply* reply = Request::Post(&manager, Api::LoginMd5(), body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const Request::Answer answer = Request::Read(reply);
    reply->deleteLater();
    if (!answer.Succeeded()) {
        QTextStream(stderr) << "login failed: " << (answer.networkError ? answer.errorString : answer.text)
                            << '\n';
        return false;
    }
    const QVariantMap info = answer.InfoMap();
    user.SetId(info.value(QStringLiteral("id")).toInt());
    user.SetKey(info.value(QStringLiteral("key")).toString());
    user.SetToken(info.value(QStringLiteral("token")).toString());
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestSupport::LookLikeTheClient(app);

    const QStringList args = app.arguments();
    const int tab = args.size() > 1 ? args.at(1).toInt() : 1;
    const int seconds = args.size() > 2 ? args.at(2).toInt() : 30;
    CUser user;
    user.SetAccount(args.size() > 3 ? args.at(3).toLongLong() : 13800000001LL);
    user.SetPassword(args.size() > 4 ? args.at(4) : QStringLiteral("velm123"));
    if (!logIn(user))
        return 1;
    CSession session(user);

    // Placed and titled the way the main window opens it.
    auto* window = new CWIncome(&session);
    window->resize(1200, 700);
    window->setMinimumSize(600, 350);
    window->SetTitle(QStringLiteral("收入流水"));
    window->MoveTitle(5, 5);
    window->CentreIn(AvailableAreaAt(QCursor::pos()));
    QObject::connect(window, &CWidget::Close, &app, &QApplication::quit);
    window->show();
    window->findChild<QTabWidget*>(QStringLiteral("tabwgMainContent"))->setCurrentIndex(tab);

    QTimer::singleShot(seconds * 1000, window, &QWidget::close);
    return app.exec();
}
