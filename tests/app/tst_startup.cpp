#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>

#include <memory>
#include <vector>

#include <sys/stat.h>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/ui/singleapplication.h"
#include "common/testmain.h"

static const QString helper = QStringLiteral(TEST_HELPER_DIR "/helper_instance");

// Starts the helper, waits for its first line and leaves it running.
static QString startAndReadLine(QProcess& process, const QString& program, const QStringList& args)
{
    process.start(program, args);
    if (!process.waitForStarted(5000))
        return QStringLiteral("not started");
    for (int i = 0; i < 100 && !process.canReadLine(); ++i)
        process.waitForReadyRead(100);
    return QString::fromLatin1(process.readLine()).trimmed();
}

static QString runToEnd(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10000);
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

static void stop(QProcess& process)
{
    process.kill();
    process.waitForFinished(5000);
}

// Which socket file is there (0: none). A start that takes the instance's name makes a new one; its
// inode number alone may be the old one's again, its change time is not.
static quint64 inodeOf(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return quint64(info.st_ino) * 1000003u + quint64(info.st_ctim.tv_sec) * 1000000000u +
           quint64(info.st_ctim.tv_nsec);
}

// Whether whoever listens on `name` answers the instance handshake within a second.
static bool answers(const QString& name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(SingleApplication::probeQuestion);
    QByteArray answer;
    while (answer.size() < SingleApplication::probeAnswer.size() && socket.waitForReadyRead(1000))
        answer += socket.readAll();
    return answer == SingleApplication::probeAnswer;
}

// Connections to `name` that never say a word, each opened again as soon as it is closed.
class Flood
{
public:
    Flood(const QString& name, int count)
    {
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QLocalSocket>());
            QLocalSocket* socket = sockets.back().get();
            auto open = [socket, name] {
                socket->abort();
                socket->connectToServer(name);
            };
            QObject::connect(socket, &QLocalSocket::disconnected, socket, open, Qt::QueuedConnection);
            QObject::connect(socket, &QLocalSocket::errorOccurred, socket, open, Qt::QueuedConnection);
            open();
        }
    }
    int connected() const
    {
        return int(std::count_if(sockets.begin(), sockets.end(), [](const auto& socket) {
            return socket->state() == QLocalSocket::ConnectedState;
        }));
    }

private:
    std::vector<std::unique_ptr<QLocalSocket>> sockets;
};

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir tempDir;

private slots:
    void initTestCase()
    {
        // Local server names and the instance lock live in the runtime folder (or the temporary
        // one without it): keep this test's to itself.
        QVERIFY(tempDir.isValid());
        qputenv("TMPDIR", tempDir.path().toLocal8Bit());
        const QString runtime = tempDir.filePath(QStringLiteral("runtime"));
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }

    void paths_areJoinedWithTheSystemSeparator()
    {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QCOMPARE(DataDir(), base + "/Velm/Tarvik");
        QCOMPARE(UsersDir(), base + "/Velm/Tarvik/All Users");
        QCOMPARE(FacesDir(), base + "/Velm/Tarvik/All Users/faces");
        QCOMPARE(UsersFile(), base + "/Velm/Tarvik/All Users/users.xml");
        QCOMPARE(AccountLockFile(13800000001), base + "/Velm/Tarvik/13800000001/me.xml");
        QVERIFY(!UsersFile().contains('\\'));
        QCOMPARE(JoinPath(QString(), QStringLiteral("a")), QStringLiteral("a"));
        QCOMPARE(JoinPath({QStringLiteral("C:/Users/a/AppData/Local"), QStringLiteral("Velm"),
                           QStringLiteral("x")}),
                 QStringLiteral("C:/Users/a/AppData/Local/Velm/x"));
    }

    void hosts_comeFromTheEnvironment()
    {
        const QByteArray saved = qgetenv("TARVIK_API_HOST");
        qputenv("TARVIK_API_HOST", "staging.example:8080");
        QCOMPARE(ApiBase(), QStringLiteral("http://staging.example:8080/api/"));
        QCOMPARE(Api::StaffOrder2(), QStringLiteral("http://staging.example:8080/api/StaffOrder2"));
        QCOMPARE(Api::LoginMd5(), QStringLiteral("http://staging.example:8080/api/LoginMd5"));
        qputenv("TARVIK_API_HOST", "  ");
        QVERIFY(ApiBase().startsWith(QStringLiteral("http://")));
        QVERIFY(!ApiBase().contains(QStringLiteral("staging")));
        qputenv("TARVIK_API_HOST", saved);
        QVERIFY(!ImageHost().isEmpty());
        QVERIFY(CashPageUrl().endsWith(QStringLiteral("/amy.php")));
        QVERIFY(RegisterPageUrl().endsWith(QStringLiteral("/reg.php")));
    }

    void secondInstance_isDetected_renamedCopyIsNot()
    {
        QProcess first;
        QCOMPARE(startAndReadLine(first, helper, {"stay"}), QStringLiteral("running=0"));
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=1"));

        const QString copy = tempDir.filePath(QStringLiteral("helper_instance_copy"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(helper, copy));
        QCOMPARE(runToEnd(copy, {"probe"}), QStringLiteral("running=0"));
        stop(first);

        // With the first one gone, the next start is a first instance again.
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=0"));
    }

    void staleServerName_isTakenOver_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::newRow("its lock with a dead owner") << "lock";
        QTest::newRow("no lock at all") << "none";
        QTest::newRow("a lock nobody finished writing, long ago") << "empty";
    }
    void staleServerName_isTakenOver()
    {
        QFETCH(QString, leftover);
        const QString name = SingleApplication::ServerNameFor(QStringLiteral("helper_instance"));
        const QString lock = SingleApplication::LockFileFor(name);
        QCOMPARE(runToEnd(helper, {"crash"}), QStringLiteral("running=0"));
        QVERIFY(QFile::exists(name) && QFile::exists(lock));
        if (leftover == QLatin1String("none")) {
            QVERIFY(QFile::remove(lock));
        } else if (leftover == QLatin1String("empty")) {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                     QFileDevice::FileModificationTime));
        }
        const quint64 left = inodeOf(name);
        // The crashed instance left its socket file; nobody holds the lock, so the next start clears
        // the file and serves under the name again.
        QProcess next;
        QCOMPARE(startAndReadLine(next, helper, {"stay"}), QStringLiteral("running=0"));
        QTRY_VERIFY(inodeOf(name) != left && answers(name));
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=1"));
        stop(next);
    }

    // Neither connections that never speak nor a window thread that is busy make a later start
    // take the instance's place: the lock says who the instance is, and the instance goes on
    // answering on the socket that stays its own.
    void secondStart_underPressure_leavesTheInstanceAlone_data()
    {
        QTest::addColumn<QString>("firstMode");
        QTest::addColumn<int>("silentConnections");
        QTest::newRow("100 silent connections, opened again as they close") << "stay" << 100;
        QTest::newRow("the first's window thread blocked") << "busy" << 0;
    }
    void secondStart_underPressure_leavesTheInstanceAlone()
    {
        QFETCH(QString, firstMode);
        QFETCH(int, silentConnections);
        const QString name = SingleApplication::ServerNameFor(QStringLiteral("helper_instance"));
        QProcess first;
        QCOMPARE(startAndReadLine(first, helper, {firstMode}), QStringLiteral("running=0"));
        if (firstMode == QLatin1String("busy")) {
            QTRY_VERIFY(first.canReadLine() || first.waitForReadyRead(100));
            QCOMPARE(first.readLine().trimmed(), QByteArray("busy"));
        }
        const quint64 inode = inodeOf(name);
        QVERIFY(inode != 0);
        Flood flood(name, silentConnections);
        QTRY_COMPARE(flood.connected(), silentConnections);

        QProcess second;
        second.start(helper, {"probe"});
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning,
                                 30000); // the flood goes on meanwhile
        QCOMPARE(second.readAllStandardOutput().trimmed(), QByteArray("running=1"));
        QCOMPARE(inodeOf(name), inode);
        QVERIFY(answers(name));
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=1"));
        QCOMPARE(inodeOf(name), inode);
        stop(first);
    }

    void listenerThatNeverAnswers_isNoInstance_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("the name every user shared") << "helper_instance"; // in the temporary folder
        QTest::newRow("this user's name")
            << SingleApplication::ServerNameFor(QStringLiteral("helper_instance"));
    }
    void listenerThatNeverAnswers_isNoInstance()
    {
        QFETCH(QString, name);
        QLocalServer stranger; // the system accepts connections for it; it never answers
        QLocalServer::removeServer(name);
        QVERIFY(stranger.listen(name));
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=0"));
    }

    void idleConnections_doNotKeepTheInstanceFromAnswering()
    {
        QProcess first;
        QCOMPARE(startAndReadLine(first, helper, {"stay"}), QStringLiteral("running=0"));
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 15; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(SingleApplication::ServerNameFor(QStringLiteral("helper_instance")));
            QVERIFY(idle.back()->waitForConnected(1000));
        }
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=1"));
        stop(first);
    }

    void accountLock_liveHolderIsDetected_staleFileIsCleared()
    {
        const QString path = AccountLockFile(13800000001);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile::remove(path);
        QVERIFY(!AccountLock::IsHeldByLiveSession(path));

        QProcess holder;
        QCOMPARE(startAndReadLine(holder, helper, {"lock", path}), QStringLiteral("locked"));
        QVERIFY(AccountLock::IsHeldByLiveSession(path));
        QVERIFY(!AccountLock::RemoveIfStale(path));
        QVERIFY(QFile::exists(path));
        // Asked twice: the probe itself must not have disturbed the holder's lock.
        QVERIFY(AccountLock::IsHeldByLiveSession(path));

        stop(holder); // killed: its lock file stays behind with a dead owner
        QVERIFY(QFile::exists(path));
        QVERIFY(!AccountLock::IsHeldByLiveSession(path));
        QVERIFY(!QFile::exists(path));

        // A file just created and not yet written may be another session taking the lock this
        // moment: it is left alone. Once it has stayed unreadable for a while it is a leftover
        // (the kind a login writes when no lock exists yet) and never blocks.
        for (const QByteArray& content : {QByteArray(), QByteArray("\x01garbled\n")}) {
            QFile unreadable(path);
            QVERIFY(unreadable.open(QIODevice::WriteOnly));
            unreadable.write(content);
            unreadable.close();
            QVERIFY(AccountLock::IsHeldByLiveSession(path));
            QVERIFY(!AccountLock::RemoveIfStale(path));
            QVERIFY(QFile::exists(path));

            QVERIFY(unreadable.open(QIODevice::ReadWrite));
            QVERIFY(unreadable.setFileTime(QDateTime::currentDateTime().addSecs(-10),
                                           QFileDevice::FileModificationTime));
            unreadable.close();
            QVERIFY(!AccountLock::IsHeldByLiveSession(path));
            QVERIFY(!QFile::exists(path));
        }

        // A lock held inside this very process counts as a live session too.
        QLockFile own(path);
        QVERIFY(own.tryLock(0));
        QVERIFY(AccountLock::IsHeldByLiveSession(path));
        own.unlock();
        QVERIFY(!AccountLock::IsHeldByLiveSession(path));
    }
};

TARVIK_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
