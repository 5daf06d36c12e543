#include "util.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace Velm {

QString StatusName(int status)
{
    switch (status) {
    case Unpaid:
        return QStringLiteral("未付款");
    case Paid:
        return QStringLiteral("已支付");
    case Served:
        return QStringLiteral("已服务");
    case Reviewed:
        return QStringLiteral("已评价");
    case Completed:
        return QStringLiteral("已完成");
    case Refunded:
        return QStringLiteral("已退款");
    default:
        return QStringLiteral("未知状态");
    }
}

bool IsKnownStatus(int status)
{
    return (status >= Unpaid && status <= Completed) || status == Refunded;
}

QString FormatTime(qint64 secsSinceEpoch)
{
    // Order lists carry four times per order; QDateTime's local-time conversion is far too slow
    // for a list of ten thousand orders, localtime_r is not.
    const time_t t = static_cast<time_t>(secsSinceEpoch);
    struct tm local;
    if (!localtime_r(&t, &local))
        return QString();
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text);
}

bool ParseTime(const QString& text, qint64* secsSinceEpoch)
{
    const QString trimmed = text.trimmed();
    QDateTime parsed = QDateTime::fromString(trimmed, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (!parsed.isValid())
        parsed = QDateTime::fromString(trimmed, Qt::ISODate);
    if (!parsed.isValid())
        return false;
    *secsSinceEpoch = parsed.toSecsSinceEpoch();
    return true;
}

qint64 Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

qint64 StartOfDay(qint64 secsSinceEpoch, int daysBack)
{
    const QDate day = QDateTime::fromSecsSinceEpoch(secsSinceEpoch).date().addDays(-daysBack);
    return QDateTime(day, QTime(0, 0)).toSecsSinceEpoch();
}

qint64 StartOfMonth(qint64 secsSinceEpoch)
{
    const QDate day = QDateTime::fromSecsSinceEpoch(secsSinceEpoch).date();
    return QDateTime(QDate(day.year(), day.month(), 1), QTime(0, 0)).toSecsSinceEpoch();
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static QString DecodeComponent(const char* begin, const char* end)
{
    QByteArray bytes;
    bytes.reserve(static_cast<int>(end - begin));
    for (const char* p = begin; p < end; ++p) {
        if (*p == '+') {
            bytes.append(' ');
        } else if (*p == '%' && end - p >= 3 && HexValue(p[1]) >= 0 && HexValue(p[2]) >= 0) {
            bytes.append(static_cast<char>(HexValue(p[1]) * 16 + HexValue(p[2])));
            p += 2;
        } else {
            bytes.append(*p);
        }
    }
    // Not fromUtf8(QByteArray), which stops at the first NUL: "%00" would cut the value short.
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

Form DecodeForm(const std::string& body)
{
    Form form;
    const char* p = body.data();
    const char* end = p + body.size();
    while (p < end) {
        const char* fieldEnd = p;
        while (fieldEnd < end && *fieldEnd != '&')
            ++fieldEnd;
        const char* equals = p;
        while (equals < fieldEnd && *equals != '=')
            ++equals;
        if (equals > p) {
            const QString name = DecodeComponent(p, equals);
            const QString value = equals < fieldEnd ? DecodeComponent(equals + 1, fieldEnd) : QString();
            if (!form.contains(name))
                form.insert(name, value);
        }
        p = fieldEnd + 1;
    }
    return form;
}

double Yuan(qint64 cents)
{
    return static_cast<double>(cents) / 100.0;
}

qint64 Cents(double yuan)
{
    return static_cast<qint64>(std::llround(yuan * 100.0));
}

QString Md5Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QString RandomHex(int length)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(QLatin1Char(digits[QRandomGenerator::system()->bounded(16)]));
    return text;
}

QString RandomDigits(int length)
{
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(QLatin1Char(static_cast<char>('0' + QRandomGenerator::system()->bounded(10))));
    return text;
}

QByteArray JsonBytes(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void PrintLine(const QString& line)
{
    static std::mutex mutex;
    const QByteArray bytes = line.toUtf8();
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace Velm
