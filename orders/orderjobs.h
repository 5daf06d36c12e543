#pragma once

#include <QDateTime>
#include <QVariantMap>

#include "net/job.h"
#include "orders/orderentry.h"

// The full detail of one order (StaffOrder2's "info"), as the book takes it.
struct OrderDetail
{
    qint64 id = 0;
    QVariantMap info;
    QDateTime platformTime; // the platform's clock when it answered; invalid when it did not say
};
Q_DECLARE_METATYPE(OrderDetail)

// StaffOrder2: the full detail of one order. An answer about another order than the one asked for
// is malformed.
class COrderDetailJob : public CJob
{
    Q_OBJECT
public:
    explicit COrderDetailJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start(qint64 id);
    qint64 Id() const { return id; }

signals:
    void Fetched(const OrderDetail& detail);

protected:
    QString Take(const Request::Answer& answer) override;

private:
    qint64 id = 0;
};

// StaffOrderList: a page of the shop's orders, newest first, with the shop they belong to. The
// list is read once, straight from the answer's bytes into entries. An "info" without a list
// brings no entries: an empty shop.
class COrderListJob : public CJob
{
    Q_OBJECT
public:
    explicit COrderListJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start(int pager = 1);

signals:
    void Fetched(const OrderListPage& page);

protected:
    QString Take(const Request::Answer& answer) override;
    bool TakeBytes(const QByteArray& body, const QDateTime& platformTime) override;

private:
    int pager = 1;
};

// What the two polls share: an answer that lists order entries.
class COrderEntriesJob : public CJob
{
    Q_OBJECT
public:
    using CJob::CJob;

signals:
    void Fetched(const OrderEntries& entries);

protected:
    QString Take(const Request::Answer& answer) override;
    bool TakeBytes(const QByteArray& body, const QDateTime& platformTime) override;
};

// UpdateStaffOrderList: the orders placed after a time of the platform's clock.
class CNewOrdersJob : public COrderEntriesJob
{
    Q_OBJECT
public:
    using COrderEntriesJob::COrderEntriesJob;
    bool Start(const QDateTime& since);
};

// PayFinishOrder: the orders whose status changed after a time of the platform's clock (their
// "ertime"), with their new status.
class CPayFinishJob : public COrderEntriesJob
{
    Q_OBJECT
public:
    using COrderEntriesJob::COrderEntriesJob;
    bool Start(const QDateTime& changedAfter);
};

namespace OrderWire {
// The platform's form of a time in requests and answers.
QString FormatTime(const QDateTime& time);
// The entries of an answer's "info" as a JSON document gives it; the shop's fields into `page`.
// An answer the fast reading below turned down is read this way.
OrderListPage ReadList(const QJsonValue& info);
// The same straight from the bytes of a whole answer with "status" 1. False when the bytes are
// anything else, or anything the fast reading does not take as it is (a refusal, broken JSON,
// a list the toolkit's reading would take differently): the answer is then read as a document.
bool ReadListBytes(const QByteArray& body, OrderListPage* page);
} // namespace OrderWire
