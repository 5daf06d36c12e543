#include "common/fakenetwork.h"

#include <QBuffer>
#include <QLocale>
#include <QPointer>
#include <QTimer>

#include <utility>

#include "net/request.h"

static FakeNetworkManager::Handler installedHandler;
static QList<RecordedRequest> recorded;
static QDateTime platformClock;
static QList<QPointer<FakeReply>> held;
static bool installed = false;

FakeReply::FakeReply(const QNetworkRequest& request, QNetworkAccessManager::Operation op, Kind kind,
                     const QByteArray& body, QNetworkReply::NetworkError error, QObject* parent)
    : QNetworkReply(parent), kind(kind), content(body), failure(error)
{
    setRequest(request);
    setUrl(request.url());
    setOperation(op);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (kind == Held)
        held.append(this);
    else if (kind != Hanging)
        QTimer::singleShot(0, this, &FakeReply::Respond);
}

void FakeReply::Release()
{
    kind = Canned;
    Respond();
}

void FakeReply::Respond()
{
    if (isFinished())
        return;
    if (kind == Failing) {
        setError(failure, QStringLiteral("fake failure %1").arg(int(failure)));
        emit errorOccurred(failure);
    } else {
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, 200);
        setHeader(QNetworkRequest::ContentLengthHeader, content.size());
        if (platformClock.isValid())
            setRawHeader("Date", QLocale::c()
                                     .toString(platformClock.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"))
                                     .toLatin1() +
                                     " GMT");
        emit metaDataChanged();
        emit readyRead();
    }
    setFinished(true);
    emit finished();
}

void FakeReply::abort()
{
    if (isFinished())
        return;
    kind = Failing;
    failure = OperationCanceledError;
    Respond();
}

qint64 FakeReply::bytesAvailable() const
{
    return content.size() - offset + QIODevice::bytesAvailable();
}

qint64 FakeReply::readData(char* data, qint64 maxSize)
{
    if (kind == Failing || offset >= content.size())
        return kind == Failing || isFinished() ? -1 : 0;
    const qint64 n = qMin(maxSize, content.size() - offset);
    memcpy(data, content.constData() + offset, size_t(n));
    offset += n;
    return n;
}

FakeNetworkManager::FakeNetworkManager(QObject* parent)
    : QNetworkAccessManager(parent), handler(installedHandler)
{
}

void FakeNetworkManager::Install(Handler handler)
{
    installedHandler = std::move(handler);
    recorded.clear();
    installed = true;
}

QNetworkAccessManager* FakeNetworkManager::Make(QObject* parent)
{
    if (installed)
        return new FakeNetworkManager(parent);
    return new QNetworkAccessManager(parent);
}

void FakeNetworkManager::SetPlatformClock(const QDateTime& now)
{
    platformClock = now;
}

void FakeNetworkManager::ReleaseHeld()
{
    const QList<QPointer<FakeReply>> releasing = std::exchange(held, {});
    for (const QPointer<FakeReply>& reply : releasing)
        if (reply)
            reply->Release();
}

void FakeNetworkManager::Uninstall()
{
    held.clear();
    installedHandler = nullptr;
    platformClock = QDateTime();
    installed = false;
}

QList<RecordedRequest>& FakeNetworkManager::Recorded()
{
    return recorded;
}

QNetworkReply* FakeNetworkManager::createRequest(Operation op, const QNetworkRequest& request,
                                                 QIODevice* outgoingData)
{
    RecordedRequest entry{op, request, outgoingData ? outgoingData->readAll() : QByteArray()};
    recorded.append(entry);
    const FakeResponse response = handler ? handler(entry) : FakeResponse::Json("{\"status\":1}");
    if (response.kind == FakeReply::PassThrough) {
        // The body was read for the record; the real request sends that copy.
        QBuffer* body = nullptr;
        if (outgoingData) {
            body = new QBuffer(this);
            body->setData(entry.body);
            body->open(QIODevice::ReadOnly);
        }
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, body);
        if (body)
            body->setParent(reply);
        return reply;
    }
    return new FakeReply(request, op, response.kind, response.body, response.error, this);
}
