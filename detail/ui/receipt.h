#pragma once

#include <QDateTime>
#include <QFont>
#include <QList>
#include <QSizeF>
#include <QString>

#include "app/money.h"
#include "app/settings.h"

class COrder;
class QPrinter;

// The receipt of an order: the order number and time, the items with quantity and price, the
// totals and the saving, the buyer's contact and message, and a line of thanks, laid out to the
// printable width of its paper. Item names and long texts wrap, prices stay whole at the right
// edge; on a roll the receipt is one page of its own length.
namespace Receipt {

using Paper = CSettings::Paper;

struct Item
{
    QString name;
    Money price = 0;
    int num = 0;
};

// What a receipt shows, taken from the order when it is asked for: the order may change, or go,
// while its receipt waits for the printer.
struct Data
{
    qint64 id = 0;
    bool sample = false; // the test page of the settings window
    QDateTime ptime;
    bool takeout = false;
    QString address;
    QList<Item> items;
    Money totalPrice = 0;
    qint64 totalNum = 0;
    Money amount = 0;
    Money saving = 0;
    QString tel;
    QString taker;
    QString message;

    static Data Of(const COrder& order);
    static Data Sample();
};

// The receipt font: 宋体 at `points`, with CJK fonts to fall back on where it is not installed.
QFont Font(qreal points = 12);
qreal FontPoints(Paper paper); // smaller on the narrow rolls
qreal RollWidthMm(Paper paper); // 58 or 80; 0 for the printer's page
qreal PrintableWidthMm(Paper paper); // what a roll printer prints of its width

// Paints the receipt on `printer`. A roll gets one page of the receipt's own length; on a printer's
// page (of `pageMm`, or the printer's page as it is set when that is empty) a receipt that does not
// fit goes on to the next page, so that nothing is lost. False when the printer could not be opened.
bool Paint(QPrinter* printer, const Data& data, Paper paper = Paper::PrinterPage, const QSizeF& pageMm = QSizeF());
bool Paint(QPrinter* printer, const COrder& order);

// Writes the receipt as a PDF laid out for `paper`; the size of its page goes to `pageSizeMm`.
bool WritePdf(const QString& path, const Data& data, Paper paper, const QSizeF& pageMm = QSizeF(),
              QSizeF* pageSizeMm = nullptr);

} // namespace Receipt
