#pragma once

#include <QColor>
#include <QString>

#include <initializer_list>

// Values shared by every part of the client. The data paths follow the user's generic data
// location and the platform hosts may be overridden from the environment at start-up, so they
// are functions that compute the value when asked rather than strings fixed before main().

extern const QString AppName;    // "Tarvik": product name, tray titles, data folder name
extern const QString AppVersion; // compared with what the platform offers as an update

// Joins path components with the platform's own separator ("\" on Windows, "/" elsewhere).
QString JoinPath(const QString& first, const QString& second);
QString JoinPath(std::initializer_list<QString> parts);

QString DataDir();                        // <generic data location>/Velm/Tarvik
QString UsersDir();                       // DataDir/All Users
QString FacesDir();                       // UsersDir/faces
QString UsersFile();                      // UsersDir/users.xml
extern const QString AccountLockFileName; // "me.xml"
QString AccountDir(qint64 account);       // DataDir/<account>
QString AccountLockFile(qint64 account);  // DataDir/<account>/me.xml

// Platform hosts, "host" or "host:port" without scheme. Compiled-in defaults, overridden by
// TARVIK_API_HOST, TARVIK_IMAGE_HOST and TARVIK_WEB_HOST.
QString ApiHost();
QString ImageHost();
QString WebHost();

// "http" or "https": compiled-in defaults, overridden by TARVIK_API_SCHEME and TARVIK_IMAGE_SCHEME.
QString ApiScheme();
QString ImageScheme();

QString ApiBase(); // ApiScheme() + "://" + ApiHost() + "/api/"
QString WebBase(); // "http://" + WebHost() + "/"
QString HomePageUrl();
QString CashPageUrl(); // "amy.php" on the web host
QString RegisterPageUrl();
QString ForgetPageUrl();

// One URL per platform endpoint: ApiBase() + endpoint name.
namespace Api {
QString LoginMd5();
QString UpdateSoftware();
QString StaffOrderList();
QString UpdateStaffOrderList();
QString PayFinishOrder();
QString InOrder();
QString StaffOrder2();
QString StaffFinishOrder();
QString StaffReply();
QString AddShopCash();
QString ToFinishOrder();
QString UserInfo();
QString CashUpdate();
} // namespace Api

extern const QColor shadowColor; // window shadow
extern const QColor lightColor;  // shaded rows of the table windows
