#include "app/constants.h"

#include <QDir>
#include <QStandardPaths>

const QString AppName = QStringLiteral("Tarvik");
// The project version of CMakeLists.txt, build number included.
const QString AppVersion = QStringLiteral(TARVIK_VERSION);
const QString AccountLockFileName = QStringLiteral("me.xml");

const QColor shadowColor(180, 180, 180, 100);
const QColor lightColor(244, 244, 244, 100);

QString JoinPath(const QString& first, const QString& second)
{
#ifdef Q_OS_WIN
    // Qt hands out forward slashes; the stored Windows paths carry backslashes from here on.
    const QChar separator = QLatin1Char('\\');
#else
    const QChar separator = QLatin1Char('/');
#endif
    if (first.isEmpty())
        return second;
    return first + separator + second;
}

QString JoinPath(std::initializer_list<QString> parts)
{
    QString path;
    for (const QString& part : parts)
        path = path.isEmpty() ? part : JoinPath(path, part);
    return path;
}

QString DataDir()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return JoinPath({base, QStringLiteral("Velm"), AppName});
}

QString UsersDir()
{
    return JoinPath(DataDir(), QStringLiteral("All Users"));
}

QString FacesDir()
{
    return JoinPath(UsersDir(), QStringLiteral("faces"));
}

QString UsersFile()
{
    return JoinPath(UsersDir(), QStringLiteral("users.xml"));
}

QString AccountDir(qint64 account)
{
    return JoinPath(DataDir(), QString::number(account));
}

QString AccountLockFile(qint64 account)
{
    return JoinPath(AccountDir(account), AccountLockFileName);
}

static QString hostSetting(const char* variable, const char* compiledDefault)
{
    const QString fromEnvironment = qEnvironmentVariable(variable).trimmed();
    return fromEnvironment.isEmpty() ? QString::fromLatin1(compiledDefault) : fromEnvironment;
}

QString ApiHost()
{
    return hostSetting("TARVIK_API_HOST", TARVIK_API_HOST);
}

QString ImageHost()
{
    return hostSetting("TARVIK_IMAGE_HOST", TARVIK_IMAGE_HOST);
}

QString WebHost()
{
    return hostSetting("TARVIK_WEB_HOST", TARVIK_WEB_HOST);
}

// "http" or "https"; anything else falls back to the compiled-in scheme.
static QString schemeSetting(const char* variable, const char* compiledDefault)
{
    const QString fromEnvironment = qEnvironmentVariable(variable).trimmed().toLower();
    if (fromEnvironment == QLatin1String("http") || fromEnvironment == QLatin1String("https"))
        return fromEnvironment;
    return QString::fromLatin1(compiledDefault);
}

QString ApiScheme()
{
    return schemeSetting("TARVIK_API_SCHEME", TARVIK_API_SCHEME);
}

QString ImageScheme()
{
    return schemeSetting("TARVIK_IMAGE_SCHEME", TARVIK_IMAGE_SCHEME);
}

QString ApiBase()
{
    return ApiScheme() + QStringLiteral("://") + ApiHost() + QStringLiteral("/api/");
}

QString WebBase()
{
    return QStringLiteral(TARVIK_WEB_SCHEME "://") + WebHost() + QLatin1Char('/');
}

QString HomePageUrl()
{
    return WebBase();
}

QString CashPageUrl()
{
    return WebBase() + QStringLiteral("amy.php");
}

QString RegisterPageUrl()
{
    return WebBase() + QStringLiteral("reg.php");
}

QString ForgetPageUrl()
{
    return WebBase() + QStringLiteral("forget.php");
}

namespace Api {
#define TARVIK_ENDPOINT(name)                                                                                \
    QString name()                                                                                           \
    {                                                                                                        \
        return ApiBase() + QStringLiteral(#name);                                                            \
    }
TARVIK_ENDPOINT(LoginMd5)
TARVIK_ENDPOINT(UpdateSoftware)
TARVIK_ENDPOINT(StaffOrderList)
TARVIK_ENDPOINT(UpdateStaffOrderList)
TARVIK_ENDPOINT(PayFinishOrder)
TARVIK_ENDPOINT(InOrder)
TARVIK_ENDPOINT(StaffOrder2)
TARVIK_ENDPOINT(StaffFinishOrder)
TARVIK_ENDPOINT(StaffReply)
TARVIK_ENDPOINT(AddShopCash)
TARVIK_ENDPOINT(ToFinishOrder)
TARVIK_ENDPOINT(UserInfo)
TARVIK_ENDPOINT(CashUpdate)
#undef TARVIK_ENDPOINT
} // namespace Api
