#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What the software update may fetch and keep. The platform names the installer's address and,
// normally, its SHA-256; whatever the network in between does, the client only runs a file that
// came over https or from the platform's own host with a matching digest.
namespace UpdatePolicy {

// The largest installer the client accepts; a download that grows beyond it is stopped.
constexpr qint64 DefaultSizeLimit = 512LL * 1024 * 1024;
qint64 SizeLimit();
void SetSizeLimit(qint64 bytes); // 0 or less restores the default

// The whole download must arrive within this time, however steadily it trickles.
constexpr int DefaultDownloadDeadline = 30 * 60 * 1000; // milliseconds
int DownloadDeadline();
void SetDownloadDeadline(int msecs); // 0 or less restores the default

// A copy installed from a system package (built with TARVIK_PACKAGED, or run from under /usr but
// not /usr/local) leaves updates to the package manager and never downloads an installer.
bool FromPackage();
void SetFromPackage(int fromPackage); // 1 or 0 for tests; -1 returns to the built-in answer

// Why the client will not fetch `url`, or an empty text when it may: only http and https, plain
// http only from the configured API or web host and only with a digest to check the file against.
QString RefuseAddress(const QUrl& url, bool hasDigest);

// Whether a redirect from `from` to `to` may be followed: to https anywhere, or to plain http on
// the host (and port) the request was on, when a digest will check the file.
bool RedirectAllowed(const QUrl& from, const QUrl& to, bool hasDigest);

bool SameHost(const QUrl& a, const QUrl& b);

// The file name an installer offered at `url` is kept under: the address's own name cut down to
// letters, digits, "-", "_" and inner dots, ending in InstallerSuffix() (".exe" on Windows, ".sh"
// elsewhere), or "tarvik-setup" with the suffix when nothing usable is left. However the address
// is named, the result is a plain name that no file of the client's own ends in.
QString InstallerName(const QUrl& url);
QString InstallerSuffix();

// A web page or other text is what an error page or a captive portal sends, never an installer.
bool IsTextType(const QByteArray& contentType);

} // namespace UpdatePolicy
