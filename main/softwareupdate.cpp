#include "main/softwareupdate.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include "app/atomicfile.h"
#include "app/constants.h"
#include "main/updatepolicy.h"
#include "net/request.h"

namespace {

// Installers live in a folder of their own, beside nothing else the client keeps.
const QString updatesFolder = QStringLiteral("updates");
// The installer is read back for its digest a piece per turn of the event loop: a large one does not
// hold the window.
constexpr qint64 readBackPieceBytes = 4 * 1024 * 1024;

QString CannotSave(const QString& path)
{
    return QStringLiteral("无法保存安装文件：") + QDir::toNativeSeparators(path);
}

} // namespace

CSoftwareUpdate::CSoftwareUpdate(QNetworkAccessManager* network, qint64 account, QObject* parent)
    : QObject(parent), network(network), account(account), currentVersion(AppVersion)
{
}

// A download still running goes with its reply; the file it was writing is dropped unnamed.
CSoftwareUpdate::~CSoftwareUpdate() = default;

void CSoftwareUpdate::Enter(State next)
{
    state = next;
    emit StateEntered(next);
}

void CSoftwareUpdate::Proceed()
{
    if (state == State::CheckFailed)
        HttpUpdate();
    else if (state == State::Ready)
        slotClickInstall();
    else
        HttpDownUpdate();
}

void CSoftwareUpdate::HttpUpdate()
{
    QNetworkReply* reply = Request::Post(network, Api::UpdateSoftware(), QByteArray());
    if (!reply)
        return;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { ReplyHttpUpdate(reply); });
    connect(reply, &QNetworkReply::errorOccurred, this, &CSoftwareUpdate::slotErrorUpdate);
    // The manager may outlive this update; an answer nobody waits for any more is not kept.
    connect(this, &QObject::destroyed, reply, &QObject::deleteLater);
}

void CSoftwareUpdate::slotErrorUpdate(QNetworkReply::NetworkError) {}

void CSoftwareUpdate::slotErrorDownUpdate(QNetworkReply::NetworkError) {}

void CSoftwareUpdate::ReplyHttpUpdate(QNetworkReply* reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    const Request::Answer answer = Request::Read(reply);
    if (answer.networkError) {
        Enter(State::CheckFailed);
        return;
    }
    // A refused or unreadable answer changes nothing.
    if (!answer.Succeeded())
        return;

    const QVariantMap info = answer.InfoMap();
    const QString build = info.value(QStringLiteral("build")).toString();
    downloadUrl = QUrl(info.value(QStringLiteral("url")).toString());
    downloadDigest = info.value(QStringLiteral("sha256")).toString().trimmed().toLower();
    if (!SlotCheckUpdate(build))
        Enter(State::Nothing); // a retried check that finds nothing newer takes its retry away
    else if (UpdatePolicy::FromPackage())
        Enter(State::PackageManager);
    else
        Enter(State::Offered);
}

bool CSoftwareUpdate::SlotCheckUpdate(QString strVersion)
{
    // Dotted versions compare part by part: the first part that differs decides, and a missing
    // part counts as 0, so 1.0.6 equals 1.0.6.0 and 1.0.5.3000 is older than 1.0.6.2290.
    const QStringList offered = strVersion.split(QLatin1Char('.'));
    const QStringList current = currentVersion.split(QLatin1Char('.'));
    auto part = [](const QStringList& parts, int i) {
        return i < parts.size() ? parts.at(i).toLongLong(nullptr, 10) : 0;
    };
    for (int i = 0; i < qMax(offered.size(), current.size()); ++i) {
        const qint64 mine = part(current, i);
        const qint64 theirs = part(offered, i);
        if (mine != theirs)
            return theirs > mine;
    }
    return false;
}

QString CSoftwareUpdate::InstallerPath(qint64 account, const QUrl& url)
{
    // The address is the server's to choose; whatever it says, the file lands in the updates
    // folder under a name that can replace nothing but an earlier installer.
    return JoinPath({AccountDir(account), updatesFolder, UpdatePolicy::InstallerName(url)});
}

void CSoftwareUpdate::HttpDownUpdate()
{
    if (!network)
        return;
    // The button is disabled while a download runs or is checked; a second call must not start another.
    if (installerWriter)
        return;
    // A packaged copy is the package manager's to replace; a file from here would go around it.
    if (UpdatePolicy::FromPackage()) {
        emit LeftToPackageManager();
        return;
    }
    const QString refused = UpdatePolicy::RefuseAddress(downloadUrl, !downloadDigest.isEmpty());
    if (!refused.isEmpty()) {
        DownloadFailed(refused);
        return;
    }

    // The installer goes to disk as it arrives; it takes its name only once it is whole and checked,
    // so a stopped or refused download never leaves a file that the install click could start.
    const QString path = account ? InstallerPath(account, downloadUrl) : QString();
    if (path.isEmpty()) {
        DownloadFailed(CannotSave(path));
        return;
    }
    installerWriter = std::make_unique<AtomicFile::Writer>(path);
    if (!installerWriter->Open()) {
        DropInstallerFile();
        DownloadFailed(CannotSave(path));
        return;
    }
    unverified = UpdatePolicy::Unverified(downloadUrl, !downloadDigest.isEmpty());
    downloadedBytes = 0;
    downloadAt = downloadUrl;
    downloadRefusal.clear();

    QNetworkRequest request(downloadUrl);
    request.setTransferTimeout(Request::Limits().transferTimeoutMs);
    // Every redirect is looked at before it is followed (CheckDownRedirect).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    QNetworkReply* reply = network->get(request);
    downloadReply = reply;
    if (!reply) {
        DropInstallerFile();
        return;
    }
    Enter(State::Preparing);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { ReplyFinishedDownUpdate(reply); });
    connect(reply, &QNetworkReply::downloadProgress, this, &CSoftwareUpdate::SlotDownProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &CSoftwareUpdate::slotErrorDownUpdate);
    connect(reply, &QNetworkReply::readyRead, this, &CSoftwareUpdate::ReadDownUpdate);
    connect(reply, &QNetworkReply::redirected, this, &CSoftwareUpdate::CheckDownRedirect);
    connect(this, &QObject::destroyed, reply, &QObject::deleteLater);
    // Its size is checked as it is written; the whole of it must come within the deadline.
    Request::Bound(reply, 0, UpdatePolicy::DownloadDeadline());
}

void CSoftwareUpdate::CheckDownRedirect(const QUrl& target)
{
    QNetworkReply* reply = downloadReply;
    if (!reply || sender() != reply)
        return;
    const QUrl next = downloadAt.resolved(target);
    if (!UpdatePolicy::RedirectAllowed(downloadAt, next, !downloadDigest.isEmpty())) {
        RefuseDownload(QStringLiteral("更新被转到了不可信的地址，已拒绝下载。"));
        return;
    }
    downloadAt = next;
    emit reply->redirectAllowed();
}

void CSoftwareUpdate::ReadDownUpdate()
{
    QNetworkReply* reply = downloadReply;
    if (!reply || sender() != reply || !downloadRefusal.isEmpty())
        return;
    const QString refused = TakeDownloadedBytes(reply);
    if (!refused.isEmpty())
        RefuseDownload(refused);
}

// Checks the answer's head and moves what has arrived into the file; returns why the download must
// stop, or an empty text.
QString CSoftwareUpdate::TakeDownloadedBytes(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400) {
        // An HTTP error ends the reply with a network error of its own; its page is not kept.
        reply->readAll();
        return QString();
    }
    if (status.isValid() && status.toInt() != 200)
        return QStringLiteral("服务器没有给出安装文件（HTTP %1）。").arg(status.toInt());
    if (UpdatePolicy::IsTextType(reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()))
        return QStringLiteral("服务器给出的是网页，不是安装文件。");
    const QString tooLarge = QStringLiteral("安装文件过大，已停止下载。");
    if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > UpdatePolicy::SizeLimit())
        return tooLarge;
    const QByteArray chunk = reply->read(qMin(reply->bytesAvailable(), UpdatePolicy::SizeLimit() + 1));
    downloadedBytes += chunk.size();
    if (downloadedBytes > UpdatePolicy::SizeLimit())
        return tooLarge;
    if (!installerWriter || !installerWriter->Append(chunk))
        return CannotSave(installerWriter ? installerWriter->Path() : QString());
    return QString();
}

void CSoftwareUpdate::RefuseDownload(const QString& why)
{
    // The reply's finished() carries the reason to ReplyFinishedDownUpdate.
    downloadRefusal = why;
    if (downloadReply)
        downloadReply->abort();
}

void CSoftwareUpdate::DropInstallerFile()
{
    readBack.reset();
    installerWriter.reset(); // an uncommitted writer removes what it wrote
}

void CSoftwareUpdate::SlotDownProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    emit Progress(bytesReceived, bytesTotal);
}

void CSoftwareUpdate::DownloadFailed(const QString& why)
{
    failureReason = why;
    Enter(State::DownloadFailed);
}

void CSoftwareUpdate::ReplyFinishedDownUpdate(QNetworkReply* reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (reply != downloadReply)
        return;
    QString refused = downloadRefusal;
    if (refused.isEmpty() && Request::Stopped(reply) == Request::Stop::Deadline)
        refused = QStringLiteral("下载用时过长，已停止。");
    if (refused.isEmpty() && reply->error() != QNetworkReply::NoError) {
        DropInstallerFile();
        DownloadFailed(QString());
        return;
    }
    if (refused.isEmpty())
        refused = TakeDownloadedBytes(reply);
    // Announcing a file that is not there (or half there) would only fail later at the install
    // click: a disk that fills at the last bytes fails the download here.
    if (refused.isEmpty() && !installerWriter->Finish())
        refused = CannotSave(installerWriter->Path());
    if (!refused.isEmpty()) {
        DropInstallerFile();
        DownloadFailed(refused);
        return;
    }
    if (downloadDigest.isEmpty()) {
        CommitInstaller();
        return;
    }
    // The digest is taken over the file as the disk holds it, not over the bytes as they came.
    installerHash.reset();
    readBack = std::make_unique<QFile>(installerWriter->WrittenPath());
    if (!readBack->open(QIODevice::ReadOnly)) {
        const QString path = installerWriter->Path();
        DropInstallerFile();
        DownloadFailed(CannotSave(path));
        return;
    }
    ReadBackInstaller();
}

void CSoftwareUpdate::ReadBackInstaller()
{
    if (!readBack)
        return;
    const QByteArray piece = readBack->read(readBackPieceBytes);
    if (!piece.isEmpty()) {
        installerHash.addData(piece);
        QTimer::singleShot(0, this, &CSoftwareUpdate::ReadBackInstaller);
        return;
    }
    const bool readWhole = readBack->error() == QFileDevice::NoError;
    readBack.reset();
    QString refused;
    if (!readWhole)
        refused = CannotSave(installerWriter->Path());
    else if (QString::fromLatin1(installerHash.result().toHex()) != downloadDigest)
        refused = QStringLiteral("安装文件校验失败，已删除。");
    if (!refused.isEmpty()) {
        DropInstallerFile();
        DownloadFailed(refused);
        return;
    }
    CommitInstaller();
}

void CSoftwareUpdate::CommitInstaller()
{
    const QString path = installerWriter->Path();
    if (!installerWriter->Commit()) {
        DropInstallerFile();
        DownloadFailed(CannotSave(path));
        return;
    }
    installerWriter.reset();
    installerFile = path;
    Enter(State::Ready);
}

void CSoftwareUpdate::slotClickInstall()
{
    if (!account)
        return;
    const QString path = installerFile.isEmpty() ? InstallerPath(account, downloadUrl) : installerFile;
    if (!QFile::exists(path)) {
        emit InstallerMissing();
        HttpDownUpdate();
        return;
    }
#ifndef Q_OS_WIN
    // A download arrives without the executable bit, and the system refuses to run it without one.
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
#endif
    if (!installerStarter || !installerStarter(path))
        emit InstallerNotStarted(path);
}
