#pragma once

#include <QDateTime>
#include <QMetaType>

#include "net/job.h"

// What the platform made of an action on one order: the order's status now, and when the platform
// said so (what the order book weighs the action against the polls' reports with).
struct OrderAction
{
    qint64 id = 0;
    int status = 0;
    // The order had moved on without this action: `status` is the one the platform names, not the
    // one the action makes (a confirmation of an order served or reviewed meanwhile).
    bool movedOn = false;
    QDateTime platformTime; // invalid when the platform did not say
};
Q_DECLARE_METATYPE(OrderAction)

// An action a staff member takes on one order. Each endpoint's job knows its own form and what its
// "status" 1 makes of the order; the owner hears Accepted or, as from every job, Failed.
class COrderActionJob : public CJob
{
    Q_OBJECT
public:
    qint64 Id() const { return id; }

signals:
    void Accepted(const OrderAction& action);

protected:
    COrderActionJob(const ApiLine& line, QObject* parent);

    bool Send(const QString& endpointUrl, qint64 orderId, const Fields& fields);
    QString Take(const Request::Answer& answer) override;
    // The order's status once the platform accepted the action.
    virtual int StatusAfter() const = 0;
    void Accept(int status, bool movedOn, const QDateTime& platformTime);

private:
    qint64 id = 0;
};

// StaffFinishOrder: the buyer's order password finishes the service of a paid order; the order is
// served.
class CFinishOrderJob : public COrderActionJob
{
    Q_OBJECT
public:
    explicit CFinishOrderJob(const ApiLine& line, QObject* parent = nullptr);
    bool Start(qint64 orderId, const QString& password);

protected:
    int StatusAfter() const override;
};

// StaffReply: the shop answers the buyer's review; the order is completed.
class CReplyReviewJob : public COrderActionJob
{
    Q_OBJECT
public:
    explicit CReplyReviewJob(const ApiLine& line, QObject* parent = nullptr);
    bool Start(qint64 orderId, const QString& reply);

protected:
    int StatusAfter() const override;
};

// ToFinishOrder: the shop confirms the service the buyer asks it to confirm; the order is served.
// "status" 3 is an answer too: the order had moved on, and "info" names its status. A 3 whose
// "info" is no status code is a refusal like any other (it must not make the order's status 0);
// so are 2 ("nothing to confirm", its "info" the platform's words) and every other code.
class CConfirmOrderJob : public COrderActionJob
{
    Q_OBJECT
public:
    explicit CConfirmOrderJob(const ApiLine& line, QObject* parent = nullptr);
    bool Start(qint64 orderId);

protected:
    int StatusAfter() const override;
    bool TakeRefusal(const Request::Answer& answer) override;
};
