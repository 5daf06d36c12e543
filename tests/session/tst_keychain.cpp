#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <qt5keychain/keychain.h>

#include "app/constants.h"
#include "common/fakenetwork.h"
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

    // What the credential store holds, asked through QtKeychain directly.
    static QString stored()
    {
        QKeychain::ReadPasswordJob job(AppName);
        job.setAutoDelete(false);
        job.setKey(QString::number(account));
        QEventLoop loop;
        connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
        job.start();
        loop.exec();
        return job.error() == QKeychain::NoError ? job.textData() : QString();
    }

    static bool store(const QString& password)
    {
        QKeychain::WritePasswordJob job(AppName);
        job.setAutoDelete(false);
        job.setKey(QString::number(account));
        job.setTextData(password);
        QEventLoop loop;
        connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
        job.start();
        loop.exec();
        return job.error() == QKeychain::NoError;
    }

    static QString filePassword()
    {
        QFile file(UsersFile());
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("(no file)");
        const QString text = QString::fromUtf8(file.readAll());
        const int start = text.indexOf(QLatin1String("<password>"));
        return start < 0 ? QString()
                         : text.mid(start + 10, text.indexOf(QLatin1String("</password>")) - start - 10);
    }

    static void remember(bool autoLogin, const QString& password)
    {
        CUser user;
        user.SetAccount(account);
        user.SetAutoLogin(autoLogin);
        user.SetPassword(password);
        user.SetRememberPassword(!password.isEmpty());
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
            if (sent.request.url().path().endsWith(QLatin1String("/LoginMd5")))
                return FakeResponse::Json(
                    R"({"status":1,"info":{"id":7,"key":"k","token":"t","nickname":"n"}})");
            return FakeResponse::Json(R"({"status":0,"info":"not in this test"})");
        });
    }

    void cleanup()
    {
        if (mainWindow) {
            QObject::disconnect(mainWindow, &CWidget::Close, nullptr, nullptr);
            delete mainWindow;
        }
    }

    void passwordInTheFile_movesIntoTheKeychain()
    {
        remember(false, QStringLiteral("velm123"));
        QVERIFY(!filePassword().isEmpty());

        QPointer<CWLogin> login = openLogin();
        QTRY_VERIFY(filePassword().isEmpty());
        QCOMPARE(stored(), QStringLiteral("velm123"));
        QCOMPARE(login->PasswordBox()->text(), QStringLiteral("velm123"));
        QVERIFY(login->RememberBox()->isChecked());
        QCOMPARE(login->RememberBox()->toolTip(), QStringLiteral("密码保存在系统的凭据存储中。"));
        QCOMPARE(UserStore().Users().size(), 1); // the account itself stays remembered
        delete login;
    }

    void autoLogin_takesThePasswordFromTheKeychain_andForgetsItWhenAsked()
    {
        QVERIFY(store(QStringLiteral("s3cret")));
        remember(true, QString()); // what users.xml holds for an account whose password the store keeps
        FakeNetworkManager::Recorded().clear();

        QPointer<CWLogin> login = openLogin();
        QTRY_VERIFY(mainWindow); // logged in by itself once the store answered
        QCOMPARE(FakeNetworkManager::Recorded().first().body,
                 "account=13800000001&pass=" + CUser::Md5Of(QStringLiteral("s3cret")).toLatin1());
        QTRY_VERIFY(!login);
        QVERIFY(filePassword().isEmpty());
        QCOMPARE(stored(), QStringLiteral("s3cret"));
        cleanup();

        // Logging in again without "记住密码" takes the password out of the store as well.
        remember(false, QString());
        login = openLogin();
        QTRY_COMPARE(login->PasswordBox()->text(), QStringLiteral("s3cret"));
        login->RememberBox()->setChecked(false);
        login->Login();
        QTRY_VERIFY(mainWindow);
        QTRY_COMPARE(stored(), QString());
        QVERIFY(filePassword().isEmpty());
        QVERIFY(!UserStore().Users().first()->GetRememberPassword());
    }
};

TARVIK_TEST_MAIN(TestKeychain)
#include "tst_keychain.moc"
