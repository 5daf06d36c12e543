#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// What the software update may fetch and keep. The platform names the installer's address and,
// where it gives one, its SHA-256. The client fetches over https from anywhere, and over plain http
// only from the platform's own hosts: with a digest, the file is checked against it; without one,
// only while the platform's answer itself came over plain http, where nothing stronger than its
// word exists, and the user is told the installer is unverified.
namespace UpdatePolicy {

// The largest installer the client accepts; a download that grows beyond it is stopped.
constexpr qint64 DefaultSizeLimit = 512LL * 1024 * 1024;

// The whole download must arrive within this time, however steadily it trickles.
constexpr int DefaultDownloadDeadline = 30 * 60 * 1000; // milliseconds

// Whether this copy was installed from a system package (built with TARVIK_PACKAGED, or run from
// under /usr but not /usr/local): it leaves updates to the package manager.
bool FromPackage();

// Why the client will not fetch `url`, or an empty text when it may: only http and https; plain
// http only from the configured API, image or web host, and, when the API is https, only with a
// digest to check the file against (an answer that came over https can vouch for it).
QString RefuseAddress(const QUrl& url, bool hasDigest);

// Whether an installer from `url` is checked by nothing: it comes over plain http without a digest.
bool Unverified(const QUrl& url, bool hasDigest);

// Whether a redirect from `from` to `to` may be followed: to https anywhere, or from plain http to
// plain http where RefuseAddress() has nothing against it (one of the platform's own hosts).
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
