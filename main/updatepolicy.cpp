#include "main/updatepolicy.h"

#include <QCoreApplication>

#include "app/constants.h"

namespace {

qint64 sizeLimit = 0;
int fromPackageOverride = -1;

bool IsHttp(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

bool IsHttps(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

// The configured hosts are "host" or "host:port", without scheme.
QUrl HostUrl(const QString& hostPort)
{
    return QUrl(QStringLiteral("http://") + hostPort);
}

} // namespace

namespace UpdatePolicy {

qint64 SizeLimit()
{
    return sizeLimit > 0 ? sizeLimit : DefaultSizeLimit;
}

void SetSizeLimit(qint64 bytes)
{
    sizeLimit = bytes;
}

bool FromPackage()
{
    if (fromPackageOverride >= 0)
        return fromPackageOverride == 1;
#ifdef TARVIK_PACKAGED
    return true;
#else
    const QString dir = QCoreApplication::applicationDirPath();
    return dir.startsWith(QLatin1String("/usr/")) && !dir.startsWith(QLatin1String("/usr/local/"));
#endif
}

void SetFromPackage(int fromPackage)
{
    fromPackageOverride = fromPackage;
}

bool SameHost(const QUrl& a, const QUrl& b)
{
    const int defaultA = IsHttps(a) ? 443 : 80;
    const int defaultB = IsHttps(b) ? 443 : 80;
    return !a.host().isEmpty() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultA) == b.port(defaultB);
}

QString RefuseAddress(const QUrl& url, bool hasDigest)
{
    if (!url.isValid() || url.host().isEmpty() || !(IsHttp(url) || IsHttps(url)))
        return QStringLiteral("更新地址无效，已拒绝下载。");
    if (IsHttps(url))
        return QString();
    if (!SameHost(url, HostUrl(ApiHost())) && !SameHost(url, HostUrl(WebHost())))
        return QStringLiteral("更新地址不在平台的服务器上，已拒绝下载。");
    if (!hasDigest)
        return QStringLiteral("更新地址未加密且没有校验值，已拒绝下载。");
    return QString();
}

bool RedirectAllowed(const QUrl& from, const QUrl& to, bool hasDigest)
{
    if (IsHttps(to))
        return to.isValid() && !to.host().isEmpty();
    return IsHttp(to) && IsHttp(from) && SameHost(from, to) && hasDigest;
}

bool IsTextType(const QByteArray& contentType)
{
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    return type.startsWith("text/") || type.contains("html") || type.contains("xml") || type.contains("json");
}

} // namespace UpdatePolicy
