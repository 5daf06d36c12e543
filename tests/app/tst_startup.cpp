#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>

#include <memory>
#include <vector>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/singleapplication.h"
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

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir tempDir;

private slots:
    void initTestCase()
    {
        // Local server names live in the temporary folder: keep this test's to itself.
        QVERIFY(tempDir.isValid());
        qputenv("TMPDIR", tempDir.path().toLocal8Bit());
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

    void staleServerName_isTakenOver()
    {
        QCOMPARE(runToEnd(helper, {"crash"}), QStringLiteral("running=0"));
        // The crashed instance left its socket file; the next one must not take it for a live instance
        // and must serve under the name again.
        QProcess next;
        QCOMPARE(startAndReadLine(next, helper, {"stay"}), QStringLiteral("running=0"));
        QCOMPARE(runToEnd(helper, {"probe"}), QStringLiteral("running=1"));
        stop(next);
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
