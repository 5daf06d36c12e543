#include <QChartView>
#include <QLabel>
#include <QToolTip>

#include "common/testmain.h"
#include "income/dailyincome.h"
#include "income/ui/incomechart.h"
#include "income/incomecsv.h"

// The income as the chart and the books read it: sums per day, and the CSV file.
class TestIncomeBooks : public QObject
{
    Q_OBJECT

    // "yyyy-MM-dd hh:mm:ss=amount" per order; a time that does not read leaves the order undated.
    static IncomeEntries ordersOf(const QStringList& entries)
    {
        IncomeEntries orders;
        for (const QString& entry : entries) {
            IncomeEntry income;
            income.ctime = QDateTime::fromString(entry.section('=', 0, 0), "yyyy-MM-dd hh:mm:ss");
            income.addCash = entry.section('=', 1).toDouble();
            orders.append(income);
        }
        return orders;
    }

    // `size` sums, all 0 but those given by index.
    static QVector<double> sparse(int size, const QMap<int, double>& given)
    {
        QVector<double> sums(size, 0);
        for (auto it = given.begin(); it != given.end(); ++it)
            sums[it.key()] = it.value();
        return sums;
    }

private slots:
    void dailyIncome_oneSumPerDayOfThePeriod_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QStringList>("orders");
        QTest::addColumn<QDate>("first");
        QTest::addColumn<bool>("byMonth");
        QTest::addColumn<QVector<double>>("sums");
        QTest::addColumn<int>("best");
        QTest::addColumn<int>("leftOut");
        // "Today" is 2026-12-08 throughout.
        QTest::newRow("week: quiet days are zeros, two orders of a day add up")
            << "week"
            << QStringList{"2026-12-08 10:00:00=10", "2026-12-08 23:59:59=5.5", "2026-12-05 00:00:00=20"}
            << QDate(2026, 12, 2) << false << QVector<double>{0, 0, 0, 20, 0, 0, 15.5} << 3 << 0;
        QTest::newRow("month from the 1st, equal days: the earliest is best")
            << "mon" << QStringList{"2026-12-01 08:00:00=3", "2026-12-07 08:00:00=3"} << QDate(2026, 12, 1)
            << false << QVector<double>{3, 0, 0, 0, 0, 0, 3, 0} << 0 << 0;
        QTest::newRow("all: from the oldest order")
            << "all" << QStringList{"2026-12-08 09:00:00=1", "2026-12-04 09:00:00=2"} << QDate(2026, 12, 4)
            << false << QVector<double>{2, 0, 0, 0, 1} << 0 << 0;
        QTest::newRow("no income: every day empty, no best day")
            << "week" << QStringList{} << QDate(2026, 12, 2) << false << QVector<double>(7, 0) << -1 << 0;
        QTest::newRow("a day past the period is the platform's clock; further out or undated is apart")
            << "day"
            << QStringList{"2026-12-06 12:00:00=4", "2026-12-09 00:00:01=6", "2026-12-10 00:00:01=8",
                           "not a time=100"}
            << QDate(2026, 12, 8) << false << QVector<double>{0, 6} << 1 << 3;
        QTest::newRow("all: the years 9999 and 1970 are counted apart, not drawn")
            << "all" << QStringList{"9999-06-01 12:00:00=5", "2026-12-08 09:00:00=1", "1970-01-01 00:00:00=7"}
            << QDate(2026, 12, 8) << false << QVector<double>{1} << 0 << 2;
        QTest::newRow("all: ninety days go by day")
            << "all" << QStringList{"2026-09-10 09:00:00=2"} << QDate(2026, 9, 10) << false
            << sparse(90, {{0, 2}}) << 0 << 0;
        QTest::newRow("all: past ninety days one bar per month")
            << "all"
            << QStringList{"2026-09-09 09:00:00=2", "2026-09-30 23:59:59=3", "2026-11-01 00:00:00=4",
                           "2026-12-08 09:00:00=1"}
            << QDate(2026, 9, 1) << true << QVector<double>{5, 0, 4, 1} << 0 << 0;
        QTest::newRow("all: ten years of months at most")
            << "all" << QStringList{"2017-01-01 00:00:00=9", "2016-12-31 23:59:59=8", "2026-12-08 09:00:00=1"}
            << QDate(2017, 1, 1) << true << sparse(120, {{0, 9}, {119, 1}}) << 0 << 1;
    }

    void dailyIncome_oneSumPerDayOfThePeriod()
    {
        QFETCH(QString, way);
        QFETCH(QStringList, orders);
        QFETCH(QDate, first);
        QFETCH(bool, byMonth);
        QFETCH(QVector<double>, sums);
        QFETCH(int, best);
        QFETCH(int, leftOut);
        const IncomeEntries held = ordersOf(orders);
        Money everything = 0;
        for (const IncomeEntry& order : held)
            everything += order.addCash;
        const DailyIncome income = DailyIncome::Of(held, way, QDate(2026, 12, 8));

        QCOMPARE(income.first, first);
        QCOMPARE(income.step == DailyIncome::Step::Month, byMonth);
        QCOMPARE(income.sums, sums);
        QCOMPARE(income.best, best);
        QCOMPARE(income.leftOut, leftOut);
        QCOMPARE(income.total, std::accumulate(sums.begin(), sums.end(), 0.0));
        QCOMPARE(income.total + income.leftOutTotal, everything); // nothing is lost, nothing counted twice
        QCOMPARE(income.End(income.BarCount() - 1), income.last);
    }

    // A long period: bars are months, named so, and the summary says what was left out.
    void chart_monthsAndLeftOutOrdersAreNamed()
    {
        const IncomeEntries held =
            ordersOf({"2026-01-15 09:00:00=30", "2026-12-08 09:00:00=1.5", "9999-06-01 12:00:00=5"});
        IncomeChart chart;
        chart.SetIncome(DailyIncome::Of(held, QStringLiteral("all"), QDate(2026, 12, 8)));
        QCOMPARE(chart.Income().BarCount(), 12);
        QCOMPARE(chart.BarToolTip(0), QStringLiteral("2026-01\n收入 30.00 元"));
        QCOMPARE(chart.BarToolTip(1), QStringLiteral("2026-02\n无收入"));
        const QString summary = chart.Summary()->text();
        QVERIFY2(summary.contains(QStringLiteral("2026-01 至 2026-12，共 12 个月")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("另有 1 笔（5.00 元）日期不在此期间内")),
                 qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("最高 2026-01")), qPrintable(summary));
    }

    // Resting the pointer on a day's bar names the day and its sum; a quiet day says so.
    void chart_barToolTipNamesTheDayAndItsSum()
    {
        const IncomeEntries held = ordersOf({"2026-12-06 09:00:00=120.5"});
        IncomeChart chart;
        chart.SetIncome(DailyIncome::Of(held, QStringLiteral("week"), QDate(2026, 12, 8)));
        chart.resize(700, 400);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        const QRectF plot = chart.ChartView()->chart()->plotArea();
        for (int day : {4, 1}) { // 12-06 and 12-03 of the days 12-02 ... 12-08
            const QPointF foot(plot.left() + plot.width() * (day + 0.5) / 7, plot.bottom() - 2);
            QTest::mouseMove(chart.ChartView()->viewport(), chart.ChartView()->mapFromScene(foot));
            QTRY_COMPARE(QToolTip::text(), day == 4 ? QStringLiteral("2026-12-06\n收入 120.50 元")
                                                    : QStringLiteral("2026-12-03\n无收入"));
        }
    }

    void csvField_quotesAndDisarms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        // clang-format off
        QTest::newRow("number") << "26120700003" << "26120700003";
        QTest::newRow("negative amount stays a number") << "-5.00" << "-5.00";
        QTest::newRow("comma") << "a,b" << "\"a,b\"";
        QTest::newRow("quotes") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("line break") << "two\nlines" << "\"two\nlines\"";
        QTest::newRow("formula") << "=HYPERLINK(\"x\")" << "\"'=HYPERLINK(\"\"x\"\")\"";
        QTest::newRow("plus") << "+86 139" << "\"'+86 139\"";
        QTest::newRow("minus, not a number") << "-2+3" << "\"'-2+3\"";
        QTest::newRow("at") << "@SUM(A1)" << "\"'@SUM(A1)\"";
        // clang-format on
    }

    void csvField_quotesAndDisarms()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(IncomeCsv::Field(text), field);
    }
};

TARVIK_TEST_MAIN(TestIncomeBooks)
#include "tst_incomebooks.moc"
