#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QVector>

class CUser;

// The envelope every platform request follows: a form-encoded POST of ordered fields to an endpoint
// URL, answered by a JSON object whose "status" 1 means success and whose "info" carries the payload
// or the platform's explanation. This is the
// one place that builds the body, posts it and reads the answer. A session has one manager for all
// its requests; each request reads its own reply.
namespace Request {

using Fields = QVector<QPair<QString, QString>>;

// "id", "key" and "token" of the session, in that order.
Fields SessionFields(const CUser* user);

// name=value pairs joined by "&" in the given order. Values are percent-encoded as
// application/x-www-form-urlencoded requires, so a key, token, password or review text holding "&",
// "=", "+" or "%" reaches the platform as typed and cannot add fields of its own.
// `trailingSeparator` appends one "&" after the last pair.
QByteArray EncodeBody(const Fields& fields, bool trailingSeparator = false);

// Trusts, besides the system's certificate authorities, the PEM certificates in the file named by
// TARVIK_CA_FILE (a platform behind a private authority). Nothing to do without the variable; false
// with the reason when the file names no certificate. Certificate errors are never ignored: a
// platform whose certificate is not trusted fails every request.
bool TrustCaFile(QString* error);

// No request may wait for ever: a server that accepts and never answers would stop a poll for good.
// The limits an API answer is held to (a session's options set them for its jobs):
// - the transfer timeout: an answer that brings nothing for this long fails with a network error.
//   It is also the span over which an answer must keep coming (FloorBytes);
// - the transfer deadline: the transfer timeout only fires when nothing arrives, and an answer
//   that trickles in a byte at a time would hold a poll for ever. So an answer is cut when fewer
//   than FloorBytes arrived in the last transfer timeout, and it has a deadline as well that a
//   working line meets however large the answer: the transfer deadline for its start and one more
//   for every BytesPerDeadline it announces (Content-Length), or, announcing none, that has come
//   so far. At the defaults: a trickle is cut after 30 s, a line must bring 8 KiB every 30 s, and
//   the full list of 10 000 orders (about 2 MB) may take nine minutes, enough for a line of 4 KB/s.
struct Limits
{
    int transferTimeoutMs = 30000;
    int transferDeadlineMs = 30000;
};

// No API answer comes near this: the full list of 10 000 orders is about 2 MB.
constexpr qint64 MaxReplyBytes = 32LL * 1024 * 1024;
constexpr qint64 FloorBytes = 8 * 1024;
constexpr qint64 BytesPerDeadline = 120 * 1024;

enum class Stop
{
    None,
    TooLarge, // the answer announced or brought more than its limit
    Deadline, // the answer was not whole by its deadline
    TooSlow,  // fewer than FloorBytes came in the last TransferTimeout()
};

// Bounds a running reply: more than `maxBytes` of body (0: no size limit), or a transfer still
// running after `deadlineMsecs`, aborts it, and it finishes as a failed request. The reply's buffer
// is held to a little over maxBytes, so a download (GET) pauses there even while the event loop is busy
// (Qt's network thread ignores that buffer for a POST: an API answer is stopped as soon as the
// event loop sees it pass the limit). Pictures and the installer download are bounded this way.
void Bound(QNetworkReply* reply, qint64 maxBytes, int deadlineMsecs);
// Bounds an API answer: MaxReplyBytes, the floor on its rate and the deadline that grows with its
// length (above). Post() bounds every API request this way.
void BoundAnswer(QNetworkReply* reply, const Limits& limits = Limits());
Stop Stopped(const QNetworkReply* reply);       // why Bound() aborted the reply
QString StopReason(const QNetworkReply* reply); // the same for the log; empty when it was not stopped

QNetworkRequest BuildRequest(const QString& endpointUrl, int bodySize, const Limits& limits = Limits());
// Posts the body, bounded by BoundAnswer().
QNetworkReply* Post(QNetworkAccessManager* manager, const QString& endpointUrl, const QByteArray& body,
                    const Limits& limits = Limits());

// Cuts a reply loose from the reader's slots, stops it and releases it: for a reader that goes
// while its request is still running. Null and finished replies are only released.
void Drop(QNetworkReply* reply, QObject* reader);

// What a finished reply says.
struct Answer
{
    enum class Outcome
    {
        LineFailed, // no answer: no connection, a timeout, an HTTP error, a stopped transfer
        NotObject,  // an answer that is not a JSON object
        Refused,    // the platform answered and said no ("status" other than 1)
        Succeeded,
    };

    bool networkError = false; // the reply itself failed (no connection, timeout, HTTP error)
    int errorCode = 0;         // QNetworkReply::NetworkError
    QString errorString;       // the reply's own error text, or why Bound() stopped it
    QString text;              // the body as UTF-8 text, up to the first NUL byte
    bool isObject = false;     // the text parsed as a JSON object
    QJsonObject object;        // the object itself; read as QVariants only where asked
    int status = 0;            // "status" as an integer (a numeric string counts)
    QDateTime platformTime;    // the reply's Date header in local time; invalid when it had none

    Outcome Result() const
    {
        if (networkError)
            return Outcome::LineFailed;
        if (!isObject)
            return Outcome::NotObject;
        return status == 1 ? Outcome::Succeeded : Outcome::Refused;
    }
    bool Succeeded() const { return Result() == Outcome::Succeeded; }
    QJsonValue InfoJson() const { return object.value(QStringLiteral("info")); }
    QVariant Info() const { return InfoJson().toVariant(); }
    QString InfoText() const { return Info().toString(); }
    QVariantMap InfoMap() const { return Info().toMap(); }
    QVariantList InfoList() const { return Info().toList(); }
    // For the log: the line's error, "not a JSON object", or "status N: <info>"; empty on success.
    QString FailureText() const;
    // The platform's own words when it answered and said no ("status N" when it gave none); empty
    // otherwise.
    QString RefusalText() const;
};

// Reads the whole body of a finished reply. Does not release the reply; once it goes, the memory
// of a large answer is handed back to the system.
Answer Read(QNetworkReply* reply);

// The platform's clock when it answered: the reply's HTTP Date header, read in local time as the
// platform's own time stamps are. Invalid when the reply has no readable Date header.
QDateTime PlatformTime(const QNetworkReply* reply);

// Decodes bytes as UTF-8 up to the first NUL byte.
QString TextUpToNul(const QByteArray& bytes);

} // namespace Request
