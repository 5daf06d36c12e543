// velm-platform: the local stand-in for the delivery platform that Tarvik talks to. A real HTTP
// server with a real database, answering every API call the client makes, plus the pictures,
// web pages and installer the client fetches, demo data, simulated buyers and an admin API.

#include "demo.h"
#include "faults.h"
#include "server.h"
#include "simulator.h"
#include "store.h"
#include "util.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace Velm;

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}

// SIGINT and SIGTERM end the event loop through a pipe that the loop watches.
bool WatchSignals(QCoreApplication& app)
{
    if (::pipe(signalPipe) != 0)
        return false;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    return true;
}

int Fail(const QString& message)
{
    std::fprintf(stderr, "velm-platform: %s\n", qUtf8Printable(message));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    // A client that goes away while its answer is being written must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    // Every connection holds a descriptor until its request deadline passes; hundreds of slow
    // clients must not use up a soft limit of 1024 while the hard limit allows more.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velm-platform"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The local Velm platform for the Tarvik client: the HTTP API, pictures, web pages and installer.\n"
        "The first line printed is \"listening on http://HOST:PORT\" (https with --tls-cert)."));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on; 0 picks a free one (default %1).").arg(TARVIK_DEFAULT_PORT),
        QStringLiteral("N"), QString::number(TARVIK_DEFAULT_PORT));
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QString defaultDb = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                              QStringLiteral("/Velm/platform/platform.sqlite");
    const QCommandLineOption dbOption(
        QStringLiteral("db"),
        QStringLiteral("Database file (default %1); :memory: for a throw-away run.").arg(defaultDb),
        QStringLiteral("PATH"), defaultDb);
    const QCommandLineOption resetOption(QStringLiteral("reset"),
                                         QStringLiteral("Empty the database first."));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Fill an empty database with the demo shop."));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"), QStringLiteral("Let buyers order, ask for confirmation and review."));
    const QCommandLineOption paceOption(
        QStringLiteral("sim-pace"),
        QStringLiteral("Seconds between simulated orders: SECONDS to twice that "
                       "(default 30)."),
        QStringLiteral("SECONDS"), QStringLiteral("30"));
    const QCommandLineOption payLaterOption(
        QStringLiteral("sim-pay-later"),
        QStringLiteral("Simulated buyers: half of them place the order unpaid and pay 0.05 to 0.3 paces "
                       "later (one in eight never)."));
    const QCommandLineOption offerOption(
        QStringLiteral("offer-version"),
        QStringLiteral("Version that UpdateSoftware offers (default " TARVIK_VERSION
                       ", the client's own: no update)."),
        QStringLiteral("X"), QStringLiteral(TARVIK_VERSION));
    const QCommandLineOption digestOption(
        QStringLiteral("update-digest"),
        QStringLiteral(
            "UpdateSoftware names the installer's SHA-256 too (\"sha256\"), beside build and url."));
    const QCommandLineOption imageHostOption(
        QStringLiteral("image-host"),
        QStringLiteral("Host (and port) that replies name pictures and the installer with (default: the host "
                       "each request came to; without a port, the one this server listens on)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption pageOption(QStringLiteral("page-size"),
                                        QStringLiteral("Orders per page of the order list (default 1000)."),
                                        QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption benchOption(
        QStringLiteral("bench-orders"),
        QStringLiteral("Add N generated orders of the last 30 days at start-up."), QStringLiteral("N"));
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("Print every request."));
    const QCommandLineOption inclusiveErtimeOption(
        QStringLiteral("inclusive-ertime"),
        QStringLiteral("PayFinishOrder also answers changes stamped in the second of its \"ertime\"."));
    const QCommandLineOption requestTimeoutOption(
        QStringLiteral("request-timeout"),
        QStringLiteral("Seconds a client may take to send a whole request, head and body (default 10)."),
        QStringLiteral("SECONDS"), QStringLiteral("10"));
    const QCommandLineOption headTimeoutOption(
        QStringLiteral("head-timeout"),
        QStringLiteral("Seconds a new connection may take to send a whole request head (default 3)."),
        QStringLiteral("SECONDS"), QStringLiteral("3"));
    const QCommandLineOption codeTriesOption(
        QStringLiteral("code-tries"),
        QStringLiteral("Wrong buyer's codes an order takes before it is locked (default 5)."),
        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption sessionTriesOption(
        QStringLiteral("session-code-tries"),
        QStringLiteral("Wrong buyer's codes one login may type within the lock time (default 30)."),
        QStringLiteral("N"), QStringLiteral("30"));
    const QCommandLineOption codeLockOption(
        QStringLiteral("code-lock"),
        QStringLiteral("Seconds an order (or login) refuses codes after too many wrong ones (default 600)."),
        QStringLiteral("SECONDS"), QStringLiteral("600"));
    const QCommandLineOption certOption(QStringLiteral("tls-cert"),
                                        QStringLiteral("Serve HTTPS with this PEM certificate (chain)."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption keyOption(QStringLiteral("tls-key"),
                                       QStringLiteral("The PEM private key of --tls-cert."),
                                       QStringLiteral("FILE"));
    parser.addOptions({portOption, hostOption, dbOption, resetOption, seedOption, simulateOption, paceOption,
                       payLaterOption, offerOption, digestOption, pageOption, benchOption, logOption,
                       inclusiveErtimeOption, requestTimeoutOption,
                       headTimeoutOption, codeTriesOption, sessionTriesOption, codeLockOption, certOption,
                       keyOption});
    const QCommandLineOption workerRestOption(
        QStringLiteral("worker-rest"),
        QStringLiteral("Seconds a worker thread beyond the 48 kept ready rests before it ends (default 20)."),
        QStringLiteral("SECONDS"), QStringLiteral("20"));
    parser.addOptions({imageHostOption, workerRestOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return Fail(
            QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));

    bool ok = false;
    const int port = parser.value(portOption).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return Fail(QStringLiteral("--port: a number from 0 to 65535"));
    const double pace = parser.value(paceOption).toDouble(&ok);
    if (!ok || pace <= 0)
        return Fail(QStringLiteral("--sim-pace: a positive number of seconds"));
    const int pageSize = parser.value(pageOption).toInt(&ok);
    if (!ok || pageSize < 1)
        return Fail(QStringLiteral("--page-size: a positive number"));
    int benchOrders = 0;
    if (parser.isSet(benchOption)) {
        benchOrders = parser.value(benchOption).toInt(&ok);
        if (!ok || benchOrders < 1 || benchOrders > 1000000)
            return Fail(QStringLiteral("--bench-orders: a number from 1 to 1000000"));
    }

    const double requestTimeout = parser.value(requestTimeoutOption).toDouble(&ok);
    if (!ok || requestTimeout < 3 || requestTimeout > 3600)
        return Fail(QStringLiteral("--request-timeout: 3 to 3600 seconds"));
    const double headTimeout = parser.value(headTimeoutOption).toDouble(&ok);
    if (!ok || headTimeout < 0.1 || headTimeout > 60)
        return Fail(QStringLiteral("--head-timeout: 0.1 to 60 seconds"));
    const double workerRest = parser.value(workerRestOption).toDouble(&ok);
    if (!ok || workerRest < 0.1 || workerRest > 3600)
        return Fail(QStringLiteral("--worker-rest: 0.1 to 3600 seconds"));
    CodeLimits codeLimits;
    codeLimits.orderTries = parser.value(codeTriesOption).toInt(&ok);
    if (!ok || codeLimits.orderTries < 1)
        return Fail(QStringLiteral("--code-tries: a positive number"));
    codeLimits.sessionTries = parser.value(sessionTriesOption).toInt(&ok);
    if (!ok || codeLimits.sessionTries < 1)
        return Fail(QStringLiteral("--session-code-tries: a positive number"));
    const double codeLock = parser.value(codeLockOption).toDouble(&ok);
    if (!ok || codeLock <= 0 || codeLock > 7 * 24 * 3600)
        return Fail(QStringLiteral("--code-lock: a positive number of seconds, at most a week"));
    codeLimits.lock = std::chrono::milliseconds(qRound64(codeLock * 1000));
    if (parser.isSet(certOption) != parser.isSet(keyOption))
        return Fail(QStringLiteral("--tls-cert and --tls-key go together"));

    Store store(parser.value(dbOption));
    QString error;
    if (!store.Open(&error))
        return Fail(error);
    QStringList report;
    if (parser.isSet(resetOption) && !store.Reset())
        return Fail(QStringLiteral("cannot empty the database"));
    if (parser.isSet(seedOption)) {
        if (store.IsEmpty()) {
            if (!Demo::Seed(store, &report))
                return Fail(QStringLiteral("cannot store the demo shop"));
        } else {
            report.append(QStringLiteral("the database holds data already; --seed left it as it is"));
        }
    }
    const std::optional<Shop> shop = store.FirstShop();
    if (!shop && (benchOrders > 0 || parser.isSet(simulateOption)))
        return Fail(QStringLiteral("the database has no shop: start with --seed"));
    if (benchOrders > 0) {
        if (!Demo::Generate(store, shop->id, benchOrders, 30))
            return Fail(QStringLiteral("cannot store the generated orders"));
        report.append(QStringLiteral("added %1 generated orders").arg(benchOrders));
    }
    if (!shop)
        report.append(
            QStringLiteral("the database is empty: nobody can log in (start with --seed for the demo shop)"));

    Faults faults;
    Settings settings(pageSize, parser.value(offerOption));
    settings.codeLimits = codeLimits;
    settings.inclusiveErtime = parser.isSet(inclusiveErtimeOption);
    settings.updateDigest = parser.isSet(digestOption);
    Server server(store, faults, settings);
    if (parser.isSet(imageHostOption) && !server.SetImageHost(parser.value(imageHostOption)))
        return Fail(QStringLiteral("--image-host: a host name or address, with or without :PORT"));
    server.SetLogging(parser.isSet(logOption));
    server.SetHeadTimeout(static_cast<int>(headTimeout * 1000));
    server.SetRequestTimeout(static_cast<int>(requestTimeout * 1000));
    server.SetWorkerRest(static_cast<int>(workerRest * 1000));
    if (parser.isSet(certOption) &&
        !server.EnableTls(parser.value(certOption), parser.value(keyOption), &error))
        return Fail(QStringLiteral("TLS: ") + error);
    const QString host = parser.value(hostOption);
    const int boundPort = server.Bind(host, port);
    if (boundPort < 0)
        return Fail(
            QStringLiteral("cannot listen on %1:%2 (is another server using the port?)").arg(host).arg(port));
    PrintLine(QStringLiteral("listening on %1://%2:%3")
                  .arg(parser.isSet(certOption) ? QStringLiteral("https") : QStringLiteral("http"), host)
                  .arg(boundPort));
    PrintLine(QStringLiteral("database %1")
                  .arg(parser.value(dbOption) == QLatin1String(":memory:")
                           ? QStringLiteral(":memory: (throw-away)")
                           : store.Path()));
    for (const QString& line : report)
        PrintLine(line);

    if (!WatchSignals(app))
        return Fail(QStringLiteral("cannot watch for signals"));

    std::promise<bool> served;
    std::future<bool> serverDone = served.get_future();
    std::thread serverThread([&] {
        served.set_value(server.Run());
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });

    std::unique_ptr<Simulator> simulator;
    if (parser.isSet(simulateOption)) {
        simulator = std::make_unique<Simulator>(store, shop->id, pace);
        simulator->SetPayLater(parser.isSet(payLaterOption));
        simulator->Start();
    }

    const int result = app.exec();
    simulator.reset();
    // Held requests let go first, then the listener closes and idle keep-alive connections go.
    faults.Shutdown();
    server.Stop();
    if (serverDone.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        PrintLine(QStringLiteral("stopped (requests still open were dropped)"));
        std::_Exit(result);
    }
    serverThread.join();
    if (!serverDone.get())
        return Fail(QStringLiteral("the server stopped unexpectedly"));
    PrintLine(QStringLiteral("stopped"));
    return result;
}
