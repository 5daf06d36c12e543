// Times the order pane (CAllList) against velm-platform, offscreen, and the real `tarvik` program
// logged in against the demo shop:
//   tarvik-orderbench [--runs N] [--client-runs N] [--idle-seconds S] [--tarvik PATH] [--no-x]
//                     [--stalls-only] [--tsv FILE]
// In process, for 1 000 and 10 000 orders: the full list from request to laid-out rows (the HTTP
// part shown separately), the memory each order adds, a 200-entry pay/finish reply, a new order
// from the poll's answer to its row placed and its sound asked for, the full list read again and
// compared with the book, and unfolding a group of 10 000 rows.
// The real program, started with auto-login against `velm-platform --seed`: its resident memory
// once the main window has its first full list, and its CPU over S idle seconds (offscreen; the
// memory also on an X display, a private Xvfb, unless --no-x).
// The longest stall of the window's event loop (the longest time it does not turn) during a login
// with 10 000 orders and the half minute after it: a new order and its sound, a pay/finish reply
// of 200 entries; once without a sound server and once with a private PulseAudio, each in a
// process of its own, on the X display unless --no-x (--stalls-only measures nothing else).
// Prints Markdown tables; --tsv also writes "measure<TAB>value<TAB>unit<TAB>target" lines for
// tools/benchcompare.sh.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMediaPlayer>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QScrollArea>
#include <QTextStream>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <malloc.h>
#include <unistd.h>

#include "app/ui/desktop.h"
#include "app/ui/resources.h"
#include "app/sound.h"
#include "common/fakenetwork.h"
#include "common/platformprocess.h"
#include "common/procstat.h"
#include "main/ui/cwmain.h"
#include "main/ui/windowkeeper.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/orderentry.h"
#include "orders/orderpolls.h"
#include "orders/ui/callist.h"
#include "orders/ui/corderitem.h"
#include "orders/ui/corderlist.h"
#include "orders/pollclock.h"
#include "session/csession.h"
#include "session/userstore.h"

namespace {

using ProcStat::CpuTicks;
using ProcStat::StatusField;

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

// ---- The client as the in-process rows reach it ------------------------------------------------
// Everything the measurements below ask of the client's classes is here: a build whose session,
// order book or polls live elsewhere changes these few lines, and the measurements stay the same.

// The order pane as the main window holds it, with the book and the polls it starts.
// What the bench's sessions are built with (below).
SessionOptions BenchOptions(int secondMs = 3600 * 1000);

struct Pane
{
    std::unique_ptr<CSession> session; // made by Start(), the way a login makes it
    QScrollArea area;
    CAllList* list = nullptr;
    std::unique_ptr<CWindowKeeper> windows; // the windows the pane asks for, gone before the session
    Pane()
    {
        area.resize(CAllList::paneWidth + 20, 600);
        area.show();
    }
    void Start(CUser* user)
    {
        session = std::make_unique<CSession>(*user, nullptr, nullptr, BenchOptions());
        list = new CAllList(session.get(), area.viewport());
        area.setWidget(list);
        windows = std::make_unique<CWindowKeeper>(session.get(), &area);
        QObject::connect(list, &CAllList::ServerTableWanted, windows.get(), &CWindowKeeper::OpenServerTable);
        session->Start();
    }
    const COrderBook* Book() const { return session->Book(); }
    COrderBook* Book() { return session->Book(); }
    void AskNewOrders() { session->Polls()->HttpNewOrder(); }
    void AskPayFinish() { session->Polls()->HttpPayFinishOrder(); }
    void ReadListAgain() { session->Polls()->CatchUp(); }
    // Its window is made once per session, not per reply.
    void OpenConfirmationTable() { list->OpenServerTable(); }
    const QList<COrderList*>& Groups() const { return list->Lists(); }
    COrderList* Group(int status) const { return list->FindList(status); }
};

// The main window the way a login reply opens it; deleted by the caller.
CWMain* OpenMainWindow(CUser* user, int secondMs = 3600 * 1000)
{
    auto* window = new CWMain(new CSession(*user, nullptr, nullptr, BenchOptions(secondMs)));
    window->show();
    return window;
}

void CloseMainWindow(CWMain* window)
{
    delete window;
}

const QList<COrderList*>& GroupsOf(CWMain* window)
{
    return window->findChild<CAllList*>(QStringLiteral("pallList"))->Lists();
}

COrderPolls* PollsOf(CWMain* window)
{
    return window->Session()->Polls();
}

const COrderBook* BookOf(CWMain* window)
{
    return window->Session()->Book();
}

COrderList* GroupOf(CWMain* window, int status)
{
    return window->findChild<CAllList*>(QStringLiteral("pallList"))->FindList(status);
}

// ------------------------------------------------------------------------------------------------

// Every manager the client makes records the replies it creates, so that a request is timed
// without knowing which object sends it.
class WatchingManager : public QNetworkAccessManager
{
public:
    using QNetworkAccessManager::QNetworkAccessManager;
    static QList<QPointer<QNetworkReply>>& Created()
    {
        static QList<QPointer<QNetworkReply>> replies;
        return replies;
    }
    static QNetworkAccessManager* Make(QObject* parent) { return new WatchingManager(parent); }

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* body) override
    {
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, body);
        Created().append(reply);
        return reply;
    }
};

// What the bench's sessions are built with: every request watched, and an hour for a second, so
// that the polls after the first wait hours.
SessionOptions BenchOptions(int secondMs)
{
    SessionOptions options;
    options.clock.secondMs = secondMs;
    options.makeNetwork = &WatchingManager::Make;
    return options;
}


// Times one request of the client: `send` starts it. The reply's own finished() is connected after
// the client's, so it runs once the client's reply slot has returned; the rows are laid out once
// the events that handling posted have run.
struct Timing
{
    double httpMs = 0;  // request to body received
    double totalMs = 0; // request to handled and laid out
    double soundMs = -1; // the sound asked for to the reply slot's return; -1: no sound asked for
    bool answered = false;
    double clientMs() const { return totalMs - httpMs; }
};

template <class Send> Timing TimeRequest(Send send)
{
    WatchingManager::Created().clear();
    QElapsedTimer clock;
    clock.start();
    send();
    Timing timing;
    QNetworkReply* reply = WatchingManager::Created().value(0);
    if (!reply || reply->isFinished()) {
        out << "no request was sent\n";
        return timing;
    }
    double soundAt = -1;
    const QMetaObject::Connection sound = QObject::connect(
        Sound::monitor(), &Sound::Monitor::Played, [&] { soundAt = clock.nsecsElapsed() / 1e6; });
    QObject::connect(reply, &QNetworkReply::readChannelFinished,
                     [&] { timing.httpMs = clock.nsecsElapsed() / 1e6; });
    QObject::connect(reply, &QNetworkReply::finished, [&] {
        if (soundAt >= 0)
            timing.soundMs = clock.nsecsElapsed() / 1e6 - soundAt;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
        timing.totalMs = clock.nsecsElapsed() / 1e6;
        timing.answered = true;
    });
    if (!QTest::qWaitFor([&] { return timing.answered; }, 60000))
        out << "no answer within a minute\n";
    QObject::disconnect(sound);
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
    qputenv("TARVIK_API_HOST", platform.hostPort().toLatin1());
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
    double payFinishMs = 0;
    double payFinishSoundMs = 0;
    int payFinishEntries = 0;
    double newOrderMs = 0;
    double newOrderSoundMs = 0;
    int newOrdersMissed = 0; // not in the book, not on top of their group, or no sound asked for
    Timing heal;
    int healed = 0;
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

// 200 changes: most orders move on, a few buyers ask for confirmation. Returns the entries made.
int ChangeOrders(PlatformProcess& platform, const COrderBook* book)
{
    int changed = 0;
    for (const COrder* order : book->Orders()) {
        const int status = order->GetStatus();
        if (changed >= 200)
            break;
        if (status < 1 || status > 3)
            continue;
        QJsonObject change{{"status", status + 1}};
        if (status == 1 && changed % 20 == 0)
            change = QJsonObject{{"confirm", true}};
        platform.changeOrder(order->GetId(), change);
        ++changed;
    }
    return changed;
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
        auto* pane = new Pane;
        const Timing t = TimeRequest([&] { pane->Start(&user); });
        totals.append(t.totalMs);
        https.append(t.httpMs);
        // Let the first two polls finish; the next ones are hours away.
        QTest::qWait(1500);
        round.orders = pane->Book()->Count();
        if (run == 0)
            round.kibPerOrder = (ResidentKiB() - before) / qMax(1, round.orders);

        if (run == runs - 1) {
            pane->OpenConfirmationTable();
            QVector<double> payFinish, payFinishSound, newOrder, sound;
            round.payFinishEntries = 200;
            for (int repeat = 0; repeat < runs; ++repeat) {
                round.payFinishEntries = qMin(round.payFinishEntries, ChangeOrders(platform, pane->Book()));
                // Ten entries ask for confirmation: the reply rings, once the sound before has
                // ended (one still playing would be waited for, not asked for in the reply).
                QTest::qWait(2000);
                const Timing changes = TimeRequest([&] { pane->AskPayFinish(); });
                payFinish.append(changes.clientMs());
                payFinishSound.append(qMax(0.0, changes.soundMs));

                // A new order arrives as in a shop: the sound of the one before has ended. Each
                // answer brings one order, whose row goes on top of "paid" and which rings.
                QTest::qWait(2000);
                const qint64 id = platform.createOrder(QJsonObject{{"status", 1}});
                const Timing arrival = TimeRequest([&] { pane->AskNewOrders(); });
                const COrderList* paid = pane->Group(1);
                if (!pane->Book()->Find(id) || !paid || paid->Ids().value(0) != id || arrival.soundMs < 0)
                    ++round.newOrdersMissed;
                newOrder.append(arrival.clientMs());
                sound.append(qMax(0.0, arrival.soundMs));
            }
            round.payFinishMs = Median(payFinish);
            round.payFinishSoundMs = Median(payFinishSound);
            round.newOrderMs = Median(newOrder);
            round.newOrderSoundMs = Median(sound);

            // The full list read again, as every 10 minutes: 100 orders changed on the platform
            // without any poll telling; the pass corrects them and leaves the rest alone.
            int diverged = 0;
            QHash<qint64, int> before;
            for (const COrder* order : pane->Book()->Orders()) {
                before.insert(order->GetId(), order->GetStatus());
                if (diverged < 100 && order->GetStatus() == 2) {
                    platform.changeOrder(order->GetId(), QJsonObject{{"status", 3}});
                    ++diverged;
                }
            }
            round.heal = TimeRequest([&] { pane->ReadListAgain(); });
            for (const COrder* order : pane->Book()->Orders())
                round.healed += before.value(order->GetId()) != order->GetStatus();

            COrderList* largest = pane->Groups().first();
            for (COrderList* group : pane->Groups())
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
    BigGroup measured;
    {
        Pane pane;
        pane.Start(&user);
        if (!QTest::qWaitFor([&] { return pane.Group(4)->Count() == count; }, 60000))
            out << "the canned full list did not arrive\n";
        measured.unfoldMs = UnfoldMs(pane.Group(4));
        // A new row on top of the unfolded group moves all the rows below it.
        QElapsedTimer clock;
        clock.start();
        OrderEntry entry;
        entry.id = 27000000000LL;
        entry.status = 4;
        entry.ctime = ReadStamp(QVariant(now));
        pane.Book()->Take(entry, COrderBook::New);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        measured.newRowMs = clock.nsecsElapsed() / 1e6;
        clock.start();
        pane.Group(4)->Fold();
        QCoreApplication::processEvents();
        measured.foldMs = clock.nsecsElapsed() / 1e6;
    }
    FakeNetworkManager::Uninstall();
    return measured;
}

// The main window created the way a login reply creates it, timed until the order pane has laid
// out its first rows.
double FirstRowsMs(int wanted, int seeded)
{
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--bench-orders"),
                              QString::number(wanted - seeded), QStringLiteral("--page-size"),
                              QStringLiteral("100000")});
    if (!platform.isRunning())
        return 0;
    CUser user = LogIn(platform);
    user.SetAccount(PlatformProcess::DemoAccount);
    QElapsedTimer clock;
    clock.start();
    CWMain* window = OpenMainWindow(&user, 1000);
    auto laidOut = [window] {
        for (COrderList* group : GroupsOf(window))
            if (group->Count() > 0 && group->findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text() != QLatin1String("..."))
                return true;
        return false;
    };
    while (!laidOut() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double ms = clock.nsecsElapsed() / 1e6;
    CloseMainWindow(window);
    return ms;
}

// ---- Stalls of the window's event loop ----------------------------------------------------------

// The longest time the event loop does not turn, per phase: a precise 5 ms timer, each gap between
// two of its ticks counted in the phase it began in (a stall that ends the list's handling belongs
// to the list). A new phase closes the gap running: what the caller does next is the new phase's.
// The bench's own blocking calls to the platform run in Idle, which is not counted.
class StallWatch
{
public:
    enum Phase { Idle, Window, Login, List, AfterList, NewOrder, PayFinish, Phases };

    explicit StallWatch(std::function<void(StallWatch&)> onTick) : onTick(std::move(onTick))
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            Close();
            this->onTick(*this);
        });
        clock.start();
        timer.start();
    }
    void Begin(Phase p)
    {
        Close();
        phase = p;
    }
    Phase Current() const { return phase; }
    double Longest(Phase p) const { return longest[p]; }

private:
    void Close()
    {
        const double now = clock.nsecsElapsed() / 1e6;
        longest[phase] = qMax(longest[phase], now - last);
        last = now;
    }

    std::function<void(StallWatch&)> onTick;
    QTimer timer;
    QElapsedTimer clock;
    double last = 0;
    Phase phase = Idle;
    double longest[Phases] = {};
};

const char* const stallPhaseNames[] = {"idle",       "window",    "login",     "list",
                                       "after-list", "new-order", "pay-finish"};

// In a process of its own (the sound server it finds is the one its environment names): the main
// window opened as a login opens it, with `benchOrders` orders more than the demo shop's, until 5 s
// after its full list; then a new order and its sound; then a pay/finish reply of 200 entries.
// Prints "stall<TAB>phase<TAB>ms" lines.
int RunStallChild(int benchOrders)
{
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--bench-orders"),
                              QString::number(benchOrders), QStringLiteral("--page-size"),
                              QStringLiteral("100000")});
    if (!platform.isRunning()) {
        out << "velm-platform: " << platform.errorString() << "\n";
        return 1;
    }
    CUser user = LogIn(platform);
    user.SetAccount(PlatformProcess::DemoAccount);
    CWMain* window = nullptr;
    QElapsedTimer sinceLaidOut;
    auto laidOut = [&window] {
        for (COrderList* group : GroupsOf(window))
            if (group->Count() > 0 && group->findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text() != QLatin1String("..."))
                return true;
        return false;
    };
    bool listWatched = false;
    StallWatch watch([&](StallWatch& w) {
        // The list's phase starts when its body is in: what comes before is the window's own.
        if (w.Current() == StallWatch::Login && !listWatched)
            for (const QPointer<QNetworkReply>& reply : WatchingManager::Created())
                if (reply && reply->url().path().endsWith(QLatin1String("/StaffOrderList"))) {
                    QObject::connect(reply, &QNetworkReply::readChannelFinished, [&w] { w.Begin(StallWatch::List); });
                    listWatched = true;
                }
        if (w.Current() == StallWatch::List && laidOut()) {
            w.Begin(StallWatch::AfterList);
            sinceLaidOut.start();
        }
    });
    QTest::qWait(200);
    WatchingManager::Created().clear();
    watch.Begin(StallWatch::Window);
    window = OpenMainWindow(&user);
    watch.Begin(StallWatch::Login);
    // The sounds load half a second after the list: five seconds take in what follows.
    if (!QTest::qWaitFor([&] { return sinceLaidOut.isValid() && sinceLaidOut.elapsed() >= 5000; }, 120000))
        out << "the full list was not laid out within two minutes\n";

    watch.Begin(StallWatch::Idle);
    const int soundsBefore = Sound::monitor()->Count();
    const qint64 id = platform.createOrder(QJsonObject{{"status", 1}});
    QTest::qWait(100);
    watch.Begin(StallWatch::NewOrder);
    PollsOf(window)->HttpNewOrder();
    QTest::qWait(3000);
    const COrderList* paid = GroupOf(window, 1);
    if (!BookOf(window)->Find(id) || !paid || paid->Ids().value(0) != id || Sound::monitor()->Count() == soundsBefore)
        out << "the new order " << id << " did not arrive on top of its group with its sound\n";

    watch.Begin(StallWatch::Idle);
    ChangeOrders(platform, BookOf(window));
    QTest::qWait(2000); // the new order's sound has ended
    watch.Begin(StallWatch::PayFinish);
    PollsOf(window)->HttpPayFinishOrder();
    QTest::qWait(3000);
    watch.Begin(StallWatch::Idle);

    for (int phase = StallWatch::Window; phase < StallWatch::Phases; ++phase)
        out << "stall\t" << stallPhaseNames[phase] << '\t'
            << QString::number(watch.Longest(StallWatch::Phase(phase)), 'f', 1) << '\n';
    out.flush();
    CloseMainWindow(window);
    return 0;
}

// ---- The real program ---------------------------------------------------------------------------


// A private X server for the client (Xvfb picks a free display and says which).
struct XServer
{
    QProcess process;
    QString display;
    XServer()
    {
        process.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-screen"), QStringLiteral("0"),
                                                QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                                QStringLiteral("tcp")});
        if (process.waitForStarted(5000) && process.waitForReadyRead(10000))
            display = QLatin1Char(':') + QString::fromLatin1(process.readAllStandardOutput().trimmed());
    }
    ~XServer()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
};

struct ProcessRound
{
    bool ok = false;
    QString failure;
    double rssMiB = 0;
    int threads = 0;
    double idleCpuPercent = -1;
};

// Starts `tarvik` with a remembered, auto-login account of the demo shop, in a data folder of its
// own, and waits until its main window has the first full list and the process has gone quiet.
// Then reads its memory and, for `idleSeconds` (0: not), the CPU it uses with nothing happening.
ProcessRound RunProgram(const QString& program, const QString& display, int idleSeconds)
{
    ProcessRound round;
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--log")});
    if (!platform.isRunning()) {
        round.failure = QStringLiteral("velm-platform: ") + platform.errorString();
        return round;
    }
    QTemporaryDir home;
    const QString users = home.filePath(QStringLiteral("data/Velm/Tarvik/All Users"));
    QDir().mkpath(users);
    QDir().mkpath(home.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(home.filePath(QStringLiteral("tmp")));
    QFile file(users + QStringLiteral("/users.xml"));
    if (!file.open(QIODevice::WriteOnly)) {
        round.failure = QStringLiteral("cannot write ") + file.fileName();
        return round;
    }
    file.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n"
                              "  <user id=\"%1\" autologin=\"true\">\n    <username>%1</username>\n"
                              "    <password>%2</password>\n  </user>\n</users>\n")
                   .arg(PlatformProcess::DemoAccount)
                   .arg(EncodePassword(QString::fromLatin1(PlatformProcess::DemoPassword)))
                   .toUtf8());
    file.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
    // No credential store: nothing is started on the client's behalf, the password stays in users.xml.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-bus")));
    for (const char* host : {"TARVIK_API_HOST", "TARVIK_IMAGE_HOST", "TARVIK_WEB_HOST"})
        env.insert(QString::fromLatin1(host), platform.hostPort());
    if (display.isEmpty()) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
    }
    QProcess client;
    client.setProcessEnvironment(env);
    client.setWorkingDirectory(QFileInfo(program).absolutePath());
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.setStandardOutputFile(home.filePath(QStringLiteral("client.log")));
    client.start(program, QStringList());
    if (!client.waitForStarted(10000)) {
        round.failure = program + QStringLiteral(": ") + client.errorString();
        return round;
    }
    const qint64 pid = client.processId();
    auto stop = [&client] {
        client.terminate();
        if (!client.waitForFinished(5000)) {
            client.kill();
            client.waitForFinished(5000);
        }
    };
    if (!platform.waitForOutput(QStringLiteral("POST /api/StaffOrderList"), 30000)) {
        round.failure = QStringLiteral("the client did not log in and ask for its full list within 30 s");
        stop();
        return round;
    }
    // Settled: two seconds in a row with at most one tick of CPU, after the first polls.
    QElapsedTimer settling;
    settling.start();
    QVector<qint64> samples;
    while (settling.elapsed() < 30000) {
        QThread::msleep(500);
        samples.append(CpuTicks(pid));
        if (samples.size() >= 5 && samples.last() - samples.at(samples.size() - 5) <= 1 && settling.elapsed() > 4000)
            break;
    }
    if (samples.value(samples.size() - 1, -1) < 0) {
        round.failure = QStringLiteral("the client ended after its login");
        return round;
    }
    round.rssMiB = StatusField(pid, "VmRSS") / 1024.0;
    round.threads = int(StatusField(pid, "Threads"));
    if (idleSeconds > 0) {
        const qint64 before = CpuTicks(pid);
        QElapsedTimer wall;
        wall.start();
        QThread::msleep(static_cast<unsigned long>(idleSeconds) * 1000);
        const qint64 after = CpuTicks(pid);
        if (after < 0) {
            round.failure = QStringLiteral("the client ended while idle");
            return round;
        }
        round.idleCpuPercent = 100.0 * double(after - before) / double(sysconf(_SC_CLK_TCK)) /
                               (wall.nsecsElapsed() / 1e9);
    }
    round.ok = true;
    stop();
    return round;
}

struct ProgramResult
{
    double rssMiB = 0;
    double threads = 0;
    double idleCpuPercent = -1;
    int rounds = 0;
    QString failure;
};

ProgramResult MeasureProgram(const QString& program, const QString& display, int runs, int idleSeconds)
{
    ProgramResult result;
    QVector<double> rss, threads, idle;
    for (int run = 0; run < runs; ++run) {
        const ProcessRound round = RunProgram(program, display, idleSeconds);
        if (!round.ok) {
            result.failure = round.failure;
            continue;
        }
        rss.append(round.rssMiB);
        threads.append(round.threads);
        if (round.idleCpuPercent >= 0)
            idle.append(round.idleCpuPercent);
    }
    result.rounds = rss.size();
    result.rssMiB = Median(rss);
    result.threads = Median(threads);
    result.idleCpuPercent = idle.isEmpty() ? -1 : Median(idle);
    return result;
}

// A private PulseAudio with a null sink, in a folder of its own; `address` stays empty when it
// cannot be started (not installed).
struct PulseServer
{
    QTemporaryDir home;
    QProcess process;
    QString address;
    QString failure;
    PulseServer()
    {
        const QString runtime = home.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("PULSE_SERVER"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(home.filePath(QStringLiteral("pulseaudio.log")));
        process.start(QStringLiteral("pulseaudio"),
                      {QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
                       QStringLiteral("-L"), QStringLiteral("module-null-sink"), QStringLiteral("-L"),
                       QStringLiteral("module-native-protocol-unix")});
        if (!process.waitForStarted(5000)) {
            failure = QStringLiteral("pulseaudio: ") + process.errorString();
            return;
        }
        const QString socket = runtime + QStringLiteral("/pulse/native");
        if (QTest::qWaitFor([&] { return QFileInfo::exists(socket) || process.state() != QProcess::Running; },
                            10000) &&
            QFileInfo::exists(socket))
            address = QStringLiteral("unix:") + socket;
        else
            failure = QStringLiteral("pulseaudio did not open its socket");
    }
    ~PulseServer()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
};

struct Stalls
{
    QHash<QString, double> ms; // by phase name, the median of the runs
    QString failure;
};

// `runs` child processes (this program with --stall-child) on `display` (empty: offscreen), with
// `pulseServer` as their sound server (one that does not exist: none).
Stalls MeasureStalls(int benchOrders, const QString& display, const QString& pulseServer, int runs)
{
    Stalls stalls;
    QHash<QString, QVector<double>> measured;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), pulseServer);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--stall-child"), QString::number(benchOrders)});
        if (!child.waitForFinished(300000)) {
            child.kill();
            child.waitForFinished(5000);
            stalls.failure = QStringLiteral("the stall measurement did not end within 5 minutes");
            continue;
        }
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() == 3 && fields.at(0) == "stall")
                measured[QString::fromLatin1(fields.at(1))].append(fields.at(2).toDouble());
            else if (!line.trimmed().isEmpty())
                stalls.failure = QString::fromUtf8(line.trimmed());
        }
    }
    for (auto it = measured.cbegin(); it != measured.cend(); ++it)
        stalls.ms.insert(it.key(), Median(it.value()));
    if (stalls.ms.isEmpty() && stalls.failure.isEmpty())
        stalls.failure = QStringLiteral("no measurement");
    return stalls;
}

QString ArgumentAfter(const QString& option, const QString& fallback)
{
    const QStringList args = QCoreApplication::arguments();
    const int at = args.indexOf(option);
    return at > 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
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
    InitTarvikResources();
    QFile sheet(QStringLiteral(":/qss/velm.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(QLatin1String("window opacity")) &&
            !text.endsWith(QLatin1String(", corrected")))
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    out.setCodec("UTF-8");
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--help"))) {
        out << "tarvik-orderbench [--runs N] [--client-runs N] [--idle-seconds S] [--tarvik PATH] [--no-x]"
               " [--stalls-only] [--tsv FILE]\n"
               "  --runs N          in-process repetitions, median reported (default 5)\n"
               "  --client-runs N   starts of the real program (default: --runs)\n"
               "  --idle-seconds S  idle CPU measured over S seconds per start (default 60; 0: not)\n"
               "  --tarvik PATH     the program to start (default: the one of this build)\n"
               "  --no-x            no memory row on an X display (Xvfb); the stalls measured offscreen\n"
               "  --stalls-only     only the event loop's stalls, without and with a sound server\n"
               "  --tsv FILE        also write measure, value, unit and target, tab-separated\n";
        return 0;
    }
    const int runs = qMax(1, ArgumentAfter(QStringLiteral("--runs"), QStringLiteral("5")).toInt());
    const int clientRuns = qMax(1, ArgumentAfter(QStringLiteral("--client-runs"), QString::number(runs)).toInt());
    const int idleSeconds = qMax(0, ArgumentAfter(QStringLiteral("--idle-seconds"), QStringLiteral("60")).toInt());
    const QString program = ArgumentAfter(QStringLiteral("--tarvik"), QStringLiteral(TARVIK_BIN));
    const QString tsvPath = ArgumentAfter(QStringLiteral("--tsv"), QString());

    const int childAt = args.indexOf(QStringLiteral("--stall-child"));
    if (childAt > 0)
        return RunStallChild(args.value(childAt + 1).toInt()); // its first sounds load as after a login
    const bool stallsOnly = args.contains(QStringLiteral("--stalls-only"));
    const bool withX = !args.contains(QStringLiteral("--no-x"));
    const QString le = QString::fromUtf8("≤ ");
    const QString dash = QString::fromUtf8("—");

    const int seeded = SeededOrders();
    // Each case in a process of its own: the media back end and the sound server it found stay
    // with a process.
    Stalls without, with;
    QString stallScreen = QStringLiteral("offscreen");
    {
        std::unique_ptr<XServer> x;
        if (withX)
            x = std::make_unique<XServer>();
        const QString display = x ? x->display : QString();
        if (!display.isEmpty())
            stallScreen = QStringLiteral("X display, Xvfb");
        QTemporaryDir nowhere;
        without = MeasureStalls(10000 - seeded, display,
                                QStringLiteral("unix:") + nowhere.filePath(QStringLiteral("no-server")), runs);
        PulseServer pulse;
        if (pulse.address.isEmpty())
            with.failure = pulse.failure;
        else
            with = MeasureStalls(10000 - seeded, display, pulse.address, runs);
    }
    struct StallRow
    {
        const char* phase;
        QString measure;
        QString target;
    };
    const QList<StallRow> stallRows = {
        {"window", QStringLiteral("login: the main window made (one step, as the login's reply is in)"),
         le + "100 ms"},
        {"login", QStringLiteral("login: the window shown, until its full list is in"), le + "100 ms"},
        {"list", QStringLiteral("the full list of 10 000 orders handled and laid out (its own handling)"),
         QStringLiteral("handling ") + le + "200 ms"},
        {"after-list", QStringLiteral("the 5 s after the full list (the sounds load half a second after it)"),
         le + "100 ms"},
        {"new-order", QStringLiteral("a new order and its sound, 3 s from its poll"), le + "100 ms"},
        {"pay-finish", QStringLiteral("a pay/finish reply of 200 entries and its sound, 3 s from its poll"),
         le + "100 ms"},
    };
    auto stallCell = [](const Stalls& stalls, const char* phase) -> QString {
        if (stalls.ms.contains(QString::fromLatin1(phase)))
            return Ms(stalls.ms.value(QString::fromLatin1(phase)));
        return QStringLiteral("failed: ") + stalls.failure;
    };
    auto printStalls = [&] {
        out << "\n| longest stall of the event loop, 10 000 orders (" << stallScreen << ", median of " << runs
            << ") | without a sound server | with a sound server | target |\n";
        out << "|---|---|---|---|\n";
        for (const StallRow& row : stallRows)
            out << "| " << row.measure << " | " << stallCell(without, row.phase) << " | " << stallCell(with, row.phase)
                << " | " << row.target << " |\n";
        out.flush();
    };
    auto writeStalls = [&](QTextStream& rows) {
        for (const StallRow& row : stallRows) {
            for (const auto& [stalls, server] : {std::make_pair(&without, "without"), std::make_pair(&with, "with")}) {
                if (!stalls->ms.contains(QString::fromLatin1(row.phase)))
                    continue;
                rows << QStringLiteral("longest stall, %1, %2 a sound server").arg(row.measure, QLatin1String(server))
                     << '\t' << QString::number(stalls->ms.value(QString::fromLatin1(row.phase)), 'f', 3) << "\tms\t"
                     << row.target << '\n';
            }
        }
    };
    auto openTsv = [&](QFile& tsv) {
        if (tsv.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return true;
        fprintf(stderr, "cannot write %s\n", qPrintable(tsvPath));
        return false;
    };
    if (stallsOnly) {
        printStalls();
        if (!tsvPath.isEmpty()) {
            QFile tsv(tsvPath);
            if (!openTsv(tsv))
                return 1;
            QTextStream rows(&tsv);
            rows.setCodec("UTF-8");
            writeStalls(rows);
        }
        return 0;
    }

    {
        QMediaPlayer warmUp;
    } // the media back end loads once per process, not per pane

    Measure(seeded + 50, seeded, 1); // warm-up: fonts, style sheets and the table window, first used
    const Round small = Measure(1000, seeded, runs);
    const Round large = Measure(10000, seeded, runs);
    const BigGroup big = UnfoldSyntheticGroup(10000);
    const double smallFirstRows = FirstRowsMs(1000, seeded);
    const double largeFirstRows = FirstRowsMs(10000, seeded);

    const ProgramResult offscreen = MeasureProgram(program, QString(), clientRuns, idleSeconds);
    ProgramResult onX;
    if (withX) {
        XServer x;
        if (x.display.isEmpty())
            onX.failure = QStringLiteral("Xvfb did not start: ") + x.process.errorString();
        else
            onX = MeasureProgram(program, x.display, clientRuns, 0);
    }

    out << "| measure | " << small.orders << " orders | " << large.orders << " orders | target at 10 000 |\n";
    out << "|---|---|---|---|\n";
    out << "| full list, request to laid-out rows (median of " << runs << ") | " << Ms(small.ingest.totalMs)
        << " | " << Ms(large.ingest.totalMs) << " | " << le << "200 ms |\n";
    out << "| " << dash << " of which HTTP (request to body received) | " << Ms(small.ingest.httpMs) << " | "
        << Ms(large.ingest.httpMs) << " | |\n";
    out << "| " << dash << " of which the client (parse, orders, rows, layout) | " << Ms(small.ingest.clientMs())
        << " | " << Ms(large.ingest.clientMs()) << " | |\n";
    out << "| growth of the full list, 10" << QString::fromUtf8("×") << " the orders | | "
        << QString::number(large.ingest.totalMs / small.ingest.totalMs, 'f', 1) << QString::fromUtf8("× | ")
        << le << "12" << QString::fromUtf8("×") << " |\n";
    out << "| memory added per order (RSS) | " << QString::number(small.kibPerOrder, 'f', 1) << " KiB | "
        << QString::number(large.kibPerOrder, 'f', 1) << " KiB | " << le << "4 KiB |\n";
    out << "| pay/finish reply of " << large.payFinishEntries << " entries, handling (median of " << runs << ") | "
        << Ms(small.payFinishMs) << " | " << Ms(large.payFinishMs) << " | " << le << "10 ms |\n";
    out << "| " << dash << " of which asking for its sound | " << Ms(small.payFinishSoundMs) << " | "
        << Ms(large.payFinishSoundMs) << " | |\n";
    out << "| new order handled, sound included (poll answer to row placed and sound asked; median of " << runs
        << ") | " << Ms(small.newOrderMs) << " | " << Ms(large.newOrderMs) << " | " << le << "2 ms |\n";
    out << "| " << dash << " of which asking for its sound | " << Ms(small.newOrderSoundMs) << " | "
        << Ms(large.newOrderSoundMs) << " | |\n";
    if (small.newOrdersMissed + large.newOrdersMissed > 0)
        out << "| new orders without their row on top or their sound (errors) | " << small.newOrdersMissed
            << " | " << large.newOrdersMissed << " | 0 |\n";
    out << "| the full list read again and compared (" << small.healed << " / " << large.healed
        << " orders corrected), handling | " << Ms(small.heal.clientMs()) << " | " << Ms(large.heal.clientMs())
        << " | " << le << "100 ms |\n";
    out << "| unfolding the largest group (" << small.largestGroup << " / " << large.largestGroup << " rows) | "
        << Ms(small.unfoldLargestMs) << " | " << Ms(large.unfoldLargestMs) << " | |\n";
    out << "| unfolding a group of 10 000 rows | | " << Ms(big.unfoldMs) << " | < 1 000 ms |\n";
    out << "| a new row on top of that unfolded group | | " << Ms(big.newRowMs) << " | |\n";
    out << "| folding it again | | " << Ms(big.foldMs) << " | |\n";
    out << "| login reply to the first laid-out rows (main window, full list, layout) | " << Ms(smallFirstRows)
        << " | " << Ms(largeFirstRows) << " | |\n";

    auto failed = [](const ProgramResult& r) {
        return r.rounds == 0 ? QStringLiteral("failed: ") + r.failure : QString();
    };
    out << "\n| the real program (" << QFileInfo(program).fileName()
        << ", demo shop, auto-login), median of " << clientRuns << " starts | value | target |\n";
    out << "|---|---|---|\n";
    if (idleSeconds > 0)
        out << "| idle CPU of the logged-in client over " << idleSeconds << " s (offscreen) | "
            << (offscreen.rounds ? QString::number(offscreen.idleCpuPercent, 'f', 2) + QStringLiteral(" %")
                                 : failed(offscreen))
            << " | " << le << "0.2 % |\n";
    out << "| RSS after login, main window shown (offscreen) | "
        << (offscreen.rounds ? QString::number(offscreen.rssMiB, 'f', 1) + QStringLiteral(" MiB") : failed(offscreen))
        << " | " << le << "90 MiB |\n";
    if (withX)
        out << "| RSS after login, main window shown (X display, Xvfb) | "
            << (onX.rounds ? QString::number(onX.rssMiB, 'f', 1) + QStringLiteral(" MiB") : failed(onX)) << " | "
            << le << "90 MiB |\n";
    out << "| threads after login (offscreen" << (withX ? " / X display" : "") << ") | "
        << offscreen.threads << (withX ? QStringLiteral(" / ") + QString::number(onX.threads) : QString())
        << " | |\n";
    if (offscreen.rounds && offscreen.rounds < clientRuns)
        out << "\n" << clientRuns - offscreen.rounds << " start(s) failed: " << offscreen.failure << "\n";
    printStalls();

    if (!tsvPath.isEmpty()) {
        QFile tsv(tsvPath);
        if (!openTsv(tsv))
            return 1;
        QTextStream rows(&tsv);
        rows.setCodec("UTF-8");
        auto row = [&rows](const QString& measure, double value, const char* unit, const QString& target) {
            rows << measure << '\t' << QString::number(value, 'f', 3) << '\t' << unit << '\t' << target << '\n';
        };
        row(QStringLiteral("full list of 10 000 orders"), large.ingest.totalMs, "ms", le + "200 ms");
        row(QString::fromUtf8("— of which HTTP (request to body received)"), large.ingest.httpMs, "ms", QString());
        row(QString::fromUtf8("— of which the client (parse, orders, rows, layout)"), large.ingest.clientMs(), "ms",
            QString());
        row(QStringLiteral("new order handled, sound included"), large.newOrderMs, "ms", le + "2 ms");
        row(QString::fromUtf8("— of which asking for the new order's sound"), large.newOrderSoundMs, "ms", QString());
        row(QStringLiteral("pay/finish reply of 200 entries"), large.payFinishMs, "ms", le + "10 ms");
        row(QString::fromUtf8("— of which asking for the confirmations' sound"), large.payFinishSoundMs, "ms", QString());
        if (idleSeconds > 0 && offscreen.rounds)
            row(QStringLiteral("idle CPU of the logged-in client over %1 s").arg(idleSeconds),
                offscreen.idleCpuPercent, "%", le + "0.2 %");
        if (offscreen.rounds)
            row(QStringLiteral("RSS after login, main window shown (offscreen)"), offscreen.rssMiB, "MiB",
                le + "90 MiB");
        if (onX.rounds)
            row(QStringLiteral("RSS after login, main window shown (X display)"), onX.rssMiB, "MiB", le + "90 MiB");
        row(QStringLiteral("new orders without their row on top or their sound (errors)"),
            small.newOrdersMissed + large.newOrdersMissed, "", QStringLiteral("0"));
        if (offscreen.rounds)
            row(QStringLiteral("threads after login (offscreen)"), offscreen.threads, "", QString());
        row(QStringLiteral("full list read again and compared, 10 000 orders"), large.heal.clientMs(), "ms",
            le + "100 ms");
        row(QStringLiteral("unfolding a group of 10 000 rows"), big.unfoldMs, "ms", QStringLiteral("< 1 000 ms"));
        row(QStringLiteral("login reply to the first laid-out rows, 10 000 orders"), largeFirstRows, "ms", QString());
        writeStalls(rows);
    }
    return 0;
}
