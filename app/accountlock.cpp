#include "app/accountlock.h"

#include <QFile>
#include <QLockFile>

namespace AccountLock {

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
        // Not a lock a session wrote (empty or garbled): nobody can be holding it.
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
