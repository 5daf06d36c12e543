#pragma once

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <functional>

// A network manager for the envelope's exact rules: every request is recorded and answered by a
// canned, failing or hanging reply chosen by the test, or by a canned reply the test holds back
// and releases when it wants it to arrive (after a newer fact, say).

class FakeReply : public QNetworkReply
{
    Q_OBJECT
public:
    enum Kind
    {
        Canned,
        Failing,
        Hanging,
        Held,       // canned, answered only by FakeNetworkManager::ReleaseHeld()
        PassThrough // not a fake: the request goes out on the real network
    };

    FakeReply(const QNetworkRequest& request, QNetworkAccessManager::Operation op, Kind kind,
              const QByteArray& body, QNetworkReply::NetworkError error = NoError, QObject* parent = nullptr);

    void Release();
    void abort() override;
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;

private slots:
    void Respond();

private:
    Kind kind;
    QByteArray content;
    QNetworkReply::NetworkError failure;
    qint64 offset = 0;
};

struct RecordedRequest
{
    QNetworkAccessManager::Operation operation;
    QNetworkRequest request;
    QByteArray body;
};

struct FakeResponse
{
    FakeReply::Kind kind = FakeReply::Canned;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;

    static FakeResponse Json(const QByteArray& body)
    {
        return {FakeReply::Canned, body, QNetworkReply::NoError};
    }
    static FakeResponse Error(QNetworkReply::NetworkError code) { return {FakeReply::Failing, {}, code}; }
    static FakeResponse Hang() { return {FakeReply::Hanging, {}, QNetworkReply::NoError}; }
    static FakeResponse Hold(const QByteArray& body) { return {FakeReply::Held, body, QNetworkReply::NoError}; }
    static FakeResponse Real() { return {FakeReply::PassThrough, {}, QNetworkReply::NoError}; }
};

class FakeNetworkManager : public QNetworkAccessManager
{
    Q_OBJECT
public:
    using Handler = std::function<FakeResponse(const RecordedRequest&)>;

    explicit FakeNetworkManager(QObject* parent = nullptr);

    // Every manager made by Make() while installed answers with `handler`; without one, Make()
    // gives a real manager. Tests hand Make to what they build as its network maker (TestOptions()).
    static void Install(Handler handler);
    static void Uninstall();
    static QNetworkAccessManager* Make(QObject* parent);
    static QList<RecordedRequest>& Recorded();
    // The platform's clock: when valid, every answer carries it as its HTTP Date header.
    static void SetPlatformClock(const QDateTime& now);
    // Answers every held reply, oldest first.
    static void ReleaseHeld();

    // From now on this manager alone answers with `replacement`; null answers every request {"status":1}.
    void SetHandler(Handler replacement) { handler = std::move(replacement); }

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override;

private:
    Handler handler;
};
