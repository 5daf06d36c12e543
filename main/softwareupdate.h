#pragma once

#include <QCryptographicHash>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

#include "main/updatepolicy.h"
#include "net/job.h"

class CUpdateCheckJob;
class QFile;
struct UpdateOffer;

namespace AtomicFile {
class Writer;
}

// What an update may fetch and how long it may take. The defaults are the program's; tests make
// them small.
struct UpdateOptions
{
    // The largest installer taken; a download that grows beyond it is stopped.
    qint64 sizeLimit = UpdatePolicy::DefaultSizeLimit;
    // The whole download must arrive within this time, however steadily it trickles.
    int downloadDeadlineMs = UpdatePolicy::DefaultDownloadDeadline;
    // A copy installed from a system package leaves updates to the package manager and never
    // downloads an installer.
    bool fromPackage = UpdatePolicy::FromPackage();
};

// The software update: asks the platform once for its latest build, downloads the installer into
// the account's "updates" folder, checks it and starts it. It shows nothing itself: the main window
// follows its state, its progress and its notices, and turns them into the update button, the
// progress bar and tray messages.
class CSoftwareUpdate : public QObject
{
    Q_OBJECT
public:
    // Where the update stands; the main window's update button shows one face per state.
    enum class State
    {
        Nothing,        // nothing offered yet, or nothing newer than this build
        CheckFailed,    // the check did not reach the platform; HttpUpdate() asks again
        Offered,        // a newer build is offered; HttpDownUpdate() fetches it
        PackageManager, // a newer build is offered, and this copy is the package manager's to replace
        Preparing,      // the download runs
        DownloadFailed, // the download failed or was refused (FailureReason()); HttpDownUpdate() retries
        Ready, // the installer is written (and checked, when it can be); slotClickInstall() starts it
    };
    Q_ENUM(State)

    // Starts a program on its own; false when it did not start.
    using Starter = std::function<bool(const QString& program)>;

    // `line` carries the check and the download (its network manager and time-out; the check goes
    // without the session's fields); `account` 0 means nobody is logged in, and then nothing is
    // downloaded or started.
    CSoftwareUpdate(const ApiLine& line, qint64 account, const UpdateOptions& options = UpdateOptions(),
                    QObject* parent = nullptr);
    ~CSoftwareUpdate() override;

    // Where a downloaded installer goes: the "updates" folder of the account's folder, under the
    // download address's file name reduced to a safe one that ends in the installer suffix.
    static QString InstallerPath(qint64 account, const QUrl& url);

    // How the installer is started (the desktop's detached process); without one it never starts.
    void SetInstallerStarter(Starter starter) { installerStarter = std::move(starter); }

    State CurrentState() const { return state; }
    QString FailureReason() const { return failureReason; } // of the last failed download; empty: the network
    QString CurrentVersion() const { return currentVersion; }
    void SetCurrentVersion(const QString& version) { currentVersion = version; }
    QUrl DownloadUrl() const { return downloadUrl; }
    QString DownloadDigest() const { return downloadDigest; } // the SHA-256 the platform named, hex
    // The installer of the last download came over plain http with no digest to check it against:
    // the platform's word is all that vouches for it.
    bool InstallerUnverified() const { return unverified; }

signals:
    // Sent each time a state is entered, the same one again included (a second failed download).
    void StateEntered(CSoftwareUpdate::State state);
    void Progress(qint64 bytesReceived, qint64 bytesTotal);
    // The installer was gone at the install click; it is being downloaded again.
    void InstallerMissing();
    void InstallerNotStarted(const QString& path);
    // A download was asked of a copy that leaves updates to the package manager.
    void LeftToPackageManager();

public slots:
    // The next step of the state the update is in: the check again after it failed, the installer
    // once it is ready, otherwise the download (which a packaged copy answers with
    // LeftToPackageManager()).
    void Proceed();
    void HttpUpdate();
    void ReplyHttpUpdate(const UpdateOffer& offer);
    void UpdateCheckFailed(const JobFailure& failure);
    bool SlotCheckUpdate(QString strVersion);
    void HttpDownUpdate();
    void SlotDownProgress(qint64 bytesReceived, qint64 bytesTotal);
    void ReplyFinishedDownUpdate(QNetworkReply* reply);
    void slotClickInstall();

private:
    void Enter(State next);
    void DownloadFailed(const QString& why);
    void ReadDownUpdate();
    void CheckDownRedirect(const QUrl& target);
    QString TakeDownloadedBytes(QNetworkReply* reply);
    void RefuseDownload(const QString& why);
    void ReadBackInstaller();
    void CommitInstaller();
    void DropInstallerFile();

    const ApiLine line;
    const qint64 account;
    const UpdateOptions options;
    CUpdateCheckJob* checkJob;
    Starter installerStarter;
    State state = State::Nothing;
    QString failureReason;
    QString currentVersion;
    QPointer<QNetworkReply> downloadReply;
    QUrl downloadUrl;
    QString downloadDigest; // lower-case hex SHA-256 from the update check; empty when none came
    bool unverified = false;
    QString installerFile; // the file the last download was written to
    // The running download: written as it arrives into a file that takes the installer's name only
    // once it is whole and checked (the digest is taken over the file read back from the disk); the
    // address it is on now (after redirects) and why it was stopped.
    std::unique_ptr<AtomicFile::Writer> installerWriter;
    std::unique_ptr<QFile> readBack;
    QCryptographicHash installerHash{QCryptographicHash::Sha256};
    qint64 downloadedBytes = 0;
    QUrl downloadAt;
    QString downloadRefusal;
};
