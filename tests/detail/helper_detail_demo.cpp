// Opens the detail window of a takeout order with several items against a local velm-platform, to
// look at it on a real display (or Xvfb):
//   helper_detail_demo [seconds] [status]   (default 20 seconds, status 1: paid, waiting for service)
// After a third of the time the print button is pressed: without a printer the receipt becomes a
// PDF, whose path is printed as "receipt PATH". The program quits by itself at the end.
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "common/clientlook.h"
#include "common/orderfixture.h"
#include "common/platformprocess.h"
#include "common/testsession.h"
#include "common/windowparts.h"
#include "detail/ui/corderwidget.h"
#include "orders/corder.h"
#include "session/cuser.h"
#include "ui/msgbox.h"

static QJsonObject item(const char* picture, const char* name, int num, double price)
{
    return QJsonObject{{"pics", QStringLiteral("/img/item/%1.png").arg(QLatin1String(picture))},
                       {"name", QString::fromUtf8(name)},
                       {"num", num},
                       {"price", price}};
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestSupport::LookLikeTheClient(app);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 20;
    const int status = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 1;

    PlatformProcess platform({QStringLiteral("--seed")});
    if (!platform.isRunning()) {
        std::fprintf(stderr, "%s\n", qPrintable(platform.errorString()));
        return 1;
    }
    platform.serveClient();
    const auto session = MakeSession(platform.login(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword));

    const qint64 id = platform.createOrder(
        {{"status", status},
         {"taker", "王小明"},
         {"tel", "13912345678"},
         {"address", "幸福路 8 号阳光小区 3 单元 502 室"},
         {"message", "少放辣，多加香菜，谢谢！"},
         {"content", "味道很好，面很劲道，下次还来！"},
         {"amount", 86.5},
         {"out",
          QJsonArray{item("beef-noodles", "招牌牛肉拉面", 2, 18), item("cold-noodles", "秘制凉皮", 1, 10),
                     item("xiaolongbao", "鲜肉小笼包", 1, 16)}},
         {"commo", QJsonArray{item("plum-juice", "酸梅汤", 2, 5), item("braised-egg", "卤蛋", 3, 2.5)}}});
    std::printf("order %lld\n", static_cast<long long>(id));
    std::fflush(stdout);

    COrder& order = NewOrder(*session->Book(), id);
    order.SetStatus(status);
    order.SetShopName(QStringLiteral("老街牛肉面馆"));
    auto* window = new COrderWidget(&order, session.get());
    window->SetTitle(QStringLiteral("%1 %2").arg(id).arg(QStringLiteral("订单详情")));
    window->move(40, 40);
    window->Show();

    QTimer::singleShot(seconds * 1000 / 3, window, [window] {
        QElapsedTimer clock;
        clock.start();
        PartOf<QPushButton>(window, "printButton")->click();
        const QLabel* box = MessageBoxOf(window)->MsgBoxLabel();
        std::printf("receipt (%lld ms) %s\n", static_cast<long long>(clock.elapsed()),
                    box ? qPrintable(box->text()) : "(no box)");
        std::fflush(stdout);
    });
    QTimer::singleShot(seconds * 1000, &app, [window] {
        delete window;
        QApplication::quit();
    });
    return app.exec();
}
