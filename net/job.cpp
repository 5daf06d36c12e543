#include "net/job.h"

#include <QNetworkReply>

#include "app/log.h"
#include "net/request.h"

CJob::CJob(const ApiLine& line, QObject* parent) : QObject(parent), line(line)
{
    qRegisterMetaType<JobFailure>();
}

CJob::~CJob()
{
    Abort();
}

void CJob::Abort()
{
    if (!reply)
        return;
    QNetworkReply* running = reply;
    reply = nullptr;
    Request::Drop(running, this);
}

bool CJob::Post(const QString& endpointUrl, const Fields& fields, bool withSession)
{
    Fields all = withSession ? Request::SessionFields(line.user) : Fields();
    all += fields;
    return PostBody(endpointUrl, Request::EncodeBody(all));
}

bool CJob::PostBody(const QString& endpointUrl, const QByteArray& body)
{
    Abort();
    Request::Limits limits;
    limits.transferTimeoutMs = line.transferTimeoutMs;
    limits.transferDeadlineMs = line.transferDeadlineMs;
    QNetworkReply* sent = Request::Post(line.network, endpointUrl, body, limits);
    if (!sent)
        return false;
    reply = sent;
    endpoint = sent->url().fileName();
    connect(sent, &QNetworkReply::finished, this, [this, sent] {
        if (sent == reply)
            Finish();
    });
    return true;
}

bool CJob::TakeRefusal(const Request::Answer&)
{
    return false;
}

bool CJob::TakeBytes(const QByteArray&, const QDateTime&)
{
    return false;
}

void CJob::Fail(JobFailure::Kind kind, const QString& message, const QString& logText)
{
    JobFailure failure;
    failure.kind = kind;
    failure.message = message;
    failure.logText = logText;
    emit Failed(failure);
}

void CJob::Finish()
{
    QNetworkReply* finished = reply;
    reply = nullptr;
    if (finished->error() == QNetworkReply::NoError && finished->isOpen() &&
        TakeBytes(finished->peek(finished->bytesAvailable()), Request::PlatformTime(finished))) {
        finished->deleteLater();
        return;
    }
    const Request::Answer answer = Request::Read(finished);
    finished->deleteLater();

    JobFailure failure;
    failure.platformTime = answer.platformTime;
    failure.logText = answer.FailureText();
    switch (answer.Result()) {
    case Request::Answer::Outcome::Succeeded: {
        const QString malformed = Take(answer);
        if (malformed.isEmpty())
            return;
        qCWarning(lcRequests, "%s failed: %s", qUtf8Printable(endpoint), qUtf8Printable(malformed));
        failure.kind = JobFailure::Malformed;
        failure.status = answer.status;
        failure.message = answer.text;
        failure.logText = malformed;
        break;
    }
    case Request::Answer::Outcome::Refused:
        if (TakeRefusal(answer))
            return;
        failure.kind = JobFailure::Refused;
        failure.status = answer.status;
        failure.message = answer.RefusalText();
        break;
    case Request::Answer::Outcome::NotObject:
        failure.kind = JobFailure::Malformed;
        failure.message = answer.text;
        break;
    case Request::Answer::Outcome::LineFailed:
        failure.kind = JobFailure::Line;
        failure.errorCode = answer.errorCode;
        failure.message = answer.errorString;
        break;
    }
    emit Failed(failure);
}
