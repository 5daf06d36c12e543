#include <QLabel>
#include <QPushButton>

#include "common/fakenetwork.h"
#include "common/platformprocess.h"
#include "common/testsession.h"
#include "common/testmain.h"
#include "main/ui/cwuserinfo.h"
#include "net/request.h"
#include "session/csession.h"
#include "ui/cweblabel.h"
#include "ui/msgbox.h"

// The profile window against the local platform server.
class TestUserInfo : public QObject
{
    Q_OBJECT

    QScopedPointer<PlatformProcess> platform;
    // Owned here rather than by each test function, so that a failed check (which returns early)
    // never leaves a window writing into a record that is gone; cleanup() closes the window.
    CUser user;
    std::unique_ptr<CSession> session; // of the open window, which it outlives
    QPointer<CWUserInfo> window;

    // The session's record: what the window wrote into.
    const CUser& record() const { return session ? *session->User() : user; }

    // A session record logged in the way the login window leaves it.
    void logIn(qint64 account, const char* password)
    {
        const PlatformProcess::Session session = platform->login(account, QString::fromLatin1(password));
        user.SetAccount(account);
        user.SetId(session.id);
        user.SetKey(session.key);
        user.SetToken(session.token);
    }

    void openWindow(CUser* login, int transferTimeout = 30000)
    {
        session = login ? MakeSession(*login, TestOptions(1000, transferTimeout)) : nullptr;
        window = new CWUserInfo(session.get());
        window->resize(560, 580);
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            qWarning("profile window not exposed");
    }

    // The window's parts, found as a person would point at them: by name.
    static CMsgBox* msgBox(const CWUserInfo* window) { return window->findChild<CMsgBox*>(); }
    static QLabel* nameLabel(const CWUserInfo* window)
    {
        return window->findChild<QLabel*>(QStringLiteral("lblUserName"));
    }
    static CWebLabel* faceLabel(const CWUserInfo* window)
    {
        return window->findChild<CWebLabel*>(QStringLiteral("lblUserFace"));
    }
    static QPushButton* retryButton(const CWUserInfo* window)
    {
        return window->findChild<QPushButton*>(QStringLiteral("pbtnRetry"));
    }
    // The eleven information lines, top to bottom; null for a line the window does not have.
    static QList<QLabel*> infoLines(const CWUserInfo* window)
    {
        QList<QLabel*> lines;
        for (const char* name : {"lblInfoAccount", "lblInfoNickname", "lblInfoBalance", "lblInfoSex",
                                 "lblInfoAge", "lblInfoAddress", "lblInfoMobile", "lblInfoQQ", "lblInfoName",
                                 "lblInfoMembership", "lblInfoPhone"})
            lines << window->findChild<QLabel*>(QLatin1String(name));
        return lines;
    }

    static bool loading(const CWUserInfo* window)
    {
        return msgBox(window)->LoadingLabel() && msgBox(window)->LoadingLabel()->isVisible();
    }

    static QStringList lineTexts(const CWUserInfo* window)
    {
        QStringList texts;
        for (const QLabel* line : infoLines(window))
            texts << line->text();
        return texts;
    }

private slots:
    void initTestCase()
    {
        platform.reset(new PlatformProcess({QStringLiteral("--seed")}));
        QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
        platform->serveClient();
    }

    void init() { user = CUser(); }

    void cleanup()
    {
        delete window;
        session.reset();
        platform->clearFaults();
    }

    void realReply_fillsRecordAndLinesInOrder()
    {
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(record().GetId() > 0);
        QVERIFY(platform->setCash(123.45, 999));
        const QJsonObject expected =
            platform
                ->post(QStringLiteral("UserInfo"), QStringLiteral("id=%1&key=%2&token=%3&")
                                                       .arg(record().GetId())
                                                       .arg(record().GetKey(), record().GetToken()))
                .value(QStringLiteral("info"))
                .toObject();
        QVERIFY(!expected.isEmpty());

        openWindow(&user);
        QVERIFY(loading(window));
        QTRY_VERIFY(!loading(window));

        QCOMPARE(record().GetNickname(), QStringLiteral("小王"));
        QCOMPARE(record().GetMaiName(), QStringLiteral("王小明"));
        QCOMPARE(record().GetMaiQQ(), expected.value(QStringLiteral("maiqq")).toString());
        QCOMPARE(record().GetPaymentCode(), expected.value(QStringLiteral("payment_code")).toString());
        QCOMPARE(record().GetMaiCode(), expected.value(QStringLiteral("maicode")).toString());
        QCOMPARE(record().GetFace(), expected.value(QStringLiteral("face")).toString());
        QVERIFY(record().GetCtime().isValid());

        const QString phone = expected.value(QStringLiteral("maidianhua")).toString();
        const QString sex =
            expected.value(QStringLiteral("sex")).toInt() ? QStringLiteral("男") : QStringLiteral("女");
        // Staff member since March two years ago: whole calendar years count.
        const QStringList expectedLines{QStringLiteral("账  号：13800000001"),
                                        QStringLiteral("昵  称：小王"),
                                        QStringLiteral("余  额：123.45 元"),
                                        QStringLiteral("性  别：") + sex,
                                        QStringLiteral("年  龄："),
                                        QStringLiteral("地  址："),
                                        QStringLiteral("手  机：") + phone,
                                        QStringLiteral("Q   Q：") + record().GetMaiQQ(),
                                        QStringLiteral("姓  名：王小明"),
                                        QStringLiteral("Velm  龄：2 年"),
                                        QStringLiteral("电  话：") + phone};
        QCOMPARE(lineTexts(window), expectedLines);
        QCOMPARE(nameLabel(window)->text(), QStringLiteral("小王"));

        // Groups of three, three, two and three lines, 24 px apart, 48 px between groups.
        const QList<int> expectedY{20, 44, 68, 116, 140, 164, 212, 236, 284, 308, 332};
        QList<int> ys;
        for (const QLabel* line : infoLines(window)) {
            QVERIFY(line->isVisible());
            QCOMPARE(line->x(), 20);
            QVERIFY2(line->width() >= line->sizeHint().width(), qPrintable(line->text()));
            ys << line->y();
        }
        QCOMPARE(ys, expectedY);
        QVERIFY(!retryButton(window)->isVisible());
        QCOMPARE(faceLabel(window)->geometry(), QRect(20, 45, 90, 90));
        QCOMPARE(nameLabel(window)->pos(), QPoint(120, 45));
        QTRY_VERIFY(!faceLabel(window)->pixmap(Qt::ReturnByValue).isNull());
    }

    void membership_data()
    {
        QTest::addColumn<QDateTime>("since");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("expected");

        QTest::newRow("same year") << QDateTime(QDate(2026, 3, 9), QTime(8, 0)) << QDate(2026, 7, 1)
                                   << QStringLiteral("4 月");
        QTest::newRow("same month") << QDateTime(QDate(2026, 7, 30), QTime(8, 0)) << QDate(2026, 7, 31)
                                    << QStringLiteral("0 月");
        QTest::newRow("year before, later month")
            << QDateTime(QDate(2025, 11, 9), QTime(8, 0)) << QDate(2026, 7, 1) << QStringLiteral("1 年");
        QTest::newRow("december to january")
            << QDateTime(QDate(2025, 12, 31), QTime(23, 0)) << QDate(2026, 1, 1) << QStringLiteral("1 年");
        QTest::newRow("years") << QDateTime(QDate(2019, 1, 1), QTime(0, 0)) << QDate(2026, 12, 31)
                               << QStringLiteral("7 年");
        QTest::newRow("unknown") << QDateTime() << QDate(2026, 7, 1) << QString();
    }
    void membership()
    {
        QFETCH(QDateTime, since);
        QFETCH(QDate, today);
        QFETCH(QString, expected);
        QCOMPARE(CWUserInfo::MembershipText(since, today), expected);
    }

    void recentMember_countsMonths()
    {
        // The second demo account joined at the end of last month.
        logIn(PlatformProcess::SecondDemoAccount, PlatformProcess::SecondDemoPassword);
        openWindow(&user);
        QTRY_COMPARE(nameLabel(window)->text(), QStringLiteral("小李"));
        const QString expected =
            QDate::currentDate().month() == 1 ? QStringLiteral("1 年") : QStringLiteral("1 月");
        QCOMPARE(infoLines(window).at(9)->text(), QStringLiteral("Velm  龄：") + expected);
    }

    void negativeBalance_showsZero()
    {
        QVERIFY(platform->setCash(-5, 0));
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        openWindow(&user);
        QTRY_COMPARE(record().GetBalance(), -5.0f);
        QCOMPARE(infoLines(window).at(2)->text(), QStringLiteral("余  额：0.00 元"));
    }

    void networkError_offersRetryOverIndicator_data()
    {
        QTest::addColumn<int>("failures");
        QTest::newRow("one failure") << 1;
        QTest::newRow("retry fails again") << 2;
    }
    void networkError_offersRetryOverIndicator()
    {
        QFETCH(int, failures);
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(
            platform->setFault(QStringLiteral("UserInfo"), QStringLiteral("http500"), QVariant(), failures));

        openWindow(&user);
        QPushButton* retry = retryButton(window);
        for (int failure = 0; failure < failures; ++failure) {
            QTRY_VERIFY(retry->isVisible());
            QVERIFY(retry->isEnabled());
            QCOMPARE(retry->text(), QStringLiteral("失败，请点击重试！"));
            // The indicator keeps playing, behind the button.
            QVERIFY(loading(window));
            QVERIFY(window->children().indexOf(retry) >
                    window->children().indexOf(msgBox(window)->LoadingLabel()));
            const QRect visible = window->VisibleRect();
            QCOMPARE(retry->geometry().center().x(), visible.center().x());
            QVERIFY(!msgBox(window)->MsgBoxLabel());
            QCOMPARE(infoLines(window).at(1)->text(), QStringLiteral("昵  称："));

            QTest::mouseClick(retry, Qt::LeftButton);
            QVERIFY(!retry->isVisible());
            QVERIFY(loading(window));
        }
        QTRY_COMPARE(infoLines(window).at(1)->text(), QStringLiteral("昵  称：小王"));
        QVERIFY(!loading(window));
        QVERIFY(!retry->isVisible());
    }

    void timeout_offersRetry()
    {
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(platform->setFault(QStringLiteral("UserInfo"), QStringLiteral("hang")));
        openWindow(&user, 300);
        QTRY_VERIFY(retryButton(window)->isVisible());
    }

    void refusal_showsServerTextThatStays()
    {
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(platform->setFault(QStringLiteral("UserInfo"), QStringLiteral("refuse"),
                                   QStringLiteral("资料暂不可用")));
        openWindow(&user);
        QTRY_VERIFY(msgBox(window)->MsgBoxLabel() && msgBox(window)->MsgBoxLabel()->isVisible());
        QLabel* box = msgBox(window)->MsgBoxLabel();
        QCOMPARE(box->text(), QStringLiteral("资料暂不可用"));
        QVERIFY(!msgBox(window)->MsgBoxTimer());
        QVERIFY(!loading(window));
        QVERIFY(!retryButton(window)->isVisible());
        // Centred across the visible width, in the bottom band.
        QCOMPARE(box->x(), (window->width() - box->width()) / 2);
        QCOMPARE(box->y(), window->TopBandHeight() + (window->BottomBandHeight() - box->height()) / 2);
        QTest::qWait(200);
        QVERIFY(box->isVisible());
    }

    void notJson_onlyStopsTheIndicator()
    {
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        user.SetNickname(QStringLiteral("旧昵称"));
        QVERIFY(platform->setFault(QStringLiteral("UserInfo"), QStringLiteral("notjson")));
        openWindow(&user);
        QTRY_VERIFY(!loading(window));
        QCOMPARE(infoLines(window).at(1)->text(), QStringLiteral("昵  称：旧昵称"));
        QVERIFY(!retryButton(window)->isVisible());
        QVERIFY(!msgBox(window)->MsgBoxLabel());
    }

    void missingKeys_clearFieldsButKeepTheSession()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json(R"({"status":1,"info":{"nickname":"阿明","ctime":"不是日期"}})");
        });
        user.SetId(7);
        user.SetAccount(13800000009LL);
        user.SetKey(QStringLiteral("k&1"));
        user.SetToken(QStringLiteral("t"));
        user.SetBalance(88);
        user.SetMaiName(QStringLiteral("旧名"));
        openWindow(&user);
        QTRY_COMPARE(nameLabel(window)->text(), QStringLiteral("阿明"));
        FakeNetworkManager::Uninstall();

        // The form it sent and each field of the record: tst_profilejob.
        QCOMPARE(FakeNetworkManager::Recorded().size(), 1);
        QCOMPARE(infoLines(window).at(2)->text(), QStringLiteral("余  额：0.00 元"));
        QCOMPARE(infoLines(window).at(8)->text(), QStringLiteral("姓  名："));
        QCOMPARE(infoLines(window).at(0)->text(), QStringLiteral("账  号：13800000009"));
        QCOMPARE(infoLines(window).at(9)->text(), QStringLiteral("Velm  龄："));
    }

    void emptyNickname_showsAccount()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json(R"({"status":1,"info":{"id":3,"name":13800000005,"nickname":""}})");
        });
        user.SetNickname(QStringLiteral("小王"));
        openWindow(&user);
        QTRY_COMPARE(nameLabel(window)->text(), QStringLiteral("13800000005"));
        FakeNetworkManager::Uninstall();
        QCOMPARE(record().GetId(), 3);
    }

    void closedWhileFetching_isSafe()
    {
        logIn(PlatformProcess::DemoAccount, PlatformProcess::DemoPassword);
        QVERIFY(platform->setFault(QStringLiteral("UserInfo"), QStringLiteral("delay"), 300));
        openWindow(&user);
        QVERIFY(loading(window));
        window->close();
        QTRY_VERIFY(!window);
        QTest::qWait(500);
    }

    void withoutUser_staysEmpty()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) { return FakeResponse::Hang(); });
        openWindow(nullptr);
        QVERIFY(!retryButton(window));
        QVERIFY(infoLines(window).first() == nullptr);
        QTest::qWait(50);
        FakeNetworkManager::Uninstall();
        QVERIFY(FakeNetworkManager::Recorded().isEmpty());
    }
};

TARVIK_TEST_MAIN(TestUserInfo)
#include "tst_cwuserinfo.moc"
