#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include "app/constants.h"
#include "app/log.h"
#include "common/testmain.h"

// The diagnostic log: one line per message in <data folder>/logs/tarvik.log, rotated by size.
class TestLog : public QObject
{
    Q_OBJECT

    static QStringList linesOf(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void cleanup()
    {
        Log::Uninstall();
        Log::SetMaxFileSize(Log::DefaultMaxFileSize);
        QLoggingCategory::setFilterRules(QString());
    }

    void lines_carryTimeLevelAndCategory()
    {
        // Without a folder given, the log goes to the data folder of this (test) user.
        QVERIFY(Log::Install());
        QCOMPARE(Log::FilePath(),
                 JoinPath({DataDir(), QStringLiteral("logs"), QStringLiteral("tarvik.log")}));
        QFile::remove(Log::FilePath());
        QTemporaryDir folder;
        QVERIFY(Log::Install(folder.path()));
        const QString path = folder.filePath(QStringLiteral("tarvik.log"));
        QCOMPARE(Log::FilePath(), path);

        qCWarning(lcPolls, "connection lost since %s", "10:00:00");
        qCInfo(lcPrinting) << "order" << 26120800007LL << "printed";
        qCDebug(lcOrders, "debug lines are off by default");
        qWarning("two\nlines");
        QLoggingCategory::setFilterRules(
            QStringLiteral("tarvik.requests.warning=false\ntarvik.orders.debug=true"));
        qCWarning(lcRequests, "turned off by the rules");
        qCDebug(lcOrders, "turned on by the rules");

        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 4);
        const QRegularExpression shape(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [DIWCF] \S+: .+$)"));
        for (const QString& line : lines)
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
        QVERIFY(lines.at(0).endsWith(QStringLiteral(" W tarvik.polls: connection lost since 10:00:00")));
        QVERIFY(lines.at(1).endsWith(QStringLiteral(" I tarvik.printing: order 26120800007 printed")));
        QVERIFY(lines.at(2).endsWith(QStringLiteral(" W default: two\\nlines")));
        QVERIFY(lines.at(3).endsWith(QStringLiteral(" D tarvik.orders: turned on by the rules")));

        // After Uninstall nothing more is written.
        Log::Uninstall();
        qCWarning(lcPolls, "not in the file");
        QCOMPARE(linesOf(path).size(), 4);
    }

    void rotation_keepsThreeOlderFilesUnderTheSize()
    {
        QTemporaryDir folder;
        QVERIFY(Log::Install(folder.path()));
        Log::SetMaxFileSize(1000);
        // ~100 bytes a line: 10 files' worth, numbered so that the newest lines can be found.
        const QString padding(60, QLatin1Char('x'));
        for (int i = 0; i < 100; ++i)
            qCInfo(lcOrders, "line %03d %s", i, qPrintable(padding));
        Log::Uninstall();

        const QDir dir(folder.path());
        QCOMPARE(dir.entryList(QDir::Files, QDir::Name),
                 QStringList({"tarvik.log", "tarvik.log.1", "tarvik.log.2", "tarvik.log.3"}));
        int lastSeen = 100;
        // Newest first: tarvik.log, .1, .2, .3; each file under the size, lines in order, no gap.
        for (const char* name : {"tarvik.log", "tarvik.log.1", "tarvik.log.2", "tarvik.log.3"}) {
            const QString path = dir.filePath(name);
            QVERIFY2(QFileInfo(path).size() <= 1000, name);
            const QStringList lines = linesOf(path);
            QVERIFY(!lines.isEmpty());
            for (int i = lines.size() - 1; i >= 0; --i) {
                const int number = lines.at(i).section(QStringLiteral("line "), 1).left(3).toInt();
                QCOMPARE(number, lastSeen - 1);
                lastSeen = number;
            }
        }
        QVERIFY(lastSeen > 0); // the oldest lines were dropped
    }

    void unwritableFolder_isRefusedWithoutHarm()
    {
        QTemporaryDir folder;
        QFile blocker(folder.filePath(QStringLiteral("logs")));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        QVERIFY(!Log::Install(folder.filePath(QStringLiteral("logs"))));
        qCWarning(lcPolls, "still handled by the previous handler");
        QVERIFY(Log::FilePath().isEmpty());
    }
};

TARVIK_TEST_MAIN(TestLog)
#include "tst_log.moc"
