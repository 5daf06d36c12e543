// Runs three attacks on the client from outside and prints what they did, one Markdown table each:
//   tarvik-attacks flood   [--tarvik PATH] [--connections N] [--seconds S]
//   tarvik-attacks keyring [--tarvik PATH] [--store prompt|silent] [--seconds S]
//   tarvik-attacks chart   [--limit S]
//
// flood: `tarvik` logged in against velm-platform --seed (auto-login, offscreen). Another process
//   opens N connections (default 100) to its instance socket, never says a word on them and opens
//   each again as soon as it is closed. Before and during that flood: the gaps between the
//   pay/finish polls the platform sees, the client's CPU, how long a handshake waits for its answer.
//   During the flood a second start, after it a third without the flood: did either take the
//   instance's place (its socket file replaced), and does the first still answer afterwards?
// keyring: `tarvik` with a remembered, auto-login account and a credential store that does not
//   answer, on a D-Bus session bus of its own. "prompt": gnome-keyring whose keyring is locked and
//   whose unlock prompt nobody answers (the prompter's bus name is held by a process that never
//   replies); "silent": the Secret Service's own name is held so. Run once with the password in
//   users.xml and once with it in the store only; the platform answers the login after 2 s, as late as
//   a login typed by hand comes. Reports when the client logged in, what its log
//   says about the store and when, and what users.xml holds S seconds (default 30) after the login.
// chart: the income window (in this process, offscreen) on "所 有" with one order of 9999-06-01 and
//   one of 1970-01-01 besides the demo shop's: the time the chart takes to show and its bars. Run in
//   a child process that is killed after S seconds (default 120).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "app/constants.h"
#include "app/ui/resources.h"
#include "app/ui/singleapplication.h"
#include "common/platformprocess.h"
#include "common/procstat.h"
#include "income/ui/cwincome.h"
#include "income/ui/incomechart.h"
#include "net/request.h"
#include "session/csession.h"
#include "session/userstore.h"

namespace {

using ProcStat::CpuTicks;
using ProcStat::StatusField;

QTextStream out(stdout);

QString ArgumentAfter(const QString& name, const QString& fallback)
{
    const QStringList args = QCoreApplication::arguments();
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}


// Which socket file is there (0: none): a start that takes the name over makes a new one. Its inode
// number alone may be the old one's again, its change time is not.
quint64 Inode(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return quint64(info.st_ino) * 1000003u + quint64(info.st_ctim.tv_sec) * 1000000000u +
           quint64(info.st_ctim.tv_nsec);
}

// Waits, with the event loop running, until `done` or `msecs` have passed; true when done.
template <typename Done> bool WaitFor(Done done, int msecs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > msecs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// Milliseconds a handshake with the instance socket took, -1 when nobody answered within `msecs`.
qint64 Handshake(const QString& name, int msecs)
{
    QElapsedTimer clock;
    clock.start();
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(msecs))
        return -1;
    socket.write(SingleApplication::probeQuestion);
    QByteArray answer;
    while (answer.size() < SingleApplication::probeAnswer.size() && clock.elapsed() < msecs) {
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(int(msecs - clock.elapsed())))
            answer += socket.readAll();
        else if (socket.state() != QLocalSocket::ConnectedState)
            break;
    }
    return answer.startsWith(SingleApplication::probeAnswer) ? clock.elapsed() : -1;
}

// A data folder, runtime folder and temporary folder of the client's own, with one remembered
// account of the demo shop that logs in by itself; its password in users.xml unless `passwordInFile`
// is false (then the credential store is meant to hold it).
struct ClientHome
{
    QTemporaryDir dir;
    ClientHome(bool passwordInFile)
    {
        QDir().mkpath(UsersPath());
        QDir().mkpath(Path(QStringLiteral("runtime")));
        QFile::setPermissions(Path(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir().mkpath(Path(QStringLiteral("tmp")));
        WriteUsers(passwordInFile);
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QString UsersPath() const { return Path(QStringLiteral("data/Velm/Tarvik/All Users")); }
    QString LogPath() const { return Path(QStringLiteral("data/Velm/Tarvik/logs/tarvik.log")); }
    void WriteUsers(bool passwordInFile) const
    {
        QFile file(UsersPath() + QStringLiteral("/users.xml"));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n"
                                  "  <user id=\"%1\" autologin=\"true\">\n    <username>%1</username>\n"
                                  "    <password>%2</password>\n  </user>\n</users>\n")
                       .arg(PlatformProcess::DemoAccount)
                       .arg(passwordInFile
                                ? EncodePassword(QString::fromLatin1(PlatformProcess::DemoPassword))
                                : QString())
                       .toUtf8());
    }
    // What users.xml says of the account's password.
    QString PasswordInFile() const
    {
        QFile file(UsersPath() + QStringLiteral("/users.xml"));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("no users.xml");
        const QByteArray text = file.readAll();
        return text.contains("<password></password>") || text.contains("<password/>")
                   ? QStringLiteral("empty")
                   : QStringLiteral("the password");
    }
    QProcessEnvironment Environment(const PlatformProcess& platform, const QString& bus) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), Path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path(QStringLiteral("runtime")));
        env.insert(QStringLiteral("TMPDIR"), Path(QStringLiteral("tmp")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   bus.isEmpty() ? QStringLiteral("unix:path=") + Path(QStringLiteral("no-bus")) : bus);
        for (const char* host : {"TARVIK_API_HOST", "TARVIK_IMAGE_HOST", "TARVIK_WEB_HOST"})
            env.insert(QString::fromLatin1(host), platform.hostPort());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }
};

struct Client
{
    QProcess process;
    Client(const QString& program, const QProcessEnvironment& env, const QString& logFile)
    {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QFileInfo(program).absolutePath());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(logFile);
        process.start(program, QStringList());
        process.waitForStarted(10000);
    }
    ~Client()
    {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

// Times, from `clock`, at which the platform's output gained a line with `fragment`, over `msecs`.
QVector<qint64> Arrivals(PlatformProcess& platform, const QString& fragment, const QElapsedTimer& clock,
                         int msecs, const std::function<void()>& meanwhile = nullptr)
{
    QVector<qint64> times;
    int seen = platform.linesWith(fragment);
    const qint64 end = clock.elapsed() + msecs;
    while (clock.elapsed() < end) {
        platform.process().waitForReadyRead(20);
        const int now = platform.linesWith(fragment);
        for (; seen < now; ++seen)
            times.append(clock.elapsed());
        if (meanwhile)
            meanwhile();
    }
    return times;
}

QString Gaps(const QVector<qint64>& times)
{
    if (times.size() < 2)
        return QStringLiteral("%1 poll(s), no gap").arg(times.size());
    QVector<qint64> gaps;
    for (int i = 1; i < times.size(); ++i)
        gaps.append(times.at(i) - times.at(i - 1));
    std::sort(gaps.begin(), gaps.end());
    return QStringLiteral("%1 polls, gap median %2 s, longest %3 s")
        .arg(times.size())
        .arg(gaps.at(gaps.size() / 2) / 1000.0, 0, 'f', 1)
        .arg(gaps.last() / 1000.0, 0, 'f', 1);
}

// ---- flood ---------------------------------------------------------------------------------------

// The other process: keeps `count` silent connections open on `name`, each opened again when closed.
int FloodChild(const QString& name, int count)
{
    qint64 connects = 0;
    QVector<QLocalSocket*> sockets;
    for (int i = 0; i < count; ++i) {
        auto* socket = new QLocalSocket(qApp);
        sockets.append(socket);
        auto open = [socket, name, &connects] {
            socket->abort();
            ++connects;
            socket->connectToServer(name);
        };
        QObject::connect(socket, &QLocalSocket::disconnected, socket, open, Qt::QueuedConnection);
        QObject::connect(socket, &QLocalSocket::errorOccurred, socket, open, Qt::QueuedConnection);
        open();
    }
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        int open = 0;
        for (const QLocalSocket* socket : qAsConst(sockets))
            open += socket->state() == QLocalSocket::ConnectedState;
        std::printf("connects=%lld open=%d\n", connects, open);
        std::fflush(stdout);
    });
    report.start(1000);
    return qApp->exec();
}

int Flood(const QString& program, int connections, int seconds)
{
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--log")});
    if (!platform.isRunning()) {
        out << "velm-platform: " << platform.errorString() << '\n';
        return 1;
    }
    ClientHome home(true);
    const QProcessEnvironment env = home.Environment(platform, QString());
    const QString socketName = home.Path(QStringLiteral("runtime/")) + QFileInfo(program).fileName();
    QElapsedTimer clock;
    clock.start();
    Client first(program, env, home.Path(QStringLiteral("first.log")));
    if (!platform.waitForOutput(QStringLiteral("POST /api/StaffOrderList"), 30000)) {
        out << "the client did not log in within 30 s\n";
        return 1;
    }
    const qint64 pid = first.process.processId();
    const quint64 inode = Inode(socketName);

    QVector<qint64> handshakes;
    auto probeNow = [&] {
        handshakes.append(Handshake(socketName, 3000));
    };
    qint64 ticks = CpuTicks(pid);
    const QVector<qint64> quiet = Arrivals(platform, QStringLiteral("/api/PayFinishOrder"), clock, 15000);
    const double quietCpu = 100.0 * double(CpuTicks(pid) - ticks) / double(sysconf(_SC_CLK_TCK)) / 15.0;
    for (int i = 0; i < 5; ++i)
        probeNow();
    const QVector<qint64> quietHandshakes = handshakes;
    handshakes.clear();

    QProcess flooder;
    flooder.setProcessEnvironment(env);
    flooder.setStandardErrorFile(QProcess::nullDevice()); // Qt's warnings of a socket per closed connection
    flooder.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("flood-child"), socketName, QString::number(connections)});
    flooder.waitForStarted(5000);
    ticks = CpuTicks(pid);
    qint64 lastProbe = clock.elapsed();
    std::unique_ptr<Client> second;
    quint64 inodeWithSecond = 0;
    bool secondLoggedIn = false;
    const int loginsBefore = platform.linesWith(QStringLiteral("/api/LoginMd5"));
    const qint64 floodStart = clock.elapsed();
    const QVector<qint64> flooded =
        Arrivals(platform, QStringLiteral("/api/PayFinishOrder"), clock, seconds * 1000, [&] {
            if (clock.elapsed() - lastProbe > 2000) {
                lastProbe = clock.elapsed();
                probeNow();
            }
            // Half-way through, a second start; it has 5 s to settle, then it is ended.
            const qint64 into = clock.elapsed() - floodStart;
            if (!second && into > seconds * 500 && into < seconds * 500 + 1000)
                second = std::make_unique<Client>(program, env, home.Path(QStringLiteral("second.log")));
            if (second && !inodeWithSecond && into > seconds * 500 + 5000) {
                inodeWithSecond = Inode(socketName);
                secondLoggedIn = platform.linesWith(QStringLiteral("/api/LoginMd5")) > loginsBefore;
                second.reset();
            }
        });
    const double floodCpu =
        100.0 * double(CpuTicks(pid) - ticks) / double(sysconf(_SC_CLK_TCK)) / double(seconds);
    const bool flooderLived = flooder.state() == QProcess::Running;
    flooder.kill();
    flooder.waitForFinished(5000);
    QList<QByteArray> floodLines = flooder.readAllStandardOutput().trimmed().split('\n');
    if (!flooderLived)
        floodLines << "ended early";

    const qint64 afterFlood = Handshake(socketName, 3000);
    const quint64 inodeAfterSecond = Inode(socketName);
    quint64 inodeWithThird = 0;
    {
        Client third(program, env, home.Path(QStringLiteral("third.log")));
        QTest::qWait(5000);
        inodeWithThird = Inode(socketName);
    }
    const qint64 afterThird = Handshake(socketName, 3000);
    const bool firstAlive = first.process.state() == QProcess::Running;

    auto handshakeText = [](const QVector<qint64>& times) {
        int answered = 0;
        qint64 longest = 0;
        for (qint64 t : times) {
            answered += t >= 0;
            longest = qMax(longest, t);
        }
        return QStringLiteral("%1 of %2 answered, longest %3 ms")
            .arg(answered)
            .arg(times.size())
            .arg(longest);
    };
    auto yesNo = [](bool yes) {
        return yes ? QStringLiteral("yes") : QStringLiteral("no");
    };
    out << "| flood: " << connections << " silent connections kept open, " << seconds << " s | value |\n"
        << "|---|---|\n"
        << "| pay/finish polls, 15 s before the flood | " << Gaps(quiet) << " |\n"
        << "| pay/finish polls during the flood | " << Gaps(flooded) << " |\n"
        << "| client CPU before / during the flood | " << QString::number(quietCpu, 'f', 1) << " % / "
        << QString::number(floodCpu, 'f', 1) << " % |\n"
        << "| handshakes before the flood | " << handshakeText(quietHandshakes) << " |\n"
        << "| handshakes during the flood (every 2 s) | " << handshakeText(handshakes) << " |\n"
        << "| flooder at the end | " << QString::fromLatin1(floodLines.value(floodLines.size() - 1)) << " |\n"
        << "| second start (during the flood) replaced the socket | " << yesNo(inodeWithSecond != inode)
        << " |\n"
        << "| second start logged in | " << yesNo(secondLoggedIn) << " |\n"
        << "| socket file after the second ended | "
        << (inodeAfterSecond == 0       ? QStringLiteral("gone")
            : inodeAfterSecond == inode ? QStringLiteral("the first's")
                                        : QStringLiteral("another"))
        << " |\n"
        << "| handshake after the flood | "
        << (afterFlood < 0 ? QStringLiteral("no answer") : QStringLiteral("%1 ms").arg(afterFlood)) << " |\n"
        << "| third start (no flood) replaced the socket | " << yesNo(inodeWithThird != inodeAfterSecond)
        << " |\n"
        << "| handshake after the third | "
        << (afterThird < 0 ? QStringLiteral("no answer") : QStringLiteral("%1 ms").arg(afterThird)) << " |\n"
        << "| first client still running | " << yesNo(firstAlive) << " |\n";
    return 0;
}

// ---- keyring -------------------------------------------------------------------------------------

// A session bus of its own that starts nothing by itself: no service is activated behind the
// attack's back (the system's gnome-keyring would otherwise answer in place of the one set up here).
struct Bus
{
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    std::vector<std::unique_ptr<QProcess>> owners;
    Bus()
    {
        QFile config(dir.filePath(QStringLiteral("bus.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(
            QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                           "<auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>")
                .arg(dir.path())
                .toUtf8());
        config.close();
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1")});
        if (daemon.waitForStarted(5000) && daemon.waitForReadyRead(5000))
            address = QString::fromLatin1(daemon.readLine()).trimmed();
    }
    // Starts `program` with `args` on this bus; for a helper that says "owned", waits for it.
    QProcess* Start(const QString& program, const QStringList& args, const QProcessEnvironment& base,
                    const QByteArray& input = QByteArray())
    {
        owners.push_back(std::make_unique<QProcess>());
        QProcess* process = owners.back().get();
        QProcessEnvironment env = base;
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        process->setProcessEnvironment(env);
        process->start(program, args);
        process->waitForStarted(5000);
        if (!input.isNull()) {
            process->write(input);
            process->closeWriteChannel();
        }
        return process;
    }
    ~Bus()
    {
        for (auto& process : owners) {
            process->kill();
            process->waitForFinished(5000);
        }
        daemon.kill();
        daemon.waitForFinished(5000);
    }
};

bool Call(const Bus& bus, const QProcessEnvironment& env, const QStringList& args,
          QByteArray* reply = nullptr)
{
    QProcess send;
    QProcessEnvironment withBus = env;
    withBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
    send.setProcessEnvironment(withBus);
    send.start(QStringLiteral("dbus-send"),
               QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                           QStringLiteral("--reply-timeout=5000")} +
                   args);
    send.waitForFinished(10000);
    if (reply)
        *reply = send.readAllStandardOutput() + send.readAllStandardError();
    return send.exitStatus() == QProcess::NormalExit && send.exitCode() == 0;
}

// The client's log lines of the credential store, with their seconds after `start`.
QStringList KeychainLines(const QString& logPath, const QDateTime& start)
{
    QStringList lines;
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& raw : log.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (!line.contains(QLatin1String("tarvik.keychain")))
            continue;
        const QDateTime at = QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        lines << QStringLiteral("+%1 s: %2")
                     .arg(start.msecsTo(at) / 1000.0, 0, 'f', 1)
                     .arg(line.mid(line.indexOf(QLatin1String(": "), 24) + 2));
    }
    return lines;
}

int Keyring(const QString& program, const QString& store, int seconds)
{
    const QString dbusName = QStringLiteral(TEST_HELPER_DIR "/helper_dbusname");
    for (const bool passwordInFile : {true, false}) {
        PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--log")});
        ClientHome home(true);
        QDir().mkpath(home.Path(QStringLiteral("home")));
        Bus bus;
        if (bus.address.isEmpty() || !platform.isRunning()) {
            out << "no bus or no platform\n";
            return 1;
        }
        QProcessEnvironment env = home.Environment(platform, bus.address);
        QString setup;
        QByteArray reply;
        if (store == QLatin1String("prompt")) {
            bus.Start(QStringLiteral("gnome-keyring-daemon"),
                      {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                       QStringLiteral("--components=secrets")},
                      env, QByteArrayLiteral("attack"));
            WaitFor(
                [&] {
                    return Call(bus, env,
                                {QStringLiteral("--dest=org.freedesktop.secrets"),
                                 QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                                 QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                                 QStringLiteral("string:org.freedesktop.Secret.Collection"),
                                 QStringLiteral("string:Label")},
                                &reply);
                },
                10000);
            if (qEnvironmentVariableIsSet("ATTACKS_DEBUG"))
                std::fprintf(stderr, "label: %s\n", reply.constData());
            if (!passwordInFile) {
                // A first run with the keyring open puts the password into it; then it is locked.
                Client opened(program, env, home.Path(QStringLiteral("opened.log")));
                platform.waitForOutput(QStringLiteral("POST /api/StaffOrderList"), 30000);
                WaitFor([&] { return home.PasswordInFile() == QLatin1String("empty"); }, 10000);
                setup += QStringLiteral("users.xml after a run with the keyring open: %1; ")
                             .arg(home.PasswordInFile());
            }
            Call(bus, env,
                 {QStringLiteral("--dest=org.freedesktop.secrets"),
                  QStringLiteral("/org/freedesktop/secrets"),
                  QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                  QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")},
                 &reply);
            if (qEnvironmentVariableIsSet("ATTACKS_DEBUG"))
                std::fprintf(stderr, "lock: %s\nkeyring: %s %s\n", reply.constData(),
                             bus.owners.front()->readAllStandardError().constData(),
                             bus.owners.front()->readAll().constData());
            QProcess* prompter =
                bus.Start(dbusName, {QStringLiteral("org.gnome.keyring.SystemPrompter")}, env);
            prompter->waitForReadyRead(5000);
            setup += QStringLiteral("locked keyring (%1), unlock prompt unanswered")
                         .arg(reply.contains("/org/freedesktop/secrets/collection/login") ? "locked"
                                                                                          : "not locked");
        } else {
            if (!passwordInFile)
                home.WriteUsers(false);
            QProcess* silent = bus.Start(dbusName, {QStringLiteral("org.freedesktop.secrets")}, env);
            silent->waitForReadyRead(5000);
            setup = QStringLiteral("Secret Service that never answers");
        }
        const int loginsBefore = platform.linesWith(QStringLiteral("/api/LoginMd5"));
        // The login's answer comes after the store's first one, as it does when a person types.
        platform.setFault(QStringLiteral("LoginMd5"), QStringLiteral("delay"), 2000);
        QFile::remove(home.LogPath());
        const QDateTime start = QDateTime::currentDateTime();
        QElapsedTimer clock;
        clock.start();
        Client client(program, env, home.Path(QStringLiteral("client.log")));
        qint64 loginAt = -1;
        // What users.xml holds of the password, each time that changes after the login.
        QStringList fileStates;
        QString lastState;
        WaitFor(
            [&] {
                if (loginAt < 0 && platform.linesWith(QStringLiteral("/api/LoginMd5")) > loginsBefore)
                    loginAt = clock.elapsed();
                if (loginAt >= 0) {
                    const QString state = home.PasswordInFile();
                    if (state != lastState)
                        fileStates << QStringLiteral("+%1 s: %2")
                                          .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                                          .arg(state);
                    lastState = state;
                }
                return clock.elapsed() > (loginAt >= 0 ? loginAt + seconds * 1000 : 60000);
            },
            120000);
        out << "| keyring: " << setup << ", password "
            << (passwordInFile ? "in users.xml" : "in the store only") << " | value |\n|---|---|\n"
            << "| auto-login sent | "
            << (loginAt < 0 ? QStringLiteral("no (watched 60 s)")
                            : QStringLiteral("+%1 s").arg(loginAt / 1000.0, 0, 'f', 1))
            << " |\n";
        if (loginAt >= 0)
            out << "| users.xml's password after the login, for " << seconds << " s | "
                << fileStates.join(QStringLiteral("; ")) << " |\n";
        for (const QString& line : KeychainLines(home.LogPath(), start))
            out << "| log | " << QString(line).replace(QLatin1Char('|'), QLatin1Char('/')) << " |\n";
        out << '\n';
        out.flush();
    }
    return 0;
}

// ---- chart ---------------------------------------------------------------------------------------

int ChartChild()
{
    PlatformProcess platform({QStringLiteral("--seed")});
    platform.serveClient();
    for (const char* when : {"9999-06-01 12:00:00", "1970-01-01 12:00:00"})
        platform.admin("POST", QStringLiteral("income"),
                       {{QStringLiteral("order_id"), 1},
                        {QStringLiteral("addcash"), 5},
                        {QStringLiteral("ctime"), QString::fromLatin1(when)}});
    const PlatformProcess::Session login =
        platform.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    CUser user;
    user.SetAccount(PlatformProcess::DemoAccount);
    user.SetId(login.id);
    user.SetKey(login.key);
    user.SetToken(login.token);
    CSession session(user);
    auto* window = new CWIncome(&session);
    window->resize(1200, 700);
    window->show();
    window->findChild<QTabWidget*>(QStringLiteral("tabwgMainContent"))->setCurrentIndex(3);
    if (!WaitFor(
            [window] {
                const auto* table = window->findChild<QTableWidget*>(QStringLiteral("tblIncome"));
                return table && table->isVisible();
            },
            30000)) {
        std::printf("the list of 所有 did not come\n");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    window->findChild<QPushButton*>(QStringLiteral("pbtnIncomeView"))->click();
    window->grab(); // painted once
    std::printf("bars=%d ms=%lld\n", window->findChild<IncomeChart*>()->Income().sums.size(), clock.elapsed());
    return 0;
}

int Chart(int limit)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("chart-child")});
    child.waitForStarted(5000);
    double peakKiB = 0;
    QElapsedTimer clock;
    clock.start();
    while (!child.waitForFinished(200) && clock.elapsed() < limit * 1000)
        peakKiB = qMax(peakKiB, StatusField(child.processId(), "VmHWM"));
    out << QStringLiteral("| chart on 所有 with orders of 9999-06-01 and 1970-01-01 | value |\n|---|---|\n");
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(5000);
        out << "| chart shown | not within " << limit << " s (killed) |\n";
    } else {
        out << "| chart shown | " << QString::fromLatin1(child.readAllStandardOutput().trimmed()) << " |\n";
    }
    out << "| peak memory of the process | " << QString::number(peakKiB / 1024, 'f', 0) << " MiB |\n";
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    if (mode == QLatin1String("flood-child")) {
        QCoreApplication app(argc, argv);
        return FloodChild(app.arguments().value(2), app.arguments().value(3).toInt());
    }
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    InitTarvikResources();
    out.setCodec("UTF-8");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    const QString program = ArgumentAfter(QStringLiteral("--tarvik"), QStringLiteral(TARVIK_BIN));
    const int seconds = ArgumentAfter(QStringLiteral("--seconds"), QStringLiteral("30")).toInt();
    if (mode == QLatin1String("flood"))
        return Flood(program, ArgumentAfter(QStringLiteral("--connections"), QStringLiteral("100")).toInt(),
                     seconds);
    if (mode == QLatin1String("keyring"))
        return Keyring(program, ArgumentAfter(QStringLiteral("--store"), QStringLiteral("prompt")), seconds);
    if (mode == QLatin1String("chart-child"))
        return ChartChild();
    if (mode == QLatin1String("chart"))
        return Chart(ArgumentAfter(QStringLiteral("--limit"), QStringLiteral("120")).toInt());
    out << "tarvik-attacks flood [--tarvik PATH] [--connections N] [--seconds S]\n"
           "tarvik-attacks keyring [--tarvik PATH] [--store prompt|silent] [--seconds S]\n"
           "tarvik-attacks chart [--limit S]\n";
    return 2;
}
