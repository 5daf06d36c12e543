#include "app/accountlock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/constants.h"
#include "app/log.h"

// QLockFile creates the file first and writes its owner into it a moment later, so a file that
// cannot be read yet may be a session taking its lock right now. Only an unreadable file older
// than this is a leftover.
static const qint64 unreadableGraceMsecs = 5000;

AccountLock::AccountLock(qint64 account) : account(account), file(AccountLockFile(account))
{
    // A session holds its lock for hours: age alone must never make a live lock look abandoned.
    file.setStaleLockTime(0);
}

AccountLock::~AccountLock()
{
    if (file.isLocked())
        file.unlock();
}

AccountLock::Outcome AccountLock::Take()
{
    if (file.isLocked())
        return Outcome::Taken;
    errorText.clear();
    const QString path = AccountLockFile(account);
    if (!QDir().mkpath(AccountDir(account))) {
        errorText = QStringLiteral("the folder %1 cannot be created")
                        .arg(QDir::toNativeSeparators(AccountDir(account)));
    } else {
        // Clears a leftover that QLockFile would take for a lock still being written.
        if (IsHeldByLiveSession(path))
            return Outcome::HeldByAnotherSession;
        if (file.tryLock(0))
            return Outcome::Taken;
        // Another process may have taken it since the look above: the file's creation decides.
        if (file.error() == QLockFile::LockFailedError)
            return Outcome::HeldByAnotherSession;
        errorText = file.error() == QLockFile::PermissionError
                        ? QStringLiteral("no permission to create it")
                        : QStringLiteral("it could not be written (is the disk full?)");
    }
    qCWarning(lcFiles,
              "the lock %s of account %lld could not be taken: %s; another login of this account on "
              "this computer is not refused",
              qUtf8Printable(QDir::toNativeSeparators(path)), account, qUtf8Printable(errorText));
    return Outcome::Failed;
}

bool AccountLock::IsHeld() const
{
    return file.isLocked();
}

bool AccountLock::IsHeldByLiveSession(const QString& path)
{
    if (!QFile::exists(path))
        return false;

    QLockFile probe(path);
    probe.setStaleLockTime(0);
    qint64 pid = 0;
    QString hostname;
    QString appname;
    if (!probe.getLockInfo(&pid, &hostname, &appname)) {
        const QDateTime written = QFileInfo(path).lastModified();
        if (written.isValid() && qAbs(written.msecsTo(QDateTime::currentDateTime())) < unreadableGraceMsecs)
            return true;
        // Not a lock a session wrote (empty or garbled) and nobody is writing it: a leftover.
        QFile::remove(path);
        return false;
    }

    // tryLock clears a lock whose owner process is gone and takes it; a live owner makes it fail.
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

bool AccountLock::RemoveIfStale(const QString& path)
{
    if (IsHeldByLiveSession(path))
        return false;
    if (QFile::exists(path))
        QFile::remove(path);
    return !QFile::exists(path);
}
