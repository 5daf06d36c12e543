#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QProgressBar>
#include <QPushButton>

#include "app/constants.h"
#include "app/desktop.h"
#include "app/traymessage.h"
#include "common/fakenetwork.h"
#include "common/localhttpserver.h"
#include "common/platformprocess.h"
#include "common/testmain.h"
#include "main/cwmain.h"
#include "main/updatepolicy.h"
#include "net/request.h"
#include "session/csession.h"
#include "ui/quietplatform.h"

// The software update of the main window against the local platform server.
class TestUpdate : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    QScopedPointer<LocalHttpServer> webHost; // stands in for the web host: redirects
    QPointer<CWMain> window;
    CUser user; // the demo account, logged in
    QByteArray installer; // what the platform serves for hostileBuild
    const QString hostileBuild = QStringLiteral("1.0.6.2297");

    static QString sha256(const QByteArray& bytes)
    {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }

    // The update check is answered with this address and digest; everything else goes to the
    // platform as usual.
    static void answerUpdateCheck(const QString& url, const QString& digest)
    {
        FakeNetworkManager::Install([url, digest](const RecordedRequest& request) {
            if (!request.request.url().path().endsWith(QStringLiteral("/UpdateSoftware")))
                return FakeResponse::Real();
            QJsonObject info{{QStringLiteral("build"), QStringLiteral("9.0")}, {QStringLiteral("url"), url}};
            if (!digest.isEmpty())
                info.insert(QStringLiteral("sha256"), digest);
            return FakeResponse::Json(
                QJsonDocument(QJsonObject{{QStringLiteral("status"), 1}, {QStringLiteral("info"), info}})
                    .toJson());
        });
    }

    static int downloadsSent()
    {
        int gets = 0;
        for (const RecordedRequest& request : FakeNetworkManager::Recorded())
            gets += request.operation == QNetworkAccessManager::GetOperation;
        return gets;
    }

    // The account's folder holds nothing but the login stamp: no installer, no half-written file.
    static QStringList filesBesideTheStamp()
    {
        const QDir account(AccountDir(PlatformProcess::DemoAccount));
        QStringList files;
        QDirIterator it(account.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << account.relativeFilePath(it.next());
        files.removeAll(AccountLockFileName);
        return files;
    }

    bool offer(const QString& build)
    {
        return platform->admin("POST", QStringLiteral("offer"), QJsonObject{{QStringLiteral("build"), build}})
                   .value(QStringLiteral("status"))
                   .toInt() == 1;
    }

    // A main window for the logged-in demo account whose update check has been answered.
    void openWindow()
    {
        window = new CWMain(new CSession(user));
        // Closing a main window quits the program; here that would end every later event loop.
        QObject::disconnect(window, &CWidget::Close, qApp, nullptr);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    QPushButton* button() const { return window->UpdateButton(); }

    QString installerPath(const QString& build) const
    {
        return JoinPath({AccountDir(PlatformProcess::DemoAccount), QStringLiteral("updates"),
                         QStringLiteral("tarvik-setup-") + build + QStringLiteral(".sh")});
    }

    // Offers `build`, opens the window and waits for the offer on the button.
    void openWithOffer(const QString& build)
    {
        QVERIFY(offer(build));
        openWindow();
        QTRY_COMPARE(button()->text(), QStringLiteral("有新版本，下载更新"));
        QVERIFY(button()->isVisible());
        QVERIFY(button()->isEnabled());
    }

private slots:
    void initTestCase()
    {
        QuietPlatform::Install();
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        qputenv("TARVIK_API_HOST", platform->hostPort().toLatin1());
        qputenv("TARVIK_IMAGE_HOST", platform->hostPort().toLatin1());
        const PlatformProcess::Session session =
            platform->login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(session.isValid());
        user.SetAccount(PlatformProcess::DemoAccount);
        user.SetId(session.id);
        user.SetKey(session.key);
        user.SetToken(session.token);

        // The platform serves only the build it offers.
        QVERIFY(offer(hostileBuild));
        installer = platform->get(QStringLiteral("/download/tarvik-setup-") + hostileBuild + ".sh").body;
        QVERIFY(installer.startsWith("#!/bin/sh"));
        const QString foreign = QStringLiteral("http://localhost:%1/download/tarvik-setup-%2.sh")
                                    .arg(platform->port())
                                    .arg(hostileBuild);
        webHost.reset(new LocalHttpServer([this, foreign](const QByteArray& path) {
            if (path == "/foreign")
                return LocalHttpServer::Answer(302, "Location: " + foreign.toUtf8() + "\r\n");
            if (path == "/same")
                return LocalHttpServer::Answer(302, "Location: /installer\r\n");
            return LocalHttpServer::Answer(200, "Content-Type: application/octet-stream\r\n", installer);
        }));
        QVERIFY(webHost->isListening());
        qputenv("TARVIK_WEB_HOST", webHost->hostPort().toLatin1());
    }

    // The frame's fade animations delete themselves when they end: let the last ones end.
    void cleanupTestCase() { QTest::qWait(300); }

    void cleanup()
    {
        delete window;
        FakeNetworkManager::Uninstall();
        UpdatePolicy::SetSizeLimit(0);
        UpdatePolicy::SetFromPackage(-1);
        platform->clearFaults();
        QDir(AccountDir(PlatformProcess::DemoAccount)).removeRecursively();
    }

    void versions_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("newer");

        QTest::newRow("equal") << "1.0.6.2290" << false;
        QTest::newRow("next build") << "1.0.6.2291" << true;
        QTest::newRow("older build of a newer patch") << "1.0.5.3000" << false;
        QTest::newRow("older build") << "1.0.6.2289" << false;
        QTest::newRow("newer major, smaller rest") << "2.0.0.0" << true;
        QTest::newRow("older major, larger rest") << "0.9.9.9999" << false;
        QTest::newRow("parts compare as numbers") << "1.0.10.0" << true;
        QTest::newRow("missing parts are zero, older") << "1.0.6" << false;
        QTest::newRow("extra part") << "1.0.6.2290.1" << true;
        QTest::newRow("extra zero part") << "1.0.6.2290.0" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("not a number") << "beta" << false;
    }
    void versions()
    {
        QFETCH(QString, offered);
        QFETCH(bool, newer);
        CWMain probe(nullptr);
        QObject::disconnect(&probe, &CWidget::Close, qApp, nullptr);
        QCOMPARE(probe.CurrentVersion(), QStringLiteral("1.0.6.2290"));
        QCOMPARE(probe.SlotCheckUpdate(offered), newer);
        // Missing parts count as 0 on the client's side too.
        probe.SetCurrentVersion(QStringLiteral("1.0.6"));
        QCOMPARE(probe.SlotCheckUpdate(QStringLiteral("1.0.6.0")), false);
        QCOMPARE(probe.SlotCheckUpdate(QStringLiteral("1.0.6.1")), true);
    }

    void offerFromPlatform_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("shown");
        QTest::newRow("equal") << "1.0.6.2290" << false;
        QTest::newRow("newer") << "1.0.6.2291" << true;
        QTest::newRow("older") << "1.0.5.3000" << false;
    }
    void offerFromPlatform()
    {
        QFETCH(QString, offered);
        QFETCH(bool, shown);
        QVERIFY(offer(offered));
        openWindow();
        QTRY_VERIFY(!window->DownloadUrl().isEmpty()); // the check was answered
        QCOMPARE(window->DownloadUrl().fileName(), QStringLiteral("tarvik-setup-") + offered + ".sh");
        QCOMPARE(button()->isVisible(), shown);
        if (shown) {
            QCOMPARE(button()->text(), QStringLiteral("有新版本，下载更新"));
            QCOMPARE(button()->objectName(), QStringLiteral("ppbtnUpdate"));
            // Half the width, at the avatar's x, 4 px above the bottom band's lower edge.
            QCOMPARE(button()->geometry(), QRect(8, 330, 140, 24));
            QCOMPARE(button()->parentWidget(), window->BottomBand());
        }
    }

    void download_showsProgressThenInstalls()
    {
        openWithOffer(QStringLiteral("1.0.6.2291"));
        QVERIFY(!QFile::exists(installerPath("1.0.6.2291")));
        QTest::mouseClick(button(), Qt::LeftButton);
        QCOMPARE(button()->text(), QStringLiteral("准备下载..."));
        QVERIFY(!button()->isEnabled());

        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        QVERIFY(button()->isVisible());
        QVERIFY(button()->isEnabled());
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("新版已下载完成！"));
        QCOMPARE(Tray::LastMessage().title, AppName);
        QProgressBar* bar = window->ProgressBar();
        QVERIFY(bar);
        QVERIFY(!bar->isVisible());
        const QByteArray served = platform->get(window->DownloadUrl().toString()).body;
        QVERIFY(served.size() >= 384 * 1024);
        QCOMPARE(bar->maximum(), served.size());
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(bar->height(), 12);
        QCOMPARE(bar->pos(), QPoint(8, 336));

        // Written whole into the account's folder, next to the login stamp.
        const QString path = installerPath("1.0.6.2291");
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), served);
        QVERIFY(window->HoldsLoginStamp());

        const int messages = Tray::MessageCount();
        QTest::mouseClick(button(), Qt::LeftButton);
        QCOMPARE(Desktop::LastStarted(), path);
        QVERIFY(QFileInfo(path).isExecutable());
        QCOMPARE(Tray::MessageCount(), messages); // no failure to report
        QVERIFY(window && window->isVisible());   // the client stays open
    }

    void downloadFailure_retriesFromTheSameButton_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("http 500") << "http500";
        QTest::newRow("connection closed") << "close";
    }
    void downloadFailure_retriesFromTheSameButton()
    {
        QFETCH(QString, fault);
        openWithOffer(QStringLiteral("1.0.6.2292"));
        // Qt sends a request on a closed connection once more by itself: two closes fail one call.
        QVERIFY(platform->setFault(QStringLiteral("download"), fault, QVariant(), fault == "close" ? 2 : 1));
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("更新下载失败，重试！"));
        QVERIFY(button()->isVisible());
        QVERIFY(button()->isEnabled());
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("更新下载失败，重试！\n都是网络的错！"));
        QVERIFY(!QFile::exists(installerPath("1.0.6.2292")));
        if (window->ProgressBar())
            QVERIFY(!window->ProgressBar()->isVisible());

        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        QVERIFY(QFile::exists(installerPath("1.0.6.2292")));
    }

    void installerGone_downloadsAgain()
    {
        openWithOffer(QStringLiteral("1.0.6.2293"));
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        const QString path = installerPath("1.0.6.2293");
        QVERIFY(QFile::remove(path));
        const QString startedBefore = Desktop::LastStarted();

        QTest::mouseClick(button(), Qt::LeftButton);
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("文件已不存在！已重新下载。 "));
        QCOMPARE(Tray::LastMessage().title, QStringLiteral("安装信息"));
        QCOMPARE(button()->text(), QStringLiteral("准备下载..."));
        QCOMPARE(Desktop::LastStarted(), startedBefore);
        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        QVERIFY(QFile::exists(path));
    }

    void unwritableInstaller_neverReachesInstall()
    {
        openWithOffer(QStringLiteral("1.0.6.2294"));
        // A folder where the file should go: no rename can put the installer there (even as root).
        const QString path = installerPath("1.0.6.2294");
        QVERIFY(QDir().mkpath(path));
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("更新下载失败，重试！"));
        QVERIFY(button()->isEnabled());
        QVERIFY(Tray::LastMessage().text.startsWith(QStringLiteral("更新下载失败，重试！\n")));
        QVERIFY(Tray::LastMessage().text != QStringLiteral("新版已下载完成！"));
        QVERIFY(QFileInfo(path).isDir());

        // Once the way is clear, the same button downloads again.
        QVERIFY(QDir(path).removeRecursively());
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        QVERIFY(QFileInfo(path).isFile());
    }

    void checkFailure_offersRetry()
    {
        QVERIFY(
            platform->setFault(QStringLiteral("UpdateSoftware"), QStringLiteral("http500"), QVariant(), 1));
        QVERIFY(offer(QStringLiteral("1.0.6.2295")));
        openWindow();
        QTRY_COMPARE(button()->text(), QStringLiteral("获取更新失败，点击重试！"));
        QVERIFY(button()->isVisible());
        QCOMPARE(Tray::LastMessage().text, QStringLiteral("获取更新失败!请检查网络连接，谢谢！"));
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("有新版本，下载更新"));
    }

    void retriedCheckWithNothingNewer_hidesTheButton()
    {
        QVERIFY(
            platform->setFault(QStringLiteral("UpdateSoftware"), QStringLiteral("http500"), QVariant(), 1));
        QVERIFY(offer(QStringLiteral("1.0.6.2290")));
        openWindow();
        QTRY_VERIFY(button()->isVisible());
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_VERIFY(!window->DownloadUrl().isEmpty());
        QVERIFY(!button()->isVisible());
    }

    void unusableCheckReply_changesNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("refused") << "refuse";
        QTest::newRow("not json") << "notjson";
        QTest::newRow("array") << "array";
    }
    void unusableCheckReply_changesNothing()
    {
        QFETCH(QString, fault);
        QVERIFY(offer(QStringLiteral("1.0.6.2296")));
        QVERIFY(platform->setFault(QStringLiteral("UpdateSoftware"), fault));
        const int messages = Tray::MessageCount();
        openWindow();
        QTest::qWait(400);
        QVERIFY(!button()->isVisible());
        QVERIFY(window->DownloadUrl().isEmpty());
        QCOMPARE(Tray::MessageCount(), messages);
    }

    void hostileUpdate_isRefusedAndLeavesNoFile_data()
    {
        QTest::addColumn<QString>("url");      // {api} and {web}: the hosts' host:port
        QTest::addColumn<QString>("digest");   // "right", "wrong" or "none"
        QTest::addColumn<QString>("fault");    // on the platform's installer
        QTest::addColumn<qint64>("sizeLimit"); // 0: the default
        QTest::addColumn<QString>("reason");   // in the tray message
        QTest::addColumn<bool>("fetched");     // whether a download went out at all

        const QString onApi = QStringLiteral("http://{api}/download/tarvik-setup-1.0.6.2297.sh");
        QTest::newRow("file url") << "file:///bin/sh"
                                  << "right"
                                  << "" << 0LL << "更新地址无效" << false;
        QTest::newRow("data url") << "data:application/octet-stream;base64,IyEvYmluL3NoCmV4aXQgMAo="
                                  << "right"
                                  << "" << 0LL << "更新地址无效" << false;
        QTest::newRow("plain http on a foreign host")
            << "http://localhost:{apiport}/download/tarvik-setup-1.0.6.2297.sh"
            << "right"
            << "" << 0LL << "不在平台的服务器上" << false;
        QTest::newRow("plain http without digest") << onApi << "none"
                                                   << "" << 0LL << "没有校验值" << false;
        QTest::newRow("html error page") << onApi << "right"
                                         << "notjson" << 0LL << "网页" << true;
        QTest::newRow("wrong digest") << onApi << "wrong"
                                      << "" << 0LL << "校验失败" << true;
        QTest::newRow("oversize") << onApi << "right"
                                  << "" << 100 * 1024LL << "过大" << true;
        QTest::newRow("redirect to a foreign http host") << "http://{web}/foreign"
                                                         << "right"
                                                         << "" << 0LL << "不可信" << true;
    }
    void hostileUpdate_isRefusedAndLeavesNoFile()
    {
        QFETCH(QString, url);
        QFETCH(QString, digest);
        QFETCH(QString, fault);
        QFETCH(qint64, sizeLimit);
        QFETCH(QString, reason);
        QFETCH(bool, fetched);
        url.replace(QStringLiteral("{apiport}"), QString::number(platform->port()))
            .replace(QStringLiteral("{api}"), platform->hostPort())
            .replace(QStringLiteral("{web}"), webHost->hostPort());
        const QString sent = digest == "right"   ? sha256(installer)
                             : digest == "wrong" ? sha256("something else")
                                                 : QString();
        QVERIFY(offer(hostileBuild)); // the platform serves only the build it offers
        answerUpdateCheck(url, sent);
        if (!fault.isEmpty())
            QVERIFY(platform->setFault(QStringLiteral("download"), fault));
        UpdatePolicy::SetSizeLimit(sizeLimit);
        openWindow();
        QTRY_COMPARE(button()->text(), QStringLiteral("有新版本，下载更新"));
        QCOMPARE(window->DownloadDigest(), sent);

        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("更新下载失败，重试！"));
        QVERIFY(button()->isEnabled());
        QVERIFY2(Tray::LastMessage().text.startsWith(QStringLiteral("更新下载失败，重试！\n")) &&
                     Tray::LastMessage().text.contains(reason),
                 qPrintable(Tray::LastMessage().text));
        QCOMPARE(downloadsSent() > 0, fetched);
        QCOMPARE(filesBesideTheStamp(), QStringList());
        const QString started = Desktop::LastStarted();
        QTest::mouseClick(button(), Qt::LeftButton); // the retry is refused the same way
        QTRY_COMPARE(button()->text(), QStringLiteral("更新下载失败，重试！"));
        QCOMPARE(Desktop::LastStarted(), started);
    }

    void redirectOnTheSameHost_isFollowed()
    {
        answerUpdateCheck(QStringLiteral("http://") + webHost->hostPort() + QStringLiteral("/same"),
                          sha256(installer));
        openWindow();
        QTRY_COMPARE(button()->text(), QStringLiteral("有新版本，下载更新"));
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        QFile written(CWMain::InstallerPath(PlatformProcess::DemoAccount, window->DownloadUrl()));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), installer);
    }

    void packagedCopy_leavesUpdatesToThePackageManager()
    {
        UpdatePolicy::SetFromPackage(1);
        answerUpdateCheck(QStringLiteral("http://") + platform->hostPort() +
                              QStringLiteral("/download/tarvik-setup-1.0.6.2297.sh"),
                          sha256(installer));
        openWindow();
        QTRY_COMPARE(button()->text(), QStringLiteral("有新版本，请用包管理器更新"));
        QVERIFY(button()->isEnabled());
        QTest::mouseClick(button(), Qt::LeftButton);
        QVERIFY(Tray::LastMessage().text.contains(QStringLiteral("软件包管理器")));
        window->HttpDownUpdate(); // not even a direct call downloads
        QCOMPARE(downloadsSent(), 0);
        QCOMPARE(button()->text(), QStringLiteral("有新版本，请用包管理器更新"));
    }

    void installerPath_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name"); // without the installer suffix
        const QString fallback = QStringLiteral("tarvik-setup");

        QTest::newRow("plain") << "http://h/download/tarvik-setup-1.0.7.sh"
                               << "tarvik-setup-1.0.7";
        QTest::newRow("encoded blank") << "http://h/d/tarvik%20setup.sh"
                                       << "tarvik_setup";
        // QUrl resolves the decoded dots itself: only the last name is left.
        QTest::newRow("encoded slashes") << "http://h/d/..%2F..%2Fevil.sh"
                                         << "evil";
        QTest::newRow("encoded backslash") << "http://h/d/..%5Cevil.exe"
                                           << "_evil.exe";
        QTest::newRow("dot dot") << "http://h/d/%2E%2E" << fallback;
        QTest::newRow("no file name") << "http://h/download/" << fallback;
        QTest::newRow("empty") << "" << fallback;
        QTest::newRow("a device on Windows") << "http://h/d/CON.txt" << fallback;
        QTest::newRow("the login stamp") << "http://h/d/me.xml"
                                         << "me.xml";
    }
    void installerPath()
    {
        QFETCH(QString, url);
        QFETCH(QString, name);
        QCOMPARE(CWMain::InstallerPath(42, QUrl(url)), JoinPath({AccountDir(42), QStringLiteral("updates"),
                                                                 name + UpdatePolicy::InstallerSuffix()}));
    }

    // A platform that names one of the client's own files as its installer, with the right digest,
    // gets its file into the updates folder and replaces nothing.
    void hostileDownloadName_replacesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kept"); // the installer's name in the updates folder
        QTest::newRow("login stamp") << "me.xml"
                                     << "me.xml.sh";
        QTest::newRow("receipts printed") << "printed.txt"
                                          << "printed.txt.sh";
        QTest::newRow("settings") << "settings.ini"
                                  << "settings.ini.sh";
        QTest::newRow("climbing") << "..%2Fprinted.txt"
                                  << "printed.txt.sh";
    }
    void hostileDownloadName_replacesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, kept);
        const QByteArray script("#!/bin/sh\nexit 0\n");
        const QDir account(AccountDir(PlatformProcess::DemoAccount));
        QVERIFY(QDir().mkpath(account.path()));
        const QStringList own = {account.filePath(QStringLiteral("printed.txt")),
                                 account.filePath(QStringLiteral("settings.ini"))};
        for (const QString& path : own) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
        }
        const QString url = QStringLiteral("http://") + platform->hostPort() + QStringLiteral("/d/") + name;
        const QString reply = QStringLiteral("{\"status\":1,\"info\":{\"build\":\"9.0\",\"url\":\"%1\","
                                             "\"sha256\":\"%2\"}}")
                                  .arg(url, sha256(script));
        FakeNetworkManager::Install([reply, script](const RecordedRequest& request) {
            if (request.operation == QNetworkAccessManager::GetOperation)
                return FakeResponse::Json(script);
            return FakeResponse::Json(reply.toUtf8());
        });
        openWindow();
        QTRY_COMPARE(button()->text(), QStringLiteral("有新版本，下载更新"));
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_COMPARE(button()->text(), QStringLiteral("点击安装！"));
        FakeNetworkManager::Uninstall();

        // The order lists ask too; only the update's own requests count here.
        QList<RecordedRequest> sent;
        for (const RecordedRequest& request : FakeNetworkManager::Recorded())
            if (request.operation == QNetworkAccessManager::GetOperation ||
                request.request.url().path().endsWith(QStringLiteral("/UpdateSoftware")))
                sent.append(request);
        QCOMPARE(sent.size(), 2);
        QVERIFY(sent.at(0).request.url().path().endsWith(QStringLiteral("/api/UpdateSoftware")));
        QCOMPARE(sent.at(0).body, QByteArray());
        QCOMPARE(sent.at(0).request.header(QNetworkRequest::ContentLengthHeader).toInt(), 0);
        QCOMPARE(sent.at(1).request.url(), QUrl(url));

        for (const QString& path : own) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("kept"));
        }
        QFile installer(account.filePath(QStringLiteral("updates/") + kept));
        QVERIFY(installer.open(QIODevice::ReadOnly));
        QCOMPARE(installer.readAll(), script);
        QVERIFY(window->HoldsLoginStamp());
        // Another process still finds the account taken.
        QLockFile other(AccountLockFile(PlatformProcess::DemoAccount));
        QVERIFY(!other.tryLock(0));
    }
};

TARVIK_TEST_MAIN(TestUpdate)
#include "tst_update.moc"
