#include "main/updatepolicy.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include "app/constants.h"

namespace {

bool IsHttp(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

bool IsHttps(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

// The platform offers "tarvik-setup-<build>.sh" to Linux.
#ifdef Q_OS_WIN
const QString installerSuffix = QStringLiteral(".exe");
#else
const QString installerSuffix = QStringLiteral(".sh");
#endif
const QString fallbackInstallerBase = QStringLiteral("tarvik-setup");
constexpr int maxInstallerBaseLength = 64;

// The configured hosts are "host" or "host:port", without scheme.
QUrl HostUrl(const QString& hostPort)
{
    return QUrl(QStringLiteral("http://") + hostPort);
}

} // namespace

namespace UpdatePolicy {

bool FromPackage()
{
#ifdef TARVIK_PACKAGED
    return true;
#else
    const QString dir = QCoreApplication::applicationDirPath();
    return dir.startsWith(QLatin1String("/usr/")) && !dir.startsWith(QLatin1String("/usr/local/"));
#endif
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
    const bool platformHost = SameHost(url, HostUrl(ApiHost())) || SameHost(url, HostUrl(ImageHost())) ||
                              SameHost(url, HostUrl(WebHost()));
    if (!platformHost)
        return QStringLiteral("更新地址不在平台的服务器上，已拒绝下载。");
    if (!hasDigest && ApiScheme() == QLatin1String("https"))
        return QStringLiteral("更新地址未加密且没有校验值，已拒绝下载。");
    return QString();
}

bool Unverified(const QUrl& url, bool hasDigest)
{
    return IsHttp(url) && !hasDigest;
}

bool RedirectAllowed(const QUrl& from, const QUrl& to, bool hasDigest)
{
    if (IsHttps(to))
        return to.isValid() && !to.host().isEmpty();
    return IsHttp(to) && IsHttp(from) && RefuseAddress(to, hasDigest).isEmpty();
}

bool IsTextType(const QByteArray& contentType)
{
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    return type.startsWith("text/") || type.contains("html") || type.contains("xml") || type.contains("json");
}

QString InstallerSuffix()
{
    return installerSuffix;
}

QString InstallerName(const QUrl& url)
{
    QString base = url.fileName(QUrl::FullyDecoded);
    if (base.endsWith(installerSuffix, Qt::CaseInsensitive))
        base.chop(installerSuffix.size());
    for (QChar& c : base) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
                           c == QLatin1Char('_') || c == QLatin1Char('.');
        if (!plain)
            c = QLatin1Char('_');
    }
    base = base.left(maxInstallerBaseLength);
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    while (base.endsWith(QLatin1Char('.')))
        base.chop(1);
    // "con.exe" and its kind name a device on Windows, not a file.
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com[0-9]|lpt[0-9])(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (base.isEmpty() || device.match(base).hasMatch())
        base = fallbackInstallerBase;
    return base + installerSuffix;
}

} // namespace UpdatePolicy
