#include "net/request.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <QVector>

#include <limits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/log.h"
#include "session/cuser.h"

namespace Request {


namespace {

const char* const stopProperty = "tarvikStop";
const char* const stopReasonProperty = "tarvikStopReason";
// After an answer this large the heap is trimmed: the C library keeps freed pages otherwise, and a
// client open all day would hold on to the memory of one hostile answer.
constexpr qint64 largeReplyBytes = 4LL * 1024 * 1024;
constexpr qint64 readSlackBytes = 1024 * 1024;

QString MiB(qint64 bytes)
{
    return QString::number(bytes / (1024 * 1024));
}

QString Seconds(qint64 msecs)
{
    return QString::number(double(msecs) / 1000.0, 'g', 4);
}

// Lives as the reply's child and goes with it.
class ReplyBound : public QObject
{
public:
    // `paced`: the deadline grows with the answer's length and a floor on its rate holds (BoundAnswer).
    ReplyBound(QNetworkReply* reply, qint64 maxBytes, int deadlineMsecs, bool paced,
               int floorWindowMsecs = Limits().transferTimeoutMs)
        : QObject(reply), reply(reply), maxBytes(maxBytes), deadlineMsecs(deadlineMsecs), paced(paced),
          floorWindowMsecs(floorWindowMsecs)
    {
        clock.start();
        if (maxBytes > 0) {
            // Qt's network thread can stall up to a chunk short of a full buffer: a buffer that
            // fills has passed the limit all the same.
            reply->setReadBufferSize(maxBytes + readSlackBytes);
            connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
                if (this->reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > this->maxBytes)
                    Abort(Stop::TooLarge);
            });
            // Progress reports are spaced out, and the last bytes before a full buffer may come
            // without a signal: with nothing more arriving, only a look at the buffer sees them.
            connect(reply, &QNetworkReply::readyRead, this, &ReplyBound::CheckBuffer);
            watch.setInterval(250);
            connect(&watch, &QTimer::timeout, this, &ReplyBound::CheckBuffer);
            connect(reply, &QNetworkReply::finished, &watch, &QTimer::stop);
            watch.start();
        }
        connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
            receivedBytes = received;
            if (this->maxBytes > 0 && received > this->maxBytes)
                Abort(Stop::TooLarge);
        });
        if (deadlineMsecs > 0) {
            deadline.setSingleShot(true);
            connect(&deadline, &QTimer::timeout, this, &ReplyBound::CheckDeadline);
            connect(reply, &QNetworkReply::finished, &deadline, &QTimer::stop);
            deadline.start(deadlineMsecs);
        }
        if (paced && floorWindowMsecs > 0) {
            // Looked at six times a window: a line that stalls is cut within a sixth of one late.
            floorWatch.setInterval(qMax(10, floorWindowMsecs / floorLooksPerWindow));
            connect(&floorWatch, &QTimer::timeout, this, &ReplyBound::CheckFloor);
            connect(reply, &QNetworkReply::finished, &floorWatch, &QTimer::stop);
            floorWatch.start();
            samples.append({0, 0});
        }
    }

    ~ReplyBound() override
    {
#ifdef __GLIBC__
        // The reply's own buffers are freed after its children: trim once the event loop is back.
        if (receivedBytes > largeReplyBytes && QCoreApplication::instance())
            QTimer::singleShot(0, [] { malloc_trim(0); });
#endif
    }

private:
    struct Sample
    {
        qint64 at;       // on `clock`
        qint64 received; // bytes of body by then
    };

    // The deadline of a paced answer: one for its start, one more for every BytesPerDeadline of its
    // length, announced or (without an announcement) come so far.
    qint64 AllowedMsecs() const
    {
        if (!paced)
            return deadlineMsecs;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        const qint64 length = qBound(qint64(0), qMax(announced, receivedBytes), MaxReplyBytes);
        return deadlineMsecs + deadlineMsecs * length / BytesPerDeadline;
    }

    void CheckDeadline()
    {
        const qint64 allowed = AllowedMsecs();
        const qint64 elapsed = clock.elapsed();
        if (elapsed >= allowed)
            Abort(Stop::Deadline, allowed);
        else
            deadline.start(int(qMin(allowed - elapsed, qint64(std::numeric_limits<int>::max()))));
    }

    // Cut when fewer than FloorBytes came over the last window. A look that comes late (the event
    // loop was held, and the bytes that came meanwhile may not be counted yet) starts the window
    // afresh: the client, not the line, was slow.
    void CheckFloor()
    {
        const qint64 now = clock.elapsed();
        if (now - samples.last().at > floorWindowMsecs / 2)
            samples.clear();
        samples.append({now, receivedBytes});
        int windowStart = -1; // the latest look at least a window back
        for (int i = 0; i < samples.size() && now - samples.at(i).at >= floorWindowMsecs; ++i)
            windowStart = i;
        if (windowStart < 0)
            return;
        if (receivedBytes - samples.at(windowStart).received < FloorBytes) {
            Abort(Stop::TooSlow);
            return;
        }
        samples.remove(0, windowStart);
    }

    void CheckBuffer()
    {
        if (reply->bytesAvailable() > maxBytes)
            Abort(Stop::TooLarge);
    }

    void Abort(Stop why, qint64 allowedMsecs = 0)
    {
        if (reply->isFinished() || Stopped(reply) != Stop::None)
            return;
        reply->setProperty(stopProperty, int(why));
        QString reason;
        if (why == Stop::TooLarge)
            reason = QStringLiteral("the answer is larger than %1 MiB, stopped").arg(MiB(maxBytes));
        else if (why == Stop::TooSlow)
            reason =
                QStringLiteral("fewer than %1 KiB of the answer came in the last %2 s (%3 bytes so far), "
                               "stopped")
                    .arg(FloorBytes / 1024)
                    .arg(Seconds(floorWindowMsecs))
                    .arg(receivedBytes);
        else
            reason = QStringLiteral("the answer was not whole within %1 s (%2 bytes so far), stopped")
                         .arg(Seconds(allowedMsecs))
                         .arg(receivedBytes);
        reply->setProperty(stopReasonProperty, reason);
        reply->abort(); // finishes the reply with an error at once
    }

    static constexpr int floorLooksPerWindow = 6;
    QNetworkReply* reply;
    const qint64 maxBytes;
    const int deadlineMsecs;
    const bool paced;
    const int floorWindowMsecs;
    qint64 receivedBytes = 0;
    QElapsedTimer clock;
    QTimer deadline;
    QTimer watch;
    QTimer floorWatch;
    QVector<Sample> samples; // the floor's looks, oldest first
};

} // namespace

Fields SessionFields(const CUser* user)
{
    if (!user)
        return {};
    return {{QStringLiteral("id"), QString::number(user->GetId())},
            {QStringLiteral("key"), user->GetKey()},
            {QStringLiteral("token"), user->GetToken()}};
}

QByteArray EncodeBody(const Fields& fields, bool trailingSeparator)
{
    QByteArray body;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            body += '&';
        body += fields[i].first.toUtf8();
        body += '=';
        body += QUrl::toPercentEncoding(fields[i].second);
    }
    if (trailingSeparator)
        body += '&';
    return body;
}

bool TrustCaFile(QString* error)
{
    const QString path = qEnvironmentVariable("TARVIK_CA_FILE");
    if (path.isEmpty())
        return true;
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (certificates.isEmpty()) {
        *error = QStringLiteral("TARVIK_CA_FILE: no PEM certificate in %1").arg(path);
        return false;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

void Bound(QNetworkReply* reply, qint64 maxBytes, int deadlineMsecs)
{
    if (reply)
        new ReplyBound(reply, maxBytes, deadlineMsecs, false);
}


void BoundAnswer(QNetworkReply* reply, const Limits& limits)
{
    if (reply)
        new ReplyBound(reply, MaxReplyBytes, limits.transferDeadlineMs, true, limits.transferTimeoutMs);
}

Stop Stopped(const QNetworkReply* reply)
{
    return reply ? Stop(reply->property(stopProperty).toInt()) : Stop::None;
}

QString StopReason(const QNetworkReply* reply)
{
    return reply ? reply->property(stopReasonProperty).toString() : QString();
}

QNetworkRequest BuildRequest(const QString& endpointUrl, int bodySize, const Limits& limits)
{
    QNetworkRequest request;
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, bodySize);
    request.setUrl(QUrl(endpointUrl, QUrl::TolerantMode));
    request.setTransferTimeout(limits.transferTimeoutMs);
    return request;
}

QNetworkReply* Post(QNetworkAccessManager* manager, const QString& endpointUrl, const QByteArray& body,
                    const Limits& limits)
{
    if (!manager)
        return nullptr;
    QNetworkReply* reply =
        manager->post(BuildRequest(endpointUrl, body.size(), limits), body);
    BoundAnswer(reply, limits);
    return reply;
}

void Drop(QNetworkReply* reply, QObject* reader)
{
    if (!reply)
        return;
    // Only the reader's connections: the reply's own (to the network thread) must stay, or the
    // abort would never reach the connection.
    QObject::disconnect(reply, nullptr, reader, nullptr);
    if (!reply->isFinished())
        reply->abort();
    reply->deleteLater();
}

QString Answer::FailureText() const
{
    switch (Result()) {
    case Outcome::LineFailed:
        return errorString;
    case Outcome::NotObject:
        return QStringLiteral("not a JSON object");
    case Outcome::Refused:
        return QStringLiteral("status %1: %2").arg(status).arg(InfoText());
    case Outcome::Succeeded:
        break;
    }
    return QString();
}

QString Answer::RefusalText() const
{
    if (Result() != Outcome::Refused)
        return QString();
    const QString info = InfoText().trimmed();
    return info.isEmpty() ? QStringLiteral("status %1").arg(status) : info;
}

QString TextUpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? bytes.left(nul) : bytes);
}

QDateTime PlatformTime(const QNetworkReply* reply)
{
    if (!reply || !reply->hasRawHeader("Date"))
        return QDateTime();
    // IMF-fixdate, the form every current server sends: "Tue, 08 Dec 2026 11:22:02 GMT".
    const QString text = QString::fromLatin1(reply->rawHeader("Date")).simplified();
    QDateTime time = QLocale::c().toDateTime(text, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    if (!time.isValid())
        return QDateTime();
    time.setTimeSpec(Qt::UTC);
    return time.toLocalTime();
}

Answer Read(QNetworkReply* reply)
{
    Answer answer;
    if (!reply)
        return answer;
    if (reply->error() != QNetworkReply::NoError) {
        answer.networkError = true;
        answer.errorCode = reply->error();
        const QString stopped = StopReason(reply);
        answer.errorString = stopped.isEmpty() ? reply->errorString() : stopped;
    }
    // An aborted reply is closed and has nothing left to read.
    QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const int nul = body.indexOf('\0');
    if (nul >= 0)
        body.truncate(nul);
    answer.text = QString::fromUtf8(body);
    // One line per failed request: "why did we miss order X" starts with which calls failed, and when.
    const QString endpoint = reply->url().fileName();
    if (answer.networkError) {
        qCWarning(lcRequests, "%s failed: %s (error %d)", qUtf8Printable(endpoint),
                  qUtf8Printable(answer.errorString), answer.errorCode);
        return answer;
    }
    answer.platformTime = PlatformTime(reply);

    // The bytes are parsed as they came. Only a body the parser turns down is parsed again from
    // the text, where invalid UTF-8 has been replaced: so both read every answer alike, and a
    // large one is not encoded a second time.
    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    body.clear();
    if (parseError.error != QJsonParseError::NoError)
        document = QJsonDocument::fromJson(answer.text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcRequests, "%s failed: the answer is not a JSON object (%d characters)",
                  qUtf8Printable(endpoint), int(answer.text.size()));
        return answer;
    }
    answer.isObject = true;
    answer.object = document.object();
    answer.status = answer.object.value(QStringLiteral("status")).toVariant().toInt();
    return answer;
}

} // namespace Request
