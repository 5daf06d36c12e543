// The order pane and the confirmation table on a real display, driven against a seeded local
// platform, with screenshots taken by ImageMagick's `import` at the interesting moments:
//   helper_orders_demo OUTPUT_DIR
// Writes pane-unfolded-icon-shown.png / pane-unfolded-icon-hidden.png (a new order blinking
// in the unfolded "已支付" group), confirm-table-refused.png (a refused confirmation with its
// message) and confirm-table.png (rows waiting, confirming, failed and done).
#include <QApplication>
#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QScrollArea>
#include <QTableWidget>
#include <QtTest>

#include "common/clientlook.h"
#include "common/mainwindow.h"
#include "common/platformprocess.h"
#include "common/windowparts.h"
#include "main/ui/windowkeeper.h"
#include "confirm/ui/cwservertable.h"
#include "orders/ui/callist.h"
#include "orders/corder.h"
#include "orders/ui/corderitem.h"
#include "orders/ui/corderlist.h"
#include "session/cuser.h"
#include "ui/cwidget.h"
#include "common/testsession.h"

namespace {

bool Shoot(const QString& file)
{
    QTest::qWait(120); // painted and flushed to the display

    return QProcess::execute(QStringLiteral("import"), {"-window", "root", file}) == 0;
}

bool WaitFor(const std::function<bool()>& ready, int msecs)
{
    return QTest::qWaitFor(ready, msecs);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestSupport::LookLikeTheClient(app);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);

    PlatformProcess platform({QStringLiteral("--seed")});
    if (!platform.isRunning())
        qFatal("velm-platform: %s", qPrintable(platform.errorString()));
    platform.serveClient();
    const auto session =
        MakeSession(platform.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword)));

    // A frame like the main window's, with the order pane in a scroll area.
    CWidget frame(QSize(310, 640));
    frame.SetTitle(QStringLiteral("Tarvik 订单"));
    frame.TopBand()->setFixedHeight(60);
    auto* area = new QScrollArea(frame.BottomBand());
    area->setFrameShape(QFrame::NoFrame);
    auto* pane = new CAllList(session.get(), area->viewport());
    CWindowKeeper windows(session.get(), &frame);
    QObject::connect(pane, &CAllList::ServerTableWanted, &windows, &CWindowKeeper::OpenServerTable);
    session->Start();
    area->setWidget(pane);
    frame.move(20, 20);
    frame.Show();
    area->setGeometry(0, 0, 310, 580);
    if (!WaitFor([&] { return pane->Book()->Count() > 0; }, 20000))
        qFatal("no order list");
    pane->FindList(1)->Fold();
    pane->FindList(2)->Fold();

    const qint64 fresh = platform.createOrder(QJsonObject{{"status", 1}, {"amount", 46.5}});
    if (!WaitFor([&] { return pane->FindOrderItem(fresh) && pane->FindOrderItem(fresh)->IconLabel(); },
                 30000))
        qFatal("the new order did not arrive");
    COrderItem* row = pane->FindOrderItem(fresh);
    // The blink turns every 500 ms: wait for a turn, then shoot soon after it.
    WaitFor([&] { return row->IconLabel()->isHidden(); }, 2000);
    WaitFor([&] { return !row->IconLabel()->isHidden(); }, 2000);
    Shoot(out + "/pane-unfolded-icon-shown.png");
    WaitFor([&] { return row->IconLabel()->isHidden(); }, 2000);
    Shoot(out + "/pane-unfolded-icon-hidden.png");

    // Four buyers ask for confirmation.
    QList<qint64> asking;
    for (int i = 0; i < 4; ++i)
        asking.append(platform.createOrder(QJsonObject{{"status", 1}, {"amount", 20 + 7.5 * i}}));
    if (!WaitFor([&] { return pane->FindOrderItem(asking.last()); }, 30000))
        qFatal("the paid orders did not arrive");
    for (qint64 id : asking)
        platform.changeOrder(id, QJsonObject{{"confirm", true}});
    if (!WaitFor([&] { return ServerTableWindow() && ConfirmTableCell(ServerTableWindow(), asking.last()); },
                 10000))
        qFatal("no confirmation table");
    CWServerTable* table = ServerTableWindow();

    table->SlotOrderOk(ConfirmTableCell(table, asking[0]));
    WaitFor([&] { return table->GetConfirmState(asking[0]) == CWServerTable::Confirmed; }, 5000);
    platform.setFault(QStringLiteral("ToFinishOrder"), QStringLiteral("refuse"), QVariant(), 1);
    table->SlotOrderOk(ConfirmTableCell(table, asking[1]));
    WaitFor([&] { return table->GetConfirmState(asking[1]) != CWServerTable::InFlight; }, 5000);
    Shoot(out + "/confirm-table-refused.png"); // the refusal's message box stays until the next click
    platform.setFault(QStringLiteral("ToFinishOrder"), QStringLiteral("hang"));
    table->SlotOrderOk(ConfirmTableCell(table, asking[2]));
    QTest::qWait(300);
    // The staff member has clicked the row still waiting; the confirmed one shows its own shade.
    ConfirmTable(table)->selectRow(ConfirmTableCell(table, asking[3])->row());
    Shoot(out + "/confirm-table.png");
    platform.clearFaults();
    return 0;
}
