#include <QDesktopServices>
#include <QDir>
#include <QMediaPlayer>
#include <QPainter>
#include <QPrinter>
#include <QSignalSpy>

#include "app/constants.h"
#include "app/ui/desktop.h"
#include "app/sound.h"
#include "app/ui/traymessage.h"
#include "common/heldsounds.h"
#include "common/testmain.h"
#include "common/urlcatcher.h"

class TestServices : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void soundPaths_resolveToAbsoluteFileUrls()
    {
        const QString savedCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir.path()));

        // Nothing in the working directory: the copy beside the executable is used.
        const QString besideProgram = QCoreApplication::applicationDirPath() + "/audio/zz-test-sound.wav";
        QDir().mkpath(QFileInfo(besideProgram).path());
        QFile(besideProgram).open(QIODevice::WriteOnly);
        QUrl url = Sound::Resolve(QStringLiteral("audio/zz-test-sound.wav"));
        QVERIFY(url.isLocalFile());
        QCOMPARE(url.toLocalFile(), QFileInfo(besideProgram).absoluteFilePath());

        // A copy in the working directory wins.
        QDir(workDir.path()).mkpath(QStringLiteral("audio"));
        QFile(workDir.filePath(QStringLiteral("audio/zz-test-sound.wav"))).open(QIODevice::WriteOnly);
        url = Sound::Resolve(QStringLiteral("audio/zz-test-sound.wav"));
        QCOMPARE(url.toLocalFile(),
                 QFileInfo(workDir.filePath(QStringLiteral("audio/zz-test-sound.wav"))).absoluteFilePath());

        // Missing everywhere: still an absolute URL, naming the working-directory path.
        url = Sound::Resolve(QStringLiteral("audio/missing.mp3"));
        QVERIFY(url.isLocalFile());
        QVERIFY(QFileInfo(url.toLocalFile()).isAbsolute());
        QVERIFY(url.toLocalFile().endsWith(QStringLiteral("/audio/missing.mp3")));

        QFile::remove(besideProgram);
        QDir::setCurrent(savedCwd);
    }

    // An installed client: <prefix>/bin/tarvik with its sounds in <prefix>/share/tarvik/audio.
    void soundLookup_workingDirThenProgramThenData_data()
    {
        QTest::addColumn<QStringList>("copies"); // of the sound: "cwd", "bin", "data"
        QTest::addColumn<QString>("found");
        QTest::newRow("installed data only") << QStringList{"data"} << "data";
        QTest::newRow("beside the program before the data") << QStringList{"bin", "data"} << "bin";
        QTest::newRow("working directory first") << QStringList{"cwd", "bin", "data"} << "cwd";
        QTest::newRow("working directory before the data") << QStringList{"cwd", "data"} << "cwd";
        QTest::newRow("nowhere: the working-directory path") << QStringList{} << "cwd";
    }
    void soundLookup_workingDirThenProgramThenData()
    {
        QFETCH(QStringList, copies);
        QFETCH(QString, found);
        QTemporaryDir fake;
        const QMap<QString, QString> folders{{"cwd", fake.filePath("cwd")},
                                             {"bin", fake.filePath("usr/bin")},
                                             {"data", fake.filePath("usr/share/tarvik")}};
        for (const QString& where : copies) {
            QVERIFY(QDir().mkpath(folders[where] + "/audio"));
            QVERIFY(QFile(folders[where] + "/audio/neworder.mp3").open(QIODevice::WriteOnly));
        }
        const QUrl url = Sound::Resolve(QStringLiteral("audio/neworder.mp3"),
                                        {folders["cwd"], folders["bin"], folders["data"]});
        QCOMPARE(url.toLocalFile(), folders[found] + "/audio/neworder.mp3");
    }

    void soundFolders_dataFolderFollowsTheProgram()
    {
        const QStringList folders = Sound::Folders();
        QVERIFY(folders.size() >= 3);
        QCOMPARE(folders.at(0), QDir::currentPath());
        const QString program = QCoreApplication::applicationDirPath();
        QCOMPARE(folders.at(1), program);
        QCOMPARE(folders.at(2), QDir::cleanPath(program + "/../share/tarvik"));
        QVERIFY(folders.last().endsWith(QStringLiteral("/share/tarvik")));
    }

    void playing_isObservable()
    {
        Sound::Service sounds;
        QSignalSpy spy(Sound::monitor(), &Sound::Monitor::Played);
        const int before = Sound::monitor()->Count();
        sounds.Play(QStringLiteral("audio/neworder.mp3"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("audio/neworder.mp3"));
        QVERIFY(spy.at(0).at(1).toUrl().isLocalFile());
        QCOMPARE(Sound::monitor()->LastSound(), QStringLiteral("audio/neworder.mp3"));
        QCOMPARE(Sound::monitor()->Count(), before + 1);
    }

    // Each sound is loaded once: asked for again, before or after its end, it plays again.
    void realSounds_playToTheEnd_data()
    {
        QTest::addColumn<QString>("sound");
        QTest::newRow("new order") << "audio/neworder.mp3";
        QTest::newRow("confirmation") << "audio/notify.wav";
        QTest::newRow("served") << "audio/server.mp3";
    }
    void realSounds_playToTheEnd()
    {
        // The program runs from its own folder; the sounds are copied beside it by the build.
        QFETCH(QString, sound);
        Sound::Service sounds;
        QSignalSpy stopped(&sounds, &Sound::Service::Stopped);
        QSignalSpy failed(&sounds, &Sound::Service::Failed);
        QSignalSpy unavailable(&sounds, &Sound::Service::Unavailable);
        sounds.Play(sound);
        QVERIFY(sounds.IsPlaying(sound));
        sounds.Play(sound); // from its beginning again, not a second player
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QVERIFY(!sounds.IsPlaying(sound));
        sounds.Play(sound);
        QVERIFY(sounds.IsPlaying(sound));
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(1).toString()));
        QCOMPARE(stopped.at(0).at(0).toString(), sound);
        // Without an audio output the sound plays on unheard, and that is said once.
        QCOMPARE(unavailable.count(), Sound::ProbeOutput().isEmpty() ? 0 : 1);
    }

    // A media back end that holds the thread making a player (a DRM device waited for, a sound
    // server that does not answer) holds only the players' own thread.
    void stuckBackEnd_neverHoldsTheCaller()
    {
        HeldSoundBackEnd backEnd;
        Sound::Service::SetOutputProbe([] { return QStringLiteral("no sound card"); });
        auto realProbe = qScopeGuard([] { Sound::Service::SetOutputProbe(nullptr); });
        Sound::Service sounds;
        QSignalSpy played(Sound::monitor(), &Sound::Monitor::Played);
        QSignalSpy stopped(&sounds, &Sound::Service::Stopped);
        QSignalSpy unavailable(&sounds, &Sound::Service::Unavailable);
        int ticks = 0;
        QTimer ticking;
        connect(&ticking, &QTimer::timeout, [&ticks] { ++ticks; });
        ticking.start(50);

        sounds.Preload(Sound::Names());
        sounds.Play(QStringLiteral("audio/notify.wav"));
        QCOMPARE(played.count(), 1); // heard of at once, whatever the back end does
        QVERIFY(sounds.IsPlaying(QStringLiteral("audio/notify.wav")));
        QTRY_COMPARE(backEnd.Entered(), 1);
        const int before = ticks;
        QTRY_VERIFY(ticks >= before + 5); // the caller's event loop turns while the back end holds
        QCOMPARE(backEnd.Left(), 0);
        QCOMPARE(unavailable.count(), 1); // asked before any player is made
        QCOMPARE(unavailable.at(0).at(0).toString(), QStringLiteral("no sound card"));
        QVERIFY(sounds.IsPlaying(QStringLiteral("audio/notify.wav")));

        backEnd.Release();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
        QCOMPARE(stopped.at(0).at(0).toString(), QStringLiteral("audio/notify.wav"));
        QVERIFY(!sounds.IsPlaying(QStringLiteral("audio/notify.wav")));
        QCOMPARE(backEnd.Entered(), Sound::Names().size());
        QVERIFY(!backEnd.InGuiThread());
        QCOMPARE(unavailable.count(), 1);
    }

    // A service going while its back end holds does not wait for it: its thread ends by itself.
    void stuckBackEnd_serviceGoesWithoutWaiting()
    {
        HeldSoundBackEnd backEnd;
        QElapsedTimer going;
        {
            Sound::Service sounds;
            sounds.Play(QStringLiteral("audio/neworder.mp3"));
            QTRY_COMPARE(backEnd.Entered(), 1);
            going.start();
        }
        QVERIFY2(going.elapsed() < 10000, qPrintable(QString::number(going.elapsed())));
        backEnd.Release();
        QTRY_COMPARE(backEnd.Left(), 1);
        QCOMPARE(backEnd.Entered(), 1); // the sounds still queued are dropped
    }

    void unreadableSound_isReported()
    {
        QFile garbage(workDir.filePath(QStringLiteral("garbage.mp3")));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a sound at all");
        garbage.close();
        Sound::Service sounds;
        QSignalSpy failed(&sounds, &Sound::Service::Failed);
        sounds.Play(garbage.fileName());
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toString(), garbage.fileName());
    }

    void trayMessage_withoutSystemTray_becomesACornerNotice()
    {
        QSystemTrayIcon icon;
        icon.show();
        const int before = Tray::MessageCount();
        Tray::ShowMessage(&icon, AppName, QStringLiteral("登录失败!\n密码错误"), QSystemTrayIcon::Critical,
                          300);
        QCOMPARE(Tray::MessageCount(), before + 1);
        const Tray::Message message = Tray::LastMessage();
        QCOMPARE(message.title, QStringLiteral("Tarvik"));
        QCOMPARE(message.text, QStringLiteral("登录失败!\n密码错误"));
        QCOMPARE(message.icon, QSystemTrayIcon::Critical);
        QVERIFY(message.asNotice); // offscreen has no system tray

        QPointer<QWidget> notice = Tray::CurrentNotice();
        QVERIFY(notice);
        QVERIFY(notice->isVisible());
        auto* typed = qobject_cast<CTrayNotice*>(notice.data());
        QVERIFY(typed);
        QCOMPARE(typed->Text(), message.text);

        // A newer message replaces the one on screen.
        Tray::ShowMessage(&icon, AppName, QStringLiteral("成功登录!"), QSystemTrayIcon::Information, 300);
        QTRY_VERIFY(!notice);
        notice = Tray::CurrentNotice();
        QVERIFY(notice);
        // It goes away by itself after its time.
        QTRY_VERIFY_WITH_TIMEOUT(!notice, 3000);
        QVERIFY(!Tray::CurrentNotice());

        // Without a tray icon nothing is shown and nothing is recorded.
        const int count = Tray::MessageCount();
        Tray::ShowMessage(nullptr, AppName, QStringLiteral("x"));
        QCOMPARE(Tray::MessageCount(), count);
        QVERIFY(!Tray::CurrentNotice());
    }

    void openUrl_goesToTheBrowserHandler()
    {
        UrlCatcher catcher;
        QVERIFY(Desktop::OpenUrl(QUrl(CashPageUrl())));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls.first().path(), QStringLiteral("/amy.php"));
    }

    void startDetached_reportsFailure()
    {
        QVERIFY(Desktop::StartDetached(QStringLiteral("/bin/true")));
        QCOMPARE(Desktop::LastStarted(), QStringLiteral("/bin/true"));
        QVERIFY(!Desktop::StartDetached(workDir.filePath(QStringLiteral("no-such-installer"))));
        QCOMPARE(Desktop::LastStarted(), QStringLiteral("/bin/true")); // only what really started
    }

    void receiptPrinter_withoutPrinter_writesAPdf()
    {
        QScopedPointer<QPrinter> printer(Desktop::CreateReceiptPrinter());
        QVERIFY(printer);
        QCOMPARE(printer->outputFormat(), QPrinter::PdfFormat);
        QVERIFY(printer->outputFileName().startsWith(Desktop::ReceiptFolder()));
        {
            QPainter painter(printer.data());
            QVERIFY(painter.isActive());
            painter.drawText(QPoint(10, 20), QStringLiteral("Velm订单"));
        }
        QFile pdf(printer->outputFileName());
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
    }
};

TARVIK_TEST_MAIN(TestServices)
#include "tst_services.moc"
