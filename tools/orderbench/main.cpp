// Times the real order pane (CAllList) against velm-platform, offscreen:
//   tarvik-orderbench [--runs N]
// For 1 000 and 10 000 orders: the full list from request to laid-out rows (the HTTP part
// shown separately), the memory each order adds, a 200-entry pay/finish reply, one new order,
// the full list read again and compared with the book, and unfolding a group of 10 000 rows.
// Prints one Markdown table.
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMediaPlayer>
#include <QNetworkReply>
#include <QScrollArea>
#include <QTextStream>
#include <QtTest>

#include <algorithm>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "app/desktop.h"
#include "app/sound.h"
#include "common/clientlook.h"
#include "main/cwmain.h"
#include "common/fakenetwork.h"
#include "common/platformprocess.h"
#include "orders/pane/callist.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"
#include "orders/pane/corderitem.h"
#include "orders/pane/corderlist.h"
#include "orders/pollclock.h"
#include "session/csession.h"

namespace {

QTextStream out(stdout);

double Median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

// Resident memory after handing freed heap back, in KiB.
double ResidentKiB()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// The pane as the main window holds it.
struct Pane
{
    CSession session;
    QScrollArea area;
    CAllList* list;
    explicit Pane(const CUser& user) : session(user)
    {
        area.resize(CAllList::paneWidth + 20, 600);
        list = new CAllList(&session, area.viewport());
        area.setWidget(list);
        area.show();
    }
};

// Times one request of the pane: `send` starts it; the result is {request → body received,
// request → handled}. The reply's own finished() is connected after the manager's, so it runs
// once the pane's reply slot has returned.
struct Timing
{
    double httpMs = 0;
    double totalMs = 0;
    double clientMs() const { return totalMs - httpMs; }
};

template <class Send> Timing TimeRequest(CAllList* list, Send send)
{
    QNetworkAccessManager* network = list->Session()->Network();
    const QList<QNetworkReply*> before = network->findChildren<QNetworkReply*>();
    QElapsedTimer clock;
    clock.start();
    send();
    QNetworkReply* reply = nullptr;
    for (QNetworkReply* r : network->findChildren<QNetworkReply*>())
        if (!before.contains(r) && !r->isFinished())
            reply = r;
    Timing timing;
    bool done = false;
    if (!reply)
        return timing;
    QObject::connect(reply, &QNetworkReply::readChannelFinished,
                     [&] { timing.httpMs = clock.nsecsElapsed() / 1e6; });
    QObject::connect(reply, &QNetworkReply::finished, [&] {
        // The rows are laid out once the reply's handling has returned to the event loop.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
        timing.totalMs = clock.nsecsElapsed() / 1e6;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 60000))
        out << "no answer within a minute\n";
    return timing;
}

CUser LogIn(PlatformProcess& platform)
{
    const PlatformProcess::Session session =
        platform.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    CUser user;
    user.SetId(session.id);
    user.SetKey(session.key);
    user.SetToken(session.token);
    platform.serveClient();
    return user;
}

int SeededOrders()
{
    PlatformProcess probe(
        {QStringLiteral("--seed"), QStringLiteral("--page-size"), QStringLiteral("100000")});
    const PlatformProcess::Session session =
        probe.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    const QJsonObject answer =
        probe.post(QStringLiteral("StaffOrderList"), session.form() + "&pager=1", 60000);
    return answer.value("info").toObject().value("commos").toArray().size();
}

struct Round
{
    int orders = 0;
    Timing ingest;
    double kibPerOrder = 0;
    Timing payFinish;
    int payFinishEntries = 0;
    Timing newOrder;
    Timing heal;
    int healed = 0;
    double soundMs = 0;
    int largestGroup = 0;
    double unfoldLargestMs = 0;
};

double UnfoldMs(COrderList* group)
{
    QElapsedTimer clock;
    clock.start();
    group->Fold();
    // Until the rows in sight have painted with their labels.
    const COrderItem* first = group->Items().value(0);
    do
        QCoreApplication::processEvents();
    while (first && !first->IdLabel() && clock.elapsed() < 10000);
    QCoreApplication::processEvents();
    return clock.nsecsElapsed() / 1e6;
}

Round Measure(int wanted, int seeded, int runs)
{
    Round round;
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--bench-orders"),
                              QString::number(wanted - seeded), QStringLiteral("--page-size"),
                              QStringLiteral("100000")});
    if (!platform.isRunning()) {
        out << "velm-platform: " << platform.errorString() << "\n";
        return round;
    }
    CUser user = LogIn(platform);

    QVector<double> totals, https;
    for (int run = 0; run < runs; ++run) {
        const double before = ResidentKiB();
        auto* pane = new Pane(user);
        const Timing t = TimeRequest(pane->list, [&] { pane->session.Start(); });
        totals.append(t.totalMs);
        https.append(t.httpMs);
        // Let the first two polls finish; the next ones are hours away.
        QTest::qWait(1500);
        round.orders = pane->list->Book()->Count();
        if (run == 0)
            round.kibPerOrder = (ResidentKiB() - before) / qMax(1, round.orders);

        if (run == runs - 1) {
            // 200 changes: most orders move on, a few buyers ask for confirmation. The table is
            // opened first: its window is created once per session, not per reply.
            pane->list->OpenServerTable();
            int changed = 0;
            for (COrder* order : pane->list->Book()->Orders()) {
                const int status = order->GetStatus();
                if (changed >= 200 || status < 1 || status > 3)
                    continue;
                QJsonObject change{{"status", status + 1}};
                if (status == 1 && changed % 20 == 0)
                    change = QJsonObject{{"confirm", true}};
                platform.changeOrder(order->GetId(), change);
                ++changed;
            }
            round.payFinishEntries = changed;
            round.payFinish = TimeRequest(pane->list, [&] { pane->session.Polls()->HttpPayFinishOrder(); });

            platform.createOrder(QJsonObject{{"status", 1}});
            round.newOrder = TimeRequest(pane->list, [&] { pane->session.Polls()->HttpNewOrder(); });

            // The full list read again, as every 10 minutes: 100 orders changed on the platform
            // without any poll telling; the pass corrects them and leaves the rest alone.
            int diverged = 0;
            QHash<qint64, int> before;
            for (COrder* order : pane->list->Book()->Orders()) {
                before.insert(order->GetId(), order->GetStatus());
                if (diverged < 100 && order->GetStatus() == 2) {
                    platform.changeOrder(order->GetId(), QJsonObject{{"status", 3}});
                    ++diverged;
                }
            }
            round.heal = TimeRequest(pane->list, [&] { pane->session.Polls()->CatchUp(); });
            for (COrder* order : pane->list->Book()->Orders())
                round.healed += before.value(order->GetId()) != order->GetStatus();

            // Both replies above ask for a sound; this is what asking costs on its own.
            QElapsedTimer clock;
            clock.start();
            pane->session.Sounds()->Play(QStringLiteral("audio/notify.wav"));
            round.soundMs = clock.nsecsElapsed() / 1e6;

            COrderList* largest = pane->list->Lists().first();
            for (COrderList* group : pane->list->Lists())
                if (group->Count() > largest->Count())
                    largest = group;
            round.largestGroup = largest->Count();
            round.unfoldLargestMs = UnfoldMs(largest);
        }
        delete pane;
    }
    round.ingest.totalMs = Median(totals);
    round.ingest.httpMs = Median(https);
    return round;
}

QString Ms(double ms)
{
    return QString::number(ms, 'f', ms < 10 ? 2 : 0) + QStringLiteral(" ms");
}

// A group of exactly `count` rows, from a canned full list, unfolded.
struct BigGroup
{
    double unfoldMs = 0;
    double newRowMs = 0;
    double foldMs = 0;
};

BigGroup UnfoldSyntheticGroup(int count)
{
    QJsonArray commos;
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    for (int i = 0; i < count; ++i)
        commos.append(QJsonObject{{"id", 26000000000.0 + i},
                                  {"member", "m"},
                                  {"amount", 12.5},
                                  {"status", 4},
                                  {"ctime", now},
                                  {"ertime", now}});
    const QByteArray full =
        QJsonDocument(QJsonObject{{"status", 1}, {"info", QJsonObject{{"shop_id", 1}, {"commos", commos}}}})
            .toJson(QJsonDocument::Compact);
    FakeNetworkManager::Install([full](const RecordedRequest& r) {
        if (r.request.url().path().endsWith(QLatin1String("/StaffOrderList")))
            return FakeResponse::Json(full);
        return FakeResponse::Json("{\"status\":1,\"info\":{\"commos\":[]}}");
    });
    CUser user;
    user.SetId(1);
    Pane pane(user);
    pane.session.Start();
    if (!QTest::qWaitFor([&] { return pane.list->FindList(4)->Count() == count; }, 60000))
        out << "the canned full list did not arrive\n";
    BigGroup measured;
    measured.unfoldMs = UnfoldMs(pane.list->FindList(4));
    // A new row on top of the unfolded group moves all the rows below it.
    QElapsedTimer clock;
    clock.start();
    pane.list->Book()->Take(QVariantMap{{"id", 27000000000LL}, {"status", 4}, {"ctime", now}}, COrderBook::New);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    measured.newRowMs = clock.nsecsElapsed() / 1e6;
    clock.start();
    pane.list->FindList(4)->Fold();
    QCoreApplication::processEvents();
    measured.foldMs = clock.nsecsElapsed() / 1e6;
    FakeNetworkManager::Uninstall();
    return measured;
}

// The logged-in client as a shop runs it: the main window created the way a login reply creates
// it, timed until the order pane has laid out its first rows; then, with the polls at their
// production intervals, the CPU the whole process uses over `idleSeconds` (0: not measured).
struct Client
{
    double firstRowMs = 0;
    double idleCpuPercent = -1;
};

Client LoggedInClient(int wanted, int seeded, int idleSeconds)
{
    Client measured;
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--bench-orders"),
                              QString::number(wanted - seeded), QStringLiteral("--page-size"),
                              QStringLiteral("100000")});
    if (!platform.isRunning())
        return measured;
    CUser user = LogIn(platform);
    user.SetAccount(PlatformProcess::DemoAccount);
    PollClock::SetSecondLength(1000);
    QElapsedTimer clock;
    clock.start();
    auto* window = new CWMain(new CSession(user));
    QObject::disconnect(window, &CWidget::Close, qApp, nullptr);
    window->show();
    auto laidOut = [window] {
        for (COrderList* group : window->AllList()->Lists())
            if (group->Count() > 0 && group->GroupCount()->text() != QLatin1String("..."))
                return true;
        return false;
    };
    while (!laidOut() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    measured.firstRowMs = clock.nsecsElapsed() / 1e6;
    if (idleSeconds > 0) {
        QTest::qWait(3000); // the first polls and the update check are done
        struct rusage before {}, after {};
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(idleSeconds * 1000);
        getrusage(RUSAGE_SELF, &after);
        auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
        const double cpu = secs(after.ru_utime) - secs(before.ru_utime) + secs(after.ru_stime) -
                           secs(before.ru_stime);
        measured.idleCpuPercent = 100.0 * cpu / (wall.nsecsElapsed() / 1e9);
    }
    delete window;
    PollClock::SetSecondLength(3600 * 1000);
    return measured;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Desktop::PinTimeZone(); // as the program does
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    TestSupport::LookLikeTheClient(app);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(QLatin1String("window opacity")) &&
            !text.endsWith(QLatin1String(", corrected")))
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    out.setCodec("UTF-8");
    const int runIndex = QCoreApplication::arguments().indexOf(QStringLiteral("--runs"));
    const int runs = qMax(1, runIndex > 0 ? QCoreApplication::arguments().value(runIndex + 1).toInt() : 3);

    PollClock::SetSecondLength(3600 * 1000); // the polls after the first wait hours
    {
        QMediaPlayer warmUp;
    } // the media back end loads once per process, not per pane

    const int seeded = SeededOrders();
    Measure(seeded + 50, seeded, 1); // warm-up: fonts, style sheets and the table window, first used
    const Round small = Measure(1000, seeded, runs);
    const Round large = Measure(10000, seeded, runs);
    const BigGroup big = UnfoldSyntheticGroup(10000);
    const int idleIndex = QCoreApplication::arguments().indexOf(QStringLiteral("--idle-seconds"));
    const int idleSeconds = idleIndex > 0 ? QCoreApplication::arguments().value(idleIndex + 1).toInt() : 60;
    const Client smallClient = LoggedInClient(1000, seeded, 0);
    const Client largeClient = LoggedInClient(10000, seeded, idleSeconds);

    out << "| measure | " << small.orders << " orders | " << large.orders << " orders | target at 10 000 |\n";
    out << "|---|---|---|---|\n";
    out << "| full list, request to laid-out rows (median of " << runs << ") | " << Ms(small.ingest.totalMs)
        << " | " << Ms(large.ingest.totalMs) << QString::fromUtf8(" | ≤ 200 ms |\n");
    out << QString::fromUtf8("| — of which HTTP (request to body received) | ") << Ms(small.ingest.httpMs)
        << " | " << Ms(large.ingest.httpMs) << " | |\n";
    out << QString::fromUtf8("| — of which the client (parse, orders, rows, layout) | ")
        << Ms(small.ingest.clientMs()) << " | " << Ms(large.ingest.clientMs()) << " | |\n";
    out << QString::fromUtf8("| growth of the full list, 10× the orders | | ")
        << QString::number(large.ingest.totalMs / small.ingest.totalMs, 'f', 1)
        << QString::fromUtf8("× | ≤ 12× |\n");
    out << "| memory added per order (RSS) | " << QString::number(small.kibPerOrder, 'f', 1) << " KiB | "
        << QString::number(large.kibPerOrder, 'f', 1) << QString::fromUtf8(" KiB | ≤ 4 KiB |\n");
    out << "| pay/finish reply of " << large.payFinishEntries << " entries, handling | "
        << Ms(small.payFinish.clientMs()) << " | " << Ms(large.payFinish.clientMs()) << QString::fromUtf8(" | ≤ 15 ms |\n");
    out << "| one new order, handling | " << Ms(small.newOrder.clientMs()) << " | "
        << Ms(large.newOrder.clientMs()) << QString::fromUtf8(" | ≤ 8 ms |\n");
    out << QString::fromUtf8("| — of either, asking for its sound (the media player loading the file) | ")
        << Ms(small.soundMs) << " | " << Ms(large.soundMs) << " | |\n";
    out << "| the full list read again and compared (" << small.healed << " / " << large.healed
        << " orders corrected), handling | " << Ms(small.heal.clientMs()) << " | " << Ms(large.heal.clientMs())
        << QString::fromUtf8(" | ≤ 100 ms |\n");
    out << "| unfolding the largest group (" << small.largestGroup << " / " << large.largestGroup
        << " rows) | " << Ms(small.unfoldLargestMs) << " | " << Ms(large.unfoldLargestMs) << " | |\n";
    out << "| unfolding a group of 10 000 rows | | " << Ms(big.unfoldMs) << " | < 1 000 ms |\n";
    out << "| a new row on top of that unfolded group | | " << Ms(big.newRowMs) << " | |\n";
    out << "| folding it again | | " << Ms(big.foldMs) << " | |\n";
    out << "| login reply to the first laid-out rows (main window, full list, layout) | "
        << Ms(smallClient.firstRowMs) << " | " << Ms(largeClient.firstRowMs) << " | |\n";
    out << "| idle CPU of the logged-in client over " << idleSeconds << " s (production poll intervals) | | "
        << QString::number(largeClient.idleCpuPercent, 'f', 2) << " % | |\n";
    out.flush();
    return 0;
}
