#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>

#include <string>

namespace Velm {

// Order status codes as the client knows them.
enum OrderStatus
{
    Unpaid = 0,
    Paid = 1,
    Served = 2,
    Reviewed = 3,
    Completed = 4,
    Refunded = 9,
};
QString StatusName(int status);
bool IsKnownStatus(int status);

// "yyyy-MM-dd hh:mm:ss" in local time, the only time format on the wire.
QString FormatTime(qint64 secsSinceEpoch);
// The same into `text` (at least TimeTextSize bytes); its length, 0 when the time cannot be shown.
constexpr int TimeTextSize = 64;
int FormatTime(qint64 secsSinceEpoch, char* text);
// The latest time that format can show in every time zone (9999-12-30 00:00:00 UTC). A time is
// stored only when it lies after the epoch and not after this; the update stamps count on it.
constexpr qint64 MaxTime = Q_INT64_C(253402128000);
inline bool IsWireTime(qint64 secsSinceEpoch)
{
    return secsSinceEpoch > 0 && secsSinceEpoch <= MaxTime;
}
// Reads "yyyy-MM-dd hh:mm:ss" (an ISO 8601 "T" is accepted too) as local time.
bool ParseTime(const QString& text, qint64* secsSinceEpoch);
qint64 Now();
qint64 StartOfDay(qint64 secsSinceEpoch, int daysBack = 0);
qint64 StartOfMonth(qint64 secsSinceEpoch);

// application/x-www-form-urlencoded: "+" is a blank, %XX an escaped byte. The client sends its
// values unescaped, so a "%" that does not start a valid escape is kept as it is, and bytes that
// were never escaped (raw UTF-8) pass through. The first occurrence of a field wins.
using Form = QHash<QString, QString>;
Form DecodeForm(const std::string& body);

// Money travels as yuan with two decimals and is kept as whole cents.
double Yuan(qint64 cents);
qint64 Cents(double yuan);
// No amount, price, balance or income entry may exceed a hundred million yuan, nor an item's
// quantity ten thousand: within these every product and every order's sum fits in 64 bits many
// times over, and a yuan value stays exact as a JSON number.
constexpr qint64 MaxMoneyCents = Q_INT64_C(10000000000);
constexpr int MaxQuantity = 10000;

QString Md5Hex(const QByteArray& bytes);
QString RandomHex(int length);
QString RandomDigits(int length);

QByteArray JsonBytes(const QJsonObject& object);

// JSON written straight into bytes: the bytes QJsonDocument's compact form gives for the same
// values, as long as an object's keys are written in the order QJsonObject keeps them (sorted).
// The order lists are written this way; building ten thousand QJsonObjects first takes several
// times longer than the query.
class JsonText
{
public:
    JsonText& Raw(const char* text)
    {
        bytes.append(text);
        return *this;
    }
    JsonText& String(const QString& text);
    JsonText& Integer(qint64 value);
    JsonText& Number(double value);
    JsonText& Null() { return Raw("null"); }

    QByteArray bytes;
};

// Writes one line to standard output at once; safe from any thread.
void PrintLine(const QString& line);

} // namespace Velm
