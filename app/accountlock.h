#pragma once

#include <QString>

// The per-account lock file "me.xml" marks an account as logged in on this computer while a main
// window holds it with QLockFile. On Linux a held lock file can still be deleted by anyone, so
// whether a live session holds it is decided by QLockFile itself, never by trying to remove it.
namespace AccountLock {

// True exactly while another live session holds the lock at `path`. A leftover file whose owner is
// gone (a crash, or an empty or garbled file older than a few seconds) is stale: it is removed and
// the answer is false. An unreadable file younger than that is being written and counts as held.
bool IsHeldByLiveSession(const QString& path);

// Removes the lock file unless a live session holds it. True when no file is left.
bool RemoveIfStale(const QString& path);

} // namespace AccountLock
