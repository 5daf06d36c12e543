#include "net/request.h"

#include <QJsonDocument>
#include <QLocale>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include "app/log.h"
#include "session/cuser.h"

namespace Request {

static ManagerFactory managerFactory = nullptr;
static int transferTimeout = 30000;

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

QNetworkAccessManager* CreateManager(QObject* parent)
{
    if (managerFactory)
        return managerFactory(parent);
    return new QNetworkAccessManager(parent);
}

void SetManagerFactory(ManagerFactory factory)
{
    managerFactory = factory;
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

int TransferTimeout()
{
    return transferTimeout;
}

void SetTransferTimeout(int msecs)
{
    transferTimeout = msecs;
}

QNetworkRequest BuildRequest(const QString& endpointUrl, int bodySize)
{
    QNetworkRequest request;
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, bodySize);
    request.setUrl(QUrl(endpointUrl, QUrl::TolerantMode));
    request.setTransferTimeout(transferTimeout);
    return request;
}

QNetworkReply* Post(QNetworkAccessManager* manager, const QString& endpointUrl, const QByteArray& body)
{
    if (!manager)
        return nullptr;
    return manager->post(BuildRequest(endpointUrl, body.size()), body);
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
        answer.errorString = reply->errorString();
    }
    answer.text = TextUpToNul(reply->readAll());
    // One line per failed request: "why did we miss order X" starts with which calls failed, and when.
    const QString endpoint = reply->url().fileName();
    if (answer.networkError) {
        qCWarning(lcRequests, "%s failed: %s (error %d)", qUtf8Printable(endpoint),
                  qUtf8Printable(answer.errorString), answer.errorCode);
        return answer;
    }
    answer.platformTime = PlatformTime(reply);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(answer.text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcRequests, "%s failed: the answer is not a JSON object (%d characters)",
                  qUtf8Printable(endpoint), int(answer.text.size()));
        return answer;
    }
    answer.isObject = true;
    answer.map = document.toVariant().toMap();
    answer.status = answer.map.value(QStringLiteral("status")).toInt();
    return answer;
}

} // namespace Request
