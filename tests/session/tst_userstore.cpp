#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <sys/resource.h>

#include "app/constants.h"
#include "common/testmain.h"
#include "session/cuser.h"
#include "session/userstore.h"

class TestUserStore : public QObject
{
    Q_OBJECT

private:
    static void writeUsersFile(const QByteArray& content)
    {
        QVERIFY(QDir().mkpath(UsersDir()));
        QFile file(UsersFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    static QByteArray readUsersFile()
    {
        QFile file(UsersFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static CUser makeUser(qint64 account, const QString& password, bool remember, bool autoLogin)
    {
        CUser user;
        user.SetAccount(account);
        user.SetPassword(password);
        user.SetRememberPassword(remember);
        user.SetAutoLogin(autoLogin);
        user.SetNickname(QStringLiteral("小王%1").arg(account % 100));
        user.SetFace(QStringLiteral("http://img.example/face/%1.png").arg(account));
        user.SetLogDate(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53, 589)));
        return user;
    }

private slots:
    void init()
    {
        QFile::remove(UsersFile());
        for (const QString& kept : unreadableCopies())
            QFile::remove(JoinPath(UsersDir(), kept));
    }

    static QStringList unreadableCopies()
    {
        return QDir(UsersDir()).entryList({QStringLiteral("users.xml.unreadable-*")}, QDir::Files);
    }

    void passwordEncoding_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("ascii") << "secret";
        QTest::newRow("form characters") << "a&b=c+d%20";
        QTest::newRow("one character") << "x";
        QTest::newRow("empty") << "";
    }
    void passwordEncoding()
    {
        QFETCH(QString, password);
        const QString stored = EncodePassword(password);
        QCOMPARE(QByteArray::fromBase64(stored.toLatin1()), ("Amber," + password + "Piano!").toLocal8Bit());
        QCOMPARE(DecodePassword(stored), password);
    }

    void decodeGarbage_dropsTwelveCharacters()
    {
        QCOMPARE(DecodePassword(QStringLiteral("not base64 at all")), QString());
        // Shorter than prefix and suffix together: nothing is left.
        QCOMPARE(DecodePassword(QString::fromLatin1(QByteArray("Amber,Piano").toBase64())), QString());
        // Fourteen characters of anything: the middle two survive.
        QCOMPARE(DecodePassword(QString::fromLatin1(QByteArray("AAAAAAxyBBBBBB").toBase64())),
                 QStringLiteral("xy"));
    }

    void md5OfPassword()
    {
        CUser user;
        user.SetPassword(QStringLiteral("velm123"));
        QCOMPARE(user.GetPasswordMd5(), QStringLiteral("234c245fe01431c90aa250b878a28abc"));
        user.SetPassword(QString());
        QVERIFY(user.GetPassword().isEmpty());
        QCOMPARE(CUser::Md5Of(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
        QCOMPARE(CUser::Md5Of(QStringLiteral("abc")), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    }

    void roundTrip_keepsOrderOptionsAndLogDates()
    {
        const CUser first = makeUser(13800000001, QStringLiteral("pa&ss"), true, true);
        const CUser second = makeUser(13800000002, QStringLiteral("hidden"), false, true);
        CUser third = makeUser(13800000003, QStringLiteral("x"), false, false);
        third.SetLogDate(QDateTime());
        CUser a(first), b(second), c(third);
        {
            UserStore store(QVector<CUser*>{&a, nullptr, &b, &c});
            QCOMPARE(store.Users().size(), 3);
            QVERIFY(store.Save());
        }

        UserStore loaded;
        const QVector<CUser*>& users = loaded.Users();
        QCOMPARE(users.size(), 3);
        QCOMPARE(users[0]->GetAccount(), Q_INT64_C(13800000001));
        QCOMPARE(users[1]->GetAccount(), Q_INT64_C(13800000002));
        QCOMPARE(users[2]->GetAccount(), Q_INT64_C(13800000003));

        QCOMPARE(users[0]->GetPassword(), QStringLiteral("pa&ss"));
        QCOMPARE(users[0]->GetPasswordMd5(), CUser::Md5Of(QStringLiteral("pa&ss")));
        QVERIFY(users[0]->GetRememberPassword());
        QVERIFY(users[0]->GetAutoLogin());

        // Auto-login without remember-password: the option survives, the password does not.
        QVERIFY(users[1]->GetAutoLogin());
        QVERIFY(!users[1]->GetRememberPassword());
        QVERIFY(users[1]->GetPassword().isEmpty());

        QCOMPARE(users[0]->GetNickname(), first.GetNickname());
        QCOMPARE(users[0]->GetFace(), first.GetFace());
        QCOMPARE(users[0]->GetLogDate(), QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
        QVERIFY(!users[2]->GetLogDate().isValid());

        const QByteArray xml = readUsersFile();
        QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QVERIFY(xml.contains("<user id=\"13800000001\" autologin=\"true\">"));
        QVERIFY(xml.contains("<user id=\"13800000003\">"));
        QVERIFY(xml.contains("<username>13800000002</username>"));
        QVERIFY(xml.contains("<password></password>") || xml.contains("<password/>"));
        QVERIFY(xml.contains("<logdate></logdate>") || xml.contains("<logdate/>"));
        QVERIFY(xml.contains("    <user"));
    }

    void textXmlCannotHold_isLeftOutAndLaterSavesStillWork_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("read");

        QTest::newRow("control character") << QStringLiteral("A\u0001B") << QStringLiteral("AB");
        QTest::newRow("nul") << QString::fromUtf16(u"A\u0000B", 3) << QStringLiteral("AB");
        QTest::newRow("escape, backspace, vertical tab, form feed, unit separator")
            << QStringLiteral("\u001b[1m\u0008\u000b\u000c\u001fx") << QStringLiteral("[1mx");
        QTest::newRow("lone high surrogate") << QString::fromUtf16(u"x\xD800y", 3) << QStringLiteral("xy");
        QTest::newRow("lone low surrogate at the start")
            << QString::fromUtf16(u"\xDC00z", 2) << QStringLiteral("z");
        QTest::newRow("swapped surrogate pair") << QString::fromUtf16(u"\xDE00\xD83D", 2) << QString();
        QTest::newRow("not characters") << QStringLiteral("a\uFFFEb\uFFFFc") << QStringLiteral("abc");
        QTest::newRow("kept: carriage returns")
            << QStringLiteral("a\r\nb\rc\r") << QStringLiteral("a\r\nb\rc\r");
        QTest::newRow("kept: tab, line feed, pairs, CJK, U+FFFD")
            << QStringLiteral("店\t长\n😀\uFFFD") << QStringLiteral("店\t长\n😀\uFFFD");
    }
    void textXmlCannotHold_isLeftOutAndLaterSavesStillWork()
    {
        QFETCH(QString, written);
        QFETCH(QString, read);
        CUser user = makeUser(13800000001, QStringLiteral("pw"), true, true);
        user.SetNickname(written);
        user.SetFace(QStringLiteral("http://img.example/") + written);
        CUser other = makeUser(13800000002, QStringLiteral("pw2"), true, false);
        {
            UserStore store(QVector<CUser*>{&user, &other});
            QVERIFY(store.Save());
        }
        {
            UserStore loaded;
            QCOMPARE(loaded.Users().size(), 2);
            QCOMPARE(loaded.Users()[0]->GetNickname(), read);
            QCOMPARE(loaded.Users()[0]->GetFace(), QStringLiteral("http://img.example/") + read);
            QCOMPARE(loaded.Users()[0]->GetPassword(), QStringLiteral("pw"));
            QCOMPARE(loaded.Users()[1]->GetPassword(), QStringLiteral("pw2"));
        }

        // The next login saves the same record with a new date and another account changed: the
        // change is written, not refused because of the old nickname.
        user.SetLogDate(QDateTime(QDate(2026, 3, 15), QTime(8, 0)));
        other.SetRememberPassword(false);
        UserStore store(QVector<CUser*>{&user, &other});
        QVERIFY(store.Save());
        UserStore loaded;
        QCOMPARE(loaded.Users()[0]->GetLogDate(), QDateTime(QDate(2026, 3, 15), QTime(8, 0)));
        QCOMPARE(loaded.Users()[0]->GetNickname(), read);
        QVERIFY(!loaded.Users()[1]->GetRememberPassword());
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("expected"); // "account:autologin:remember:nickname" per record

        const QByteArray pw = EncodePassword(QStringLiteral("pw")).toLatin1();
        QTest::newRow("autologin spelled True is not set")
            << QByteArray(
                   "<users><user id=\"1\" autologin=\"True\"/><user id=\"2\" autologin=\"1\"/></users>")
            << QStringList{"1:0:0:", "2:0:0:"};
        QTest::newRow("duplicate ids give two records")
            << QByteArray("<users><user id=\"5\"><nickname>a</nickname></user>"
                          "<user id=\"5\"><nickname>b</nickname></user></users>")
            << QStringList{"5:0:0:a", "5:0:0:b"};
        QTest::newRow("user without id lends its children to the record before")
            << QByteArray("<users><user id=\"7\"><nickname>a</nickname></user>"
                          "<user><nickname>orphan</nickname></user></users>")
            << QStringList{"7:0:0:orphan"};
        QTest::newRow("children before any record go nowhere")
            << QByteArray("<users><nickname>lost</nickname><user id=\"8\"/></users>")
            << QStringList{"8:0:0:"};
        QTest::newRow("malformed xml keeps the records read before the error")
            << QByteArray("<users><user id=\"9\"><password>" + pw + "</password></user><user id=\"10\"><nick")
            << QStringList{"9:0:1:", "10:0:0:"};
        QTest::newRow("names are case-sensitive")
            << QByteArray("<users><USER id=\"11\"/><user ID=\"12\"/><user "
                          "id=\"13\"><NickName>x</NickName></user></users>")
            << QStringList{"13:0:0:"};
        QTest::newRow("not a number reads as 0")
            << QByteArray("<users><user id=\"abc\"/></users>") << QStringList{"0:0:0:"};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
    }
    void reading()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, expected);
        writeUsersFile(xml);
        UserStore store;
        QStringList actual;
        for (const CUser* user : store.Users())
            actual << QStringLiteral("%1:%2:%3:%4")
                          .arg(user->GetAccount())
                          .arg(int(user->GetAutoLogin()))
                          .arg(int(user->GetRememberPassword()))
                          .arg(user->GetNickname());
        QCOMPARE(actual, expected);
    }

    void corruptFile_keepsEveryReadableRecordAndTheFileBeside_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("expected"); // "account:nickname:password" per record

        const auto record = [](const char* id, const QByteArray& nickname,
                               const char* password) -> QByteArray {
            return "  <user id=\"" + QByteArray(id) + "\">\n    <username>" + id +
                   "</username>\n    <password>" + EncodePassword(QString::fromLatin1(password)).toLatin1() +
                   "</password>\n    <nickname>" + nickname + "</nickname>\n  </user>\n";
        };
        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n";
        const QByteArray first = record("1", "甲", "pw1");
        const QByteArray last = record("3", "丙 &amp; 丁", "pw3");
        QTest::newRow("raw ampersand in one nickname")
            << QByteArray(head + first + record("2", "Tom & Jerry", "pw2") + last + "</users>\n")
            << QStringList{"1:甲:pw1", "2:Tom & Jerry:pw2", "3:丙 & 丁:pw3"};
        QTest::newRow("one record broken beyond repair")
            << QByteArray(head + first + "  <user id=\"2\"><nickname>x</nick></user>\n" + last + "</users>\n")
            << QStringList{"1:甲:pw1", "2:x:", "3:丙 & 丁:pw3"};
        QTest::newRow("not xml at all") << QByteArray("\x01\x02PK garbage\xff") << QStringList{};
    }
    void corruptFile_keepsEveryReadableRecordAndTheFileBeside()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, expected);
        writeUsersFile(xml);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("users\\.xml could not be read whole .*"));
        UserStore loaded;
        QStringList actual;
        for (const CUser* user : loaded.Users())
            actual << QStringLiteral("%1:%2:%3")
                          .arg(user->GetAccount())
                          .arg(user->GetNickname(), user->GetPassword());
        QCOMPARE(actual, expected);
        QCOMPARE(readUsersFile(), xml); // reading changes nothing

        // The next login saves: the unreadable file is kept beside first, byte for byte.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not be read; kept as .*unreadable-.*"));
        QVERIFY(UserStore(loaded.Users()).Save());
        const QStringList kept = unreadableCopies();
        QCOMPARE(kept.size(), 1);
        QVERIFY2(
            QRegularExpression("^users\\.xml\\.unreadable-\\d{8}-\\d{6}$").match(kept.first()).hasMatch(),
            qPrintable(kept.first()));
        QFile copy(JoinPath(UsersDir(), kept.first()));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), xml);
        QVERIFY(!(copy.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));

        // What was recovered is written in the usual format and reads back whole; saving that adds no copy.
        UserStore reread;
        QCOMPARE(reread.Users().size(), expected.size());
        QVERIFY(readUsersFile().startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QVERIFY(UserStore(reread.Users()).Save());
        QCOMPARE(unreadableCopies(), kept);
    }

    void missingFile_givesNoAccounts()
    {
        UserStore store;
        QVERIFY(store.Users().isEmpty());
    }

    void savedFile_isPrivateToItsOwner()
    {
        CUser user = makeUser(1, QStringLiteral("pw"), true, false);
        UserStore store(QVector<CUser*>{&user});
        QVERIFY(store.Save());
        const QFileDevice::Permissions perms = QFileInfo(UsersFile()).permissions();
        QCOMPARE(perms & (QFileDevice::ReadOwner | QFileDevice::WriteOwner),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(perms & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                          QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        // Saving over an existing, more open file tightens it again.
        QFile::setPermissions(UsersFile(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        QVERIFY(store.Save());
        QVERIFY(!(QFileInfo(UsersFile()).permissions() & QFileDevice::ReadOther));
    }

    void failedSave_leavesPreviousFileIntact()
    {
        CUser one = makeUser(42, QStringLiteral("pw"), true, false);
        {
            UserStore store(QVector<CUser*>{&one});
            QVERIFY(store.Save());
        }
        const QByteArray before = readUsersFile();

        // A write that runs out of room half way: the file-size limit makes writes fail with EFBIG.
        QVector<CUser> many;
        for (int i = 0; i < 300; ++i)
            many.append(makeUser(13900000000 + i, QStringLiteral("password%1").arg(i), true, false));
        QVector<CUser*> pointers;
        for (CUser& user : many)
            pointers.append(&user);

        rlimit original{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &original), 0);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = original;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        bool saved = true;
        {
            UserStore store(pointers);
            saved = store.Save();
        }
        setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!saved);
        QCOMPARE(readUsersFile(), before);
        UserStore reread;
        QCOMPARE(reread.Users().size(), 1);
        QCOMPARE(reread.Users().first()->GetPassword(), QStringLiteral("pw"));
    }

    void saveFails_whenDataFolderCannotBeCreated()
    {
        // A plain file where the "All Users" folder should be.
        QDir().mkpath(DataDir());
        QDir(UsersDir()).removeRecursively();
        QFile blocker(UsersDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        CUser user = makeUser(1, QString(), false, false);
        UserStore store(QVector<CUser*>{&user});
        QVERIFY(!store.Save());
        QFile::remove(UsersDir());
    }

    void logDateText()
    {
        CUser user;
        user.SetLogDateText(QStringLiteral("2016-05-01 09:30:00"));
        QCOMPARE(user.GetLogDate(), QDateTime(QDate(2016, 5, 1), QTime(9, 30)));
        user.SetLogDateText(QStringLiteral("yesterday"));
        QVERIFY(!user.GetLogDate().isValid());
        QCOMPARE(user.SexText(), QStringLiteral("女"));
        user.SetSex(true);
        QCOMPARE(user.SexText(), QStringLiteral("男"));
    }
};

TARVIK_TEST_MAIN(TestUserStore)
#include "tst_userstore.moc"
