#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSignalSpy>

#include "app/accountlock.h"
#include "app/constants.h"
#include "common/fakenetwork.h"
#include "common/localhttpserver.h"
#include "common/platformprocess.h"
#include "common/coretestmain.h"
#include "common/testsession.h"
#include "main/softwareupdate.h"
#include "main/updatepolicy.h"
#include "net/request.h"

using State = CSoftwareUpdate::State;

// The software update on its own, against the local platform server. What the main window shows
// of it is tested with the window (tst_cwmain).
class TestUpdate : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;       // answers the update check as the platform does
    QScopedPointer<PlatformProcess> digestPlatform; // started with --update-digest
    QScopedPointer<LocalHttpServer> webHost; // stands in for the web host: redirects
    QScopedPointer<QNetworkAccessManager> network;
    QScopedPointer<CSoftwareUpdate> update;
    UpdateOptions options;     // what the next startUpdate() gives the update
    QStringList started;       // what the update asked to start
    bool startSucceeds = true; // whether starting it works
    QByteArray installer;      // what the platform serves for hostileBuild
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

    bool offer(const QString& build, PlatformProcess* on = nullptr)
    {
        return (on ? on : platform.data())
                   ->admin("POST", QStringLiteral("offer"), QJsonObject{{QStringLiteral("build"), build}})
                   .value(QStringLiteral("status"))
                   .toInt() == 1;
    }

    // The client's API and image hosts; the web host is the redirecting stand-in throughout.
    static void pointClientAt(const QString& apiHost, const QString& imageHost, const QString& apiScheme)
    {
        qputenv("TARVIK_API_HOST", apiHost.toLatin1());
        qputenv("TARVIK_IMAGE_HOST", imageHost.toLatin1());
        qputenv("TARVIK_API_SCHEME", apiScheme.toLatin1());
    }

    // The update of the demo account, on a manager made the way the client makes its own (so a fake
    // installed before answers it), its check sent.
    void startUpdate()
    {
        network.reset(FakeNetworkManager::Make(nullptr));
        ApiLine line;
        line.network = network.data();
        update.reset(new CSoftwareUpdate(line, PlatformProcess::DemoAccount, options));
        update->SetInstallerStarter([this](const QString& program) {
            started << program;
            return startSucceeds;
        });
        update->HttpUpdate();
    }

    QString installerPath(const QString& build) const
    {
        return JoinPath({AccountDir(PlatformProcess::DemoAccount), QStringLiteral("updates"),
                         QStringLiteral("tarvik-setup-") + build + QStringLiteral(".sh")});
    }

    // Offers `build` and waits for the update to offer it in turn.
    void startWithOffer(const QString& build)
    {
        QVERIFY(offer(build));
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::Offered);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<State>();
        qRegisterMetaType<QNetworkReply*>();
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        digestPlatform.reset(new PlatformProcess({QStringLiteral("--update-digest")}));
        QVERIFY2(digestPlatform->isRunning(), qPrintable(digestPlatform->errorString()));
        pointClientAt(platform->hostPort(), platform->hostPort(), QStringLiteral("http"));

        // The platform serves only the build it offers.
        QVERIFY(offer(hostileBuild));
        installer = platform->get(QStringLiteral("/download/tarvik-setup-") + hostileBuild + ".sh").body;
        QVERIFY(installer.startsWith("#!/bin/sh"));
        const QString foreign = QStringLiteral("http://localhost:%1/download/tarvik-setup-%2.sh")
                                    .arg(platform->port())
                                    .arg(hostileBuild);
        const QString onPlatform =
            platform->baseUrl() + QStringLiteral("/download/tarvik-setup-%1.sh").arg(hostileBuild);
        webHost.reset(new LocalHttpServer([this, foreign, onPlatform](const QByteArray& path) {
            if (path == "/foreign")
                return LocalHttpServer::Answer(302, "Location: " + foreign.toUtf8() + "\r\n");
            if (path == "/platform")
                return LocalHttpServer::Answer(302, "Location: " + onPlatform.toUtf8() + "\r\n");
            if (path == "/same")
                return LocalHttpServer::Answer(302, "Location: /installer\r\n");
            return LocalHttpServer::Answer(200, "Content-Type: application/octet-stream\r\n", installer);
        }));
        QVERIFY(webHost->isListening());
        qputenv("TARVIK_WEB_HOST", webHost->hostPort().toLatin1());
    }

    void cleanup()
    {
        update.reset();
        network.reset();
        started.clear();
        startSucceeds = true;
        FakeNetworkManager::Uninstall();
        options = UpdateOptions();
        pointClientAt(platform->hostPort(), platform->hostPort(), QStringLiteral("http"));
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
        CSoftwareUpdate probe(ApiLine(), 0);
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
        startUpdate();
        QSignalSpy entered(update.data(), &CSoftwareUpdate::StateEntered);
        QTRY_COMPARE(entered.count(), 1); // the check was answered
        QCOMPARE(update->DownloadUrl().fileName(), QStringLiteral("tarvik-setup-") + offered + ".sh");
        QCOMPARE(update->CurrentState(), shown ? State::Offered : State::Nothing);
        QCOMPARE(entered.at(0).at(0).value<State>(), update->CurrentState());
    }

    void download_showsProgressThenInstalls()
    {
        startWithOffer(QStringLiteral("1.0.6.2291"));
        QSignalSpy progress(update.data(), &CSoftwareUpdate::Progress);
        QSignalSpy notStarted(update.data(), &CSoftwareUpdate::InstallerNotStarted);
        const QString path = installerPath("1.0.6.2291");
        QVERIFY(!QFile::exists(path));
        update->Proceed();
        QCOMPARE(update->CurrentState(), State::Preparing);

        QTRY_COMPARE(update->CurrentState(), State::Ready);
        const QByteArray served = platform->get(update->DownloadUrl().toString()).body;
        QVERIFY(served.size() >= 384 * 1024);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(served.size()));
        QCOMPARE(progress.last().at(1).toLongLong(), qint64(served.size()));

        // Written whole into the account's folder.
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), served);

        update->Proceed();
        QCOMPARE(started, QStringList{path});
        QVERIFY(QFileInfo(path).isExecutable());
        QCOMPARE(notStarted.count(), 0);

        // An installer that does not start is named.
        startSucceeds = false;
        update->Proceed();
        QCOMPARE(notStarted.count(), 1);
        QCOMPARE(notStarted.at(0).at(0).toString(), path);
    }

    // The platform's answer as it comes: by default build and address only, the installer on one of
    // the platform's own hosts over plain http, which the client takes on the platform's word and
    // calls unverified; with --update-digest the SHA-256 as well, which the file is checked against.
    void platformAnswer_downloadsAndSaysWhetherChecked_data()
    {
        QTest::addColumn<bool>("withDigest"); // the platform started with --update-digest
        QTest::addColumn<bool>(
            "onImageHost"); // the API is another host: the installer's is only the image host
        QTest::addColumn<QString>("apiScheme");
        QTest::addColumn<bool>("unverified");
        QTest::newRow("no digest, API host") << false << false << "http" << true;
        QTest::newRow("no digest, image host") << false << true << "http" << true;
        QTest::newRow("digest") << true << false << "http" << false;
        QTest::newRow("digest, API over https") << true << true << "https" << false;
    }
    void platformAnswer_downloadsAndSaysWhetherChecked()
    {
        QFETCH(bool, withDigest);
        QFETCH(bool, onImageHost);
        QFETCH(QString, apiScheme);
        QFETCH(bool, unverified);
        PlatformProcess* source = withDigest ? digestPlatform.data() : platform.data();
        const QString build = QStringLiteral("1.0.6.2299");
        QVERIFY(offer(build, source));
        const QJsonObject info =
            source->post(QStringLiteral("UpdateSoftware"), QString()).value("info").toObject();
        QCOMPARE(info.contains(QStringLiteral("sha256")), withDigest);
        if (onImageHost) {
            // Nobody serves that API host: the check gets the platform's answer relayed.
            pointClientAt(QStringLiteral("api.velm.invalid"), source->hostPort(), apiScheme);
            answerUpdateCheck(info.value("url").toString(), info.value("sha256").toString());
        } else {
            pointClientAt(source->hostPort(), source->hostPort(), apiScheme);
        }
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::Offered);
        QCOMPARE(update->DownloadUrl().scheme(), QStringLiteral("http"));
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::Ready);

        const QByteArray served = source->get(update->DownloadUrl().toString()).body;
        QCOMPARE(update->DownloadDigest(), withDigest ? sha256(served) : QString());
        QCOMPARE(update->InstallerUnverified(), unverified);
        QFile written(installerPath(build));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), served);
        QCOMPARE(filesBesideTheStamp(), QStringList{QStringLiteral("updates/tarvik-setup-") + build + ".sh"});
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
        startWithOffer(QStringLiteral("1.0.6.2292"));
        // Qt sends a request on a closed connection once more by itself: two closes fail one call.
        QVERIFY(platform->setFault(QStringLiteral("download"), fault, QVariant(), fault == "close" ? 2 : 1));
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::DownloadFailed);
        QCOMPARE(update->FailureReason(), QString()); // the network's fault
        QVERIFY(!QFile::exists(installerPath("1.0.6.2292")));

        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::Ready);
        QVERIFY(QFile::exists(installerPath("1.0.6.2292")));
    }

    void installerGone_downloadsAgain()
    {
        startWithOffer(QStringLiteral("1.0.6.2293"));
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::Ready);
        const QString path = installerPath("1.0.6.2293");
        QVERIFY(QFile::remove(path));
        QSignalSpy missing(update.data(), &CSoftwareUpdate::InstallerMissing);

        update->Proceed();
        QCOMPARE(missing.count(), 1);
        QCOMPARE(update->CurrentState(), State::Preparing);
        QVERIFY(started.isEmpty());
        QTRY_COMPARE(update->CurrentState(), State::Ready);
        QVERIFY(QFile::exists(path));
    }

    void unwritableInstaller_neverReachesInstall()
    {
        startWithOffer(QStringLiteral("1.0.6.2294"));
        // A folder where the file should go: no rename can put the installer there (even as root).
        const QString path = installerPath("1.0.6.2294");
        QVERIFY(QDir().mkpath(path));
        QSignalSpy entered(update.data(), &CSoftwareUpdate::StateEntered);
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::DownloadFailed);
        QVERIFY2(update->FailureReason().startsWith(QStringLiteral("无法保存安装文件")),
                 qPrintable(update->FailureReason()));
        for (const QVariantList& arguments : entered)
            QVERIFY(arguments.at(0).value<State>() != State::Ready);
        QVERIFY(QFileInfo(path).isDir());

        // Once the way is clear, the same step downloads again.
        QVERIFY(QDir(path).removeRecursively());
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::Ready);
        QVERIFY(QFileInfo(path).isFile());
    }

    void failedCheck_retried_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<State>("then");
        QTest::newRow("offers the update") << "1.0.6.2295" << State::Offered;
        QTest::newRow("nothing newer") << "1.0.6.2290" << State::Nothing;
    }
    void failedCheck_retried()
    {
        QFETCH(QString, offered);
        QFETCH(State, then);
        QVERIFY(
            platform->setFault(QStringLiteral("UpdateSoftware"), QStringLiteral("http500"), QVariant(), 1));
        QVERIFY(offer(offered));
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::CheckFailed);
        QVERIFY(update->DownloadUrl().isEmpty());
        QSignalSpy entered(update.data(), &CSoftwareUpdate::StateEntered);
        update->Proceed();
        QTRY_COMPARE(entered.count(), 1);
        QCOMPARE(update->CurrentState(), then);
        QVERIFY(!update->DownloadUrl().isEmpty());
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
        startUpdate();
        QSignalSpy answered(network.data(), &QNetworkAccessManager::finished);
        QSignalSpy entered(update.data(), &CSoftwareUpdate::StateEntered);
        QTRY_COMPARE(answered.count(), 1);
        QCOMPARE(entered.count(), 0);
        QCOMPARE(update->CurrentState(), State::Nothing);
        QVERIFY(update->DownloadUrl().isEmpty());
    }

    void hostileUpdate_isRefusedAndLeavesNoFile_data()
    {
        QTest::addColumn<QString>("url");      // {api} and {web}: the hosts' host:port
        QTest::addColumn<QString>("digest");   // "right", "wrong" or "none"
        QTest::addColumn<QString>("apiScheme");
        QTest::addColumn<QString>("fault");    // on the platform's installer
        QTest::addColumn<qint64>("sizeLimit"); // 0: the default
        QTest::addColumn<QString>("reason");   // in the failure's reason
        QTest::addColumn<bool>("fetched");     // whether a download went out at all

        const QString onApi = QStringLiteral("http://{api}/download/tarvik-setup-1.0.6.2297.sh");
        const QString foreign =
            QStringLiteral("http://localhost:{apiport}/download/tarvik-setup-1.0.6.2297.sh");
        QTest::newRow("file url") << "file:///bin/sh"
                                  << "right"
                                  << "http"
                                  << "" << 0LL << "更新地址无效" << false;
        QTest::newRow("data url") << "data:application/octet-stream;base64,IyEvYmluL3NoCmV4aXQgMAo="
                                  << "right"
                                  << "http"
                                  << "" << 0LL << "更新地址无效" << false;
        QTest::newRow("plain http on a foreign host") << foreign << "right"
                                                      << "http"
                                                      << "" << 0LL << "不在平台的服务器上" << false;
        QTest::newRow("plain http on a foreign host, no digest")
            << foreign << "none"
            << "http"
            << "" << 0LL << "不在平台的服务器上" << false;
        QTest::newRow("plain http without digest, API over https") << onApi << "none"
                                                                   << "https"
                                                                   << "" << 0LL << "没有校验值" << false;
        QTest::newRow("html error page") << onApi << "right"
                                         << "http"
                                         << "notjson" << 0LL << "网页" << true;
        QTest::newRow("wrong digest") << onApi << "wrong"
                                      << "http"
                                      << "" << 0LL << "校验失败" << true;
        QTest::newRow("oversize") << onApi << "none"
                                  << "http"
                                  << "" << 100 * 1024LL << "过大" << true;
        QTest::newRow("redirect to a foreign http host") << "http://{web}/foreign"
                                                         << "right"
                                                         << "http"
                                                         << "" << 0LL << "不可信" << true;
        QTest::newRow("redirect to a foreign http host, no digest") << "http://{web}/foreign"
                                                                    << "none"
                                                                    << "http"
                                                                    << "" << 0LL << "不可信" << true;
    }
    void hostileUpdate_isRefusedAndLeavesNoFile()
    {
        QFETCH(QString, url);
        QFETCH(QString, digest);
        QFETCH(QString, apiScheme);
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
        pointClientAt(platform->hostPort(), platform->hostPort(), apiScheme);
        answerUpdateCheck(url, sent);
        if (!fault.isEmpty())
            QVERIFY(platform->setFault(QStringLiteral("download"), fault));
        if (sizeLimit > 0)
            options.sizeLimit = sizeLimit;
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::Offered);
        QCOMPARE(update->DownloadDigest(), sent);

        QSignalSpy entered(update.data(), &CSoftwareUpdate::StateEntered);
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::DownloadFailed);
        QVERIFY2(update->FailureReason().contains(reason), qPrintable(update->FailureReason()));
        QCOMPARE(downloadsSent() > 0, fetched);
        QCOMPARE(filesBesideTheStamp(), QStringList());
        update->Proceed(); // the retry is refused the same way
        QTRY_COMPARE(entered.count(), fetched ? 4 : 2);
        QCOMPARE(update->CurrentState(), State::DownloadFailed);
        QVERIFY(update->FailureReason().contains(reason));
        QVERIFY(started.isEmpty());
    }

    // From the web host to itself, or to another of the platform's own hosts over plain http.
    void redirectOnThePlatformsHosts_isFollowed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("withDigest");
        QTest::newRow("same host") << "/same" << true;
        QTest::newRow("to the API and image host, no digest") << "/platform" << false;
    }
    void redirectOnThePlatformsHosts_isFollowed()
    {
        QFETCH(QString, path);
        QFETCH(bool, withDigest);
        QVERIFY(offer(hostileBuild));
        answerUpdateCheck(QStringLiteral("http://") + webHost->hostPort() + path,
                          withDigest ? sha256(installer) : QString());
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::Offered);
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::Ready);
        QCOMPARE(update->InstallerUnverified(), !withDigest);
        QFile written(CSoftwareUpdate::InstallerPath(PlatformProcess::DemoAccount, update->DownloadUrl()));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), installer);
    }

    void packagedCopy_leavesUpdatesToThePackageManager()
    {
        options.fromPackage = true;
        answerUpdateCheck(QStringLiteral("http://") + platform->hostPort() +
                              QStringLiteral("/download/tarvik-setup-1.0.6.2297.sh"),
                          sha256(installer));
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::PackageManager);
        QSignalSpy hint(update.data(), &CSoftwareUpdate::LeftToPackageManager);
        update->Proceed();
        QCOMPARE(hint.count(), 1);
        update->HttpDownUpdate(); // not even a direct call downloads
        QCOMPARE(hint.count(), 2);
        QCOMPARE(downloadsSent(), 0);
        QCOMPARE(update->CurrentState(), State::PackageManager);
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
        QCOMPARE(
            CSoftwareUpdate::InstallerPath(42, QUrl(url)),
            JoinPath({AccountDir(42), QStringLiteral("updates"), name + UpdatePolicy::InstallerSuffix()}));
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
        // The session's stamp, held as the main window holds it.
        AccountLock stamp(PlatformProcess::DemoAccount);
        QCOMPARE(stamp.Take(), AccountLock::Outcome::Taken);
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
        startUpdate();
        QTRY_COMPARE(update->CurrentState(), State::Offered);
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::Ready);

        const QList<RecordedRequest> sent = FakeNetworkManager::Recorded();
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
        QVERIFY(stamp.IsHeld());
        // Another process still finds the account taken.
        QLockFile other(AccountLockFile(PlatformProcess::DemoAccount));
        QVERIFY(!other.tryLock(0));
    }

    // A download that is not whole by the update's deadline is stopped, says why and leaves no file.
    void slowDownload_isStoppedAtTheDeadline()
    {
        options.downloadDeadlineMs = 300;
        startWithOffer(QStringLiteral("1.0.6.2300"));
        QVERIFY(platform->setFault(QStringLiteral("download"), QStringLiteral("hang")));
        update->Proceed();
        QTRY_COMPARE(update->CurrentState(), State::DownloadFailed);
        QVERIFY2(update->FailureReason().contains(QStringLiteral("用时过长")), qPrintable(update->FailureReason()));
        QCOMPARE(filesBesideTheStamp(), QStringList());
    }

    // An update that goes while its download runs leaves no file behind, and its reply goes too.
    void destroyedWhileDownloading_leavesNothing()
    {
        startWithOffer(QStringLiteral("1.0.6.2298"));
        QVERIFY(platform->setFault(QStringLiteral("download"), QStringLiteral("hang")));
        update->Proceed();
        QCOMPARE(update->CurrentState(), State::Preparing);
        QPointer<QNetworkReply> reply;
        for (QNetworkReply* running : network->findChildren<QNetworkReply*>())
            if (running->isRunning())
                reply = running;
        QVERIFY(reply);
        update.reset();
        QTRY_VERIFY(!reply);
        QCOMPARE(filesBesideTheStamp(), QStringList());
    }
};

TARVIK_GUILESS_TEST_MAIN(TestUpdate)
#include "tst_update.moc"
