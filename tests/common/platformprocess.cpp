#include "common/platformprocess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

QString PlatformProcess::Session::form() const
{
    return QStringLiteral("id=%1&key=%2&token=%3").arg(id).arg(key, token);
}

PlatformProcess::PlatformProcess(const QStringList& extraArgs)
{
    QStringList args{QStringLiteral("--port"), QStringLiteral("0")};
    if (!extraArgs.contains(QStringLiteral("--db")))
        args << QStringLiteral("--db") << QStringLiteral(":memory:");
    args << extraArgs;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(VELM_PLATFORM_BIN), args);
    if (!server.waitForStarted(5000)) {
        error = QStringLiteral("velm-platform did not start: ") + server.errorString();
        return;
    }
    static const QRegularExpression listening(QStringLiteral("^listening on (https?)://[^:]+:(\\d+)$"));
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const int newline = pending.indexOf('\n');
        if (newline < 0) {
            if (server.state() != QProcess::Running ||
                !server.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
                break;
            pending += server.readAllStandardOutput();
            continue;
        }
        const QString first = QString::fromUtf8(pending.left(newline)).trimmed();
        pending.remove(0, newline + 1);
        const QRegularExpressionMatch match = listening.match(first);
        if (match.hasMatch()) {
            scheme = match.captured(1);
            listeningPort = static_cast<quint16>(match.captured(2).toUInt());
            manager = new QNetworkAccessManager();
            readOutput();
            return;
        }
        error = QStringLiteral("velm-platform said \"%1\" instead of where it listens").arg(first);
        return;
    }
    if (server.state() == QProcess::NotRunning)
        error = QStringLiteral("velm-platform exited with code %1 before listening").arg(server.exitCode());
    else
        error = QStringLiteral("velm-platform did not report its port within 10 s");
}

PlatformProcess::~PlatformProcess()
{
    delete manager;
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
}

bool PlatformProcess::isRunning() const
{
    return listeningPort != 0 && server.state() == QProcess::Running;
}

QString PlatformProcess::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(listeningPort);
}

QString PlatformProcess::baseUrl() const
{
    return scheme + QStringLiteral("://") + hostPort();
}

void PlatformProcess::serveClient() const
{
    for (const char* host : {"TARVIK_API_HOST", "TARVIK_IMAGE_HOST", "TARVIK_WEB_HOST"})
        qputenv(host, hostPort().toLatin1());
    for (const char* variable : {"TARVIK_API_SCHEME", "TARVIK_IMAGE_SCHEME"})
        qputenv(variable, scheme.toLatin1());
}

PlatformProcess::HttpResult PlatformProcess::send(const QByteArray& method, const QString& url,
                                                  const QByteArray& body, const QByteArray& contentType,
                                                  int timeoutMs)
{
    HttpResult result;
    if (!manager) {
        result.error = QNetworkReply::ConnectionRefusedError;
        return result;
    }
    QNetworkRequest request{QUrl(url)};
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    if (method != "GET")
        request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    // Qt writes a request's headers and body separately; on a kept-alive connection the body then
    // waits for the server's delayed acknowledgement, some 40 ms per call. A fresh connection
    // per call is acknowledged at once.
    request.setRawHeader("Connection", "close");
    QNetworkReply* reply = manager->sendCustomRequest(request, method, body);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        result.timedOut = true;
        reply->abort();
    });
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    result.error = reply->error();
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

PlatformProcess::HttpResult PlatformProcess::postRaw(const QString& endpoint, const QByteArray& body,
                                                     int timeoutMs)
{
    return send("POST", baseUrl() + QStringLiteral("/api/") + endpoint, body,
                "application/x-www-form-urlencoded", timeoutMs);
}

PlatformProcess::HttpResult PlatformProcess::get(const QString& pathOrUrl, int timeoutMs)
{
    const QString url = pathOrUrl.startsWith(QLatin1String("http")) ? pathOrUrl : baseUrl() + pathOrUrl;
    return send("GET", url, QByteArray(), QByteArray(), timeoutMs);
}

QJsonObject PlatformProcess::post(const QString& endpoint, const QString& form, int timeoutMs)
{
    const HttpResult result = postRaw(endpoint, form.toUtf8(), timeoutMs);
    return QJsonDocument::fromJson(result.body).object();
}

PlatformProcess::Session PlatformProcess::login(qint64 account, const QString& password)
{
    const QString md5 = QString::fromLatin1(
        QCryptographicHash::hash(password.toLocal8Bit(), QCryptographicHash::Md5).toHex());
    const QJsonObject reply =
        post(QStringLiteral("LoginMd5"), QStringLiteral("account=%1&pass=%2").arg(account).arg(md5));
    Session session;
    if (reply.value(QStringLiteral("status")).toInt() != 1)
        return session;
    const QJsonObject info = reply.value(QStringLiteral("info")).toObject();
    session.id = info.value(QStringLiteral("id")).toInt();
    session.key = info.value(QStringLiteral("key")).toString();
    session.token = info.value(QStringLiteral("token")).toString();
    return session;
}

QJsonObject PlatformProcess::admin(const QByteArray& method, const QString& path, const QJsonObject& body,
                                   int timeoutMs)
{
    const QByteArray json =
        body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    const HttpResult result =
        send(method, baseUrl() + QStringLiteral("/admin/") + path, json, "application/json", timeoutMs);
    return QJsonDocument::fromJson(result.body).object();
}

qint64 PlatformProcess::createOrder(const QJsonObject& order)
{
    const QJsonObject reply = admin("POST", QStringLiteral("orders"), order);
    if (reply.value(QStringLiteral("status")).toInt() != 1)
        return 0;
    return reply.value(QStringLiteral("info"))
        .toObject()
        .value(QStringLiteral("id"))
        .toVariant()
        .toLongLong();
}

QJsonObject PlatformProcess::order(qint64 id)
{
    return admin("GET", QStringLiteral("orders/%1").arg(id)).value(QStringLiteral("info")).toObject();
}

QJsonObject PlatformProcess::changeOrder(qint64 id, const QJsonObject& changes)
{
    return admin("POST", QStringLiteral("orders/%1").arg(id), changes)
        .value(QStringLiteral("info"))
        .toObject();
}

bool PlatformProcess::setFault(const QString& endpoint, const QString& kind, const QVariant& arg, int times)
{
    QJsonObject fault{{QStringLiteral("endpoint"), endpoint},
                      {QStringLiteral("kind"), kind},
                      {QStringLiteral("times"), times}};
    if (kind == QLatin1String("refuse") && arg.isValid())
        fault.insert(QStringLiteral("text"), arg.toString());
    else if (arg.isValid())
        fault.insert(QStringLiteral("ms"), arg.toInt());
    return admin("POST", QStringLiteral("faults"), fault).value(QStringLiteral("status")).toInt() == 1;
}

bool PlatformProcess::clearFaults()
{
    return admin("DELETE", QStringLiteral("faults")).value(QStringLiteral("status")).toInt() == 1;
}

bool PlatformProcess::setCash(double yuer, double allcash)
{
    const QJsonObject body{{QStringLiteral("yuer"), yuer}, {QStringLiteral("allcash"), allcash}};
    return admin("POST", QStringLiteral("cash"), body).value(QStringLiteral("status")).toInt() == 1;
}

void PlatformProcess::readOutput()
{
    pending += server.readAllStandardOutput();
    int newline;
    while ((newline = pending.indexOf('\n')) >= 0) {
        lines.append(QString::fromUtf8(pending.left(newline)).trimmed());
        pending.remove(0, newline + 1);
    }
}

int PlatformProcess::linesWith(const QString& fragment)
{
    int count = 0;
    for (const QString& line : outputLines())
        if (line.contains(fragment))
            ++count;
    return count;
}

QStringList PlatformProcess::outputLines()
{
    if (server.state() == QProcess::Running)
        server.waitForReadyRead(0);
    readOutput();
    return lines;
}

bool PlatformProcess::waitForOutput(const QString& fragment, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        readOutput();
        for (const QString& line : qAsConst(lines)) {
            if (line.contains(fragment))
                return true;
        }
        if (deadline.hasExpired() || server.state() != QProcess::Running)
            return false;
        server.waitForReadyRead(static_cast<int>(qBound<qint64>(1, deadline.remainingTime(), 200)));
    }
}

bool PlatformProcess::stop(int timeoutMs)
{
    if (server.state() == QProcess::NotRunning)
        return false;
    server.terminate();
    const bool finished = server.waitForFinished(timeoutMs);
    readOutput();
    listeningPort = 0;
    return finished && server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0;
}

void PlatformProcess::kill()
{
    server.kill();
    server.waitForFinished(5000);
    listeningPort = 0;
}
