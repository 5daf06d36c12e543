#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QVector>

class CUser;
class QNetworkAccessManager;
class QNetworkReply;
namespace Request {
struct Answer;
}

// What every request of a session goes through: the one network manager, the account whose
// "id", "key" and "token" open each request (none for the login), and the limits each answer is
// held to. A session owns one; tests build theirs with short limits.
struct ApiLine
{
    QNetworkAccessManager* network = nullptr;
    const CUser* user = nullptr;
    // No request waits for ever: an answer that brings nothing for this long fails, and it is also
    // the span over which an answer must keep coming (Request::FloorBytes).
    int transferTimeoutMs = 30000;
    // The deadline an answer must be whole by: this much for its start and as much again for every
    // Request::BytesPerDeadline it announces.
    int transferDeadlineMs = 30000;
};

// Why a job brought no result.
struct JobFailure
{
    enum Kind
    {
        Line,      // no answer: no connection, a time-out, an HTTP error, a stopped transfer
        Malformed, // an answer that is not a JSON object, or whose payload is not what the endpoint gives
        Refused,   // the platform answered and said no ("status" other than 1)
    };

    Kind kind = Line;
    // What a window may show: the platform's own words when it refused ("status N" when it gave
    // none), the answer's text when it was malformed, the line's error otherwise.
    QString message;
    QString logText;          // one line for the log
    int status = 0;           // Refused, or Malformed after a "status" 1: the platform's "status"
    int errorCode = 0;        // Line: QNetworkReply::NetworkError
    QDateTime platformTime;   // the platform's clock when it answered; invalid when it did not say
};
Q_DECLARE_METATYPE(JobFailure)

// A conversation with one endpoint of the platform. The job owns its reply: it posts the form,
// reads the answer once when it finishes, releases it, and tells its owner what came of it: a
// subclass's typed result signal, or Failed. A job deleted or aborted while its request runs
// aborts the request, and neither signal follows. Starting a running job again drops the running
// request first, so a job has one request in flight at most.
class CJob : public QObject
{
    Q_OBJECT
public:
    explicit CJob(const ApiLine& line, QObject* parent = nullptr);
    ~CJob() override;

    bool Running() const { return !reply.isNull(); }
    // Drops the running request, if any: no signal follows.
    void Abort();
    const ApiLine& Line() const { return line; }
    // The endpoint of the latest request, for the log ("StaffOrder2").
    QString Endpoint() const { return endpoint; }

signals:
    void Failed(const JobFailure& failure);

protected:
    using Fields = QVector<QPair<QString, QString>>;
    // Posts the session's fields followed by `fields` (only `fields` with `withSession` false).
    // False when no request could be made (no network manager); nothing follows then.
    bool Post(const QString& endpointUrl, const Fields& fields, bool withSession = true);
    // Posts a body as it is.
    bool PostBody(const QString& endpointUrl, const QByteArray& body);

    // A succeeded answer ("status" 1): emit the typed result and return an empty string, or return
    // why the payload is not what the endpoint gives (the job then fails as Malformed).
    virtual QString Take(const Request::Answer& answer) = 0;
    // A refused answer, before Failed: true when the subclass made a result of it after all (an
    // endpoint whose "status" 0 carries an answer of its own). Default: false.
    virtual bool TakeRefusal(const Request::Answer& answer);
    // A whole answer as it came, before it is read as a JSON document: true when the subclass made
    // its result straight from the bytes (a list of ten thousand orders is not made into a document
    // first). False leaves the answer to the reading above. Default: false.
    virtual bool TakeBytes(const QByteArray& body, const QDateTime& platformTime);

    // Emits Failed for a failure the subclass found on its own.
    void Fail(JobFailure::Kind kind, const QString& message, const QString& logText);

private:
    void Finish();

    ApiLine line;
    // Guarded: a reply may go with its network manager (the session) before its job does.
    QPointer<QNetworkReply> reply;
    QString endpoint;
};
