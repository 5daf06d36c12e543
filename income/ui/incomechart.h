#pragma once

#include <QWidget>

#include "income/dailyincome.h"

class QLabel;

namespace QtCharts {
class QBarSet;
class QChart;
class QChartView;
class QStackedBarSeries;
} // namespace QtCharts

// The income of a period as a bar chart: one bar per day (per month for a long period), its sum in
// the bar's tool tip, and the period's total, best bar and the orders left out of it in a line
// above. A day without income keeps its place with a low grey bar, so the days read as a calendar
// and a quiet day can still be pointed at.
class IncomeChart : public QWidget
{
    Q_OBJECT
public:
    explicit IncomeChart(QWidget* parent = nullptr);

    void SetIncome(const DailyIncome& income);
    const DailyIncome& Income() const { return income; }

    // What the bar `index` says when the pointer rests on it.
    QString BarToolTip(int index) const;

    QLabel* Summary() const { return summary; }
    QtCharts::QChartView* ChartView() const { return view; }
    QtCharts::QBarSet* IncomeBars() const { return incomeBars; }
    QtCharts::QBarSet* EmptyBars() const { return emptyBars; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowBarToolTip(bool on, int day);

    DailyIncome income;
    QLabel* summary = nullptr;
    QtCharts::QChartView* view = nullptr;
    QtCharts::QChart* chart = nullptr;
    QtCharts::QStackedBarSeries* series = nullptr;
    QtCharts::QBarSet* incomeBars = nullptr;
    QtCharts::QBarSet* emptyBars = nullptr;
};
