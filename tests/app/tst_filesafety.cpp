#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>

#include <cerrno>
#include <cstring>
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

#include "app/constants.h"
#include "app/settings.h"
#include "app/ui/client.h"
#include "app/ui/traymessage.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "main/ui/cwmain.h"
#include "main/ui/cwsettings.h"
#include "main/softwareupdate.h"
#include "net/request.h"
#include "session/cuser.h"
#include "session/ui/cwlogin.h"
#include "session/userstore.h"
#include "ui/msgbox.h"

// Saving on a full disk and through a linked users.xml: the data folder is a 64 KiB tmpfs.
class TestFileSafety : public QObject
{
    Q_OBJECT

    static constexpr qint64 account = 13800000001;
    QTemporaryDir outside; // off the tmpfs and out of the data folder

    static QString filler() { return JoinPath(DataDir(), QStringLiteral("filler")); }
    static void fillDisk()
    {
        QFile file(filler());
        if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            while (file.write("x", 1) == 1) {
            }
    }
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    static bool rememberAccounts(int count)
    {
        QVector<CUser> users(count);
        QVector<CUser*> pointers;
        for (int i = 0; i < count; ++i) {
            users[i].SetAccount(account + i);
            pointers.append(&users[i]);
        }
        return UserStore(pointers).Save();
    }

private slots:
    void initTestCase()
    {
#ifdef Q_OS_LINUX
        QVERIFY(QDir().mkpath(DataDir()));
        if (::mount("tmpfs", QFile::encodeName(DataDir()).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable(
                QStringLiteral("no tmpfs can be mounted on the data folder (%1): this test needs root")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)))));
#else
        QSKIP("mounts a tmpfs: Linux only");
#endif
    }
    void cleanupTestCase()
    {
#ifdef Q_OS_LINUX
        ::umount2(QFile::encodeName(DataDir()).constData(), MNT_DETACH);
#endif
    }
    void cleanup()
    {
        QFile::remove(filler());
        FakeNetworkManager::Uninstall();
        delete MainWindow();
    }

    void fullDisk_keepsThePreviousFileAndSaysSo_data()
    {
        QTest::addColumn<bool>("users");
        QTest::newRow("users.xml") << true;
        QTest::newRow("settings.ini") << false;
    }
    void fullDisk_keepsThePreviousFileAndSaysSo()
    {
        QFETCH(bool, users);
        CSettings settings(account);
        settings.SetAutoPrint(true);
        QVERIFY(rememberAccounts(2));
        const QString path = users ? UsersFile() : CSettings::FilePath(account);
        const QByteArray before = contents(path);
        fillDisk();

        if (users) {
            QVERIFY(!rememberAccounts(3));
        } else {
            CWSettings window(&settings);
            SettingsParts::TrayNotice(&window)->click();
            QVERIFY(settings.TrayNotice()); // holds for this run
            QVERIFY(SettingsParts::Box(&window)->MsgBoxLabel()->text().startsWith(QStringLiteral("设置未能保存")));
        }
        QCOMPARE(contents(path), before);
        // No temporary file is left behind either.
        QCOMPARE(
            QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".XX")),
            QStringList());
    }

    void fullDisk_login_saysTheAccountsWereNotSaved()
    {
        QVERIFY(rememberAccounts(2));
        const QByteArray before = contents(UsersFile());
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            return FakeResponse::Json(sent.request.url().path().endsWith(QLatin1String("/LoginMd5"))
                                          ? R"({"status":1,"info":{"id":7,"key":"k","token":"t"}})"
                                          : R"({"status":0,"info":"not in this test"})");
        });
        QFile::remove(AccountLockFile(account));
        fillDisk();

        CClient client(TestOptions());
        client.Start();
        QPointer<CWLogin> login = LoginWindow();
        LoginForm::Account(login)->setEditText(QString::number(account));
        LoginForm::Password(login)->setText(QStringLiteral("velm123"));
        LoginForm::Remember(login)->setChecked(true);
        login->Login();
        QTRY_VERIFY(MainWindow()); // the shop can still work
        QCOMPARE(Tray::LastMessage().text,
                 QStringLiteral("存储用户数据失败！\n账号锁文件无法写入，本机可能重复登录此账号。"));
        QCOMPARE(contents(UsersFile()), before);
        QVERIFY(!QFile::exists(AccountLockFile(account))); // no empty lock left behind
        delete MainWindow();
    }

    // An installer the full disk cuts short is never offered to start, checked against a digest or
    // not. It is smaller than a file's write buffer, so only the last flush meets the full disk.
    void fullDisk_installerIsNotOffered_data()
    {
        QTest::addColumn<bool>("withDigest");
        QTest::newRow("no digest") << false;
        QTest::newRow("digest") << true;
    }
    void fullDisk_installerIsNotOffered()
    {
        QFETCH(bool, withDigest);
        const QByteArray script = "#!/bin/sh\nexit 0\n" + QByteArray(8 * 1024, '#');
        const QString url =
            QStringLiteral("http://") + ApiHost() + QStringLiteral("/download/tarvik-setup-9.0.sh");
        const QString digest =
            withDigest
                ? QString::fromLatin1(QCryptographicHash::hash(script, QCryptographicHash::Sha256).toHex())
                : QString();
        FakeNetworkManager::Install([=](const RecordedRequest& sent) {
            if (sent.operation == QNetworkAccessManager::GetOperation)
                return FakeResponse::Json(script);
            return FakeResponse::Json(
                QStringLiteral(R"({"status":1,"info":{"build":"9.0","url":"%1","sha256":"%2"}})")
                    .arg(url, digest)
                    .toUtf8());
        });
        const QByteArray scheme = qgetenv("TARVIK_API_SCHEME");
        qputenv("TARVIK_API_SCHEME", "http"); // the platform's own host over plain http is taken
        const auto restore = qScopeGuard([scheme] { qputenv("TARVIK_API_SCHEME", scheme); });
        const QString installer = CSoftwareUpdate::InstallerPath(account, QUrl(url));
        QVERIFY(QDir().mkpath(QFileInfo(installer).path()));
        fillDisk();

        ApiLine line;
        line.network = FakeNetworkManager::Make(this);
        CSoftwareUpdate update(line, account);
        update.HttpUpdate();
        QTRY_COMPARE(update.CurrentState(), CSoftwareUpdate::State::Offered);
        update.Proceed();
        QTRY_COMPARE(update.CurrentState(), CSoftwareUpdate::State::DownloadFailed);
        QVERIFY2(update.FailureReason().startsWith(QStringLiteral("无法保存安装文件")),
                 qPrintable(update.FailureReason()));
        QCOMPARE(QDir(QFileInfo(installer).path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void linkedUsersFile_isReplaced_itsTargetUntouched()
    {
        const QString target = QDir(outside.path()).filePath(QStringLiteral("precious.txt"));
        QFile precious(target);
        QVERIFY(precious.open(QIODevice::WriteOnly));
        precious.write("not yours\n");
        precious.close();
        const QFileDevice::Permissions mode = precious.permissions();
        QFile::remove(UsersFile());
        QVERIFY(QFile::link(target, UsersFile()));

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("symbolic link to .*precious.txt")));
        QVERIFY(rememberAccounts(1));
        QVERIFY(!QFileInfo(UsersFile()).isSymLink());
        QCOMPARE(UserStore().Users().size(), 1);
        QCOMPARE(contents(target), QByteArray("not yours\n"));
        QCOMPARE(QFile(target).permissions(), mode);
    }
};

TARVIK_TEST_MAIN(TestFileSafety)
#include "tst_filesafety.moc"
