#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <qt5keychain/keychain.h>

#include "app/atomicfile.h"
#include "app/constants.h"
#include "app/ui/client.h"
#include "app/ui/traymessage.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "main/ui/cwmain.h"
#include "session/cuser.h"
#include "session/ui/cwlogin.h"
#include "session/passwordvault.h"
#include "session/userstore.h"

// Remembered passwords in a real credential store: gnome-keyring's Secret Service in a session bus
// of the test's own (tests/common/with-keyring.sh). The program runs three times, once per store:
// "unlocked", "locked" (its unlock prompt is never answered) and "silent" (a Secret Service that
// never replies); each test function says which store it needs and is skipped under the others.
class TestKeychain : public QObject
{
    Q_OBJECT

    static constexpr qint64 account = 13800000001;

    static QString store() { return qEnvironmentVariable("TARVIK_TEST_KEYRING"); }

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
        return !user                         ? QStringLiteral("no account")
               : user->GetRememberPassword() ? QStringLiteral("its password")
                                             : QStringLiteral("no password");
    }
    static bool autoLoginInFile()
    {
        const UserStore store;
        const CUser* user = store.Users().value(0);
        return user && user->GetAutoLogin();
    }
    // The accounts written down to be forgotten.
    static QByteArray toForgetFile()
    {
        QFile file(PasswordVault::PasswordsToForgetFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("(none)");
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
    // The login window of a client as the program starts it (its end is not obeyed here).
    std::unique_ptr<CClient> client;
    QPointer<CWLogin> openLogin()
    {
        client = std::make_unique<CClient>(TestOptions());
        client->Start();
        return LoginWindow();
    }
    static int loginRequests()
    {
        int found = 0;
        for (const RecordedRequest& r : FakeNetworkManager::Recorded())
            found += r.request.url().path().endsWith(QLatin1String("/LoginMd5"));
        return found;
    }
    // The form while the store is asked: nothing to type into or tick yet, and it says why.
    static bool showsFetching(const CWLogin* login)
    {
        return login && !LoginForm::Password(login)->isEnabled() &&
               !LoginForm::Password(login)->placeholderText().isEmpty() &&
               LoginForm::Remember(login)->checkState() == Qt::PartiallyChecked &&
               !LoginForm::Remember(login)->isEnabled();
    }
    static bool showsAnswer(const CWLogin* login)
    {
        return login && LoginForm::Password(login)->isEnabled() &&
               LoginForm::Password(login)->placeholderText().isEmpty() &&
               LoginForm::Remember(login)->checkState() != Qt::PartiallyChecked &&
               LoginForm::Remember(login)->isEnabled();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("TARVIK_TEST_KEYRING"),
                 "run through tests/common/with-keyring.sh");
        // A store that does not answer is given up on sooner than the program's 5 s.
        if (store() != QLatin1String("unlocked"))
            PasswordVault::SetAnswerDeadline(1500);
        FakeNetworkManager::Install([](const RecordedRequest& sent) {
            return FakeResponse::Json(sent.request.url().path().endsWith(QLatin1String("/LoginMd5"))
                                          ? R"({"status":1,"info":{"id":7,"key":"k","token":"t"}})"
                                          : R"({"status":0,"info":"not in this test"})");
        });
    }
    void cleanup()
    {
        client.reset();
        FakeNetworkManager::Recorded().clear();
    }

    // First: what an earlier run left must be found by the vault this process makes.
    void forgetLeftUndone_isDoneAtTheNextStartBeforeAnyRecall()
    {
        if (store() != QLatin1String("unlocked"))
            QSKIP("needs the unlocked keyring");
        // An earlier run was asked to forget the password and ended before the store did it.
        QKeychain::WritePasswordJob left(AppName);
        left.setTextData(QStringLiteral("velm123"));
        run(left);
        QCOMPARE(stored(), QStringLiteral("velm123"));
        remember(true, QString());
        QVERIFY(
            AtomicFile::Write(PasswordVault::PasswordsToForgetFile(), QByteArray::number(account) + '\n'));

        QPointer<CWLogin> login = openLogin();
        QTRY_VERIFY(showsAnswer(login));
        QTRY_COMPARE(stored(), QString());
        QCOMPARE(toForgetFile(), QByteArray("(none)"));
        // Nothing came back to life: no password, "记住密码" unticked, no auto-login.
        QVERIFY(login);
        QCOMPARE(LoginForm::Password(login)->text(), QString());
        QCOMPARE(LoginForm::Remember(login)->checkState(), Qt::Unchecked);
        QCOMPARE(loginRequests(), 0);
        delete login;
    }

    void rememberedPassword_livesInTheKeychain()
    {
        if (store() != QLatin1String("unlocked"))
            QSKIP("needs the unlocked keyring");
        // users.xml as an earlier version left it: the password is moved into the store at once.
        remember(false, QStringLiteral("velm123"));
        QPointer<CWLogin> login = openLogin();
        QTRY_COMPARE(inFile(), QStringLiteral("no password")); // the file's element is empty now
        QCOMPARE(stored(), QStringLiteral("velm123"));
        QCOMPARE(LoginForm::Password(login)->text(), QStringLiteral("velm123"));
        QCOMPARE(LoginForm::Remember(login)->toolTip(), QStringLiteral("密码保存在系统的凭据存储中。"));
        delete login;

        // While the store is asked the form says so; auto-login takes the password once it has come.
        remember(true, QString());
        login = openLogin();
        QVERIFY(showsFetching(login));
        QTRY_VERIFY(MainWindow());
        QCOMPARE(FakeNetworkManager::Recorded().first().body,
                 "account=13800000001&pass=" + CUser::Md5Of(QStringLiteral("velm123")).toLatin1());
        QCOMPARE(inFile(), QStringLiteral("no password"));
        QCOMPARE(stored(), QStringLiteral("velm123"));
        cleanup();

        // A login with "记住密码" unticked, after it showed ticked, takes the password out of the store.
        remember(false, QString());
        login = openLogin();
        QTRY_COMPARE(LoginForm::Password(login)->text(), QStringLiteral("velm123"));
        QCOMPARE(LoginForm::Remember(login)->checkState(), Qt::Checked);
        LoginForm::Remember(login)->setChecked(false);
        login->Login();
        QTRY_VERIFY(MainWindow());
        QTRY_COMPARE(stored(), QString());
        QCOMPARE(inFile(), QStringLiteral("no password"));
        QTRY_COMPARE(toForgetFile(), QByteArray("(none)"));
    }

    // The store answers its first question, then its unlock prompt is never answered: it has not
    // taken the password, so users.xml keeps it, whatever the login saves meanwhile.
    void unansweredUnlockPrompt_keepsThePasswordInTheFile()
    {
        if (store() != QLatin1String("locked"))
            QSKIP("needs the locked keyring");
        remember(false, QStringLiteral("velm123"));
        QPointer<CWLogin> login = openLogin();
        QTRY_COMPARE(PasswordVault::Instance()->Where(), PasswordVault::Place::Keychain);
        QCOMPARE(LoginForm::Remember(login)->checkState(), Qt::Checked);
        login->Login();
        QTRY_VERIFY(MainWindow());
        QCOMPARE(inFile(), QStringLiteral("its password"));
        QTRY_COMPARE(PasswordVault::Instance()->Where(), PasswordVault::Place::NoAnswer);
        QCOMPARE(inFile(), QStringLiteral("its password"));
        QCOMPARE(UserStore().Users().first()->GetPassword(), QStringLiteral("velm123"));
        QVERIFY(PasswordVault::Instance()->HeldAccounts().isEmpty());
        cleanup();

        // The next window finds it in the file, and its tooltip says why it is there.
        login = openLogin();
        QCOMPARE(LoginForm::Password(login)->text(), QStringLiteral("velm123"));
        QVERIFY2(LoginForm::Remember(login)->toolTip().contains(QStringLiteral("没有应答")),
                 qPrintable(LoginForm::Remember(login)->toolTip()));
        delete login;
    }

    // A Secret Service that never answers: the form waits for it at most the deadline, a password in
    // the file still logs in by itself, and what was never shown is never forgotten.
    void storeThatNeverAnswers_isGivenUpWithinTheDeadline()
    {
        if (store() != QLatin1String("silent"))
            QSKIP("needs the silent Secret Service");
        // With the password in the file, auto-login happens at once, and the file keeps it.
        remember(true, QStringLiteral("velm123"));
        QPointer<CWLogin> login = openLogin();
        QTRY_VERIFY(MainWindow());
        QCOMPARE(loginRequests(), 1);
        QCOMPARE(inFile(), QStringLiteral("its password"));
        QTRY_COMPARE(PasswordVault::Instance()->Where(), PasswordVault::Place::NoAnswer);
        QCOMPARE(inFile(), QStringLiteral("its password"));
        cleanup();

        // With the password in the store only: asked, given up within the deadline, and said so.
        remember(true, QString());
        const int messages = Tray::MessageCount();
        QElapsedTimer clock;
        clock.start();
        login = openLogin();
        QVERIFY(showsFetching(login));
        QTRY_VERIFY_WITH_TIMEOUT(showsAnswer(login), PasswordVault::AnswerDeadline() + 5000);
        QVERIFY2(clock.elapsed() >= PasswordVault::AnswerDeadline() - 100,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(LoginForm::Remember(login)->checkState(), Qt::Unchecked);
        QVERIFY(LoginForm::Remember(login)->toolTip().contains(QStringLiteral("没有应答")));
        QCOMPARE(Tray::MessageCount(), messages + 1);
        QVERIFY(Tray::LastMessage().text.contains(QStringLiteral("请输入密码")));
        QCOMPARE(loginRequests(), 0);

        // Typed by hand and logged in without "记住密码": the store's password was never shown, so it
        // is not forgotten, and the account keeps its auto-login for when the store answers again.
        LoginForm::Password(login)->setText(QStringLiteral("velm123"));
        login->Login();
        QTRY_VERIFY(MainWindow());
        QVERIFY(!PasswordVault::Instance()->ToForget().contains(account));
        QCOMPARE(toForgetFile(), QByteArray("(none)"));
        QCOMPARE(inFile(), QStringLiteral("no password"));
        QVERIFY(autoLoginInFile());
        cleanup();

        // Deleting the account forgets its password: written down at once, done at a later start.
        login = openLogin();
        login->DeleteItem(QString::number(account));
        QCOMPARE(toForgetFile(), QByteArray::number(account));
        QCOMPARE(inFile(), QStringLiteral("no account"));
        delete login;
    }
};

TARVIK_TEST_MAIN(TestKeychain)
#include "tst_keychain.moc"
