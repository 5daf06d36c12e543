// Simulated buyers at a fast pace: what they print is what the API then reports.

#include "common/platformprocess.h"
#include "common/testmain.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {

// The order number of the last printed line that matches `pattern` (first capture).
qint64 LastMatch(const QStringList& lines, const QRegularExpression& pattern, QString* second = nullptr)
{
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QRegularExpressionMatch match = pattern.match(*it);
        if (match.hasMatch()) {
            if (second)
                *second = match.captured(2);
            return match.captured(1).toLongLong();
        }
    }
    return 0;
}

} // namespace

class PlatformSimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void buyersOrderAskAndReview();
};

void PlatformSimulatorTest::buyersOrderAskAndReview()
{
    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--simulate"),
                              QStringLiteral("--sim-pace"), QStringLiteral("0.3"),
                              QStringLiteral("--sim-pay-later")});
    QVERIFY2(platform.isRunning(), qPrintable(platform.errorString()));
    const PlatformProcess::Session session =
        platform.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    QVERIFY(session.isValid());
    const QString since =
        QDateTime::currentDateTime().addSecs(-5).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));

    // A new paid order, reported by the new-order poll, finished with the code the buyer holds.
    QVERIFY(platform.waitForOutput(QStringLiteral("] new order "), 5000));
    QString code;
    const qint64 created =
        LastMatch(platform.outputLines(),
                  QRegularExpression(QStringLiteral("new order (\\d+):.*buyer's code (\\d+)")), &code);
    QVERIFY(created);
    const QJsonArray news =
        platform
            .post(QStringLiteral("UpdateStaffOrderList"), session.form() + QStringLiteral("&time=") + since)
            .value("info")
            .toObject()
            .value("commos")
            .toArray();
    const auto found = std::find_if(news.begin(), news.end(), [&](const QJsonValue& e) {
        return e["id"].toVariant().toLongLong() == created;
    });
    QVERIFY(found != news.end());
    QCOMPARE((*found)["status"].toInt(), 1);
    QCOMPARE(platform
                 .post(QStringLiteral("StaffFinishOrder"),
                       session.form() + QStringLiteral("&pass=%1&oid=%2").arg(code).arg(created))
                 .value("status")
                 .toInt(),
             1);

    // A buyer asks for confirmation: the pay/finish poll reports the order unchanged (paid), and
    // the shop can confirm it.
    QVERIFY(platform.waitForOutput(QStringLiteral("asks the shop to confirm"), 10000));
    const qint64 asked = LastMatch(
        platform.outputLines(), QRegularExpression(QStringLiteral("order (\\d+) asks the shop to confirm")));
    QVERIFY(asked);
    const QJsonObject askedOrder = platform.order(asked);
    const QString before =
        QDateTime::fromString(askedOrder.value("ertime").toString(), QStringLiteral("yyyy-MM-dd hh:mm:ss"))
            .addSecs(-1)
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QJsonArray changes =
        platform.post(QStringLiteral("PayFinishOrder"), session.form() + QStringLiteral("&ertime=") + before)
            .value("info")
            .toObject()
            .value("commos")
            .toArray();
    const auto reported = std::find_if(changes.begin(), changes.end(), [&](const QJsonValue& e) {
        return e["id"].toVariant().toLongLong() == asked;
    });
    QVERIFY(reported != changes.end());
    const QJsonObject confirm =
        platform.post(QStringLiteral("ToFinishOrder"), session.form() + QStringLiteral("&oid=%1").arg(asked));
    if ((*reported)["status"].toInt() == 1 && askedOrder.value("status").toInt() == 1)
        QCOMPARE(confirm.value("status").toInt(), 1);
    else
        QCOMPARE(confirm.value("status").toInt(), 3); // moved on meanwhile

    // Served orders get reviewed a while later (the one finished above is a candidate).
    QVERIFY(platform.waitForOutput(QStringLiteral("reviewed it"), 15000));
    const qint64 reviewed =
        LastMatch(platform.outputLines(), QRegularExpression(QStringLiteral("order (\\d+) reviewed it")));
    const QJsonObject review = platform.order(reviewed);
    QVERIFY(review.value("status").toInt() >= 3);
    QVERIFY(!review.value("content").toString().isEmpty());

    // With --sim-pay-later some buyers place an order and pay a moment later: the payment is a
    // change of its own, and only then is the order printed as new. Every event is in the
    // platform's log too.
    const auto events = [&] {
        return platform.admin("GET", QStringLiteral("events"))
            .value("info")
            .toObject()
            .value("events")
            .toArray();
    };
    const auto find = [](const QJsonArray& log, qint64 id, const QString& kind) {
        for (const QJsonValue& event : log)
            if (event["id"].toVariant().toLongLong() == id && event["kind"].toString() == kind)
                return event.toObject();
        return QJsonObject();
    };
    qint64 paidLater = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QJsonArray log = events();
            for (const QJsonValue& event : log)
                if (event["kind"].toString() == QLatin1String("paid") &&
                    !find(log, event["id"].toVariant().toLongLong(), "created").isEmpty())
                    paidLater = event["id"].toVariant().toLongLong();
            return paidLater != 0;
        }(),
        15000);
    const QJsonArray log = events();
    const QJsonObject placed = find(log, paidLater, QStringLiteral("created"));
    const QJsonObject paid = find(log, paidLater, QStringLiteral("paid"));
    QCOMPARE(placed["status"].toInt(), 0);
    QCOMPARE(paid["previous"].toInt(), 0);
    QCOMPARE(paid["status"].toInt(), 1);
    QVERIFY(paid["ertime"].toString() > placed["ertime"].toString());
    QVERIFY(paid["at"].toVariant().toLongLong() >= placed["at"].toVariant().toLongLong());
    QVERIFY(platform.linesWith(QStringLiteral("order %1 placed, not paid yet").arg(paidLater)) == 1);
    QTRY_COMPARE(platform.linesWith(QStringLiteral("] new order %1:").arg(paidLater)), 1);
    QVERIFY(find(log, asked, QStringLiteral("request"))["request"].toBool());
    QCOMPARE(find(log, created, QStringLiteral("finished"))["previous"].toInt(), 1);
}

TARVIK_TEST_MAIN(PlatformSimulatorTest)
#include "tst_platform_simulator.moc"
