#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPrinter>
#include <QSignalSpy>

#include <cerrno>
#include <cstring>
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

#include "app/constants.h"
#include "app/desktop.h"
#include "app/settings.h"
#include "app/traymessage.h"
#include "common/fakenetwork.h"
#include "common/testmain.h"
#include "detail/autoprint.h"
#include "main/cwmain.h"
#include "main/cwsettings.h"
#include "orders/corder.h"
#include "session/cuser.h"
#include "session/cwlogin.h"
#include "session/userstore.h"
#include "ui/msgbox.h"

namespace {

QString receiptFolder;

QPrinter* pdfPrinter()
{
    auto* printer = new QPrinter(QPrinter::ScreenResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(
        QDir(receiptFolder).filePath(QUuid::createUuid().toString(QUuid::Id128) + ".pdf"));
    return printer;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

// Saving when the disk is full or users.xml is a link: the data folder is a 64 KiB tmpfs.
class TestFileSafety : public QObject
{
    Q_OBJECT

    QTemporaryDir outside; // neither on the tmpfs nor in the data folder
    const qint64 account = 13800000001;
    QString filler() const { return JoinPath(DataDir(), QStringLiteral("filler")); }

    void fillDisk()
    {
        QFile file(filler());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'x');
        while (file.write(block) == block.size()) {
        }
        while (file.write("x", 1) == 1) {
        }
    }

    static void rememberAccounts(int count)
    {
        QVector<CUser> users(count);
        QVector<CUser*> pointers;
        for (int i = 0; i < count; ++i) {
            users[i].SetAccount(13800000001 + i);
            users[i].SetNickname(QStringLiteral("店员%1").arg(i));
            pointers.append(&users[i]);
        }
        QVERIFY(UserStore(pointers).Save());
    }

    // Temporary files of a save (".users.xml.XXXXXX") left in `folder`.
    static QStringList leftovers(const QString& folder)
    {
        return QDir(folder)
            .entryList(QDir::Files | QDir::Hidden)
            .filter(QRegularExpression(QStringLiteral("^\\.")));
    }

private slots:
    void initTestCase()
    {
#ifdef Q_OS_LINUX
        QVERIFY(QDir().mkpath(DataDir()));
        if (::mount("tmpfs", QFile::encodeName(DataDir()).constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
            QSKIP(qPrintable(QStringLiteral("a 64 KiB tmpfs cannot be mounted on the data folder (%1): this "
                                            "test needs root, as in CI")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
#else
        QSKIP("mounts a tmpfs: Linux only");
#endif
        receiptFolder = outside.path();
        Desktop::SetPrinterFactory(pdfPrinter);
    }

    void cleanupTestCase()
    {
        Desktop::SetPrinterFactory(nullptr);
#ifdef Q_OS_LINUX
        ::umount2(QFile::encodeName(DataDir()).constData(), MNT_DETACH);
#endif
    }

    void cleanup()
    {
        QFile::remove(filler());
        if (mainWindow) {
            QObject::disconnect(mainWindow, &CWidget::Close, nullptr, nullptr);
            delete mainWindow;
        }
        FakeNetworkManager::Uninstall();
    }

    void fullDisk_keepsThePreviousFileAndSaysSo_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("users.xml") << "users.xml";
        QTest::newRow("settings.ini") << "settings.ini";
        QTest::newRow("printed.txt") << "printed.txt";
    }
    void fullDisk_keepsThePreviousFileAndSaysSo()
    {
        QFETCH(QString, file);
        CSettings settings(account);
        QSignalSpy settingsFailed(&settings, &CSettings::SaveFailed);
        settings.SetAutoPrint(true);
        CAutoPrint printer(&settings, account);
        QScopedPointer<COrder> first(new COrder), second(new COrder);
        first->SetId(26120800001);
        second->SetId(26120800002);
        first->SetStatus(int(StatusPaid.first));
        second->SetStatus(int(StatusPaid.first));
        printer.DetailReady(first.data());
        rememberAccounts(2);
        QVERIFY(settingsFailed.isEmpty());

        const QString path = file == QLatin1String("users.xml")      ? UsersFile()
                             : file == QLatin1String("settings.ini") ? CSettings::FilePath(account)
                                                                     : CAutoPrint::FilePath(account);
        const QByteArray before = contents(path);
        QVERIFY(before.size() > 0);
        fillDisk();

        if (file == QLatin1String("users.xml")) {
            CUser third;
            third.SetAccount(13800000009);
            QVERIFY(!UserStore(QVector<CUser*>{&third}).Save());
        } else if (file == QLatin1String("settings.ini")) {
            CWSettings window(&settings);
            window.TrayNoticeBox()->click();
            QCOMPARE(settingsFailed.count(), 1);
            QVERIFY(settings.TrayNotice()); // still applies for this run
            QVERIFY(window.MsgBox()->MsgBoxLabel()->text().startsWith(QStringLiteral("设置未能保存")));
        } else {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("printed orders could not be saved")));
            printer.DetailReady(second.data());
            QVERIFY(printer.WasPrinted(26120800002));
        }
        QCOMPARE(contents(path), before);
        QCOMPARE(leftovers(QFileInfo(path).path()), QStringList());
    }

    void fullDisk_login_saysTheAccountsWereNotSaved()
    {
        rememberAccounts(2);
        const QByteArray before = contents(UsersFile());
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            if (sent.request.url().path().endsWith(QLatin1String("/LoginMd5")))
                return FakeResponse::Json(
                    R"({"status":1,"info":{"id":7,"key":"k","token":"t","nickname":"n"}})");
            return FakeResponse::Json(R"({"status":0,"info":"not in this test"})");
        });
        QFile::remove(AccountLockFile(account));
        fillDisk();

        QPointer<CWLogin> login = new CWLogin;
        QObject::disconnect(login, &CWidget::Close, qApp, nullptr);
        login->AccountBox()->setEditText(QString::number(account));
        login->PasswordBox()->setText(QStringLiteral("velm123"));
        login->RememberBox()->setChecked(true);
        login->Login();
        QTRY_VERIFY(mainWindow); // the shop can still work
        QCOMPARE(Tray::LastMessage().text,
                 QStringLiteral("存储用户数据失败！\n账号锁文件无法写入，本机可能重复登录此账号。"));
        QCOMPARE(Tray::LastMessage().icon, QSystemTrayIcon::Warning);
        QCOMPARE(contents(UsersFile()), before);
        QVERIFY(!QFile::exists(AccountLockFile(account))); // no empty lock file left behind
        QTRY_VERIFY(!login);
    }

    void symlinkedUsersFile_isReplaced_itsTargetUntouched()
    {
        const QString target = QDir(outside.path()).filePath(QStringLiteral("precious.txt"));
        QFile precious(target);
        QVERIFY(precious.open(QIODevice::WriteOnly));
        precious.write("not yours\n");
        precious.close();
        const QFileDevice::Permissions mode = precious.permissions();
        QFile::remove(UsersFile());
        QVERIFY(QFile::link(target, UsersFile()));

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                               "users.xml was a symbolic link to .*precious.txt")));
        rememberAccounts(1);
        QVERIFY(!QFileInfo(UsersFile()).isSymLink());
        QCOMPARE(UserStore().Users().size(), 1);
        QCOMPARE(contents(target), QByteArray("not yours\n"));
        QCOMPARE(QFile(target).permissions(), mode);
    }
};

TARVIK_TEST_MAIN(TestFileSafety)
#include "tst_filesafety.moc"
