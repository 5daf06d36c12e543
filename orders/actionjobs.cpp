#include "orders/actionjobs.h"

#include "app/constants.h"
#include "net/request.h"
#include "orders/corder.h"

COrderActionJob::COrderActionJob(const ApiLine& line, QObject* parent) : CJob(line, parent)
{
    qRegisterMetaType<OrderAction>();
}

bool COrderActionJob::Send(const QString& endpointUrl, qint64 orderId, const Fields& fields)
{
    id = orderId;
    Fields all = fields;
    all.append({QStringLiteral("oid"), QString::number(orderId)});
    return Post(endpointUrl, all);
}

QString COrderActionJob::Take(const Request::Answer& answer)
{
    Accept(StatusAfter(), false, answer.platformTime);
    return QString();
}

void COrderActionJob::Accept(int status, bool movedOn, const QDateTime& platformTime)
{
    OrderAction action;
    action.id = id;
    action.status = status;
    action.movedOn = movedOn;
    action.platformTime = platformTime;
    emit Accepted(action);
}

CFinishOrderJob::CFinishOrderJob(const ApiLine& line, QObject* parent) : COrderActionJob(line, parent) {}

bool CFinishOrderJob::Start(qint64 orderId, const QString& password)
{
    return Send(Api::StaffFinishOrder(), orderId, {{QStringLiteral("pass"), password}});
}

int CFinishOrderJob::StatusAfter() const
{
    return int(StatusServed.first);
}

CReplyReviewJob::CReplyReviewJob(const ApiLine& line, QObject* parent) : COrderActionJob(line, parent) {}

bool CReplyReviewJob::Start(qint64 orderId, const QString& reply)
{
    return Send(Api::StaffReply(), orderId, {{QStringLiteral("replay"), reply}});
}

int CReplyReviewJob::StatusAfter() const
{
    return int(StatusCompleted.first);
}

CConfirmOrderJob::CConfirmOrderJob(const ApiLine& line, QObject* parent) : COrderActionJob(line, parent) {}

bool CConfirmOrderJob::Start(qint64 orderId)
{
    return Send(Api::ToFinishOrder(), orderId, {});
}

int CConfirmOrderJob::StatusAfter() const
{
    return int(StatusServed.first);
}

bool CConfirmOrderJob::TakeRefusal(const Request::Answer& answer)
{
    if (answer.status != 3)
        return false;
    bool number = false;
    const int status = answer.InfoText().trimmed().toInt(&number);
    if (!number)
        return false;
    Accept(status, true, answer.platformTime);
    return true;
}
