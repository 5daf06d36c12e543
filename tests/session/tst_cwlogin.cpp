#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLockFile>
#include <QMovie>
#include <QProcess>
#include <QPushButton>

#include "app/constants.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "common/urlcatcher.h"
#include "session/ui/comboboxitem.h"
#include "session/cuser.h"
#include "session/ui/cwlogin.h"
#include "session/userstore.h"
#include "ui/cweblabel.h"

// The login window as a person uses it; the network is a fake that records what would be sent.
class TestCWLogin : public QObject
{
    Q_OBJECT

    static void remember(QVector<CUser> accounts)
    {
        QVector<CUser*> pointers;
        for (CUser& user : accounts)
            pointers.append(&user);
        UserStore store(pointers);
        QVERIFY(store.Save());
    }

    static CUser account(qint64 number, const QString& password, bool autoLogin = false)
    {
        CUser user;
        user.SetAccount(number);
        user.SetPassword(password);
        user.SetRememberPassword(!password.isEmpty());
        user.SetAutoLogin(autoLogin);
        user.SetNickname(QStringLiteral("店员%1").arg(number % 10));
        return user;
    }

    static QList<RecordedRequest> loginRequests()
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest& r : FakeNetworkManager::Recorded())
            if (r.request.url().path().endsWith(QLatin1String("/LoginMd5")))
                found.append(r);
        return found;
    }

    static void pressEnter(QWidget* target) { QTest::keyClick(target, Qt::Key_Return); }

private slots:
    void init()
    {
        QFile::remove(UsersFile());
        // Any login that does go out is refused, so no main window is opened here.
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json("{\"status\":0,\"info\":\"帐号或密码错误\"}");
        });
    }
    void cleanup() { FakeNetworkManager::Uninstall(); }

    void emptyStart_showsHints()
    {
        CWLogin login(TestOptions());
        QCOMPARE(LoginForm::Account(&login)->currentText(), CWLogin::accountHint);
        QCOMPARE(LoginForm::Password(&login)->text(), CWLogin::passwordHint);
        QCOMPARE(LoginForm::Password(&login)->echoMode(), QLineEdit::Normal);
        QCOMPARE(LoginForm::Account(&login)->count(), 0);
        QCOMPARE(LoginForm::Account(&login)->objectName(), QStringLiteral("leditUser"));
        QCOMPARE(login.windowTitle(), QStringLiteral("用户登录-Velm"));
        QCOMPARE(login.size(), QSize(430, 330));
        QCOMPARE(LoginForm::Button(&login)->geometry(), QRect(325, 35, 60, 60));
    }

    void links_openTheWebSiteInTheBrowser()
    {
        UrlCatcher browser;
        CWLogin login(TestOptions());
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        QList<QLabel*> links;
        for (QLabel* label : login.findChildren<QLabel*>())
            if (label->openExternalLinks())
                links.append(label);
        QCOMPARE(links.size(), 2);
        for (QLabel* link : links)
            QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(8, link->height() / 2));
        QCOMPARE(browser.urls.size(), 2);
        QStringList pages{browser.urls.at(0).toString(), browser.urls.at(1).toString()};
        pages.sort();
        QCOMPARE(pages, (QStringList{ForgetPageUrl(), RegisterPageUrl()}));
    }

    void rememberedAccounts_fillTheForm()
    {
        remember({account(13800000001, QStringLiteral("velm123")), account(13800000002, QString())});
        CWLogin login(TestOptions());
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        QCOMPARE(LoginForm::Account(&login)->count(), 2);

        // The most recent account fills the form at start: a remembered password shows as dots.
        QCOMPARE(LoginForm::Account(&login)->currentText(), QStringLiteral("13800000001"));
        QCOMPARE(LoginForm::Password(&login)->text(), QStringLiteral("velm123"));
        QCOMPARE(LoginForm::Password(&login)->echoMode(), QLineEdit::Password);
        QVERIFY(LoginForm::Remember(&login)->isChecked());
        QVERIFY(!LoginForm::AutoLogin(&login)->isChecked());
        // No credential store answers here: the password stays in the file, and the window says so.
        QTRY_VERIFY(LoginForm::Remember(&login)->toolTip().contains(QLatin1String("users.xml")));
        QCOMPARE(UserStore().Users().first()->GetPassword(), QStringLiteral("velm123"));

        // Typing the other number in full fills its (empty) password and options, without the popup.
        QLineEdit* edit = LoginForm::Account(&login)->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("13800000002"));
        QCOMPARE(LoginForm::Password(&login)->text(), QString());
        QTRY_COMPARE(LoginForm::Remember(&login)->checkState(), Qt::Unchecked); // once the store has failed
        QVERIFY(!LoginForm::Account(&login)->view()->isVisible());

        // Choosing an account without password from the list puts the cursor into the password box.
        login.GetPasswordToInput(QStringLiteral("13800000002"));
        QTRY_VERIFY(LoginForm::Password(&login)->hasFocus());

        // A number nobody remembered clears the password and both options.
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("13800000001"));
        QCOMPARE(LoginForm::Password(&login)->text(), QStringLiteral("velm123"));
        QTest::keyClick(edit, Qt::Key_9);
        QCOMPARE(LoginForm::Password(&login)->text(), QString());
        QVERIFY(!LoginForm::Remember(&login)->isChecked());
        QVERIFY(loginRequests().isEmpty());
    }

    // What the avatar shows: the label's own movie, running, or a picture with no movie behind it.
    static void checkAvatar(CWebLabel* avatar, bool animated)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QList<QMovie*> movies = avatar->findChildren<QMovie*>();
        if (animated) {
            QCOMPARE(movies.size(), 1);
            QCOMPARE(avatar->movie(), movies.first());
            QCOMPARE(movies.first()->state(), QMovie::Running);
            QCOMPARE(movies.first()->fileName(), QStringLiteral(":/img/img/cattle.gif"));
        } else {
            QCOMPARE(movies.size(), 0);
            QVERIFY(!avatar->movie());
            QVERIFY(!avatar->pixmap(Qt::ReturnByValue).isNull());
        }
    }

    void avatar_keepsOneAnimationAtATime()
    {
        CUser withFace = account(13800000002, QStringLiteral("b"));
        withFace.SetFace(QStringLiteral("http://img.example/img/face/7.png"));
        QVERIFY(QDir().mkpath(FacesDir()));
        QPixmap face(40, 40);
        face.fill(Qt::green);
        QVERIFY(face.save(JoinPath(FacesDir(), QStringLiteral("7.png"))));
        remember({account(13800000001, QStringLiteral("a")), withFace});

        CWLogin login(TestOptions());
        CWebLabel* avatar = LoginForm::Avatar(&login);
        // The first remembered account has no picture of its own: the animation stands in for it.
        checkAvatar(avatar, true);
        QVERIFY(!QTest::currentTestFailed());

        QLineEdit* edit = LoginForm::Account(&login)->lineEdit();
        const QList<QPair<QString, bool>> typed{{"139", true},         {"13800000002", false},
                                                {"1380000000", true},  {"13800000002", false},
                                                {"13800000001", true}, {"138000000019", true}};
        for (const auto& step : typed) {
            edit->selectAll();
            QTest::keyClicks(edit, step.first);
            checkAvatar(avatar, step.second);
            QVERIFY2(!QTest::currentTestFailed(), qPrintable(step.first));
        }
        login.GetPasswordToInput(QStringLiteral("13800000002"));
        checkAvatar(avatar, false);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(avatar->pixmap(Qt::ReturnByValue).toImage().pixelColor(20, 20), QColor(Qt::green));
    }

    void enterWithHintsShowing_sendsNothing()
    {
        CWLogin login(TestOptions());
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        login.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&login));

        // Account hint still showing: the account box gets the focus, nothing goes out.
        LoginForm::Password(&login)->setFocus();
        QTest::keyClicks(LoginForm::Password(&login), QStringLiteral("secret"));
        pressEnter(LoginForm::Password(&login));
        QTRY_VERIFY(LoginForm::Account(&login)->hasFocus());
        QVERIFY(loginRequests().isEmpty());

        // A password that is a piece of the hint counts as empty and cannot be submitted.
        QTest::keyClicks(LoginForm::Account(&login)->lineEdit(), QStringLiteral("13800000001"));
        LoginForm::Password(&login)->setFocus();
        LoginForm::Password(&login)->setText(QStringLiteral("密"));
        pressEnter(LoginForm::Password(&login));
        QVERIFY(LoginForm::Password(&login)->hasFocus());
        QTest::mouseClick(LoginForm::Button(&login), Qt::LeftButton);
        QVERIFY(loginRequests().isEmpty());
        QVERIFY(!login.IsWaiting());

        // A real password goes out once, as account and MD5, even though Enter travels on to the
        // window, which watches key presses too.
        LoginForm::Password(&login)->setText(QStringLiteral("p&ss"));
        pressEnter(LoginForm::Password(&login));
        QTRY_COMPARE(loginRequests().size(), 1);
        QCOMPARE(loginRequests().first().body,
                 QByteArray("account=13800000001&pass=") + CUser::Md5Of(QStringLiteral("p&ss")).toLatin1());
        QTest::qWait(50);
        QCOMPARE(loginRequests().size(), 1);
    }

    void focusRules_clearAndRestoreHints()
    {
        CWLogin login(TestOptions());
        login.show();
        login.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&login));
        LoginForm::Account(&login)->setFocus();
        QTRY_COMPARE(LoginForm::Account(&login)->currentText(), QString());
        LoginForm::Password(&login)->setFocus();
        QTRY_COMPARE(LoginForm::Account(&login)->currentText(), CWLogin::accountHint);
        QCOMPARE(LoginForm::Password(&login)->text(), QString());
        QCOMPARE(LoginForm::Password(&login)->echoMode(), QLineEdit::Password);
        LoginForm::Button(&login)->setFocus();
        QTRY_COMPARE(LoginForm::Password(&login)->text(), CWLogin::passwordHint);
        QCOMPARE(LoginForm::Password(&login)->echoMode(), QLineEdit::Normal);
        // A typed password keeps its dots when the focus leaves.
        LoginForm::Password(&login)->setFocus();
        QTRY_COMPARE(LoginForm::Password(&login)->text(), QString());
        LoginForm::Password(&login)->setText(QStringLiteral("x"));
        LoginForm::Button(&login)->setFocus();
        QTRY_VERIFY(!LoginForm::Password(&login)->hasFocus());
        QCOMPARE(LoginForm::Password(&login)->text(), QStringLiteral("x"));
        QCOMPARE(LoginForm::Password(&login)->echoMode(), QLineEdit::Password);
    }

    void deletingRows_rewritesTheFileAndSparesLiveLocks()
    {
        remember({account(13800000001, QStringLiteral("a")), account(13800000002, QStringLiteral("b"))});
        const QString liveLock = AccountLockFile(13800000001);
        const QString staleLock = AccountLockFile(13800000002);
        QDir().mkpath(AccountDir(13800000001));
        QDir().mkpath(AccountDir(13800000002));
        QLockFile held(liveLock);
        QVERIFY(held.tryLock(0));
        QFile leftover(staleLock);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        // Left behind a while ago: a fresh unreadable file could be a lock still being written.
        QVERIFY(leftover.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                     QFileDevice::FileModificationTime));
        leftover.close();

        CWLogin login(TestOptions());
        auto* list = qobject_cast<QListWidget*>(LoginForm::Account(&login)->view());
        QVERIFY(list);
        auto* row = qobject_cast<ComboBoxItem*>(list->itemWidget(list->item(1)));
        QVERIFY(row);
        QCOMPARE(row->AccountText(), QStringLiteral("13800000002"));
        QTest::mouseClick(row->DeleteButton(), Qt::LeftButton);
        QCOMPARE(UserStore().Users().size(), 1);
        QCOMPARE(list->count(), 1);
        QVERIFY(!QFile::exists(staleLock));

        row = qobject_cast<ComboBoxItem*>(list->itemWidget(list->item(0)));
        QTest::mouseClick(row->DeleteButton(), Qt::LeftButton);
        QCOMPARE(UserStore().Users().size(), 0);
        // A session of this account is alive: its lock must survive the delete.
        QVERIFY(QFile::exists(liveLock));
        QVERIFY(held.isLocked());

        QFile file(UsersFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        QVERIFY2(xml.contains("<users/>") || xml.contains("<users></users>"), xml.constData());
        QVERIFY(!xml.contains("<user "));
    }

    void autoLogin_runsAtStartInTheFirstInstance()
    {
        remember({account(13800000001, QStringLiteral("velm123"), true)});
        CWLogin login(TestOptions());
        QVERIFY(LoginForm::AutoLogin(&login)->isChecked());
        QVERIFY(login.IsWaiting());
        QTRY_COMPARE(loginRequests().size(), 1);
        // Refused: the form comes back.
        QTRY_VERIFY(!login.IsWaiting());
    }

    void autoLogin_neverInASecondInstance()
    {
        remember({account(13800000001, QStringLiteral("velm123"), true)});
        const QString helper = QStringLiteral(TEST_HELPER_DIR "/helper_login");
        QTemporaryDir sockets;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), sockets.path());
        env.insert(QStringLiteral("TARVIK_API_HOST"), QStringLiteral("127.0.0.1:9")); // nobody answers

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(helper, {QStringLiteral("stay")});
        QVERIFY(first.waitForReadyRead(10000));
        QCOMPARE(QString::fromLatin1(first.readLine()).trimmed(), QStringLiteral("running=0 waiting=1"));

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(helper, {QStringLiteral("once")});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(QString::fromLatin1(second.readAllStandardOutput()).trimmed(),
                 QStringLiteral("running=1 waiting=0"));
        first.kill();
        first.waitForFinished();
    }
};

TARVIK_TEST_MAIN(TestCWLogin)
#include "tst_cwlogin.moc"
