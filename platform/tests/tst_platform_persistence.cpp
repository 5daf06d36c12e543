// What the server answered is on disk: after a clean stop, after a kill, and --reset.

#include "common/platformprocess.h"
#include "common/testmain.h"

#include <QJsonArray>
#include <QTemporaryDir>

namespace {

QJsonArray OrderList(PlatformProcess& platform, const PlatformProcess::Session& session)
{
    return platform.post(QStringLiteral("StaffOrderList"), session.form() + QStringLiteral("&pager=1"))
        .value("info")
        .toObject()
        .value("commos")
        .toArray();
}

} // namespace

class PlatformPersistenceTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void restartKeepsEverything();
    void killedServerLosesNothingItAnswered();
    void resetEmptiesTheDatabase();

private:
    QStringList dbArgs(const QStringList& more = QStringList()) const
    {
        return QStringList{QStringLiteral("--db"), dir->filePath(QStringLiteral("platform.sqlite"))} + more;
    }

    std::unique_ptr<QTemporaryDir> dir;
};

void PlatformPersistenceTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void PlatformPersistenceTest::restartKeepsEverything()
{
    PlatformProcess::Session session;
    qint64 finished = 0;
    qint64 answered = 0;
    qint64 asked = 0;
    QJsonArray listBefore;
    QJsonObject cashBefore;
    QString newestStamp;
    {
        PlatformProcess first(dbArgs({QStringLiteral("--seed")}));
        QVERIFY2(first.isRunning(), qPrintable(first.errorString()));
        session =
            first.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        QVERIFY(session.isValid());
        finished = first.createOrder(QJsonObject{{"status", 1}, {"password", "111111"}});
        answered = first.createOrder(QJsonObject{{"status", 3}, {"content", QStringLiteral("好吃")}});
        asked = first.createOrder(QJsonObject{{"status", 1}});
        QCOMPARE(first
                     .post(QStringLiteral("StaffFinishOrder"),
                           session.form() + QStringLiteral("&pass=111111&oid=%1").arg(finished))
                     .value("status")
                     .toInt(),
                 1);
        QCOMPARE(first
                     .post(QStringLiteral("StaffReply"),
                           session.form() + QStringLiteral("&replay=谢谢&oid=%1").arg(answered))
                     .value("status")
                     .toInt(),
                 1);
        newestStamp = first.changeOrder(asked, QJsonObject{{"confirm", true}}).value("ertime").toString();
        QVERIFY(!newestStamp.isEmpty());
        listBefore = OrderList(first, session);
        cashBefore = first.post(QStringLiteral("CashUpdate"), session.form()).value("info").toObject();
        QVERIFY(first.stop());
    }

    PlatformProcess second(dbArgs({QStringLiteral("--seed")}));
    QVERIFY2(second.isRunning(), qPrintable(second.errorString()));
    QVERIFY(second.waitForOutput(QStringLiteral("left it as it is"), 2000));
    // The login of the first run is still good.
    QCOMPARE(OrderList(second, session), listBefore);
    QCOMPARE(second.post(QStringLiteral("CashUpdate"), session.form()).value("info").toObject(), cashBefore);
    QCOMPARE(second.order(finished).value("status").toInt(), 2);
    QCOMPARE(second.order(answered).value("reply").toString(), QStringLiteral("谢谢"));
    QVERIFY(second.order(asked).value("confirm").toBool());

    // Update stamps go on after the newest one of the first run.
    second.changeOrder(finished, QJsonObject{{"status", 3}, {"content", QStringLiteral("不错")}});
    const QJsonArray changed =
        second
            .post(QStringLiteral("PayFinishOrder"), session.form() + QStringLiteral("&ertime=") + newestStamp)
            .value("info")
            .toObject()
            .value("commos")
            .toArray();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().toObject().value("id").toVariant().toLongLong(), finished);
}

void PlatformPersistenceTest::killedServerLosesNothingItAnswered()
{
    qint64 id = 0;
    {
        PlatformProcess first(dbArgs({QStringLiteral("--seed")}));
        QVERIFY2(first.isRunning(), qPrintable(first.errorString()));
        const PlatformProcess::Session session =
            first.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
        id = first.createOrder(QJsonObject{{"status", 1}, {"password", "222222"}});
        QVERIFY(id);
        QCOMPARE(first
                     .post(QStringLiteral("StaffFinishOrder"),
                           session.form() + QStringLiteral("&pass=222222&oid=%1").arg(id))
                     .value("status")
                     .toInt(),
                 1);
        first.kill();
    }
    PlatformProcess second(dbArgs());
    QVERIFY2(second.isRunning(), qPrintable(second.errorString()));
    QCOMPARE(second.order(id).value("status").toInt(), 2);
    const PlatformProcess::Session session =
        second.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    const QJsonArray today =
        second.post(QStringLiteral("AddShopCash"), session.form() + QStringLiteral("&way=day"))
            .value("info")
            .toArray();
    QVERIFY(std::any_of(today.begin(), today.end(), [&](const QJsonValue& entry) {
        return entry["order_id"].toVariant().toLongLong() == id;
    }));
}

void PlatformPersistenceTest::resetEmptiesTheDatabase()
{
    {
        PlatformProcess first(dbArgs({QStringLiteral("--seed")}));
        QVERIFY(first.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword))
                    .isValid());
    }
    {
        PlatformProcess emptied(dbArgs({QStringLiteral("--reset")}));
        QVERIFY2(emptied.isRunning(), qPrintable(emptied.errorString()));
        QVERIFY(emptied.waitForOutput(QStringLiteral("database is empty"), 2000));
        QVERIFY(
            !emptied.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword))
                 .isValid());
    }
    PlatformProcess reseeded(dbArgs({QStringLiteral("--reset"), QStringLiteral("--seed")}));
    const PlatformProcess::Session session =
        reseeded.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(session.isValid());
    QVERIFY(OrderList(reseeded, session).size() >= 200);
}

TARVIK_TEST_MAIN(PlatformPersistenceTest)
#include "tst_platform_persistence.moc"
