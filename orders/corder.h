#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include "app/money.h"

// Order status codes with their display names.
using OrderStatus = QPair<qint64, QString>;
extern const OrderStatus StatusUnpaid;    // 0 "未付款"
extern const OrderStatus StatusPaid;      // 1 "已支付": the status staff must act on
extern const OrderStatus StatusServed;    // 2 "已服务"
extern const OrderStatus StatusReviewed;  // 3 "已评价"
extern const OrderStatus StatusRefunded;  // 9 "已退款"
extern const OrderStatus StatusCompleted; // 4 "已完成"

// The display name of any status code; "未知状态" for codes without a name.
QString StatusName(int status);

// The statuses the order pane has a group for, top to bottom: paid, served, reviewed, completed,
// refunded. An order in any other status (unpaid, or a code the client does not know) has no row.
const QList<int>& GroupStatuses();
bool HasGroup(int status);

// A time as the platform's replies carry it ("yyyy-MM-dd hh:mm:ss", local time), read the way the
// toolkit's variant conversion reads it; the common form is read directly, which is several times
// faster and matters for a full list of thousands of orders with four times each.
QDateTime ReadStamp(const QVariant& value);

// Reads the times of one reply, which may hold tens of thousands, as ReadStamp reads them: the same
// instant and the same wall-clock time. Making a local time asks the C library for the zone each
// time (microseconds, most of the work in a list of ten thousand orders), so a time in the common
// form is given the zone's offset from UTC as a fixed offset, looked up once for each hour of the
// reply; an hour near a change of the offset (summer time) is read time by time. One reader per
// reply: the zone may change while the client runs.
class StampReader
{
public:
    StampReader();
    QDateTime Read(const char* utf8, int size);

private:
    int OffsetOf(const QDate& date, int hour);

    QHash<qint64, int> offsets; // by day and hour
};

// One line item of an order.
class CCommodity
{
public:
    QString GetName() const { return name; }
    void SetName(const QString& value) { name = value; }
    QString GetPics() const { return pics; }
    void SetPics(const QString& value) { pics = value; }
    int GetNum() const { return num; }
    void SetNum(int value) { num = value; }
    Money GetTotal() const { return total; }
    void SetTotal(Money value) { total = value; }
    Money GetPrice() const { return price; }
    void SetPrice(Money value) { price = value; }

private:
    QString name;
    QString pics;
    int num = 0;
    Money total = 0;
    Money price = 0;
};

// One order of the shop. Owns its line items.
class COrder
{
public:
    COrder() = default;
    ~COrder();
    COrder(const COrder&) = delete;
    COrder& operator=(const COrder&) = delete;

    qint64 GetId() const { return id; }
    void SetId(qint64 value) { id = value; }
    qint64 GetShopId() const { return shopId; }
    void SetShopId(qint64 value) { shopId = value; }
    int GetStatus() const { return status; }
    void SetStatus(int value) { status = value; }
    QDateTime GetCtime() const { return ctime; }
    void SetCtime(const QDateTime& value) { ctime = value; }
    QDateTime GetPtime() const { return ptime; }
    void SetPtime(const QDateTime& value) { ptime = value; }
    Money GetAmount() const { return amount; }
    void SetAmount(Money value) { amount = value; }
    QString GetTaker() const { return taker; }
    void SetTaker(const QString& value) { taker = value; }
    QString GetAddress() const { return address; }
    void SetAddress(const QString& value) { address = value; }
    QString GetTel() const { return tel; }
    void SetTel(const QString& value) { tel = value; }
    QString GetMessage() const { return message; }
    void SetMessage(const QString& value) { message = value; }
    Money GetAddCash() const { return addCash; }
    void SetAddCash(Money value) { addCash = value; }
    bool GetPrepareType() const { return prepareType; }
    void SetPrepareType(bool value) { prepareType = value; }
    QDateTime GetStime() const { return stime; }
    void SetStime(const QDateTime& value) { stime = value; }
    QDateTime GetErtime() const { return ertime; }
    void SetErtime(const QDateTime& value) { ertime = value; }
    QString GetShopName() const { return shopName; }
    void SetShopName(const QString& value) { shopName = value; }
    int GetShopCatId() const { return shopCatId; }
    void SetShopCatId(int value) { shopCatId = value; }
    QString GetMember() const { return member; }
    void SetMember(const QString& value) { member = value; }
    bool GetTakeout() const { return takeout; }
    void SetTakeout(bool value) { takeout = value; }
    QString GetContent() const { return content; }
    void SetContent(const QString& value) { content = value; }

    QString GetStatusName() const;
    QString GetTakeoutName() const; // "外卖" for a takeout order

    const QList<CCommodity*>& GetCommodities() const { return commodities; }
    void ClearCommodities();
    void AddCommodity(CCommodity* commodity); // takes ownership

    // Summed in 64 bits and double precision: two items of 2147483647 pieces each must not wrap.
    qint64 GetTotalNum() const;  // sum of the quantities
    Money GetTotalPrice() const; // sum of quantity × unit price
    Money GetSaving() const;     // sum of line totals minus the amount paid, never below 0

private:
    qint64 id = 0;
    qint64 shopId = 0;
    int status = 0;
    QDateTime ctime;
    QDateTime ptime;
    Money amount = 0;
    QString taker;
    QString address;
    QString tel;
    QString message;
    Money addCash = 0;
    bool prepareType = false;
    QDateTime stime;
    QDateTime ertime;
    QString shopName;
    int shopCatId = 0;
    QString member;
    bool takeout = false;
    QString content;
    QList<CCommodity*> commodities;
};
