#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

class QNetworkAccessManager;

// Runs the local platform server (velm-platform) for one test: started on a free port with a
// throw-away database unless the extra arguments name one ("--db PATH"), e.g.
//     PlatformProcess platform({"--seed"});
//     QVERIFY2(platform.isRunning(), qPrintable(platform.errorString()));
// and stopped in the destructor. The blocking helpers run a local event loop until the answer
// arrives or their time-out passes.
class PlatformProcess
{
public:
    // The demo accounts of --seed.
    static constexpr qint64 DemoAccount = 13800000001LL;
    static constexpr const char* DemoPassword = "velm123";
    static constexpr qint64 SecondDemoAccount = 13800000002LL;
    static constexpr const char* SecondDemoPassword = "velm456";

    struct Session
    {
        int id = 0;
        QString key;
        QString token;
        bool isValid() const { return id != 0 && !key.isEmpty() && !token.isEmpty(); }
        // "id=..&key=..&token=..", the start of every session request body.
        QString form() const;
    };

    struct HttpResult
    {
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        int httpStatus = 0; // 0 when no HTTP answer came
        QByteArray body;
        QByteArray contentType;
        bool timedOut = false;
    };

    explicit PlatformProcess(const QStringList& extraArgs = QStringList());
    ~PlatformProcess();
    PlatformProcess(const PlatformProcess&) = delete;
    PlatformProcess& operator=(const PlatformProcess&) = delete;

    bool isRunning() const;
    QString errorString() const { return error; }
    quint16 port() const { return listeningPort; }
    QString hostPort() const; // "127.0.0.1:PORT"
    QString baseUrl() const;  // "http://127.0.0.1:PORT" ("https://" with --tls-cert)
    // Points the client, in this process and in those it starts, at this server: its API, picture
    // and web hosts, in this server's scheme (TARVIK_API_HOST and the others).
    void serveClient() const;

    // POST to /api/<endpoint> with `form` sent as it is (UTF-8), the way the client sends it.
    // Returns the reply object, or an empty object when the answer is not a JSON object.
    QJsonObject post(const QString& endpoint, const QString& form, int timeoutMs = 10000);
    HttpResult postRaw(const QString& endpoint, const QByteArray& body, int timeoutMs = 10000);
    HttpResult get(const QString& pathOrUrl, int timeoutMs = 10000);

    // LoginMd5 with the MD5 of the password's local 8-bit bytes; invalid session on failure.
    Session login(qint64 account, const QString& password);

    // Admin API. Each returns the reply's "info" (or an empty value) and is false/0 on failure.
    QJsonObject admin(const QByteArray& method, const QString& path, const QJsonObject& body = QJsonObject(),
                      int timeoutMs = 60000);
    qint64 createOrder(const QJsonObject& order); // the new order's id, 0 on failure
    QJsonObject order(qint64 id);                 // everything about it, password included
    QJsonObject changeOrder(qint64 id, const QJsonObject& changes);
    // kind: delay (arg = ms), hang, http500, notjson, array, refuse (arg = text), close.
    // times 0: until cleared. endpoint: an API endpoint name, "*", "img" or "download".
    bool setFault(const QString& endpoint, const QString& kind, const QVariant& arg = QVariant(),
                  int times = 0);
    bool clearFaults();
    bool setCash(double yuer, double allcash);

    // Standard output after the "listening on" line, read so far (waits up to timeoutMs for
    // a line containing `fragment` when it is given).
    QStringList outputLines();
    int linesWith(const QString& fragment); // of the output so far, those containing `fragment`
    bool waitForOutput(const QString& fragment, int timeoutMs);

    // SIGTERM and wait; true when the server exited on its own with code 0.
    bool stop(int timeoutMs = 10000);
    void kill();
    QProcess& process() { return server; }

private:
    HttpResult send(const QByteArray& method, const QString& url, const QByteArray& body,
                    const QByteArray& contentType, int timeoutMs);
    void readOutput();

    QProcess server;
    QNetworkAccessManager* manager = nullptr;
    quint16 listeningPort = 0;
    QString scheme = QStringLiteral("http");
    QString error;
    QByteArray pending;
    QStringList lines;
};
