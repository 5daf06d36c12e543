#include "app/accountlock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace AccountLock {

// QLockFile creates the file first and writes its owner into it a moment later, so a file that
// cannot be read yet may be a session taking its lock right now. Only an unreadable file older
// than this is a leftover.
static const qint64 unreadableGraceMsecs = 5000;

bool IsHeldByLiveSession(const QString& path)
{
    if (!QFile::exists(path))
        return false;

    QLockFile probe(path);
    // A session holds its lock for hours: age alone must never make a live lock look abandoned.
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

bool RemoveIfStale(const QString& path)
{
    if (IsHeldByLiveSession(path))
        return false;
    if (QFile::exists(path))
        QFile::remove(path);
    return !QFile::exists(path);
}

} // namespace AccountLock
