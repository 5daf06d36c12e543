#include "orders/corder.h"

#include <climits>
#include <ctime>

const OrderStatus StatusUnpaid(0, QStringLiteral("未付款"));
const OrderStatus StatusPaid(1, QStringLiteral("已支付"));
const OrderStatus StatusServed(2, QStringLiteral("已服务"));
const OrderStatus StatusReviewed(3, QStringLiteral("已评价"));
const OrderStatus StatusRefunded(9, QStringLiteral("已退款"));
const OrderStatus StatusCompleted(4, QStringLiteral("已完成"));

QString StatusName(int status)
{
    switch (status) {
    case 0:
        return StatusUnpaid.second;
    case 1:
        return StatusPaid.second;
    case 2:
        return StatusServed.second;
    case 3:
        return StatusReviewed.second;
    case 4:
        return StatusCompleted.second;
    case 9:
        return StatusRefunded.second;
    default:
        return QStringLiteral("未知状态");
    }
}

namespace {

// "yyyy-MM-dd hh:mm:ss" read digit by digit; false when the text has another form or names no real
// day or time, and the toolkit's conversion decides.
template <class Char> bool ReadCommonStamp(const Char* c, int size, QDate* date, QTime* time)
{
    const auto code = [](Char ch) {
        return static_cast<unsigned>(ch);
    };
    if (size != 19 || code(c[4]) != '-' || code(c[7]) != '-' || code(c[10]) != ' ' || code(c[13]) != ':' ||
        code(c[16]) != ':')
        return false;
    const auto digits = [c, &code](int from, int count) {
        int number = 0;
        for (int i = from; i < from + count; ++i) {
            const unsigned d = code(c[i]);
            if (d < '0' || d > '9')
                return -1;
            number = number * 10 + int(d - '0');
        }
        return number;
    };
    *date = QDate(digits(0, 4), digits(5, 2), digits(8, 2));
    *time = QTime(digits(11, 2), digits(14, 2), digits(17, 2));
    return date->isValid() && time->isValid();
}

// The C library's offset of the zone from UTC at an instant, in seconds.
long OffsetAt(qint64 secs)
{
    const time_t at = time_t(secs);
    tm local{};
    if (!localtime_r(&at, &local))
        return LONG_MIN;
    return local.tm_gmtoff;
}

constexpr int readExactly = INT_MIN; // an hour whose times are made as local times, one by one

} // namespace

QDateTime ReadStamp(const QVariant& value)
{
    if (value.userType() == QMetaType::QString) {
        const QString text = value.toString();
        QDate date;
        QTime time;
        if (ReadCommonStamp(reinterpret_cast<const char16_t*>(text.utf16()), text.size(), &date, &time))
            return QDateTime(date, time, Qt::LocalTime);
    }
    return value.toDateTime();
}

StampReader::StampReader()
{
    // As the toolkit does before it asks the C library: the zone as it is now.
    tzset();
}

QDateTime StampReader::Read(const char* utf8, int size)
{
    QDate date;
    QTime time;
    if (!ReadCommonStamp(reinterpret_cast<const unsigned char*>(utf8), size, &date, &time))
        return ReadStamp(QVariant(QString::fromUtf8(utf8, size)));
    const qint64 hour = date.toJulianDay() * 24 + time.hour();
    auto known = offsets.constFind(hour);
    if (known == offsets.constEnd())
        known = offsets.insert(hour, OffsetOf(date, time.hour()));
    if (*known == readExactly)
        return QDateTime(date, time, Qt::LocalTime);
    return QDateTime(date, time, Qt::OffsetFromUTC, *known);
}

// The hour's offset, when it is the same from three hours before the hour to three after it: then
// each wall-clock time of the hour is one instant, the one a local time of it names. Otherwise the
// hour is near a change (a time skipped or one that comes twice) and its times are read exactly.
int StampReader::OffsetOf(const QDate& date, int hour)
{
    const qint64 asUtc = QDateTime(date, QTime(hour, 0), Qt::UTC).toSecsSinceEpoch();
    const long guess = OffsetAt(asUtc);
    if (guess == LONG_MIN)
        return readExactly;
    const qint64 start = asUtc - guess;
    for (const qint64 at : {start - 3 * 3600, start, start + 4 * 3600})
        if (OffsetAt(at) != guess)
            return readExactly;
    return int(guess);
}

const QList<int>& GroupStatuses()
{
    static const QList<int> statuses{int(StatusPaid.first), int(StatusServed.first),
                                     int(StatusReviewed.first), int(StatusCompleted.first),
                                     int(StatusRefunded.first)};
    return statuses;
}

bool HasGroup(int status)
{
    return GroupStatuses().contains(status);
}

COrder::~COrder()
{
    ClearCommodities();
}

QString COrder::GetStatusName() const
{
    return StatusName(status);
}

QString COrder::GetTakeoutName() const
{
    return takeout ? QStringLiteral("外卖") : QString();
}

void COrder::ClearCommodities()
{
    qDeleteAll(commodities);
    commodities.clear();
}

void COrder::AddCommodity(CCommodity* commodity)
{
    if (commodity)
        commodities.append(commodity);
}

qint64 COrder::GetTotalNum() const
{
    qint64 total = 0;
    for (const CCommodity* commodity : commodities)
        total += commodity->GetNum();
    return total;
}

Money COrder::GetTotalPrice() const
{
    Money total = 0;
    for (const CCommodity* commodity : commodities)
        total += Money(commodity->GetNum()) * commodity->GetPrice();
    return total;
}

Money COrder::GetSaving() const
{
    Money total = 0;
    for (const CCommodity* commodity : commodities)
        total += commodity->GetTotal();
    const Money saving = total - amount;
    return saving > 0 ? saving : 0;
}
