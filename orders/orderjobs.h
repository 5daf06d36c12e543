#pragma once

#include <QDateTime>
#include <QVariantMap>

#include "net/job.h"

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
