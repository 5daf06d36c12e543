#include "income/ui/incomechart.h"

#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QLabel>
#include <QStackedBarSeries>
#include <QToolTip>
#include <QValueAxis>

#include "app/money.h"

using namespace QtCharts;

namespace {

constexpr int summaryHeight = 36;
const QColor incomeColour(255, 85, 0);
const QColor emptyColour(228, 228, 228);

QString dayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QString monthText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM"));
}

// What a bar stands for: its day, or its month when the period goes by month.
QString barText(const DailyIncome& income, int index)
{
    return income.step == DailyIncome::Step::Day ? dayText(income.Start(index))
                                                 : monthText(income.Start(index));
}

} // namespace

IncomeChart::IncomeChart(QWidget* parent) : QWidget(parent)
{
    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("lblIncomeSummary"));
    summary->setStyleSheet(QStringLiteral("font-size: 14px;color: #333;padding: 0 16px;"));

    chart = new QChart;
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(8, 4, 8, 4));

    // Two stacked sets: a day has either its income or the low grey bar of a day without.
    series = new QStackedBarSeries;
    incomeBars = new QBarSet(QStringLiteral("收入"));
    emptyBars = new QBarSet(QStringLiteral("无收入"));
    incomeBars->setColor(incomeColour);
    incomeBars->setBorderColor(incomeColour);
    emptyBars->setColor(emptyColour);
    emptyBars->setBorderColor(emptyColour);
    series->append(incomeBars);
    series->append(emptyBars);
    series->setBarWidth(0.7);
    chart->addSeries(series);
    connect(series, &QStackedBarSeries::hovered, this,
            [this](bool on, int index, QBarSet*) { ShowBarToolTip(on, index); });

    view = new QChartView(chart, this);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFrameShape(QFrame::NoFrame);
    view->setStyleSheet(QStringLiteral("background: transparent;"));
}

void IncomeChart::SetIncome(const DailyIncome& given)
{
    income = given;
    const int bars = income.BarCount();
    const bool byDay = income.step == DailyIncome::Step::Day;
    Money highest = 0;
    for (Money sum : qAsConst(income.sums))
        highest = qMax(highest, sum);
    // The grey bar of a quiet day is low but never invisible, whatever the busiest day earned.
    const qreal axisTop = highest > 0 ? highest * 1.1 : 10.0;
    const qreal emptyHeight = axisTop * 0.03;

    QList<qreal> earned;
    QList<qreal> empty;
    for (int i = 0; i < bars; ++i) {
        earned << qMax<qreal>(income.sums[i], 0);
        empty << (income.sums[i] > 0 ? 0 : emptyHeight);
    }
    incomeBars->remove(0, incomeBars->count());
    emptyBars->remove(0, emptyBars->count());
    incomeBars->append(earned);
    emptyBars->append(empty);

    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    // Bar i stands at x = i. Up to a month of bars is labelled bar by bar; more every few bars, so
    // the labels stay readable instead of being cut to nothing.
    auto* dayAxis = new QCategoryAxis;
    dayAxis->setRange(-0.5, bars - 0.5);
    dayAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const int step = bars <= 31 ? 1 : (bars + 14) / 15;
    for (int i = 0; i < bars; i += step)
        dayAxis->append(
            byDay ? income.Start(i).toString(QStringLiteral("MM-dd")) : monthText(income.Start(i)), i);
    QFont small = dayAxis->labelsFont();
    small.setPixelSize(11);
    dayAxis->setLabelsFont(small);
    dayAxis->setGridLineVisible(false);
    auto* moneyAxis = new QValueAxis;
    moneyAxis->setRange(0, axisTop);
    moneyAxis->applyNiceNumbers();
    moneyAxis->setLabelFormat(QStringLiteral("%.0f"));
    moneyAxis->setGridLineColor(QColor(238, 238, 238));
    chart->addAxis(dayAxis, Qt::AlignBottom);
    chart->addAxis(moneyAxis, Qt::AlignLeft);
    series->attachAxis(dayAxis);
    series->attachAxis(moneyAxis);

    QString text = QStringLiteral("合计 <b style=\"color:#f50\">%1</b> 元").arg(FormatMoney(income.total));
    if (income.best >= 0)
        text += QStringLiteral("　　最高 %1 <b style=\"color:#f50\">%2</b> 元")
                    .arg(barText(income, income.best), FormatMoney(income.sums[income.best]));
    else
        text += QStringLiteral("　　暂无收入");
    text += QStringLiteral("　　<span style=\"color:#999\">%1 至 %2，共 %3</span>")
                .arg(byDay ? dayText(income.first) : monthText(income.first),
                     byDay ? dayText(income.last) : monthText(income.last),
                     byDay ? QStringLiteral("%1 天").arg(bars) : QStringLiteral("%1 个月").arg(bars));
    if (income.leftOut > 0)
        text += QStringLiteral(
                    "　　<span style=\"color:#999\">另有 %1 笔（%2 元）日期不在此期间内，未计入</span>")
                    .arg(income.leftOut)
                    .arg(FormatMoney(income.leftOutTotal));
    summary->setText(text);
}

QString IncomeChart::BarToolTip(int index) const
{
    if (index < 0 || index >= income.BarCount())
        return QString();
    const Money sum = income.sums[index];
    return barText(income, index) + QLatin1Char('\n') +
           (sum != 0 ? QStringLiteral("收入 %1 元").arg(FormatMoney(sum)) : QStringLiteral("无收入"));
}

void IncomeChart::ShowBarToolTip(bool on, int day)
{
    if (on)
        QToolTip::showText(QCursor::pos(), BarToolTip(day), view);
    else
        QToolTip::hideText();
}

void IncomeChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    summary->setGeometry(0, 0, width(), summaryHeight);
    view->setGeometry(0, summaryHeight, width(), qMax(0, height() - summaryHeight));
}
