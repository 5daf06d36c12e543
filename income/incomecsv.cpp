#include "income/incomecsv.h"

#include <QRegularExpression>

#include "app/atomicfile.h"
#include "app/money.h"

namespace IncomeCsv {

QString Field(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
    QString field = text;
    const QChar lead = field.isEmpty() ? QChar() : field.at(0);
    const bool formula =
        (lead == QLatin1Char('=') || lead == QLatin1Char('+') || lead == QLatin1Char('-') ||
         lead == QLatin1Char('@') || lead == QLatin1Char('\t') || lead == QLatin1Char('\r')) &&
        !number.match(field).hasMatch();
    if (formula)
        field.prepend(QLatin1Char('\''));
    const bool quote = formula || field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                       field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'));
    if (!quote)
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QByteArray Write(const IncomeEntries& rows)
{
    const QLatin1String lineEnd("\r\n");
    QString text = QStringLiteral("时间,订单号,收益金额（元）") + lineEnd;
    for (const IncomeEntry& order : rows) {
        text += Field(order.ctime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))) + QLatin1Char(',') +
                Field(QString::number(order.orderId)) + QLatin1Char(',') + Field(FormatMoney(order.addCash)) +
                lineEnd;
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool Save(const QString& path, const QByteArray& data, QString* error)
{
    QString why;
    if (AtomicFile::Write(path, data, &why))
        return true;
    if (error)
        *error = QStringLiteral("保存文件失败：") + why;
    return false;
}

} // namespace IncomeCsv
