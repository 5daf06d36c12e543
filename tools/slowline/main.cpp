// A shop on a slow but steady line: velm-platform with generated orders behind a proxy that passes
// the platform's answers on at a fixed rate, and a session of the client (its full list, its polls,
// its connection state) against the proxy for a while. Says whether the full list arrived, after
// how many tries, and whether the polls ran.
//
//   tarvik-slowline [--rate BYTES_PER_SECOND] [--orders N] [--seconds S]
//
// Defaults: 50 000 bytes a second, 10 000 orders (one full list of about 1.6 MB), 120 seconds.
// Prints Markdown tables.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/ui/desktop.h"
#include "common/platformprocess.h"
#include "net/connectionstate.h"
#include "net/request.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"
#include "session/csession.h"

namespace {

QTextStream out(stdout);

// Passes every connection on to the platform; what the platform sends back goes to the client at
// `rate` bytes a second (a token bucket holding a twentieth of a second), what the client sends
// goes through at once. Each connection has a thread of its own, so the pace holds however busy
// the client's event loop is.
class Throttle
{
public:
    Throttle(quint16 targetPort, qint64 rate) : targetPort(targetPort), rate(rate)
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof(address);
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener, 64) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        acceptor = std::thread([this] { Accept(); });
    }

    ~Throttle()
    {
        stop = true;
        ::shutdown(listener, SHUT_RDWR);
        if (acceptor.joinable())
            acceptor.join();
        for (std::thread& connection : connections)
            connection.join();
        ::close(listener);
    }

    quint16 Port() const { return port; }

private:
    static sockaddr_in Loopback(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    void Accept()
    {
        while (!stop) {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                return;
            connections.emplace_back([this, client] { Carry(client); });
        }
    }

    static bool SendAll(int socket, const char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            data += sent;
            size -= size_t(sent);
        }
        return true;
    }

    void Carry(int client)
    {
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in target = Loopback(targetPort);
        if (server < 0 ||
            ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
            ::close(client);
            if (server >= 0)
                ::close(server);
            return;
        }
        using Clock = std::chrono::steady_clock;
        const double burst = qMax(1.0, double(rate) / 20);
        double tokens = 0;
        Clock::time_point refilled = Clock::now();
        std::vector<char> pending; // from the platform, not yet passed on
        bool serverDone = false;
        char buffer[64 * 1024];
        while (!stop) {
            // The platform is read ahead only a little: the line, not the proxy, holds the answer.
            const short fromServer = serverDone || pending.size() > 256 * 1024 ? 0 : POLLIN;
            pollfd watched[2] = {{client, POLLIN, 0}, {server, fromServer, 0}};
            if (::poll(watched, 2, pending.empty() ? 200 : 5) < 0)
                break;
            if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::recv(client, buffer, sizeof(buffer), 0);
                if (got <= 0 || !SendAll(server, buffer, size_t(got)))
                    break;
            }
            if (watched[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::recv(server, buffer, sizeof(buffer), 0);
                if (got <= 0)
                    serverDone = true;
                else
                    pending.insert(pending.end(), buffer, buffer + got);
            }
            const Clock::time_point now = Clock::now();
            tokens =
                qMin(burst, tokens + double(rate) * std::chrono::duration<double>(now - refilled).count());
            refilled = now;
            const size_t passed = qMin(pending.size(), size_t(tokens));
            if (passed > 0) {
                if (!SendAll(client, pending.data(), passed))
                    break;
                pending.erase(pending.begin(), pending.begin() + long(passed));
                tokens -= double(passed);
            }
            if (serverDone && pending.empty())
                break;
        }
        ::close(server);
        ::close(client);
    }

    const quint16 targetPort;
    const qint64 rate;
    int listener = -1;
    quint16 port = 0;
    std::atomic<bool> stop{false};
    std::thread acceptor;
    std::vector<std::thread> connections; // only the acceptor adds to it
};

// Every request of the session, as the line saw it.
struct Exchange
{
    QString endpoint;
    double startedAt = 0; // seconds since the session started
    double endedAt = -1;
    qint64 received = 0;
    qint64 announced = -1;
    QString outcome;
};

QElapsedTimer sessionClock;
QList<Exchange> exchanges;

double Now()
{
    return sessionClock.nsecsElapsed() / 1e9;
}

class WatchingManager : public QNetworkAccessManager
{
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* body) override
    {
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, body);
        const int index = exchanges.size();
        Exchange started;
        started.endpoint = request.url().fileName();
        started.startedAt = Now();
        exchanges.append(started);
        connect(reply, &QNetworkReply::downloadProgress, this, [index](qint64 received, qint64 total) {
            exchanges[index].received = received;
            exchanges[index].announced = total;
        });
        connect(reply, &QNetworkReply::finished, this, [index, reply] {
            Exchange& exchange = exchanges[index];
            exchange.endedAt = Now();
            if (reply->error() == QNetworkReply::NoError)
                exchange.outcome = QStringLiteral("whole");
            else if (Request::Stopped(reply) != Request::Stop::None)
                exchange.outcome = QStringLiteral("cut: ") + Request::StopReason(reply);
            else
                exchange.outcome = QStringLiteral("failed: ") + reply->errorString();
        });
        return reply;
    }
};

QString Seconds(double seconds)
{
    return seconds < 0 ? QStringLiteral("—") : QString::number(seconds, 'f', 1);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Desktop::PinTimeZone();
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    out.setCodec("UTF-8");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The client's session over a slow but steady line."));
    parser.addHelpOption();
    const QCommandLineOption rateOption(QStringLiteral("rate"),
                                        QStringLiteral("Bytes a second from the platform (default 50000)."),
                                        QStringLiteral("BYTES"), QStringLiteral("50000"));
    const QCommandLineOption ordersOption(QStringLiteral("orders"),
                                          QStringLiteral("Orders in the full list (default 10000)."),
                                          QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("How long the session runs (default 120)."),
                                           QStringLiteral("S"), QStringLiteral("120"));
    parser.addOptions({rateOption, ordersOption, secondsOption});
    parser.process(app);
    const qint64 rate = qMax(1LL, parser.value(rateOption).toLongLong());
    const int orders = qMax(1, parser.value(ordersOption).toInt());
    const int seconds = qMax(1, parser.value(secondsOption).toInt());

    // The demo shop holds a few orders of its own; the rest are generated.
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--bench-orders"),
                              QString::number(orders), QStringLiteral("--page-size"),
                              QStringLiteral("1000000")});
    if (!platform.isRunning()) {
        out << "velm-platform did not start: " << platform.errorString() << "\n";
        return 1;
    }
    const PlatformProcess::Session login =
        platform.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    const PlatformProcess::HttpResult list =
        platform.postRaw(QStringLiteral("StaffOrderList"), (login.form() + "&pager=1").toUtf8(), 60000);
    Throttle line(platform.port(), rate);
    if (!login.isValid() || list.httpStatus != 200 || line.Port() == 0) {
        out << "no login, no full list or no proxy\n";
        return 1;
    }
    qputenv("TARVIK_API_HOST", QStringLiteral("127.0.0.1:%1").arg(line.Port()).toLatin1());

    CUser user;
    user.SetAccount(PlatformProcess::DemoAccount);
    user.SetId(login.id);
    user.SetKey(login.key);
    user.SetToken(login.token);
    double loadedAt = -1;
    double lostAt = -1;
    double restoredAt = -1;
    int booked = 0;
    {
        SessionOptions options; // every request watched
        options.makeNetwork = [](QObject* parent) -> QNetworkAccessManager* { return new WatchingManager(parent); };
        CSession session(user, nullptr, nullptr, options);
        QObject::connect(session.Polls(), &COrderPolls::Loaded, [&] {
            loadedAt = Now();
            booked = session.Book()->Orders().size();
        });
        QObject::connect(session.Connection(), &CConnectionState::Lost, [&] {
            if (lostAt < 0)
                lostAt = Now();
        });
        QObject::connect(session.Connection(), &CConnectionState::Restored, [&] { restoredAt = Now(); });
        sessionClock.start();
        session.Start();
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
    }

    out << "| set-up | " << orders << " generated orders, full list " << list.body.size() << " bytes, line "
        << rate << " bytes/s (" << Seconds(double(list.body.size()) / double(rate))
        << " s for the list), session " << seconds << " s |\n|---|---|\n";
    out << "| full list whole at | " << Seconds(loadedAt) << " s, " << booked << " orders in the book |\n";
    out << "| connection lost at | " << Seconds(lostAt) << " s (restored at " << Seconds(restoredAt)
        << " s) |\n";
    QHash<QString, QPair<int, int>> counts; // sent, whole
    for (const Exchange& exchange : qAsConst(exchanges)) {
        counts[exchange.endpoint].first += 1;
        counts[exchange.endpoint].second += exchange.outcome == QLatin1String("whole");
    }
    for (const QString& endpoint : {QStringLiteral("StaffOrderList"), QStringLiteral("UpdateStaffOrderList"),
                                    QStringLiteral("PayFinishOrder")})
        out << "| " << endpoint << " | " << counts.value(endpoint).first << " sent, "
            << counts.value(endpoint).second << " whole |\n";
    out << "\n| full list try | started s | ended s | bytes | of | outcome |\n|---|---|---|---|---|---|\n";
    int tries = 0;
    for (const Exchange& exchange : qAsConst(exchanges)) {
        if (exchange.endpoint != QLatin1String("StaffOrderList"))
            continue;
        out << "| " << ++tries << " | " << Seconds(exchange.startedAt) << " | " << Seconds(exchange.endedAt)
            << " | " << exchange.received << " | " << exchange.announced << " | "
            << (exchange.outcome.isEmpty() ? QStringLiteral("still running") : exchange.outcome) << " |\n";
    }
    out.flush();
    return loadedAt >= 0 ? 0 : 2;
}
