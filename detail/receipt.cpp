#include "detail/receipt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

#include "app/desktop.h"
#include "orders/corder.h"

#include <memory>

namespace {

// A painter that keeps the running baseline and turns the page when a line would not fit.
class Sheet
{
public:
    explicit Sheet(QPrinter* printer) : printer(printer) {}

    bool Begin()
    {
        if (!painter.begin(printer))
            return false;
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPen pen;
        pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        const QRect viewport = painter.viewport();
        painter.setWindow(viewport);
        painter.setViewport(viewport);
        painter.setFont(Receipt::Font());
        width = viewport.width();
        pageHeight = viewport.height();
        const QFontMetrics metrics = painter.fontMetrics();
        lineHeight = metrics.height();
        descent = metrics.descent();
        y = lineHeight;
        return true;
    }

    bool End() { return painter.end(); }

    int Width() const { return width; }
    int LineHeight() const { return lineHeight; }
    int TextWidth(const QString& text) const { return painter.fontMetrics().horizontalAdvance(text); }

    // Moves down by `step` to the next baseline; the line drawn there reaches `below` pixels further.
    void Down(int step, int below)
    {
        y += step;
        if (y + below > pageHeight && y - step > lineHeight) {
            printer->newPage();
            y = lineHeight;
        }
    }
    void Skip(int step) { y += step; }

    void Line(int step, const QString& text, int x = 0)
    {
        Down(step, descent);
        Text(x, text);
    }
    // A second text on the baseline of the last line.
    void Text(int x, const QString& text) { painter.drawText(QPoint(x, y), text); }

    void Rule()
    {
        Down(lineHeight / 2, 0);
        painter.drawLine(0, y, width, y);
    }

    // Wrapped text in a box of `lines` line heights whose top is `top` below the baseline.
    void Block(int step, int top, int lines, const QString& text)
    {
        Down(step, top + lines * lineHeight);
        painter.drawText(QRect(0, y + top, width, lines * lineHeight), Qt::TextWordWrap, text);
    }

private:
    QPrinter* printer;
    QPainter painter;
    int width = 0;
    int pageHeight = 0;
    int lineHeight = 0;
    int descent = 0;
    int y = 0;
};

} // namespace

namespace Receipt {

QFont Font()
{
    QFont font(QCoreApplication::translate("COrderWidget", "宋体"), 12);
    font.setFamilies({font.family(), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC")});
    return font;
}

bool Paint(QPrinter* printer, const COrder& order)
{
    if (!printer)
        return false;
    Sheet sheet(printer);
    if (!sheet.Begin())
        return false;
    const int w = sheet.Width();
    const int h = sheet.LineHeight();

    const QString title = QStringLiteral("Velm订单");
    sheet.Text((w - sheet.TextWidth(title)) / 2, title);
    sheet.Line(h, QStringLiteral("订单号：") + QString::number(order.GetId()));
    sheet.Line(h, QStringLiteral("订单时间：") +
                      order.GetPtime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    sheet.Rule();

    if (order.GetTakeout())
        sheet.Line(h, QStringLiteral("外卖："));
    for (const CCommodity* item : order.GetCommodities()) {
        sheet.Line(h, item->GetName());
        sheet.Line(h, QStringLiteral("价格：") + FormatMoney(item->GetPrice()));
        sheet.Text(w / 2, QStringLiteral("数量：") + QString::number(item->GetNum()));
    }
    if (order.GetTakeout()) {
        sheet.Block(h, 0, 3, QStringLiteral("外卖地址：") + order.GetAddress());
        sheet.Skip(3 * h);
    }
    sheet.Rule();

    sheet.Line(h, QStringLiteral("合计：") + FormatMoney(order.GetTotalPrice()));
    sheet.Text(w / 2, QStringLiteral("总金额：") + FormatMoney(order.GetAmount()));
    sheet.Line(h, QStringLiteral("数量：") + QString::number(order.GetTotalNum()));
    sheet.Line(h, QStringLiteral("本单Velm为您节省 ") + FormatMoney(order.GetSaving()) + QStringLiteral(" 元"));
    sheet.Rule();

    sheet.Line(h, QStringLiteral("买家联系方式：") + order.GetTel());
    sheet.Line(h, QStringLiteral("联系人：") + order.GetTaker());
    sheet.Line(h, QStringLiteral("买家留言：") +
                      (order.GetMessage().isEmpty() ? QStringLiteral("暂无留言") : order.GetMessage()));
    sheet.Rule();
    sheet.Block(0, h, 2, QStringLiteral(" 感谢您使用Velm购物，欢迎您下次光临！"));
    return sheet.End();
}

CAutoPrint::Outcome PrintOnDefault(const COrder& order)
{
    std::unique_ptr<QPrinter> printer(Desktop::CreateReceiptPrinter());
    if (!printer)
        return {false, QString(), QStringLiteral("no printer")};
    const bool toFile = printer->outputFormat() == QPrinter::PdfFormat;
    const QString file = toFile ? printer->outputFileName() : QString();
    const QString printerName = printer->printerName();
    const bool painted = Paint(printer.get(), order);
    printer.reset(); // a PDF is complete on disk only once its printer is gone
    const QString where = toFile ? QDir::toNativeSeparators(file) : printerName;
    if (!painted || (toFile && QFileInfo(file).size() <= 0))
        return {false, QString(), where, toFile};
    return {true, file, where, toFile};
}

} // namespace Receipt
