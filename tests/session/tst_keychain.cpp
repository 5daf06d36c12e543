#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <qt5keychain/keychain.h>

#include "app/constants.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "main/cwmain.h"
#include "session/cuser.h"
#include "session/cwlogin.h"
#include "session/userstore.h"

// Remembered passwords in a real credential store: gnome-keyring's Secret Service in a session bus
// of the test's own (tests/common/with-keyring.sh).
class TestKeychain : public QObject
{
    Q_OBJECT

    static constexpr qint64 account = 13800000001;

    // Runs a job of QtKeychain's own, so what the store holds is seen without the client's code.
    static void run(QKeychain::Job& job)
    {
        job.setAutoDelete(false);
        job.setKey(QString::number(account));
        QEventLoop loop;
        connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
        job.start();
        loop.exec();
    }
    static QString stored()
    {
        QKeychain::ReadPasswordJob job(AppName);
        run(job);
        return job.textData();
    }
    // What users.xml holds of the account (the store's records go with the store).
    static QString inFile()
    {
        const UserStore store;
        const CUser* user = store.Users().value(0);
        return !user                          ? QStringLiteral("no account")
               : user->GetRememberPassword() ? QStringLiteral("its password")
                                              : QStringLiteral("no password");
    }

    static void remember(bool autoLogin, const QString& passwordInFile)
    {
        CUser user;
        user.SetAccount(account);
        user.SetAutoLogin(autoLogin);
        user.SetPassword(passwordInFile);
        user.SetRememberPassword(!passwordInFile.isEmpty());
        QVERIFY(UserStore(QVector<CUser*>{&user}).Save());
    }
    static QPointer<CWLogin> openLogin()
    {
        QPointer<CWLogin> login = new CWLogin;
        QObject::disconnect(login, &CWidget::Close, qApp, nullptr);
        return login;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("TARVIK_TEST_KEYRING"),
                 "run through tests/common/with-keyring.sh");
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            return FakeResponse::Json(sent.request.url().path().endsWith(QLatin1String("/LoginMd5"))
                                          ? R"({"status":1,"info":{"id":7,"key":"k","token":"t"}})"
                                          : R"({"status":0,"info":"not in this test"})");
        });
    }
    void cleanup()
    {
        if (MainWindow()) {
            QObject::disconnect(MainWindow(), &CWidget::Close, nullptr, nullptr);
            delete MainWindow();
        }
    }

    void rememberedPassword_livesInTheKeychain()
    {
        // users.xml as an earlier version left it: the password is moved into the store at once.
        remember(false, QStringLiteral("velm123"));
        QPointer<CWLogin> login = openLogin();
        QTRY_COMPARE(inFile(), QStringLiteral("no password")); // the file's element is empty now
        QCOMPARE(stored(), QStringLiteral("velm123"));
        QCOMPARE(login->PasswordBox()->text(), QStringLiteral("velm123"));
        QCOMPARE(login->RememberBox()->toolTip(), QStringLiteral("密码保存在系统的凭据存储中。"));
        delete login;

        // Auto-login takes the password from the store, once it has answered.
        remember(true, QString());
        FakeNetworkManager::Recorded().clear();
        login = openLogin();
        QTRY_VERIFY(MainWindow());
        QCOMPARE(FakeNetworkManager::Recorded().first().body,
                 "account=13800000001&pass=" + CUser::Md5Of(QStringLiteral("velm123")).toLatin1());
        QCOMPARE(inFile(), QStringLiteral("no password"));
        QCOMPARE(stored(), QStringLiteral("velm123"));
        cleanup();

        // A login without "记住密码" takes the password out of the store as well.
        remember(false, QString());
        login = openLogin();
        QTRY_COMPARE(login->PasswordBox()->text(), QStringLiteral("velm123"));
        login->RememberBox()->setChecked(false);
        login->Login();
        QTRY_VERIFY(MainWindow());
        QTRY_COMPARE(stored(), QString());
        QCOMPARE(inFile(), QStringLiteral("no password"));
    }
};

TARVIK_TEST_MAIN(TestKeychain)
#include "tst_keychain.moc"
