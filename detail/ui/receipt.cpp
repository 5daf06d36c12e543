#include "detail/ui/receipt.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QTextLayout>

#include <cmath>

#include <memory>

#include "orders/corder.h"

namespace {

constexpr qreal mmPerInch = 25.4;
constexpr qreal rollTopMm = 3;
constexpr qreal rollBottomMm = 8; // room to tear the receipt off
constexpr qreal pageMarginMm = 10;

// Lays the receipt out line by line, top to bottom. The same code measures (without a painter) and
// paints, so a roll's page is exactly as long as what is painted on it.
class Sheet
{
public:
    Sheet(QPrinter* printer, const QFont& font, qreal width, QPainter* painter, qreal pageHeight)
        : printer(printer), font(font), metrics(font, printer), width(width), painter(painter),
          pageHeight(pageHeight)
    {
    }

    qreal Height() const { return top; }

    void Title(const QString& text)
    {
        for (const QString& line : Wrap(text))
            Draw((width - metrics.horizontalAdvance(line)) / 2, line);
    }

    void Text(const QString& text)
    {
        for (const QString& line : Wrap(text))
            Draw(0, line);
    }

    // `left` at the left edge and `right` ending at the right edge of one line; where both do not
    // fit, `right` goes on a line of its own, still at the right edge.
    void Pair(const QString& left, const QString& right)
    {
        const qreal rightWidth = metrics.horizontalAdvance(right);
        const qreal gap = metrics.horizontalAdvance(QLatin1Char(' ')) * 2;
        if (rightWidth > width) {
            Text(left);
            Text(right);
            return;
        }
        if (metrics.horizontalAdvance(left) + gap + rightWidth > width) {
            Text(left);
        } else {
            Room(metrics.height());
            if (painter)
                painter->drawText(QPointF(0, top + metrics.ascent()), left);
        }
        Draw(width - rightWidth, right);
    }

    void Rule()
    {
        const qreal half = metrics.height() / 2;
        Room(half);
        top += half / 2;
        if (painter)
            painter->drawLine(QPointF(0, top), QPointF(width, top));
        top += half / 2;
    }

private:
    // The lines `text` breaks into at this width: between words where it can, anywhere in a word
    // (or a run of Chinese) that is wider than the line.
    QStringList Wrap(const QString& text) const
    {
        QTextLayout layout(text, font, printer);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        QStringList lines;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            QString piece = text.mid(line.textStart(), line.textLength());
            while (piece.endsWith(QLatin1Char(' ')))
                piece.chop(1);
            lines << piece;
        }
        layout.endLayout();
        if (lines.isEmpty())
            lines << QString();
        return lines;
    }

    // A new page when the next `height` would pass the bottom of this one (never on a roll).
    void Room(qreal height)
    {
        if (pageHeight > 0 && top > 0 && top + height > pageHeight) {
            if (painter)
                printer->newPage();
            top = 0;
        }
    }

    // One line of text whose left end is at `x`.
    void Draw(qreal x, const QString& line)
    {
        Room(metrics.height());
        if (painter)
            painter->drawText(QPointF(qMax<qreal>(0, x), top + metrics.ascent()), line);
        top += metrics.height();
    }

    QPrinter* printer;
    QFont font;
    QFontMetricsF metrics;
    qreal width;
    QPainter* painter; // null while measuring
    qreal pageHeight;  // 0: one endless page
    qreal top = 0;     // where the next line starts
};

void lay(Sheet& sheet, const Receipt::Data& data)
{
    sheet.Title(data.sample ? QStringLiteral("Velm订单（测试页）") : QStringLiteral("Velm订单"));
    sheet.Text(QStringLiteral("订单号：") + QString::number(data.id));
    sheet.Text(QStringLiteral("订单时间：") + data.ptime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    sheet.Rule();

    if (data.takeout)
        sheet.Text(QStringLiteral("外卖："));
    for (const Receipt::Item& item : data.items) {
        sheet.Text(item.name);
        sheet.Pair(QStringLiteral("数量：") + QString::number(item.num), QStringLiteral("价格：") + FormatMoney(item.price));
    }
    if (data.takeout)
        sheet.Text(QStringLiteral("外卖地址：") + data.address);
    sheet.Rule();

    sheet.Pair(QStringLiteral("合计：") + FormatMoney(data.totalPrice), QStringLiteral("总金额：") + FormatMoney(data.amount));
    sheet.Text(QStringLiteral("数量：") + QString::number(data.totalNum));
    sheet.Text(QStringLiteral("本单Velm为您节省 ") + FormatMoney(data.saving) + QStringLiteral(" 元"));
    sheet.Rule();

    sheet.Text(QStringLiteral("买家联系方式：") + data.tel);
    sheet.Text(QStringLiteral("联系人：") + data.taker);
    sheet.Text(QStringLiteral("买家留言：") + (data.message.isEmpty() ? QStringLiteral("暂无留言") : data.message));
    sheet.Rule();
    sheet.Text(QStringLiteral(" 感谢您使用Velm购物，欢迎您下次光临！"));
}

bool isRoll(Receipt::Paper paper)
{
    return paper != Receipt::Paper::PrinterPage;
}

} // namespace

namespace Receipt {

Data Data::Of(const COrder& order)
{
    Data data;
    data.id = order.GetId();
    data.ptime = order.GetPtime();
    data.takeout = order.GetTakeout();
    data.address = order.GetAddress();
    for (const CCommodity* item : order.GetCommodities())
        data.items.append({item->GetName(), item->GetPrice(), item->GetNum()});
    data.totalPrice = order.GetTotalPrice();
    data.totalNum = order.GetTotalNum();
    data.amount = order.GetAmount();
    data.saving = order.GetSaving();
    data.tel = order.GetTel();
    data.taker = order.GetTaker();
    data.message = order.GetMessage();
    return data;
}

Data Data::Sample()
{
    Data data;
    data.sample = true;
    data.id = 10000000001;
    data.ptime = QDateTime::currentDateTime();
    data.takeout = true;
    data.address = QStringLiteral("幸福路 8 号 3 单元 502 室（测试地址）");
    data.items = {{QStringLiteral("招牌红烧牛肉拉面（大碗，加蛋，少放辣，不要香菜）"), 28, 1},
                  {QStringLiteral("秘制凉皮"), 10, 2}};
    data.totalPrice = 48;
    data.totalNum = 3;
    data.amount = 42.5;
    data.saving = 5.5;
    data.tel = QStringLiteral("13800000000");
    data.taker = QStringLiteral("张三");
    data.message = QStringLiteral("这是一张测试页：看看打印机、纸张和份数是否合适。");
    return data;
}

QFont Font(qreal points)
{
    QFont font(QCoreApplication::translate("COrderWidget", "宋体"));
    font.setPointSizeF(points);
    font.setFamilies({font.family(), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC")});
    return font;
}

qreal FontPoints(Paper paper)
{
    switch (paper) {
    case Paper::Roll58:
        return 8;
    case Paper::Roll80:
        return 10.5;
    case Paper::PrinterPage:
        break;
    }
    return 12;
}

qreal RollWidthMm(Paper paper)
{
    switch (paper) {
    case Paper::Roll58:
        return 58;
    case Paper::Roll80:
        return 80;
    case Paper::PrinterPage:
        break;
    }
    return 0;
}

// Roll printers print 48 mm of a 58 mm roll and 72 mm of an 80 mm one.
qreal PrintableWidthMm(Paper paper)
{
    switch (paper) {
    case Paper::Roll58:
        return 48;
    case Paper::Roll80:
        return 72;
    case Paper::PrinterPage:
        break;
    }
    return 0;
}

bool Paint(QPrinter* printer, const Data& data, Paper paper, const QSizeF& pageMm)
{
    if (!printer)
        return false;
    const QFont font = Font(FontPoints(paper));
    qreal width = 0;
    if (isRoll(paper)) {
        const qreal dpi = printer->resolution();
        const qreal side = (RollWidthMm(paper) - PrintableWidthMm(paper)) / 2;
        width = PrintableWidthMm(paper) / mmPerInch * dpi;
        Sheet measure(printer, font, width, nullptr, 0);
        lay(measure, data);
        const qreal length = std::ceil(measure.Height() / dpi * mmPerInch + rollTopMm + rollBottomMm);
        const QSizeF size(RollWidthMm(paper), qMax(length, RollWidthMm(paper) / 2));
        printer->setPageLayout(QPageLayout(
            QPageSize(size, QPageSize::Millimeter, QStringLiteral("%1 mm roll").arg(size.width()), QPageSize::ExactMatch),
            QPageLayout::Portrait, QMarginsF(side, rollTopMm, side, rollBottomMm), QPageLayout::Millimeter));
    } else if (pageMm.isValid() && !pageMm.isEmpty()) {
        printer->setPageLayout(QPageLayout(QPageSize(pageMm, QPageSize::Millimeter), QPageLayout::Portrait,
                                           QMarginsF(pageMarginMm, pageMarginMm, pageMarginMm, pageMarginMm),
                                           QPageLayout::Millimeter));
    }

    QPainter painter;
    if (!painter.begin(printer))
        return false;
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen;
    pen.setStyle(Qt::DashLine);
    painter.setPen(pen);
    const QRect viewport = painter.viewport();
    painter.setWindow(viewport);
    painter.setViewport(viewport);
    painter.setFont(font);
    if (!isRoll(paper))
        width = viewport.width();
    Sheet sheet(printer, font, width, &painter, isRoll(paper) ? 0 : viewport.height());
    lay(sheet, data);
    return painter.end();
}

bool Paint(QPrinter* printer, const COrder& order)
{
    return Paint(printer, Data::Of(order));
}

bool WritePdf(const QString& path, const Data& data, Paper paper, const QSizeF& pageMm, QSizeF* pageSizeMm)
{
    // Fine-grained, so that what is measured is what is drawn.
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    printer->setCreator(QStringLiteral("Tarvik"));
    printer->setDocName(data.sample ? QStringLiteral("Velm测试页") : QStringLiteral("Velm订单 %1").arg(data.id));
    if (!Paint(printer.get(), data, paper, pageMm))
        return false;
    if (pageSizeMm)
        *pageSizeMm = printer->pageLayout().fullRect(QPageLayout::Millimeter).size();
    printer.reset(); // the file is complete once its printer is gone
    return true;
}

} // namespace Receipt
