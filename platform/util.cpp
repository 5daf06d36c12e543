#include "util.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
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

int FormatTime(qint64 secsSinceEpoch, char* text)
{
    // Order lists carry four times per order; QDateTime's local-time conversion is far too slow
    // for a list of ten thousand orders, localtime_r is not, and neither are digits written by
    // hand (snprintf took a third of the list's time).
    const time_t t = static_cast<time_t>(secsSinceEpoch);
    struct tm local;
    if (!localtime_r(&t, &local))
        return 0;
    const int year = local.tm_year + 1900;
    if (year < 0 || year > 9999) {
        const int length =
            std::snprintf(text, TimeTextSize, "%04d-%02d-%02d %02d:%02d:%02d", year, local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        return std::max(0, std::min(length, TimeTextSize - 1));
    }
    const auto two = [](char* at, int value) {
        at[0] = static_cast<char>('0' + value / 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    two(text, year / 100);
    two(text + 2, year % 100);
    text[4] = '-';
    two(text + 5, local.tm_mon + 1);
    text[7] = '-';
    two(text + 8, local.tm_mday);
    text[10] = ' ';
    two(text + 11, local.tm_hour);
    text[13] = ':';
    two(text + 14, local.tm_min);
    text[16] = ':';
    two(text + 17, local.tm_sec);
    text[19] = '\0';
    return 19;
}

QString FormatTime(qint64 secsSinceEpoch)
{
    char text[TimeTextSize];
    return QString::fromLatin1(text, FormatTime(secsSinceEpoch, text));
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

JsonText& JsonText::String(const QString& text)
{
    // As QJsonDocument writes a string: '"', the backslash and control characters escaped,
    // everything else as UTF-8, and a surrogate without its other half escaped by its code.
    static const char hex[] = "0123456789abcdef";
    const auto escape = [this](unsigned code) {
        const char sequence[] = {
            '\\', 'u', hex[(code >> 12) & 15], hex[(code >> 8) & 15], hex[(code >> 4) & 15], hex[code & 15]};
        bytes.append(sequence, sizeof sequence);
    };
    bytes.append('"');
    const ushort* p = text.utf16();
    const ushort* const end = p + text.size();
    while (p < end) {
        const ushort u = *p++;
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                bytes.append(static_cast<char>(u));
                continue;
            }
            switch (u) {
            case '"':
                bytes.append("\\\"");
                break;
            case '\\':
                bytes.append("\\\\");
                break;
            case '\b':
                bytes.append("\\b");
                break;
            case '\f':
                bytes.append("\\f");
                break;
            case '\n':
                bytes.append("\\n");
                break;
            case '\r':
                bytes.append("\\r");
                break;
            case '\t':
                bytes.append("\\t");
                break;
            default:
                escape(u);
            }
        } else if (u < 0x800) {
            const char sequence[] = {static_cast<char>(0xc0 | (u >> 6)),
                                     static_cast<char>(0x80 | (u & 0x3f))};
            bytes.append(sequence, sizeof sequence);
        } else if (!QChar::isSurrogate(u)) {
            const char sequence[] = {static_cast<char>(0xe0 | (u >> 12)),
                                     static_cast<char>(0x80 | ((u >> 6) & 0x3f)),
                                     static_cast<char>(0x80 | (u & 0x3f))};
            bytes.append(sequence, sizeof sequence);
        } else if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p)) {
            const uint code = QChar::surrogateToUcs4(u, *p++);
            const char sequence[] = {
                static_cast<char>(0xf0 | (code >> 18)), static_cast<char>(0x80 | ((code >> 12) & 0x3f)),
                static_cast<char>(0x80 | ((code >> 6) & 0x3f)), static_cast<char>(0x80 | (code & 0x3f))};
            bytes.append(sequence, sizeof sequence);
        } else {
            escape(u);
        }
    }
    bytes.append('"');
    return *this;
}

JsonText& JsonText::Integer(qint64 value)
{
    char text[24];
    char* end = text + sizeof text;
    char* p = end;
    quint64 magnitude = value < 0 ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0)
        *--p = '-';
    bytes.append(p, static_cast<int>(end - p));
    return *this;
}

JsonText& JsonText::Number(double value)
{
    // QJsonValue keeps a whole number that a double holds exactly (up to 2^53) as an integer,
    // and writes any other in the shortest form that reads back the same.
    constexpr double exact = 9007199254740992.0;
    if (!std::isfinite(value))
        return Null();
    if (std::trunc(value) == value && std::fabs(value) <= exact)
        return Integer(static_cast<qint64>(value));
    bytes.append(QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
    return *this;
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
